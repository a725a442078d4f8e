#include "tree/ParserSelect.h"

#include "tests/support/ScriptedMessages.h"
#include "tests/tree/ParserTestTree.h"

#include <gtest/gtest.h>

using testutil::ParserTestTree;
using testutil::ScriptedInterface;
using tree::ParserSelect;

namespace {

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

bool select(const ParserTestTree& t, const std::string& path, bool on, const std::string& mask = "",
            FrTreeInterface* ui = nullptr) {
    return ParserSelect(t.map(), mask).run(t.position(path), on, ui);
}

TEST(ParserSelectTest, MarksGoUpToTheRootAndUnmarkingStopsAtAnotherMark) {
    ParserTestTree t(TREE);
    EXPECT_TRUE(select(t, "a/b/f1", true));
    EXPECT_TRUE(select(t, "a/g", true));
    EXPECT_EQ(t.marked(), "ROOT a a/b a/b/f1 a/g");
    EXPECT_FALSE(select(t, "a/b/f1", false));
    EXPECT_EQ(t.marked(), "ROOT a a/g");
    EXPECT_FALSE(select(t, "a/g", false));
    EXPECT_EQ(t.marked(), "");
    EXPECT_FALSE(select(t, "empty", true)); // an empty folder cannot be marked
    EXPECT_EQ(t.marked(), "");
    // unless it is incomplete: what it lost may be anything
    const tree::MapPosition empty = t.position("empty");
    t.map()
        ->getFolder(empty.folder)
        ->node(empty.index)
        .setFlag(tree::Node::INVALID_DIRECTORY, true);
    EXPECT_TRUE(select(t, "empty", true));
    EXPECT_EQ(t.marked(), "ROOT empty");
    EXPECT_FALSE(select(t, "empty", false));
    select(t, "", true);
    EXPECT_TRUE(t.marked("empty")); // met on the way down, too
    t.mark("a", false);             // a mark left inside an unmarked folder is not looked for
    EXPECT_FALSE(select(t, "", false));
    EXPECT_EQ(t.marked(), "a/b a/b/f1 a/g");
}

TEST(ParserSelectTest, AFolderOrAMaskMarksTheVisibleFilesBelow) {
    ParserTestTree t(TREE);
    t.at("photos/hidden.jpg")->setVisible(false);
    ScriptedInterface ui;
    EXPECT_TRUE(select(t, "photos", true, "", &ui));
    EXPECT_EQ(t.marked(), "ROOT photos photos/TWO.JPG photos/notes.txt photos/one.jpg");
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0]->texts.front().text, "Selecting Files");

    ParserTestTree masked(TREE);
    masked.at("photos/hidden.jpg")->setVisible(false);
    EXPECT_TRUE(select(masked, "", true, "*.jpg")); // without regard to case
    EXPECT_EQ(masked.marked(), "ROOT photos photos/TWO.JPG photos/one.jpg");
}

TEST(ParserSelectTest, ACancelLeavesTheAncestorsAlone) {
    ParserTestTree t(TREE);
    ScriptedInterface ui;
    ui.cancelBoxesAtPoll(2); // on entering b
    EXPECT_THROW(select(t, "a", true, "", &ui), InterruptedException);
    EXPECT_EQ(t.marked(), "a/g"); // marked before the cancel came
}

} // namespace
