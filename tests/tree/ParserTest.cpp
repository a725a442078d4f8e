#include "tree/Parser.h"

#include "core/DateTime.h"
#include "core/Log.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TestEngine.h"
#include "tree/Recoverer.h"

#include <gtest/gtest.h>

#include <sstream>

using testutil::RecordingProgress;
using testutil::TestEngine;
using tree::Folder;
using tree::MapIterator;
using tree::Node;
using tree::Parser;
using tree::ParseTotals;

namespace {

// Writes down every hook call; counts each level's entries into totals.all.
class RecordingParser : public Parser {
public:
    explicit RecordingParser(tree::Map* map) : Parser(map) {}

    void processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                          ParseTotals& totals) override {
        events.push_back("process /" + tree::joinPath(path) + " at " + cursor.getName());
        do
            countEntry(totals.all, cursor);
        while (cursor.next());
    }
    void leaveDirectory(MapIterator& cursor, ParseTotals& child) override {
        events.push_back("leave " + cursor.getName() + " " + std::to_string(child.all.files));
    }
    bool acceptDirectory(MapIterator& cursor) override {
        events.push_back("accept " + cursor.getName());
        return refused != cursor.getName();
    }

    std::vector<std::string> events;
    std::string refused;
};

// A map whose folders are all present and sorted from the start, exactly as
// given: what no sound engine would build (folders listed twice, loops) can be
// put in it, and it holds a hundred thousand levels without loading costs.
class ScriptMap : public tree::MapImpl {
public:
    explicit ScriptMap(u64 root) : MapImpl(root, false, false) {}

    Folder& folder(u64 address, u64 parent) {
        return *attachFolder(address, Folder(tree::ELEMS_SORTED, parent));
    }
    static Node dir(const std::string& name, u64 address) {
        Node n(name, address, Node::NONE, Node::NONE, NO_TIME);
        n.setFlag(Node::DIRECTORY, true);
        n.setLink(tree::GOOD);
        return n;
    }
    static Node file(const std::string& name, u64 size) {
        Node n(name, 0, Node::NONE, size, NO_TIME);
        n.setLink(tree::GOOD);
        return n;
    }

    void analyzeFoundFiles() override {}
    bool recoverNode(tree::Recoverer&, const std::vector<std::string>&, Node&) override {
        return true;
    }
    int readNodeData(Node&, u8*, u32, u64) override { return -1; }
    u64 getNodeLBA(u64) override { return Node::NONE; }
    int getKind() override { return tree::MAP_NTFS; }
    void ostreamPartitionInfo(std::ostream&) override {}
    Drive* getDrive() override { return nullptr; }
    Folder* loadFolder(u64 address, Node& out) override {
        out = dir("", address);
        return folderOr(address);
    }
    bool loadFoundEntry(u64, Node&) override { return false; }
    void checkStatuses(Folder& f) override { f.setState(tree::STATUSES_CHECKED); }
    bool isEquivalent(const Node&, const Node&) override { return false; }
    void ostreamInfo(std::ostream&, const tree::MapPosition&, Folder&, Node&) override {}

private:
    Folder* folderOr(u64 address) {
        Folder* f = findFolder(address);
        return f ? f : attachFolder(address, Folder(tree::ELEMS_SORTED, getRootAddress()));
    }
};

// root -> level1 -> level2 ... -> level<depth>, each folder holding one file.
std::unique_ptr<ScriptMap> chain(u64 depth) {
    auto map = std::make_unique<ScriptMap>(0);
    for (u64 i = 0; i <= depth; ++i) {
        Folder& f = map->folder(i, i == 0 ? tree::TOP_FOLDER : i - 1);
        if (i < depth)
            f.addNode(ScriptMap::dir("d", i + 1));
        f.addNode(ScriptMap::file("f", 1));
    }
    return map;
}

std::unique_ptr<MapIterator> inRoot(tree::Map* map) {
    std::unique_ptr<MapIterator> cursor =
        Parser::makeIterator(map, tree::START_POSITION, true, false);
    EXPECT_TRUE(cursor->down());
    return cursor;
}

const char* const NESTED = R"(
root 5
dir 10 in=5 name=a
dir 11 in=10 name=b
dir 12 in=11 name=c
file 20 in=12 name=f.txt size=3
file 21 in=5 name=g.txt size=4
file 22 in=10 name=h.txt size=5
)";

TEST(ParserTest, WalksDepthFirstWithEveryHookAndAddsChildTotals) {
    auto map = TestEngine::build(NESTED);
    RecordingParser parser(map.get());
    auto cursor = inRoot(map.get());
    std::vector<std::string> path;
    ParseTotals totals;
    parser.parse(*cursor, path, totals);

    const std::vector<std::string> expected = {
        "process / at a",    "accept a",  "process /a at b",         "accept b",
        "process /a/b at c", "accept c",  "process /a/b/c at f.txt", "leave c 1",
        "leave b 1",         "leave a 2",
    };
    EXPECT_EQ(parser.events, expected);
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(totals.all.files, 3u);
    EXPECT_EQ(totals.all.bytes, 12u);
    EXPECT_EQ(totals.all.folders, 3u);
    EXPECT_EQ(cursor->getName(), "g.txt"); // the walk ends on the level's last entry
}

TEST(ParserTest, ShowsEachLevelsPathAndPollsWhenASinkIsSet) {
    auto map = TestEngine::build(NESTED);
    RecordingParser parser(map.get());
    RecordingProgress progress;
    parser.setInterfaceCallback(&progress);
    auto cursor = inRoot(map.get());
    std::vector<std::string> path;
    ParseTotals totals;
    parser.parse(*cursor, path, totals);
    parser.setInterfaceCallback(nullptr);

    std::vector<std::string> shown;
    for (const RecordingProgress::Text& t : progress.record()->texts) {
        EXPECT_EQ(t.kind, InterfaceCallback::TEXT_MAIN);
        shown.push_back(t.text);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"", "a", "a/b", "a/b/c"}));
    EXPECT_EQ(progress.record()->polls, 4u);
}

TEST(ParserTest, ACancelThreeLevelsDownLeavesEveryOpenLevelInnermostFirst) {
    auto map = TestEngine::build(NESTED);
    RecordingParser parser(map.get());
    RecordingProgress progress;
    progress.cancelAtPoll(4); // the poll on entering a/b/c
    parser.setInterfaceCallback(&progress);
    auto cursor = inRoot(map.get());
    std::vector<std::string> path;
    ParseTotals totals;
    EXPECT_THROW(parser.parse(*cursor, path, totals), InterruptedException);

    const std::vector<std::string> tail(parser.events.end() - 3, parser.events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"leave c 0", "leave b 0", "leave a 1"}));
    EXPECT_TRUE(path.empty());
    // What was walked is counted: the root level's two entries and h.txt and b in a.
    EXPECT_EQ(totals.all.files, 2u);
    EXPECT_EQ(totals.all.folders, 3u);
    EXPECT_EQ(cursor->getName(), "a");
}

TEST(ParserTest, ARefusedFolderIsNotEnteredAndNotLeft) {
    auto map = TestEngine::build(NESTED);
    RecordingParser parser(map.get());
    parser.refused = "b";
    auto cursor = inRoot(map.get());
    std::vector<std::string> path;
    ParseTotals totals;
    parser.parse(*cursor, path, totals);
    EXPECT_EQ(parser.events,
              (std::vector<std::string>{"process / at a", "accept a", "process /a at b", "accept b",
                                        "leave a 1"}));
}

TEST(ParserTest, AFolderThatCannotBeEnteredIsLeftWithZeroTotals) {
    ScriptMap map(0);
    Folder& root = map.folder(0, tree::TOP_FOLDER);
    root.addNode(ScriptMap::dir("empty", 1));
    Node listedOnly = ScriptMap::dir("listed-only", 2);
    listedOnly.setLink(tree::TO);
    root.addNode(listedOnly);
    root.addNode(ScriptMap::file("x", 1));
    map.folder(1, 0);
    map.folder(2, 0).addNode(ScriptMap::file("never-seen", 1));

    RecordingParser parser(&map);
    auto cursor = inRoot(&map);
    std::vector<std::string> path;
    ParseTotals totals;
    parser.parse(*cursor, path, totals);
    EXPECT_EQ(parser.events,
              (std::vector<std::string>{"process / at empty", "accept empty", "leave empty 0",
                                        "accept listed-only", "leave listed-only 0"}));
}

TEST(ParserTest, TotalsAddFieldByFieldAndPrintWithThousands) {
    ParseTotals a;
    a.all = {1, 2, 3};
    a.selected = {4, 5, 6};
    ParseTotals b;
    b.all = {10, 20, 30};
    b.selected = {40, 50, 60};
    a += b;
    EXPECT_EQ(a.all.files, 11u);
    EXPECT_EQ(a.all.bytes, 22u);
    EXPECT_EQ(a.all.folders, 33u);
    EXPECT_EQ(a.selected.files, 44u);
    EXPECT_EQ(a.selected.bytes, 55u);
    EXPECT_EQ(a.selected.folders, 66u);

    std::ostringstream out;
    tree::printTotals(out, tree::Totals{1234, 1234567890, 0});
    EXPECT_EQ(out.str(), "1,234 file(s) 0 folder(s) 1,234,567,890 bytes");
}

// Counts levels and records how deep the path went, and nothing else.
class DepthParser : public Parser {
public:
    using Parser::Parser;
    void processDirectory(MapIterator&, const std::vector<std::string>& path,
                          ParseTotals& totals) override {
        deepest = std::max<u64>(deepest, path.size());
        totals.all.files += 1;
    }
    void leaveDirectory(MapIterator&, ParseTotals& child) override { addFolder(child.all); }
    u64 deepest = 0;
};

// A tree a damaged disk can describe: every folder nested in the one before.
TEST(ParserTest, AHundredThousandNestedFoldersAreWalkedWithoutRecursion) {
    const u64 depth = 100000;
    auto map = chain(depth);
    DepthParser walker(map.get());
    walker.setDepthLimit(0);
    auto cursor = inRoot(map.get());
    std::vector<std::string> path;
    ParseTotals totals;
    walker.parse(*cursor, path, totals);
    EXPECT_EQ(walker.deepest, depth);
    EXPECT_EQ(totals.all.files, depth + 1);
    EXPECT_EQ(totals.all.folders, depth);
    EXPECT_EQ(cursor->getPosition(), (tree::MapPosition{0, 1}));
}

TEST(ParserTest, TheDepthLimitCutsAndLogsTheCut) {
    auto map = chain(40);
    RecordingParser parser(map.get());
    parser.setDepthLimit(30);
    auto cursor = inRoot(map.get());
    std::vector<std::string> path;
    ParseTotals totals;
    const std::size_t mark = logMemoryText().size();
    parser.parse(*cursor, path, totals);
    EXPECT_EQ(totals.all.folders, 30u + 1u); // the cut folder's entry is still seen
    EXPECT_EQ(totals.all.files, 31u);
    EXPECT_NE(logMemoryText().find("depth limit 30 reached, not entering d (folder 31)", mark),
              std::string::npos);
}

TEST(ParserTest, AFolderListedTwiceOrNamingItsAncestorIsWalkedOnce) {
    ScriptMap map(0);
    Folder& root = map.folder(0, tree::TOP_FOLDER);
    root.addNode(ScriptMap::dir("one", 1));
    root.addNode(ScriptMap::file("x", 1));
    root.addNode(ScriptMap::dir("again", 1));
    Folder& one = map.folder(1, 0);
    one.addNode(ScriptMap::dir("back-to-root", 0));
    one.addNode(ScriptMap::file("y", 1));

    RecordingParser parser(&map);
    auto cursor = inRoot(&map);
    std::vector<std::string> path;
    ParseTotals totals;
    parser.parse(*cursor, path, totals);
    EXPECT_EQ(parser.events, (std::vector<std::string>{
                                 "process / at one", "accept one", "process /one at back-to-root",
                                 "accept back-to-root", "leave back-to-root 0", "leave one 1",
                                 "accept again", "leave again 0"}));
    EXPECT_EQ(totals.all.files, 2u);
}

} // namespace
