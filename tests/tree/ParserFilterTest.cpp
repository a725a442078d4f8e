#include "tree/ParserFilter.h"

#include "tests/support/ScriptedMessages.h"
#include "tests/tree/ParserTestTree.h"

#include <gtest/gtest.h>

using testutil::ScriptedInterface;
using tree::ParserFilter;

namespace {

// root: live/ (ok.txt, gone.txt deleted), trash/ (x deleted, y deleted),
// empty/, bad.bin (unreadable)
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

class Tree : public testutil::ParserTestTree {
public:
    using ParserTestTree::ParserTestTree;

    void filter(u32 word) const {
        ScriptedInterface ui;
        ParserFilter(map(), word).run(&ui);
        ASSERT_EQ(ui.boxes().size(), 1u);
        EXPECT_EQ(ui.boxes()[0]->texts.front().text, "Applying Filter");
    }
};

TEST(ParserFilterTest, WordZeroShowsEverythingAndKeepsFileMarks) {
    Tree t(TREE);
    t.at("live/gone.txt")->setVisible(false);
    t.at("empty")->setVisible(false);
    t.mark("live/ok.txt");
    t.mark("trash"); // marked, but nothing marked below it
    t.filter(0);
    for (const char* path :
         {"live", "live/ok.txt", "live/gone.txt", "trash", "trash/x", "empty", "bad.bin"})
        EXPECT_TRUE(t.shown(path)) << path;
    EXPECT_TRUE(t.marked("live/ok.txt"));
    EXPECT_FALSE(t.marked("live/gone.txt"));
    EXPECT_FALSE(t.marked("live")); // a folder's mark follows its files'
    EXPECT_FALSE(t.marked("trash"));
    EXPECT_TRUE(t.marked("")); // "ROOT": a marked file remains
}

TEST(ParserFilterTest, HidingEmptyFoldersHidesCollapsesAndUnmarksThem) {
    Tree t(TREE);
    t.at("trash")->setExpanded(true);
    t.at("live")->setExpanded(true);
    t.mark("trash/x");
    t.mark("trash");
    t.filter(tree::FILTER_HIDE_EMPTY_FOLDERS | tree::FILTER_HIDE_DELETED);
    EXPECT_FALSE(t.shown("trash"));
    EXPECT_FALSE(t.expanded("trash"));
    EXPECT_FALSE(t.marked("trash"));
    EXPECT_FALSE(t.marked("trash/x")); // hidden files are never marked
    EXPECT_FALSE(t.shown("empty"));
    EXPECT_TRUE(t.shown("live"));
    EXPECT_TRUE(t.expanded("live")); // shown folders keep their state
    EXPECT_TRUE(t.shown("live/ok.txt"));
    EXPECT_FALSE(t.shown("live/gone.txt"));
    EXPECT_FALSE(t.marked(""));
}

TEST(ParserFilterTest, AHiddenMarkedFileUnmarksFoldersWithNothingElseMarked) {
    Tree t(TREE);
    t.mark("live/ok.txt");
    t.mark("live/gone.txt");
    t.mark("live");
    t.mark("bad.bin");
    t.mark("");
    t.filter(tree::FILTER_HIDE_DELETED);
    EXPECT_FALSE(t.marked("live/gone.txt"));
    EXPECT_TRUE(t.marked("live")); // ok.txt is still marked
    t.filter(tree::FILTER_HIDE_DELETED | tree::FILTER_ONLY_DELETED);
    EXPECT_FALSE(t.marked("live/ok.txt"));
    EXPECT_FALSE(t.marked("live"));
    EXPECT_FALSE(t.marked("bad.bin"));
    EXPECT_FALSE(t.marked(""));
}

TEST(ParserFilterTest, PropertyBitsHideFilesButNeverFolders) {
    Tree t(TREE);
    t.filter(tree::FILTER_HIDE_UNREADABLE);
    EXPECT_FALSE(t.shown("bad.bin"));
    EXPECT_TRUE(t.shown("live/ok.txt"));
    t.filter(tree::FILTER_ONLY_UNREADABLE);
    EXPECT_TRUE(t.shown("bad.bin"));
    EXPECT_FALSE(t.shown("live/ok.txt"));
    EXPECT_TRUE(t.shown("live"));
    EXPECT_TRUE(t.shown("empty"));
}

TEST(ParserFilterTest, AnEmptyTreeClearsTheMarkOfRoot) {
    Tree t("root 5\n");
    t.mark("");
    ScriptedInterface ui;
    ParserFilter(t.map(), 0).run(&ui);
    EXPECT_FALSE(t.marked(""));
    EXPECT_TRUE(ui.boxes().empty());
}

} // namespace
