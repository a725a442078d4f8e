#include "tree/ParserInformation.h"

#include "tests/support/ScriptedMessages.h"
#include "tests/tree/ParserTestTree.h"

#include <gtest/gtest.h>

using testutil::ParserTestTree;
using testutil::ScriptedInterface;
using tree::ParserInformation;
using tree::ParseTotals;

namespace {

// root: docs/ (a 10, b 20, sub/ (c 40)), top 1, other/ (d 100)
const char* const TREE = R"(
root 5
dir 10 in=5 name=docs
file 20 in=10 name=a size=10
file 21 in=10 name=b size=20
dir 11 in=10 name=sub
file 22 in=11 name=c size=40
file 23 in=5 name=top size=1
dir 12 in=5 name=other
file 24 in=12 name=d size=100
)";

TEST(ParserInformationTest, CountsTheVisibleTreeAllAndSelectedOnTopOfTheCallersTotals) {
    ParserTestTree t(TREE);
    t.at("docs")->setSelected(true);
    t.at("docs/a")->setSelected(true);
    t.at("other/d")->setSelected(true); // inside an unselected folder
    t.at("docs/b")->setVisible(false);

    ParseTotals totals;
    totals.all.files = 1000; // not zeroed by run
    ScriptedInterface ui;
    ParserInformation(t.map()).run(totals, false, &ui);
    EXPECT_EQ(totals.all.files, 1000u + 4u);
    EXPECT_EQ(totals.all.bytes, 10u + 40u + 1u + 100u);
    EXPECT_EQ(totals.all.folders, 3u);
    EXPECT_EQ(totals.selected.files, 2u);
    EXPECT_EQ(totals.selected.bytes, 110u);
    EXPECT_EQ(totals.selected.folders, 1u);
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0]->texts.front().text, "Collecting Information");
}

TEST(ParserInformationTest, SelectedOnlyEntersSelectedFoldersAlone) {
    ParserTestTree t(TREE);
    t.at("docs")->setSelected(true);
    t.at("docs/a")->setSelected(true);
    t.at("other/d")->setSelected(true);

    ParseTotals totals;
    ParserInformation(t.map()).run(totals, true, nullptr);
    // The root level, and docs; not sub or other, which are not selected.
    EXPECT_EQ(totals.all.files, 3u);
    EXPECT_EQ(totals.all.folders, 3u);
    EXPECT_EQ(totals.selected.files, 1u);
    EXPECT_EQ(totals.selected.bytes, 10u);
}

TEST(ParserInformationTest, ACancelReachesTheCallerWithWhatWasCounted) {
    ParserTestTree t(TREE);
    ScriptedInterface ui;
    ui.cancelBoxesAtPoll(2);
    ParseTotals totals;
    EXPECT_THROW(ParserInformation(t.map()).run(totals, false, &ui), InterruptedException);
    EXPECT_EQ(totals.all.files, 1u); // the root level's own file
    EXPECT_EQ(totals.all.folders, 2u);
}

TEST(ParserInformationTest, AnEmptyTreeCountsNothing) {
    ParserTestTree t("root 5\n");
    ParseTotals totals;
    ScriptedInterface ui;
    ParserInformation(t.map()).run(totals, false, &ui);
    EXPECT_EQ(totals.all.files + totals.all.folders + totals.all.bytes, 0u);
    EXPECT_TRUE(ui.boxes().empty());
}

} // namespace
