#include "tree/ParserFilter.h"

#include "tests/support/ScriptedMessages.h"
#include "tests/tree/ParserTestTree.h"

#include <gtest/gtest.h>

using testutil::ParserTestTree;
using testutil::ScriptedInterface;
using tree::ParserFilter;

namespace {

const char* const TREE = R"(
root 5
dir 10 in=5 name=live
file 20 in=10 name=ok.txt size=1
file 21 in=10 name=gone.txt size=2 deleted
dir 11 in=5 name=trash
file 22 in=11 name=x size=3 deleted
file 23 in=11 name=y size=4 deleted
dir 12 in=5 name=empty
file 24 in=5 name=bad.bin size=5 unreadable
)";
const std::string EVERYTHING = "bad.bin empty live live/gone.txt live/ok.txt trash trash/x trash/y";

void filter(const ParserTestTree& t, u32 word) {
    ScriptedInterface ui;
    ParserFilter(t.map(), word).run(&ui);
    for (const auto& box : ui.boxes()) // none for an empty tree
        EXPECT_EQ(box->texts.front().text, "Applying Filter");
}

TEST(ParserFilterTest, WordZeroShowsEverythingAndFoldersFollowTheirFilesMarks) {
    ParserTestTree t(TREE);
    t.at("live/gone.txt")->setVisible(false);
    t.at("empty")->setVisible(false);
    t.mark("live/ok.txt");
    t.mark("trash"); // marked, but nothing marked below it
    filter(t, 0);
    EXPECT_EQ(t.shown(), EVERYTHING);
    EXPECT_EQ(t.marked(), "ROOT live/ok.txt");
    ParserTestTree empty("root 5\n"); // nothing below: "ROOT" loses its mark
    empty.mark("");
    filter(empty, 0);
    EXPECT_EQ(empty.marked(), "");
}

TEST(ParserFilterTest, HiddenEmptyFoldersAreCollapsedAndHiddenFilesUnmarked) {
    ParserTestTree t(TREE);
    t.at("trash")->setExpanded(true);
    t.at("live")->setExpanded(true);
    for (const char* path : {"", "live", "live/ok.txt", "live/gone.txt", "trash", "trash/x"})
        t.mark(path);
    filter(t, tree::FILTER_HIDE_EMPTY_FOLDERS | tree::FILTER_HIDE_DELETED);
    EXPECT_EQ(t.shown(), "bad.bin live live/ok.txt");
    EXPECT_EQ(t.expanded(), "live"); // shown folders keep their state
    EXPECT_EQ(t.marked(), "ROOT live live/ok.txt");
    filter(t, tree::FILTER_HIDE_DELETED | tree::FILTER_ONLY_DELETED);
    EXPECT_EQ(t.marked(), "");
}

} // namespace
