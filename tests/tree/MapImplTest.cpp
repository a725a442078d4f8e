#include "tree/MapImpl.h"

#include "tests/support/RecordingProgress.h"
#include "tests/support/TestEngine.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

using testutil::TestEngine;
using tree::Folder;
using tree::Node;

using testing::StrEq;
using testing::ThrowsMessage;

namespace {

const char* const BASIC = R"(
    root 5
    dir 10 in=5 name=docs
    dir 11 in=10 name=sub
    file 20 in=10 name=a.txt size=100
    file 21 in=11 name=b.txt size=5
)";

// A folder's entries in order as "name:link", link T, F or G, "+u" when
// HAS_UNREADABLE, "+d" when DELETED, "+i" when INVALID_DIRECTORY.
std::string entries(tree::MapImpl& map, u64 folder) {
    std::string out;
    for (const Node& n : map.getFolder(folder)->getNodes()) {
        out += (out.empty() ? "" : " ") + n.getName() + ":" + "TFG"[n.getLink()];
        for (auto flag :
             {std::make_pair(Node::HAS_UNREADABLE, "+u"), std::make_pair(Node::DELETED, "+d"),
              std::make_pair(Node::INVALID_DIRECTORY, "+i")})
            out += n.hasFlag(flag.first) ? flag.second : "";
    }
    return out;
}

Node folderNode(const std::string& name, u64 address, tree::NodeLink link) {
    Node n(name, address, 0, 0, 0);
    n.setFlag(Node::DIRECTORY, true);
    n.setLink(link);
    return n;
}

TEST(MapImplTest, FoldersAreLoadedAndBroughtUpOnlyWhenAsked) {
    TestEngine map(testutil::TestDescription::parse(BASIC));
    EXPECT_EQ(map.loadFolderCalls(), 0u);
    Folder* docs = map.getFolder(10);
    EXPECT_EQ(docs->getState(), tree::ELEMS_SORTED);
    // Its subfolder was loaded to reconcile the listing, but not brought up.
    EXPECT_EQ(map.findFolder(11)->getState(), tree::ATTACHED);
    const u64 loads = map.loadFolderCalls();
    EXPECT_EQ(map.getFolder(10), docs);
    EXPECT_EQ(map.loadFolderCalls(), loads);
    EXPECT_EQ(map.checkStatusesCalls(), 1u);
    EXPECT_EQ(entries(map, 5), "docs:G");
}

TEST(MapImplTest, RecordsMergeIntoTheirListedEntriesOrStayApart) {
    // 20: its record says deleted and 50 bytes, its listing 7 bytes under another
    // name. 22: a listing that disagrees leaves the record beside it as FROM. 23:
    // a record naming the root, where it is "Found" (the root claims nothing).
    // 24, 25: listed without records, for the merges below.
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        file 20 parent=10 name=record.txt size=50 deleted
        entry 10 20 name=listed.txt size=7
        file 22 in=10 name=a.txt noequiv
        file 23 in=10 name=moved.txt parent=5
        entry 10 24 name=u1
        entry 10 25 name=u2
    )");
    EXPECT_EQ(entries(*map, 10), "listed.txt:G+d a.txt:F a-1.txt:T moved.txt:T u1:T u2:T");
    EXPECT_EQ(map->getFolder(10)->node(0).getSize(), 50u);
    EXPECT_EQ(map->getFolder(10)->node(0).getIndex(), 1u); // the listing's, not the record's
    EXPECT_EQ(entries(*map, tree::FOUND_FOLDER), "moved.txt:F");
    // A merge copies an unreadable mark but never clears one; a nameless node
    // is "Found." and its address; what is appended is sorted on the next get.
    Folder* docs = map->getFolder(10);
    Node unreadable("x", 24, 0, 3, 0);
    unreadable.setFlag(Node::HAS_UNREADABLE, true);
    map->addNode(10, docs, unreadable, 0);
    docs->node(5).setFlag(Node::HAS_UNREADABLE, true);
    map->addNode(10, docs, Node("x", 25, 0, 3, 0), 0);
    map->insertNode(10, Node("", 77, 0, 1, 0));
    EXPECT_EQ(entries(*map, 10),
              "listed.txt:G+d u1:G+u u2:G+u a.txt:F a-1.txt:T Found.77:T moved.txt:T");
}

TEST(MapImplTest, WhichEquivalentEntryTakesTheRecord) {
    const std::string three = "dir 10 in=5 name=docs\nfile 20 parent=10 name=rec size=9\n"
                              "entry 10 20 name=a\nentry 10 20 name=b prefer\nentry 10 20 name=c\n";
    EXPECT_EQ(entries(*TestEngine::build("option searchall\n" + three), 10), "b:G a:T c:T");
    EXPECT_EQ(entries(*TestEngine::build(three), 10), "a:G b:T c:T");
    // Without searchall: from the start index on, then from the beginning.
    auto map = TestEngine::build("option nosort\ndir 10 in=5 name=docs\nentry 10 20 name=a\n"
                                 "entry 10 20 name=b\nentry 10 20 name=c noequiv\n");
    Folder* docs = map->getFolder(10);
    for (u32 start : {1u, 2u, 2u})
        map->addNode(10, docs, Node("x", 20, 0, 1, 0), start);
    EXPECT_EQ(entries(*map, 10), "a:G b:G c:T x:T");
}

// A large folder is searched through an index of positions; it must merge
// exactly as the plain search does.
TEST(MapImplTest, LargeFoldersMergeRecordsIntoTheirListedEntries) {
    std::string description = "root 5\ndir 10 in=5 name=big\n";
    for (int i = 0; i < 600; ++i) {
        // Every third file is listed without a record; every seventh has a
        // record that disagrees with one more listing.
        const std::string address = std::to_string(100 + i);
        description += "file " + address + " in=10 name=f" + std::to_string(i) +
                       (i % 3 == 0 ? " norecord\n" : "\n");
        if (i % 7 == 0)
            description += "entry 10 " + address + " name=x" + std::to_string(i) + " noequiv\n";
    }
    const std::string listed = entries(*TestEngine::build(description), 10);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), 'G'), 400);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), 'T'), 200 + 86);
}

TEST(MapImplTest, FoundEntriesHangWhereTheirRecordsSayAndLoopsEndUnderTheRoot) {
    // 99 has no record: it reads as an invalid folder, which hangs in "Found".
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        file 30 name=orphan.txt parent=10
        file 31 name=lost.txt parent=99
        dir 40 name=hidden parent=10
        file 41 name=inside.txt parent=40
        dir 50 name=x parent=51
        dir 51 name=y parent=52
        dir 52 name=z parent=51
        dir 53 name=self parent=53
    )");
    EXPECT_EQ(entries(*map, 10), "hidden:F orphan.txt:F");
    EXPECT_EQ(entries(*map, 40), "inside.txt:F");
    EXPECT_EQ(entries(*map, 99), "lost.txt:F");
    EXPECT_EQ(entries(*map, tree::FOUND_FOLDER), "Found.99:F+i self:F z:F");
    EXPECT_EQ(map->folderPath(50), "Found\\z\\y\\x");
    EXPECT_TRUE(map->checkIntegrity());
    // A chain that an engine leaves looping is followed once round.
    map->findFolder(10)->setParent(40);
    map->findFolder(40)->setParent(10);
    EXPECT_EQ(map->folderPath(40), "hidden");
}

TEST(MapImplTest, AnEntryForTheFolderOrAnAncestorCannotBeEntered) {
    // Folder 10 lists the root and itself, as a hostile ".." and "." would.
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        entry 10 5 dir name=up
        entry 10 10 dir name=same
        dir 11 in=10 name=sub
        dir 12 in=5 name=other
    )");
    EXPECT_EQ(entries(*map, 10), "sub:G same:T up:T");
    // From an engine's records: merging would make "up" enterable; refused.
    testutil::LogCapture log;
    map->insertNode(10, folderNode("up2", 5, tree::FROM));
    EXPECT_EQ(log.text(), "MapImpl(130): folder 5 would contain itself in 10\n");
    // Where nothing is listed for it, it is shown but cannot be entered; and
    // ancestry follows a parent changed since it was last asked about.
    map->insertNode(11, folderNode("docs", 10, tree::GOOD));
    map->insertNode(11, folderNode("other", 12, tree::GOOD));
    map->findFolder(10)->setParent(12);
    map->insertNode(11, folderNode("other2", 12, tree::GOOD));
    EXPECT_EQ(entries(*map, 10), "sub:G same:T up:T");
    EXPECT_EQ(entries(*map, 11), "other:G docs:T other2:T");
}

TEST(MapImplTest, AnAddressTwiceThrowsForTheMapAndIsRefusedFromTheDisk) {
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        dir 11 in=5 name=other
        dir 12 in=10 in=11 name=twice
        file 20 in=12 name=a.txt
    )");
    EXPECT_EQ(entries(*map, 10) + " / " + entries(*map, 11), "twice:G / twice:T");
    EXPECT_EQ(map->getFolder(12)->size(), 1u); // loaded once
    EXPECT_THAT([&] { map->attachFolder(10, Folder(tree::ATTACHED, 5)); },
                ThrowsMessage<std::runtime_error>(StrEq("MapImpl(45)")));
    EXPECT_EQ(map->tryQueueFolder(10, Folder(tree::ATTACHED, 5)), nullptr);
    EXPECT_EQ(map->getFolder(10)->size(), 1u);
}

TEST(MapImplTest, FolderPathsAreReportedAsProgressAndACancelKeepsWhatWasLoaded) {
    TestEngine map(testutil::TestDescription::parse(BASIC));
    testutil::RecordingProgress progress;
    {
        InterfaceCallbackScope scope(map, &progress);
        map.finishTree();
    }
    std::vector<std::string> texts;
    for (const auto& t : progress.record()->texts)
        texts.push_back(t.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"ROOT", "docs", "docs\\sub"}));
    EXPECT_EQ(progress.record()->polls, 3u);

    TestEngine cancelled(testutil::TestDescription::parse(BASIC));
    testutil::RecordingProgress cancelling;
    cancelling.cancelAtPoll(2);
    InterfaceCallbackScope scope(cancelled, &cancelling);
    EXPECT_THROW(cancelled.finishTree(), InterruptedException);
    EXPECT_NE(cancelled.findFolder(11), nullptr);
}

} // namespace
