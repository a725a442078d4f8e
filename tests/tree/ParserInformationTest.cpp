#include "tree/ParserInformation.h"

#include "tests/support/ScriptedMessages.h"
#include "tests/tree/ParserTestTree.h"

#include <gtest/gtest.h>

namespace {

// files/bytes/folders of all, then of the selected.
std::string counts(const tree::ParseTotals& t) {
    return std::to_string(t.all.files) + "/" + std::to_string(t.all.bytes) + "/" +
           std::to_string(t.all.folders) + " " + std::to_string(t.selected.files) + "/" +
           std::to_string(t.selected.bytes) + "/" + std::to_string(t.selected.folders);
}

TEST(ParserInformationTest, CountsTheVisibleTreeOrTheSelectedFoldersOnTopOfTheCallersTotals) {
    testutil::ParserTestTree t("root 5\ndir 10 in=5 name=docs\nfile 20 in=10 name=a size=10\n"
                               "file 21 in=10 name=b size=20\ndir 11 in=10 name=sub\n"
                               "file 22 in=11 name=c size=40\nfile 23 in=5 name=top size=1\n"
                               "dir 12 in=5 name=other\nfile 24 in=12 name=d size=100\n");
    for (const char* path : {"docs", "docs/a", "other/d"}) // d: in an unselected folder
        t.mark(path);
    t.at("docs/b")->setVisible(false);
    tree::ParseTotals totals;
    totals.all.files = 1000; // not zeroed by run
    testutil::ScriptedInterface ui;
    tree::ParserInformation(t.map()).run(totals, false, &ui);
    EXPECT_EQ(counts(totals), "1004/151/3 2/110/1");
    EXPECT_EQ(ui.boxes().at(0)->texts.front().text, "Collecting Information");
    // Selected only: the root level and docs (b hidden), not sub or other.
    tree::ParseTotals selected;
    tree::ParserInformation(t.map()).run(selected, true, nullptr);
    EXPECT_EQ(counts(selected), "2/11/3 1/10/1");
}

} // namespace
