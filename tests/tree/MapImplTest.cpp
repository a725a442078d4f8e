#include "tree/MapImpl.h"

#include "core/Log.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TestEngine.h"
#include "tree/MapIteratorImpl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
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

// The node of folder `folder` named `name`, or null.
const Node* find(tree::MapImpl& map, u64 folder, const std::string& name) {
    Folder* f = map.getFolder(folder);
    if (!f)
        return nullptr;
    for (const Node& n : f->getNodes())
        if (n.getName() == name)
            return &n;
    return nullptr;
}

// The link of that node, -1 when there is no such node.
int linkOf(tree::MapImpl& map, u64 folder, const std::string& name) {
    const Node* n = find(map, folder, name);
    return n ? static_cast<int>(n->getLink()) : -1;
}

// The log written while f runs.
std::string logOf(const std::function<void()>& f) {
    const std::size_t before = logMemoryText().size();
    f();
    return logMemoryText().substr(before);
}

std::unique_ptr<TestEngine> fresh(const std::string& description) {
    return std::make_unique<TestEngine>(testutil::TestDescription::parse(description));
}

TEST(MapImplTest, ANewMapHoldsTheTopFolderWithRoot) {
    auto map = fresh("root 7");
    // The top folder and the root the engine registered; nothing else.
    EXPECT_EQ(map->folderCount(), 2u);
    EXPECT_EQ(map->findFolder(tree::FOUND_FOLDER), nullptr);
    Folder* top = map->findFolder(tree::TOP_FOLDER);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(map->getFolder(tree::TOP_FOLDER), top);
    EXPECT_EQ(top->getState(), tree::ELEMS_SORTED);
    EXPECT_EQ(top->getParent(), tree::NO_FOLDER);
    ASSERT_EQ(top->size(), 1u);
    const Node& root = top->node(0);
    EXPECT_EQ(root.getName(), "ROOT");
    EXPECT_EQ(root.getAddress(), 7u);
    EXPECT_EQ(root.getIndex(), Node::NONE);
    EXPECT_EQ(root.getSize(), Node::NONE);
    EXPECT_EQ(root.getTime(), 0xFFFFFFFFu);
    EXPECT_EQ(root.getFlags(), Node::VISIBLE | Node::DIRECTORY | (tree::GOOD << 8));
    EXPECT_EQ(map->findFolder(7)->getParent(), tree::TOP_FOLDER);
}

TEST(MapImplTest, FoldersAreLoadedAndBroughtUpOnlyWhenAsked) {
    auto map = fresh(BASIC);
    EXPECT_EQ(map->loadFolderCalls(), 0u);
    EXPECT_EQ(map->findFolder(5)->getState(), tree::ATTACHED);

    Folder* docs = map->getFolder(10);
    ASSERT_NE(docs, nullptr);
    EXPECT_EQ(docs->getState(), tree::ELEMS_SORTED);
    EXPECT_EQ(docs->getParent(), 5u);
    EXPECT_EQ(map->checkStatusesCalls(), 1u);
    // Its own subfolder was loaded to reconcile the listing, but not brought up.
    ASSERT_NE(map->findFolder(11), nullptr);
    EXPECT_EQ(map->findFolder(11)->getState(), tree::ATTACHED);

    const u64 loads = map->loadFolderCalls();
    EXPECT_EQ(map->getFolder(10), docs);
    EXPECT_EQ(map->loadFolderCalls(), loads);
    EXPECT_EQ(map->checkStatusesCalls(), 1u);

    // The folder hangs in the root, which lists it: the entry became GOOD.
    const Node* entry = find(*map, 5, "docs");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->getLink(), tree::GOOD);
}

TEST(MapImplTest, FinishTreeReconcilesEveryQueuedFolder) {
    auto map = TestEngine::build(BASIC);
    for (u64 f : {5u, 10u, 11u})
        EXPECT_GE(map->findFolder(f)->getState(), tree::LINKS_CHECKED) << f;
    EXPECT_EQ(linkOf(*map, 10, "a.txt"), tree::GOOD);
    EXPECT_EQ(linkOf(*map, 11, "b.txt"), tree::GOOD);
    EXPECT_EQ(linkOf(*map, 10, "sub"), tree::GOOD);
    EXPECT_EQ(map->findFolder(tree::FOUND_FOLDER), nullptr);
}

TEST(MapImplTest, UnclaimedNodesInTheRootGoToOneFoundFolder) {
    auto map = TestEngine::build("root 5");
    map->insertNode(5, Node("lost1", 40, 0, 1, 0));
    Folder* found = map->findFolder(tree::FOUND_FOLDER);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->getParent(), 5u);
    map->insertNode(tree::NO_FOLDER, Node("lost2", 41, 0, 1, 0));
    map->insertNode(tree::TOP_FOLDER, Node("lost3", 42, 0, 1, 0));
    EXPECT_EQ(found->size(), 3u);

    Folder* root = map->getFolder(5);
    ASSERT_EQ(root->size(), 1u);
    const Node& entry = root->node(0);
    EXPECT_EQ(entry.getName(), "Found");
    EXPECT_EQ(entry.getAddress(), tree::FOUND_FOLDER);
    EXPECT_TRUE(entry.hasFlag(Node::DIRECTORY));
    EXPECT_EQ(entry.getLink(), tree::GOOD);
    EXPECT_EQ(entry.getSize(), Node::NONE);
}

TEST(MapImplTest, ANodeWithoutNameIsFoundDotAddress) {
    auto map = TestEngine::build(BASIC);
    map->insertNode(10, Node("", 77, 0, 1, 0));
    EXPECT_NE(find(*map, 10, "Found.77"), nullptr);
}

TEST(MapImplTest, ARecordMergesIntoItsListedEntry) {
    // The record says deleted and 50 bytes; the listing says 7 bytes under another name.
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        file 20 parent=10 name=record.txt size=50 deleted
        entry 10 20 name=listed.txt size=7
    )");
    Folder* docs = map->getFolder(10);
    ASSERT_EQ(docs->size(), 1u);
    const Node& n = docs->node(0);
    EXPECT_EQ(n.getName(), "listed.txt");
    EXPECT_EQ(n.getLink(), tree::GOOD);
    EXPECT_TRUE(n.hasFlag(Node::DELETED));
    EXPECT_EQ(n.getSize(), 50u);
    EXPECT_EQ(n.getIndex(), 1u); // the listing's, not the record's
}

TEST(MapImplTest, MergeCopiesUnreadableButNeverClearsIt) {
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        entry 10 20 name=a
        entry 10 21 name=b
    )");
    Folder* docs = map->getFolder(10);
    docs->node(1).setFlag(Node::HAS_UNREADABLE, true);
    Node a("x", 20, 0, 3, 0);
    a.setFlag(Node::HAS_UNREADABLE, true);
    map->addNode(10, docs, a, 0);
    Node b("x", 21, 0, 4, 0);
    map->addNode(10, docs, b, 0);
    EXPECT_TRUE(docs->node(0).hasFlag(Node::HAS_UNREADABLE));
    EXPECT_TRUE(docs->node(1).hasFlag(Node::HAS_UNREADABLE));
    EXPECT_EQ(docs->node(0).getLink(), tree::GOOD);
    EXPECT_EQ(docs->node(1).getLink(), tree::GOOD);
    EXPECT_EQ(docs->size(), 2u);
}

TEST(MapImplTest, EntriesThatDisagreeStayApart) {
    // The listing says noequiv: the record's entry is added beside it as FROM.
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        file 20 in=10 name=a.txt noequiv
        file 21 in=10 name=moved.txt parent=5
    )");
    Folder* docs = map->getFolder(10);
    ASSERT_EQ(docs->size(), 3u);
    EXPECT_EQ(docs->node(0).getName(), "a.txt");
    EXPECT_EQ(docs->node(0).getLink(), tree::FROM);
    EXPECT_EQ(docs->node(1).getName(), "a-1.txt");
    EXPECT_EQ(docs->node(1).getLink(), tree::TO);
    // A record that names another folder: TO where listed, FROM where it belongs;
    // the root claims nothing by itself, so there that is "Found".
    EXPECT_EQ(linkOf(*map, 10, "moved.txt"), tree::TO);
    EXPECT_EQ(linkOf(*map, tree::FOUND_FOLDER, "moved.txt"), tree::FROM);
}

const char* const THREE_EQUIVALENTS = R"(
    dir 10 in=5 name=docs
    file 20 parent=10 name=rec size=9
    entry 10 20 name=a
    entry 10 20 name=b prefer
    entry 10 20 name=c
)";

TEST(MapImplTest, SearchAllEquivalentsMergesThePreferredOne) {
    auto map = TestEngine::build(std::string("option searchall\n") + THREE_EQUIVALENTS);
    EXPECT_EQ(linkOf(*map, 10, "a"), tree::TO);
    EXPECT_EQ(linkOf(*map, 10, "b"), tree::GOOD);
    EXPECT_EQ(linkOf(*map, 10, "c"), tree::TO);
}

TEST(MapImplTest, WithoutSearchAllTheFirstFromTheStartIndexIsMerged) {
    auto map = TestEngine::build(THREE_EQUIVALENTS);
    EXPECT_EQ(linkOf(*map, 10, "a"), tree::GOOD);
    EXPECT_EQ(linkOf(*map, 10, "b"), tree::TO);

    // From index 2 onward, then wrapping to the beginning.
    auto other = TestEngine::build(R"(
        dir 10 in=5 name=docs
        entry 10 20 name=a
        entry 10 20 name=b
        entry 10 20 name=c noequiv
    )");
    Folder* docs = other->getFolder(10);
    other->addNode(10, docs, Node("x", 20, 0, 1, 0), 1);
    EXPECT_EQ(docs->node(1).getLink(), tree::GOOD);
    other->addNode(10, docs, Node("x", 20, 0, 1, 0), 2);
    EXPECT_EQ(docs->node(0).getLink(), tree::GOOD);
    other->addNode(10, docs, Node("x", 20, 0, 1, 0), 2);
    EXPECT_EQ(docs->size(), 4u); // nothing left to merge: appended
}

TEST(MapImplTest, FoundFilesHangUnderTheFolderTheirRecordNames) {
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        file 30 name=orphan.txt parent=10
        file 31 name=lost.txt parent=99
        dir 40 name=hidden parent=10
        file 41 name=inside.txt parent=40
    )");
    EXPECT_EQ(linkOf(*map, 10, "orphan.txt"), tree::FROM);
    EXPECT_EQ(linkOf(*map, 10, "hidden"), tree::FROM);
    EXPECT_EQ(linkOf(*map, 40, "inside.txt"), tree::FROM);
    // 99 has no record: it reads as an invalid folder, which hangs in "Found".
    EXPECT_NE(find(*map, 99, "lost.txt"), nullptr);
    EXPECT_EQ(map->findFolder(99)->getParent(), tree::FOUND_FOLDER);
    const Node* invalid = find(*map, tree::FOUND_FOLDER, "Found.99");
    ASSERT_NE(invalid, nullptr);
    EXPECT_TRUE(invalid->hasFlag(Node::INVALID_DIRECTORY));
}

TEST(MapImplTest, AParentChainThatLoopsEndsUnderTheRoot) {
    auto map = TestEngine::build(R"(
        dir 30 name=x parent=31
        dir 31 name=y parent=32
        dir 32 name=z parent=31
        dir 33 name=self parent=33
        file 40 name=f.txt parent=30
    )");
    EXPECT_TRUE(map->checkIntegrity());
    // Every folder is reachable from "ROOT" by entering folders, and no walk loops.
    std::set<u64> reached;
    std::function<void(u64, int)> walk = [&](u64 address, int depth) {
        ASSERT_LT(depth, 10);
        ASSERT_TRUE(reached.insert(address).second) << address;
        for (const Node& n : map->getFolder(address)->getNodes())
            if (n.hasFlag(Node::DIRECTORY) && n.getLink() != tree::TO)
                walk(n.getAddress(), depth + 1);
    };
    walk(5, 0);
    for (u64 f : {30u, 31u, 32u, 33u})
        EXPECT_TRUE(reached.count(f)) << f;
    EXPECT_EQ(map->findFolder(33)->getParent(), tree::FOUND_FOLDER);
    EXPECT_EQ(map->folderPath(30), "Found\\z\\y\\x");
}

TEST(MapImplTest, AListedEntryForAnAncestorCannotBeEntered) {
    // Folder 10 lists the root and itself, as a hostile ".." and "." would.
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        entry 10 5 dir name=up
        entry 10 10 dir name=same
    )");
    EXPECT_EQ(linkOf(*map, 10, "up"), tree::TO);
    EXPECT_EQ(linkOf(*map, 10, "same"), tree::TO);

    // An engine that hands the map such an entry from its records: merging it
    // would make the listed entry enterable, so it is refused...
    Node up("up2", 5, 0, 0, 0);
    up.setFlag(Node::DIRECTORY, true);
    up.setLink(tree::FROM);
    const std::string log = logOf([&] { map->insertNode(10, up); });
    EXPECT_NE(log.find("would contain itself"), std::string::npos) << log;
    EXPECT_EQ(linkOf(*map, 10, "up"), tree::TO);
    EXPECT_EQ(linkOf(*map, 10, "up2"), -1);
    // ...and where nothing is listed for it, it is shown but cannot be entered.
    auto bare = TestEngine::build("dir 10 in=5 name=docs\ndir 11 in=10 name=sub");
    Node docs("docs2", 10, 0, 0, 0);
    docs.setFlag(Node::DIRECTORY, true);
    docs.setLink(tree::GOOD);
    bare->insertNode(11, docs);
    EXPECT_EQ(linkOf(*bare, 11, "docs2"), tree::TO);
}

TEST(MapImplTest, AppendingToASortedFolderSortsAgainOnTheNextGet) {
    auto map = TestEngine::build(BASIC);
    Folder* docs = map->getFolder(10);
    ASSERT_EQ(docs->getState(), tree::ELEMS_SORTED);
    map->insertNode(10, Node("a.txt", 90, 0, 1, 0));
    map->insertNode(10, Node("0.txt", 91, 0, 1, 0));
    EXPECT_EQ(docs->getState(), tree::STATUSES_CHECKED);
    EXPECT_EQ(docs->node(docs->size() - 1).getName(), "0.txt");
    map->getFolder(10);
    EXPECT_EQ(docs->getState(), tree::ELEMS_SORTED);
    std::vector<std::string> names;
    for (const Node& n : docs->getNodes())
        names.push_back(n.getName());
    EXPECT_EQ(names, (std::vector<std::string>{"sub", "a.txt", "0.txt", "a-1.txt"}));
}

TEST(MapImplTest, NamesAreLeftAloneWithoutSortNames) {
    auto map = TestEngine::build(R"(
        option nosort
        file 20 in=5 name=b
        file 21 in=5 name=a
        file 22 in=5 name=a
    )");
    Folder* root = map->getFolder(5);
    EXPECT_EQ(root->node(0).getName(), "b");
    EXPECT_EQ(root->node(2).getName(), "a");
}

TEST(MapImplTest, AttachingAnAddressTwice) {
    auto map = TestEngine::build(BASIC);
    const u64 before = map->folderCount();
    EXPECT_THAT([&] { map->attachFolder(10, Folder(tree::ATTACHED, 5)); },
                ThrowsMessage<std::runtime_error>(StrEq("MapImpl(45)")));
    EXPECT_EQ(map->folderCount(), before);
    EXPECT_EQ(map->findFolder(10)->size(), 2u);
    // The path for what the disk names: refused, logged, nothing changed.
    EXPECT_EQ(map->tryAttachFolder(10, Folder(tree::ATTACHED, 5)), nullptr);
    EXPECT_EQ(map->tryQueueFolder(10, Folder(tree::ATTACHED, 5)), nullptr);
    EXPECT_EQ(map->findFolder(10)->size(), 2u);
    EXPECT_NE(map->tryQueueFolder(12, Folder(tree::ATTACHED, 5)), nullptr);
}

TEST(MapImplTest, AFolderNamedTwiceOnDiskIsLoadedOnce) {
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        dir 11 in=5 name=other
        dir 12 in=10 in=11 name=twice
        file 20 in=12 name=a.txt
    )");
    EXPECT_EQ(linkOf(*map, 10, "twice"), tree::GOOD);
    EXPECT_EQ(linkOf(*map, 11, "twice"), tree::TO);
    EXPECT_EQ(map->getFolder(12)->size(), 1u);
}

TEST(MapImplTest, IntegrityOfAFatMap) {
    auto ok = TestEngine::build(R"(
        map fat
        root 2
        dir 10 in=2 name=docs
        entry 2 10 dir name=alias
        file 20 in=10 name=gone.txt badfat deleted
    )");
    const std::string log = logOf([&] { EXPECT_TRUE(ok->checkIntegrity()); });
    // Two kinds of entry for one folder are reported, but do not fail the check.
    EXPECT_NE(log.find("MapImpl(411): checkIntegrity\n"), std::string::npos) << log;
    EXPECT_NE(log.find("MapImpl(447): TO/FROM/GOOD in 2 to 10 alias//docs\n"), std::string::npos)
        << log;

    auto bad = TestEngine::build(R"(
        map fat
        root 2
        dir 10 in=2 name=docs
        file 20 in=10 name=live.txt badfat
    )");
    bad->getFolder(10); // statuses are set when a folder is brought up
    const std::string badLog = logOf([&] { EXPECT_FALSE(bad->checkIntegrity()); });
    EXPECT_NE(badLog.find("MapImpl(466): Bad not deleted file live.txt in 10\n"), std::string::npos)
        << badLog;
}

TEST(MapImplTest, IntegrityFailsForAFolderWithoutParent) {
    auto map = TestEngine::build(BASIC);
    map->findFolder(11)->setParent(tree::NO_FOLDER);
    map->findFolder(10)->setParent(1234);
    const std::string log = logOf([&] { EXPECT_FALSE(map->checkIntegrity()); });
    EXPECT_NE(log.find("MapImpl(451): No parent for 11\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Missing parent 1234 of 10"), std::string::npos) << log;
}

TEST(MapImplTest, FolderPathsAreReportedAsProgress) {
    auto map = std::make_unique<TestEngine>(testutil::TestDescription::parse(BASIC));
    testutil::RecordingProgress progress;
    {
        InterfaceCallbackScope scope(*map, &progress);
        EXPECT_EQ(map->getDrive()->getInterfaceCallback(), &progress);
        map->finishTree();
    }
    EXPECT_EQ(map->getDrive()->getInterfaceCallback(), nullptr);
    std::vector<std::string> texts;
    for (const auto& t : progress.record()->texts)
        texts.push_back(t.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"ROOT", "docs", "docs\\sub"}));
    EXPECT_EQ(progress.record()->polls, 3u);
}

TEST(MapImplTest, ACancelWhileReportingKeepsWhatWasLoaded) {
    auto map = std::make_unique<TestEngine>(testutil::TestDescription::parse(BASIC));
    testutil::RecordingProgress progress;
    progress.cancelAtPoll(2);
    InterfaceCallbackScope scope(*map, &progress);
    EXPECT_THROW(map->finishTree(), InterruptedException);
    EXPECT_NE(map->findFolder(10), nullptr);
    EXPECT_NE(map->findFolder(11), nullptr);
}

TEST(MapImplTest, PathsFollowBrokenParentChainsOnlyAsFarAsTheyGo) {
    auto map = TestEngine::build(BASIC);
    map->findFolder(10)->setParent(11);
    map->findFolder(11)->setParent(10);
    // The chain never reaches the root; the walk stops anyway.
    EXPECT_EQ(map->folderPath(11), "sub");
}

TEST(MapImplTest, NodeInformation) {
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        file 20 in=10 name=a.txt size=100 time=1234567890 deleted
    )");
    map->getFolder(10);
    std::ostringstream out;
    map->printNodeInformation(out, tree::MapPosition{10, 0});
    EXPECT_EQ(out.str(), "Name:\t\ta.txt\n"
                         "Address:\t20\n"
                         "Index:\t\t1\n"
                         "Size:\t\t100\n"
                         "Time:\t\t1234567890\n"
                         "Link:\t\tGOOD\n"
                         "Flags:\t\tDELETED VISIBLE \n"
                         "Record:\tyes\n"
                         "\n--- Node Information ---\n"
                         "Parent:\t5\n"
                         "State:\tELEMS_SORTED");

    std::ostringstream ignored;
    EXPECT_THAT(
        [&] {
            map->printNodeInformation(ignored, tree::MapPosition{12345, 0});
        },
        ThrowsMessage<std::runtime_error>(StrEq("MapImpl(88)")));
    EXPECT_THAT(
        [&] {
            map->printNodeInformation(ignored, tree::MapPosition{10, 1});
        },
        ThrowsMessage<std::runtime_error>(StrEq("Node(203)")));
}

TEST(MapImplTest, DriveInformationDescribesTheSource) {
    auto map = TestEngine::build("source id=0 description=Disk sectors=16065");
    std::ostringstream out;
    map->printDriveInformation(out);
    EXPECT_EQ(out.str().rfind("ID: 0\nDescription: Disk\n", 0), 0u) << out.str();
}

TEST(MapImplTest, CarvedFoldersAreBornSorted) {
    auto map = TestEngine::build(R"(
        map cbr
        root 1
        dir 10 in=1 name=jpg
        file 20 in=10 name=b.jpg
        file 21 in=10 name=a.jpg unreadable
    )");
    Folder* jpg = map->getFolder(10);
    EXPECT_EQ(jpg->node(0).getName(), "b.jpg");
    EXPECT_EQ(jpg->node(0).getLink(), tree::GOOD);
    EXPECT_TRUE(jpg->node(1).hasFlag(Node::HAS_UNREADABLE));
    EXPECT_EQ(map->checkStatusesCalls(), 0u);
    EXPECT_EQ(map->loadFoundEntryCalls(), 0u);
}

TEST(MapImplTest, DescriptionErrorsNameTheLine) {
    EXPECT_THAT([] { testutil::TestDescription::parse("root 5\nfile x"); },
                ThrowsMessage<std::runtime_error>(StrEq("TestEngine: line 2: not a number: x")));
    EXPECT_THAT([] { testutil::TestDescription::parse("file 6\nfile 6"); },
                ThrowsMessage<std::runtime_error>(
                    StrEq("TestEngine: line 2: address 6 is described twice")));
    EXPECT_THAT([] { testutil::TestDescription::parse("file 6 colour=red"); },
                ThrowsMessage<std::runtime_error>(
                    StrEq("TestEngine: line 1: unknown attribute colour=red")));
    EXPECT_EQ(testutil::TestDescription::parse("file 6 name=a\\sb\\x2f\\\\").records.at(6).name,
              "a b/\\");
}

} // namespace

namespace {

// A large folder is searched through an index of positions; it must merge
// exactly as the plain search does, also after its entries moved.
TEST(MapImplTest, LargeFoldersMergeRecordsIntoTheirListedEntries) {
    std::string description = "root 5\ndir 10 in=5 name=big\n";
    for (int i = 0; i < 600; ++i) {
        // Every third file is listed but has no record; every seventh has a record
        // that disagrees with its listing; the rest agree.
        description += "file " + std::to_string(100 + i) + " in=10 name=f" + std::to_string(i);
        if (i % 3 == 0)
            description += " norecord";
        description += "\n";
        if (i % 7 == 0)
            description += "entry 10 " + std::to_string(100 + i) + " name=x" +
                           std::to_string(i) + " noequiv\n";
    }
    auto map = TestEngine::build(description);
    Folder* big = map->getFolder(10);
    ASSERT_NE(big, nullptr);
    std::size_t good = 0, to = 0;
    for (const Node& n : big->getNodes()) {
        if (n.getLink() == tree::GOOD)
            ++good;
        else if (n.getLink() == tree::TO)
            ++to;
    }
    // 400 files have records and listings that agree; the 200 norecord listings
    // and the 86 disagreeing ones stay TO.
    EXPECT_EQ(good, 400u);
    EXPECT_EQ(to, 200u + 86u);
    EXPECT_EQ(big->size(), 600u + 86u);
}

} // namespace
