#include "tree/Parser.h"

#include "tests/support/RecordingProgress.h"
#include "tests/support/TestEngine.h"
#include "tests/support/TestUtil.h"
#include "tree/Recoverer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testutil::RecordingProgress;
using testutil::TestEngine;
using tree::MapIterator;
using tree::ParseTotals;

namespace {

// Writes down every hook call ("process /path at first-entry", "accept name",
// "leave name files-below"); counts each level's entries into totals.all.
class RecordingParser : public tree::Parser {
public:
    using Parser::Parser;
    void processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                          ParseTotals& totals) override {
        if (record) // the paths of a deep walk would grow with its square
            note("process /" + tree::joinPath(path) + " at " + cursor.getName());
        deepest = std::max<u64>(deepest, path.size());
        do
            countEntry(totals.all, cursor);
        while (cursor.next());
    }
    void leaveDirectory(MapIterator& cursor, ParseTotals& child) override {
        note("leave " + cursor.getName() + " " + std::to_string(child.all.files));
    }
    bool acceptDirectory(MapIterator& cursor) override {
        note("accept " + cursor.getName());
        return refused != cursor.getName();
    }

    // Walks the level below "ROOT"; the cursor is left where the walk left it.
    ParseTotals walk() {
        cursor = makeIterator(map_, tree::START_POSITION, true, false);
        EXPECT_TRUE(cursor->down());
        std::vector<std::string> path;
        ParseTotals totals;
        parse(*cursor, path, totals);
        EXPECT_TRUE(path.empty());
        return totals;
    }
    void note(const std::string& event) {
        if (record)
            events += (events.empty() ? "" : "; ") + event;
    }

    std::unique_ptr<MapIterator> cursor;
    std::string events;
    bool record = true;
    std::string refused;
    u64 deepest = 0;
};

// root -> d -> d ... `depth` levels, each folder holding one file f.
std::unique_ptr<TestEngine> chain(u64 depth) {
    std::string text = "root 5\nfile 9 in=5 name=f\n";
    for (u64 i = 0; i < depth; ++i)
        text += "dir " + std::to_string(10 + i) + " in=" + std::to_string(i ? 9 + i : 5) +
                " name=d\nfile " + std::to_string(10 + depth + i) +
                " in=" + std::to_string(10 + i) + " name=f\n";
    return TestEngine::build(text);
}

const char* const NESTED = "root 5\ndir 10 in=5 name=a\ndir 11 in=10 name=b\n"
                           "dir 12 in=11 name=c\nfile 20 in=12 name=f.txt size=3\n"
                           "file 21 in=5 name=g.txt size=4\nfile 22 in=10 name=h.txt size=5\n";

TEST(ParserTest, WalksDepthFirstWithEveryHookAndAddsChildTotals) {
    auto map = TestEngine::build(NESTED);
    RecordingParser parser(map.get());
    RecordingProgress progress;
    parser.setInterfaceCallback(&progress);
    const ParseTotals totals = parser.walk();
    parser.setInterfaceCallback(nullptr);
    EXPECT_EQ(parser.events, "process / at a; accept a; process /a at b; accept b; "
                             "process /a/b at c; accept c; process /a/b/c at f.txt; leave c 1; "
                             "leave b 1; leave a 2");
    EXPECT_EQ(totals.all.files, 3u);
    EXPECT_EQ(totals.all.bytes, 12u);
    EXPECT_EQ(totals.all.folders, 3u);
    EXPECT_EQ(parser.cursor->getName(), "g.txt"); // the level's last entry
    // Each level's path is shown, and polled.
    std::string shown;
    for (const RecordingProgress::Text& t : progress.record()->texts)
        shown += "[" + t.text + "]";
    EXPECT_EQ(shown, "[][a][a/b][a/b/c]");
    EXPECT_EQ(progress.record()->polls, 4u);

    // A refused folder is neither entered nor left.
    RecordingParser refusing(map.get());
    refusing.refused = "b";
    refusing.walk();
    EXPECT_EQ(refusing.events, "process / at a; accept a; process /a at b; accept b; leave a 1");
}

TEST(ParserTest, ACancelThreeLevelsDownLeavesEveryOpenLevelInnermostFirst) {
    auto map = TestEngine::build(NESTED);
    RecordingParser parser(map.get());
    RecordingProgress progress;
    progress.cancelAtPoll(4); // the poll on entering a/b/c
    InterfaceCallbackScope scope(parser, &progress);
    EXPECT_THROW(parser.walk(), InterruptedException);
    EXPECT_THAT(parser.events, testing::EndsWith("leave c 0; leave b 0; leave a 1"));
}

TEST(ParserTest, FoldersThatCannotBeEnteredOrAreMetAgainAreLeftWithZeroTotals) {
    // An empty folder, one known only from a listing, and what no sound engine
    // builds: a folder enterable from two entries, and an entry for the root.
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=1-empty
        dir 11 in=5 name=2-listed-only
        file 21 in=11 name=never-seen
        dir 12 in=5 in=13 name=3-one
        dir 13 in=5 name=4-other
        entry 12 5 dir name=back-to-root
        file 20 in=12 name=y
    )");
    for (u64 folder : {5u, 12u, 13u}) {
        for (u32 i = 0; i < map->getFolder(folder)->size(); ++i) {
            tree::Node& n = map->getFolder(folder)->node(i);
            if (n.isDirectory())
                n.setLink(n.getName() == "2-listed-only" ? tree::TO : tree::GOOD);
        }
    }
    RecordingParser parser(map.get());
    EXPECT_EQ(parser.walk().all.files, 1u);
    EXPECT_EQ(parser.events,
              "process / at 1-empty; accept 1-empty; leave 1-empty 0; accept 2-listed-only; "
              "leave 2-listed-only 0; accept 3-one; process /3-one at back-to-root; "
              "accept back-to-root; leave back-to-root 0; leave 3-one 1; accept 4-other; "
              "process /4-other at 3-one; accept 3-one; leave 3-one 0; leave 4-other 0");
}

// A tree a damaged disk can describe: every folder nested in the one before.
TEST(ParserTest, AHundredThousandNestedFoldersAreWalkedWithoutRecursion) {
    auto map = chain(100000);
    RecordingParser parser(map.get());
    parser.record = false;
    parser.setPathLimit(0);
    EXPECT_EQ(parser.walk().all.files, 100001u);
    EXPECT_EQ(parser.deepest, 100000u);
    EXPECT_EQ(parser.cursor->getName(), "f");
}

TEST(ParserTest, ThePathLimitCutsAndLogsTheCut) {
    auto map = chain(40);
    RecordingParser parser(map.get());
    parser.setPathLimit(60); // 30 levels of "d" and a separator
    testutil::LogCapture log;
    const ParseTotals totals = parser.walk();
    EXPECT_EQ(totals.all.folders, 30u + 1u); // the cut folder's entry is still seen
    EXPECT_EQ(totals.all.files, 31u);
    EXPECT_THAT(log.text(), testing::HasSubstr("Parser(20): path limit 60 reached, not "
                                               "entering d (folder 40)"));
}

} // namespace
