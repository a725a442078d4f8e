#include "tree/MapIteratorImpl.h"

#include "core/Log.h"
#include "tests/support/TestEngine.h"
#include "tests/support/TestUtil.h"
#include "tree/FatMapIteratorImpl.h"
#include "tree/Recoverer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using testutil::TestEngine;
using tree::MapIterator;
using tree::MapIteratorImpl;
using tree::MapPosition;
using tree::Node;

using testing::StrEq;
using testing::ThrowsMessage;

namespace {

const char* const TREE = R"(
    root 5
    dir 10 in=5 name=docs
    dir 11 in=10 name=empty
    file 20 in=10 name=a.txt size=10
    file 21 in=10 name=b.txt size=20
    file 22 in=10 name=c.txt size=30
    file 23 in=5 name=top.txt size=1
)";

// Collects what a map streams into it.
class CollectingRecoverer : public tree::Recoverer {
public:
    void beginFile(const tree::FileEntry& entry, const std::vector<std::string>& path) override {
        entries.push_back(entry);
        paths.push_back(path);
        data.clear();
    }
    void write(const void* bytes, u32 size) override {
        data.append(static_cast<const char*>(bytes), size);
        ++writes;
    }
    void endFile() override { ++ended; }

    std::vector<tree::FileEntry> entries;
    std::vector<std::vector<std::string>> paths;
    std::string data;
    int writes = 0;
    int ended = 0;
};

std::unique_ptr<MapIterator> start(tree::Map& map, bool visibleOnly = false,
                                   bool directoriesOnly = false) {
    return MapIteratorImpl::create(&map, tree::START_POSITION, visibleOnly, directoriesOnly);
}

// The names met by next() from the cursor's entry on.
std::vector<std::string> level(MapIterator& it) {
    std::vector<std::string> names{it.getName()};
    while (it.next())
        names.push_back(it.getName());
    return names;
}

TEST(MapIteratorTest, StartsOnRootAndWalksDownAndUp) {
    auto map = TestEngine::build(TREE);
    auto it = start(*map);
    EXPECT_EQ(it->getName(), "ROOT");
    EXPECT_TRUE(it->isDirectory());
    EXPECT_FALSE(it->canGoUp());
    EXPECT_FALSE(it->up());
    EXPECT_TRUE(it->canGoDown());
    EXPECT_EQ(it->getPosition(), tree::START_POSITION);

    ASSERT_TRUE(it->down());
    EXPECT_EQ(it->getPosition().folder, 5u);
    EXPECT_EQ(level(*it), (std::vector<std::string>{"docs", "top.txt"}));

    it->setPosition(MapPosition{5, 0});
    ASSERT_TRUE(it->down());
    EXPECT_EQ(it->getPosition(), (MapPosition{10, 0}));
    EXPECT_EQ(it->getName(), "empty");
    ASSERT_TRUE(it->next());
    ASSERT_TRUE(it->canGoUp());
    ASSERT_TRUE(it->up());
    EXPECT_EQ(it->getName(), "docs");
    ASSERT_TRUE(it->up());
    EXPECT_EQ(it->getName(), "ROOT");
}

TEST(MapIteratorTest, MovesStopAtTheEndsOfALevel) {
    auto map = TestEngine::build(TREE);
    auto it = MapIteratorImpl::create(map.get(), MapPosition{10, 3}, false, false);
    EXPECT_EQ(it->getName(), "c.txt");
    EXPECT_FALSE(it->hasNext());
    EXPECT_FALSE(it->next());
    EXPECT_EQ(it->getPosition(), (MapPosition{10, 3}));
    EXPECT_TRUE(it->hasPrevious());
    ASSERT_TRUE(it->previous());
    EXPECT_EQ(it->getName(), "b.txt");

    it->setPosition(MapPosition{10, 0});
    EXPECT_FALSE(it->hasPrevious());
    EXPECT_FALSE(it->previous());
    EXPECT_EQ(it->getPosition(), (MapPosition{10, 0}));
    // An empty folder cannot be entered.
    EXPECT_FALSE(it->canGoDown());
    EXPECT_FALSE(it->down());
}

TEST(MapIteratorTest, HiddenEntriesAreSkippedWithVisibleOnly) {
    auto map = TestEngine::build(TREE);
    auto all = MapIteratorImpl::create(map.get(), MapPosition{10, 1}, false, false);
    all->setVisible(false); // a.txt
    all->next();
    all->next();
    all->setVisible(false); // c.txt

    auto it = MapIteratorImpl::create(map.get(), MapPosition{10, 0}, true, false);
    EXPECT_EQ(level(*it), (std::vector<std::string>{"empty", "b.txt"}));
    ASSERT_TRUE(it->previous());
    EXPECT_EQ(it->getName(), "empty");

    // A folder whose entries are all hidden cannot be entered.
    all->setPosition(MapPosition{10, 0});
    all->setVisible(false);
    all->next();
    all->next();
    all->setVisible(false); // b.txt; now nothing in docs is visible
    auto root = MapIteratorImpl::create(map.get(), MapPosition{5, 0}, true, false);
    EXPECT_EQ(root->getName(), "docs");
    EXPECT_FALSE(root->canGoDown());
    EXPECT_FALSE(root->down());
    EXPECT_EQ(root->getPosition(), (MapPosition{5, 0}));
}

TEST(MapIteratorTest, UpSkipsAHiddenParentEntryWithVisibleOnly) {
    auto map = TestEngine::build(TREE);
    auto all = MapIteratorImpl::create(map.get(), MapPosition{5, 0}, false, false);
    all->setVisible(false); // docs
    auto it = MapIteratorImpl::create(map.get(), MapPosition{10, 1}, true, false);
    EXPECT_FALSE(it->canGoUp());
    auto any = MapIteratorImpl::create(map.get(), MapPosition{10, 1}, false, false);
    EXPECT_TRUE(any->up());
}

TEST(MapIteratorTest, AFolderKnownOnlyFromItsListingIsNotEntered) {
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        dir 12 in=10 name=moved parent=30
        dir 30 in=5 name=elsewhere
        file 40 in=12 name=f.txt
    )");
    auto it = MapIteratorImpl::create(map.get(), MapPosition{10, 0}, false, false);
    ASSERT_EQ(it->getName(), "moved");
    EXPECT_FALSE(it->canGoDown());
    EXPECT_FALSE(it->down());
    // Where its own record puts it, it can be entered.
    it->setPosition(MapPosition{30, 0});
    ASSERT_EQ(it->getName(), "moved");
    ASSERT_TRUE(it->down());
    EXPECT_EQ(it->getName(), "f.txt");
    ASSERT_TRUE(it->up());
    EXPECT_EQ(it->getPosition(), (MapPosition{30, 0}));
}

TEST(MapIteratorTest, DirectoriesOnlySkipsFiles) {
    auto map = TestEngine::build(R"(
        file 20 in=5 name=a.txt
        dir 10 in=5 name=d1
        file 21 in=5 name=b.txt
        dir 11 in=5 name=d2
        file 22 in=10 name=inner.txt
    )");
    auto it = start(*map, false, true);
    ASSERT_TRUE(it->down());
    EXPECT_EQ(level(*it), (std::vector<std::string>{"d1", "d2"}));
    // A folder with only files has nothing to enter for the folder tree.
    it->setPosition(MapPosition{5, 0});
    EXPECT_FALSE(it->down());
}

TEST(MapIteratorTest, StatusByLink) {
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        file 20 in=10 name=good.txt
        file 21 name=found.txt parent=10
        file 22 in=10 name=invalid.txt norecord
    )");
    auto it = MapIteratorImpl::create(map.get(), MapPosition{10, 0}, false, false);
    EXPECT_EQ(dynamic_cast<tree::FatMapIteratorImpl*>(it.get()), nullptr);
    std::vector<std::pair<int, std::string>> seen;
    do {
        std::string text;
        const int code = it->getStatus(text, true);
        seen.emplace_back(code, it->getName() + "=" + text);
    } while (it->next());
    EXPECT_EQ(seen,
              (std::vector<std::pair<int, std::string>>{
                  {0, "good.txt=Valid"}, {1, "found.txt=Found"}, {2, "invalid.txt=Invalid"}}));
    std::string untouched = "keep";
    it->getStatus(untouched, false);
    EXPECT_EQ(untouched, "keep");
}

const char* const FAT_TREE = R"(
    map fat
    root 2
    dir 10 in=2 name=docs
    file 20 in=10 name=1-valid
    file 21 in=10 name=2-possible deleted
    file 22 in=10 name=3-poor deleted badfat
    file 23 in=10 name=4-invalid badfat
    file 24 in=10 name=5-unreadable unreadable
    file 25 in=10 name=6-system system
)";

TEST(MapIteratorTest, FatStatusByChainAndDeletedMark) {
    auto map = TestEngine::build(FAT_TREE);
    auto it = start(*map);
    ASSERT_NE(dynamic_cast<tree::FatMapIteratorImpl*>(it.get()), nullptr);
    ASSERT_TRUE(it->down());
    // A folder is judged by its link.
    std::string text;
    EXPECT_EQ(it->getStatus(text, true), 0);
    EXPECT_EQ(text, "Valid");
    ASSERT_TRUE(it->down());
    std::vector<std::string> seen;
    for (int i = 0; i < 4; ++i, it->next()) {
        const int code = it->getStatus(text, true);
        seen.push_back(std::to_string(code) + " " + text);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"0 Valid FAT", "1 Possible FAT", "2 Poor FAT",
                                              "2 Invalid FAT"}));
    EXPECT_NE(dynamic_cast<tree::FatMapIteratorImpl*>(it->clone().get()), nullptr);
}

// The names of the files in folder 10 that the mask lets through.
std::vector<std::string> passing(tree::Map& map, u32 mask) {
    auto it = MapIteratorImpl::create(&map, MapPosition{10, 0}, false, false);
    std::vector<std::string> names;
    do {
        if (it->matchesFilter(mask))
            names.push_back(it->getName());
    } while (it->next());
    return names;
}

TEST(MapIteratorTest, FilterPairsOnAnNtfsMap) {
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        dir 11 in=10 name=0-folder unreadable deleted system
        file 20 in=10 name=1-good unreadable
        file 21 name=2-found parent=10 deleted
        file 22 in=10 name=3-invalid norecord system
    )");
    using V = std::vector<std::string>;
    EXPECT_EQ(passing(*map, 0), (V{"0-folder", "1-good", "2-found", "3-invalid"}));
    // Folders are never hidden by the property bits.
    EXPECT_EQ(passing(*map, 0x02), (V{"0-folder", "2-found", "3-invalid"}));
    EXPECT_EQ(passing(*map, 0x04), (V{"0-folder", "1-good"}));
    EXPECT_EQ(passing(*map, 0x08), (V{"0-folder", "1-good", "3-invalid"}));
    EXPECT_EQ(passing(*map, 0x10), (V{"0-folder", "2-found"}));
    EXPECT_EQ(passing(*map, 0x20), (V{"0-folder", "1-good", "2-found"}));
    EXPECT_EQ(passing(*map, 0x40), (V{"0-folder", "3-invalid"}));
    EXPECT_EQ(passing(*map, 0x80), (V{"0-folder", "1-good", "2-found"}));
    EXPECT_EQ(passing(*map, 0x100), (V{"0-folder", "3-invalid"}));
    EXPECT_EQ(passing(*map, 0x200), (V{"0-folder", "1-good", "3-invalid"}));
    EXPECT_EQ(passing(*map, 0x400), (V{"0-folder", "2-found"}));
    EXPECT_EQ(passing(*map, 0x800), (V{"0-folder", "2-found", "3-invalid"}));
    EXPECT_EQ(passing(*map, 0x1000), (V{"0-folder", "1-good"}));
    EXPECT_EQ(passing(*map, 0x1000 | 0x04), (V{"0-folder", "1-good"}));
    EXPECT_EQ(passing(*map, 0x1000 | 0x02), (V{"0-folder"}));
}

TEST(MapIteratorTest, FilterPairsOnAFatMap) {
    auto map = TestEngine::build(FAT_TREE);
    using V = std::vector<std::string>;
    const V all{"1-valid", "2-possible", "3-poor", "4-invalid", "5-unreadable", "6-system"};
    EXPECT_EQ(passing(*map, 0), all);
    // Live files with a usable chain, and live files with a broken one.
    EXPECT_EQ(passing(*map, 0x80), (V{"2-possible", "3-poor", "4-invalid"}));
    EXPECT_EQ(passing(*map, 0x100), (V{"1-valid", "5-unreadable", "6-system"}));
    EXPECT_EQ(passing(*map, 0x200),
              (V{"1-valid", "2-possible", "3-poor", "5-unreadable", "6-system"}));
    EXPECT_EQ(passing(*map, 0x400), (V{"4-invalid"}));
    // The link pair of the other maps means nothing here.
    EXPECT_EQ(passing(*map, 0x800), all);
    EXPECT_EQ(passing(*map, 0x1000), all);
    EXPECT_EQ(passing(*map, 0x02), (V{"1-valid", "2-possible", "3-poor", "4-invalid", "6-system"}));
    EXPECT_EQ(passing(*map, 0x40), (V{"6-system"}));
    EXPECT_EQ(passing(*map, 0x08), (V{"1-valid", "4-invalid", "5-unreadable", "6-system"}));
}

TEST(MapIteratorTest, FlagSettersChangeTheNodeInTheMap) {
    auto map = TestEngine::build(TREE);
    auto it = MapIteratorImpl::create(map.get(), MapPosition{10, 1}, false, false);
    it->setSelected(true);
    it->setExpanded(true);
    const Node& n = map->getFolder(10)->node(1);
    EXPECT_TRUE(n.hasFlag(Node::SELECTED | Node::EXPANDED));
    EXPECT_TRUE(it->isSelected());
    EXPECT_TRUE(it->isExpanded());
    it->setSelected(false);
    EXPECT_FALSE(n.hasFlag(Node::SELECTED));
    EXPECT_FALSE(it->isDeleted());
    EXPECT_FALSE(it->hasUnreadable());
    EXPECT_EQ(it->getAddress(), 20u);
    EXPECT_EQ(it->getSize(), 10u);
    EXPECT_EQ(it->getTime(), 0xFFFFFFFFu);
    EXPECT_EQ(it->getLBA(), Node::NONE);
}

TEST(MapIteratorTest, ACloneMovesOnItsOwn) {
    auto map = TestEngine::build(TREE);
    auto it = MapIteratorImpl::create(map.get(), MapPosition{10, 1}, true, false);
    auto copy = it->clone();
    EXPECT_EQ(copy->getPosition(), it->getPosition());
    ASSERT_TRUE(copy->next());
    EXPECT_EQ(copy->getName(), "b.txt");
    EXPECT_EQ(it->getName(), "a.txt");
    EXPECT_EQ(dynamic_cast<tree::FatMapIteratorImpl*>(copy.get()), nullptr);
}

TEST(MapIteratorTest, PositionsThatCannotBeReached) {
    auto map = TestEngine::build(TREE);
    EXPECT_THAT(
        [&] {
            MapIteratorImpl::create(map.get(), MapPosition{tree::FOUND_FOLDER, 0}, false, false);
        },
        ThrowsMessage<std::runtime_error>(StrEq("MapIteratorImpl(235)")));
    EXPECT_THAT(
        [&] {
            MapIteratorImpl::create(map.get(), MapPosition{10, 4}, false, false);
        },
        ThrowsMessage<std::runtime_error>(StrEq("Node(209)")));
    // A position on a hidden entry is taken, and logged.
    auto all = MapIteratorImpl::create(map.get(), MapPosition{10, 1}, false, false);
    all->setVisible(false);
    const std::size_t before = logMemoryText().size();
    auto it = MapIteratorImpl::create(map.get(), MapPosition{10, 1}, true, false);
    EXPECT_EQ(it->getName(), "a.txt");
    EXPECT_NE(logMemoryText().find("MapIteratorImpl(246): name: a.txt, address: 20, visibleOnly_: "
                                   "1, directoriesOnly_: 0\n",
                                   before),
              std::string::npos);
}

TEST(MapIteratorTest, RecoverStreamsTheDataThroughTheMap) {
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        file 20 in=10 name=big.bin size=200000 time=1000
        file 21 in=10 name=hello.txt text=hello
        file 22 in=10 name=empty.txt
    )");
    auto it = MapIteratorImpl::create(map.get(), MapPosition{10, 0}, false, false);
    CollectingRecoverer sink;
    ASSERT_TRUE(it->recover(sink, {"docs"}));
    ASSERT_EQ(sink.entries.size(), 1u);
    EXPECT_EQ(sink.entries[0].getName(), "big.bin");
    EXPECT_EQ(sink.entries[0].getSize(), 200000u);
    EXPECT_EQ(sink.entries[0].getTime(), 1000u);
    EXPECT_EQ(sink.paths[0], std::vector<std::string>{"docs"});
    EXPECT_EQ(sink.data.size(), 200000u);
    EXPECT_EQ(sink.data, map->expectedData(20));
    EXPECT_EQ(static_cast<u8>(sink.data[1000]), TestEngine::defaultByte(20, 1000));
    EXPECT_EQ(sink.writes, 4); // 64 KiB at a time
    EXPECT_EQ(sink.ended, 1);

    // Sorted: big.bin, empty.txt, hello.txt. An empty file is begun and ended.
    ASSERT_TRUE(it->next());
    const int writes = sink.writes;
    ASSERT_TRUE(it->recover(sink, {}));
    EXPECT_EQ(sink.writes, writes);
    EXPECT_EQ(sink.ended, 2);
    ASSERT_TRUE(it->next());
    ASSERT_TRUE(it->recover(sink, {}));
    EXPECT_EQ(sink.data, "hello");

    u8 buffer[8];
    EXPECT_EQ(it->readData(buffer, 8, 1), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "ello");
    EXPECT_EQ(it->readData(buffer, 8, 5), 0);
}

TEST(MapIteratorTest, FailingBytesComeBackAsThePatternWithFalse) {
    auto map = TestEngine::build(R"(
        unreadable 100 2
        dir 10 in=5 name=docs
        file 20 in=10 name=a.bin size=70000 bad=65530+10 bad=3+2
        file 21 in=10 name=b.bin size=2000 lba=99
    )");
    auto it = MapIteratorImpl::create(map.get(), MapPosition{10, 0}, false, false);
    CollectingRecoverer sink;
    EXPECT_FALSE(it->recover(sink, {}));
    const std::string expected = map->expectedData(20);
    ASSERT_EQ(sink.data.size(), 70000u);
    EXPECT_EQ(sink.data, expected);
    EXPECT_EQ(sink.data.substr(3, 2), "(u");
    EXPECT_EQ(sink.data.substr(65530, 10), "(unreadabl");
    EXPECT_EQ(static_cast<u8>(sink.data[2]), TestEngine::defaultByte(20, 2));
    EXPECT_EQ(static_cast<u8>(sink.data[65540]), TestEngine::defaultByte(20, 65540));
    // Failure is known to the data, not to the tree: no HAS_UNREADABLE here.
    EXPECT_FALSE(it->hasUnreadable());

    // Sectors 100 and 101 of the file at LBA 99 are unreadable: bytes 512 to 1535.
    ASSERT_TRUE(it->next());
    EXPECT_TRUE(it->hasUnreadable());
    EXPECT_EQ(it->getLBA(), 99u);
    EXPECT_FALSE(it->recover(sink, {}));
    EXPECT_EQ(sink.data.substr(512, 12), "(unreadable)");
    // The pattern runs on from the start of the failing bytes, to their end.
    EXPECT_EQ(sink.data.substr(1532, 4), "(unr");
    EXPECT_EQ(static_cast<u8>(sink.data[1536]), TestEngine::defaultByte(21, 1536));
    EXPECT_EQ(sink.data, map->expectedData(21));

    u8 buffer[16];
    EXPECT_EQ(it->readData(buffer, 16, 0), 16);
    EXPECT_EQ(it->readData(buffer, 16, 510), -1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + 2, 12), "(unreadable)");
}

} // namespace
