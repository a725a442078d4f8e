#include "tree/ParserSelect.h"

#include "tests/support/ScriptedMessages.h"
#include "tests/tree/ParserTestTree.h"

#include <gtest/gtest.h>

using testutil::ParserTestTree;
using testutil::ScriptedInterface;
using tree::ParserSelect;

namespace {

// root: a/ (b/ (f1), g), photos/ (one.jpg, TWO.JPG, notes.txt, hidden.jpg),
// empty/, x
const char* const TREE = R"(
root 5
dir 10 in=5 name=a
dir 11 in=10 name=b
file 20 in=11 name=f1 size=1
file 21 in=10 name=g size=2
dir 12 in=5 name=photos
file 22 in=12 name=one.jpg size=3
file 23 in=12 name=TWO.JPG size=4
file 24 in=12 name=notes.txt size=5
file 25 in=12 name=hidden.jpg size=6
dir 13 in=5 name=empty
file 26 in=5 name=x size=7
)";

bool select(const ParserTestTree& t, const std::string& path, bool on,
            const std::string& mask = "") {
    return ParserSelect(t.map(), mask).run(t.position(path), on, nullptr);
}

TEST(ParserSelectTest, MarkingAFileMarksEveryAncestorUpToRoot) {
    ParserTestTree t(TREE);
    EXPECT_TRUE(select(t, "a/b/f1", true));
    for (const char* path : {"a/b/f1", "a/b", "a", ""})
        EXPECT_TRUE(t.marked(path)) << path;
    EXPECT_FALSE(t.marked("a/g"));
    EXPECT_FALSE(t.marked("x"));
}

TEST(ParserSelectTest, UnmarkingStopsAtTheFirstLevelThatHoldsAnotherMark) {
    ParserTestTree t(TREE);
    select(t, "a/b/f1", true);
    select(t, "a/g", true);
    EXPECT_FALSE(select(t, "a/b/f1", false));
    EXPECT_FALSE(t.marked("a/b/f1"));
    EXPECT_FALSE(t.marked("a/b")); // nothing else marked in b
    EXPECT_TRUE(t.marked("a"));    // g is
    EXPECT_TRUE(t.marked(""));

    EXPECT_FALSE(select(t, "a/g", false));
    EXPECT_FALSE(t.marked("a"));
    EXPECT_FALSE(t.marked(""));
}

TEST(ParserSelectTest, MarkingAFolderMarksItsVisibleSubtree) {
    ParserTestTree t(TREE);
    t.at("photos/hidden.jpg")->setVisible(false);
    ScriptedInterface ui;
    EXPECT_TRUE(ParserSelect(t.map(), "").run(t.position("photos"), true, &ui));
    for (const char* path : {"photos/one.jpg", "photos/TWO.JPG", "photos/notes.txt", "photos", ""})
        EXPECT_TRUE(t.marked(path)) << path;
    EXPECT_FALSE(t.marked("photos/hidden.jpg"));
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0]->texts.front().text, "Selecting Files");
}

TEST(ParserSelectTest, AMaskFromRootMarksMatchingVisibleFilesAndTheirFolders) {
    ParserTestTree t(TREE);
    t.at("photos/hidden.jpg")->setVisible(false);
    EXPECT_TRUE(select(t, "", true, "*.jpg"));
    EXPECT_TRUE(t.marked("photos/one.jpg"));
    EXPECT_TRUE(t.marked("photos/TWO.JPG")); // without regard to case
    EXPECT_FALSE(t.marked("photos/notes.txt"));
    EXPECT_FALSE(t.marked("photos/hidden.jpg"));
    EXPECT_TRUE(t.marked("photos"));
    EXPECT_FALSE(t.marked("a"));
    EXPECT_FALSE(t.marked("a/b"));
    EXPECT_FALSE(t.marked("empty"));
    EXPECT_FALSE(t.marked("x"));
    EXPECT_TRUE(t.marked(""));
}

TEST(ParserSelectTest, AnEmptyFolderCannotBeMarked) {
    ParserTestTree t(TREE);
    EXPECT_FALSE(select(t, "empty", true));
    EXPECT_FALSE(t.marked("empty"));
    EXPECT_FALSE(t.marked(""));
}

TEST(ParserSelectTest, UnmarkingSkipsFoldersThatAreNotMarked) {
    ParserTestTree t(TREE);
    select(t, "", true);
    // A mark left inside an unmarked folder is not looked for.
    t.mark("a", false);
    EXPECT_FALSE(select(t, "", false));
    EXPECT_TRUE(t.marked("a/g"));
    EXPECT_TRUE(t.marked("a/b/f1"));
    EXPECT_FALSE(t.marked("photos/one.jpg"));
    EXPECT_FALSE(t.marked("x"));
}

TEST(ParserSelectTest, ACancelLeavesTheAncestorsAlone) {
    ParserTestTree t(TREE);
    ScriptedInterface ui;
    ui.cancelBoxesAtPoll(2); // on entering b
    EXPECT_THROW(ParserSelect(t.map(), "").run(t.position("a"), true, &ui), InterruptedException);
    EXPECT_FALSE(t.marked(""));
    EXPECT_FALSE(t.marked("a/b/f1"));
    EXPECT_TRUE(t.marked("a/g")); // marked before the cancel came
}

} // namespace
