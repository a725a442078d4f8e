#include "tree/MapIteratorImpl.h"

#include "tests/support/TestEngine.h"
#include "tests/support/TestUtil.h"
#include "tree/FatMapIteratorImpl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

using testutil::TestEngine;
using tree::MapIterator;
using tree::MapIteratorImpl;
using tree::MapPosition;
using tree::Node;

using testing::StrEq;
using testing::ThrowsMessage;

namespace {

using Names = std::vector<std::string>;

const char* const TREE = R"(
    root 5
    dir 10 in=5 name=docs
    dir 11 in=10 name=empty
    file 20 in=10 name=a.txt size=10
    file 21 in=10 name=b.txt size=20
    file 22 in=10 name=c.txt size=30
    file 23 in=5 name=top.txt size=1
)";

std::unique_ptr<MapIterator> at(tree::Map& map, MapPosition position, bool visibleOnly = false,
                                bool directoriesOnly = false) {
    return MapIteratorImpl::create(&map, position, visibleOnly, directoriesOnly);
}

// The names met by next() from the cursor's entry on.
Names level(MapIterator& it) {
    Names names{it.getName()};
    while (it.next())
        names.push_back(it.getName());
    return names;
}

TEST(MapIteratorTest, WalksDownAndUpAndStopsAtTheEnds) {
    auto map = TestEngine::build(TREE);
    auto it = at(*map, tree::START_POSITION);
    EXPECT_EQ(it->getName(), "ROOT");
    EXPECT_FALSE(it->up());
    ASSERT_TRUE(it->down());
    EXPECT_EQ(level(*it), (Names{"docs", "top.txt"}));
    it->setPosition(MapPosition{5, 0});
    ASSERT_TRUE(it->down());
    EXPECT_EQ(it->getPosition(), (MapPosition{10, 0}));
    EXPECT_FALSE(it->previous());
    EXPECT_FALSE(it->down()); // an empty folder cannot be entered
    EXPECT_EQ(level(*it), (Names{"empty", "a.txt", "b.txt", "c.txt"}));
    EXPECT_FALSE(it->hasNext());
    EXPECT_EQ(it->getPosition(), (MapPosition{10, 3}));
    ASSERT_TRUE(it->previous());
    EXPECT_EQ(it->getName(), "b.txt");
    ASSERT_TRUE(it->up());
    EXPECT_EQ(it->getName(), "docs");
    ASSERT_TRUE(it->up());
    EXPECT_EQ(it->getName(), "ROOT");
}

TEST(MapIteratorTest, HiddenEntriesAreSkippedWithVisibleOnly) {
    auto map = TestEngine::build(TREE);
    for (u32 i : {1u, 3u})
        at(*map, MapPosition{10, i})->setVisible(false); // a.txt, c.txt
    auto it = at(*map, MapPosition{10, 0}, true);
    EXPECT_EQ(level(*it), (Names{"empty", "b.txt"}));
    // A folder whose entries are all hidden cannot be entered.
    for (u32 i : {0u, 2u})
        at(*map, MapPosition{10, i})->setVisible(false);
    EXPECT_FALSE(at(*map, MapPosition{5, 0}, true)->down());
    // Nor can a cursor go up to a hidden folder entry.
    auto inside = at(*map, MapPosition{10, 1}, true);
    at(*map, MapPosition{5, 0})->setVisible(false);
    EXPECT_FALSE(inside->canGoUp());
    EXPECT_TRUE(at(*map, MapPosition{10, 1})->up());
}

TEST(MapIteratorTest, AFolderKnownOnlyFromItsListingIsNotEntered) {
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        dir 12 in=10 name=moved parent=30
        dir 30 in=5 name=elsewhere
        file 40 in=12 name=f.txt
    )");
    auto it = at(*map, MapPosition{10, 0});
    ASSERT_EQ(it->getName(), "moved");
    EXPECT_FALSE(it->down());
    // Where its own record puts it, it can be entered and left again.
    it->setPosition(MapPosition{30, 0});
    ASSERT_TRUE(it->down());
    EXPECT_EQ(it->getName(), "f.txt");
    ASSERT_TRUE(it->up());
    EXPECT_EQ(it->getPosition(), (MapPosition{30, 0}));
}

// The entries of folder 10 as "name=code text".
Names statuses(tree::Map& map) {
    Names seen;
    auto it = at(map, MapPosition{10, 0});
    do {
        std::string text;
        const int code = it->getStatus(text, true);
        seen.push_back(it->getName() + "=" + std::to_string(code) + " " + text);
    } while (it->next());
    return seen;
}

// Rows "WORD=NAMES": a filter word (hex) and the first characters of the names
// in folder 10 that it lets through.
void expectPassing(tree::Map& map, const std::string& rows) {
    std::istringstream in(rows);
    for (std::string row; in >> row;) {
        const std::size_t eq = row.find('=');
        const u32 word = static_cast<u32>(std::stoul(row.substr(0, eq), nullptr, 16));
        std::string names;
        auto it = at(map, MapPosition{10, 0});
        do {
            if (it->matchesFilter(word))
                names += it->getName()[0];
        } while (it->next());
        EXPECT_EQ(names, row.substr(eq + 1)) << "word " << row;
    }
}

TEST(MapIteratorTest, StatusAndFilterOnAnNtfsMapFollowTheLink) {
    auto map = TestEngine::build(R"(
        dir 10 in=5 name=docs
        dir 11 in=10 name=0-folder unreadable deleted system
        file 20 in=10 name=1-good unreadable
        file 21 name=2-found parent=10 deleted
        file 22 in=10 name=3-invalid norecord system
    )");
    EXPECT_EQ(statuses(*map), (Names{"0-folder=0 Valid", "1-good=0 Valid", "2-found=1 Found",
                                     "3-invalid=2 Invalid"}));
    // Folders are never hidden by the property bits.
    expectPassing(*map, "0=0123 2=023 4=01 8=013 10=02 20=012 40=03 80=012 100=03 200=013 "
                        "400=02 800=023 1000=01 1004=01 1002=0");
}

TEST(MapIteratorTest, StatusAndFilterOnAFatMapFollowTheChain) {
    auto map = TestEngine::build(R"(
        map fat
        root 2
        dir 10 in=2 name=docs
        file 20 in=10 name=1-valid
        file 21 in=10 name=2-possible deleted
        file 22 in=10 name=3-poor deleted badfat
        file 23 in=10 name=4-invalid badfat
        file 24 in=10 name=5-unreadable unreadable
        file 25 in=10 name=6-system system
    )");
    EXPECT_NE(dynamic_cast<tree::FatMapIteratorImpl*>(at(*map, MapPosition{10, 0})->clone().get()),
              nullptr);
    EXPECT_EQ(statuses(*map), (Names{"1-valid=0 Valid FAT", "2-possible=1 Possible FAT",
                                     "3-poor=2 Poor FAT", "4-invalid=2 Invalid FAT",
                                     "5-unreadable=0 Valid FAT", "6-system=0 Valid FAT"}));
    // Live files with a usable chain and with a broken one; the link pair of the
    // other maps means nothing here.
    expectPassing(*map, "0=123456 80=234 100=156 200=12356 400=4 800=123456 1000=123456 "
                        "2=12346 40=6 8=1456");
}

TEST(MapIteratorTest, PositionsThatCannotBeReached) {
    auto map = TestEngine::build(TREE);
    EXPECT_THAT(
        [&] {
            at(*map, MapPosition{tree::FOUND_FOLDER, 0});
        },
        ThrowsMessage<std::runtime_error>(StrEq("MapIteratorImpl(235)")));
    EXPECT_THAT(
        [&] {
            at(*map, MapPosition{10, 4});
        },
        ThrowsMessage<std::runtime_error>(StrEq("Node(209)")));
    // A position on a hidden entry is taken, and logged.
    at(*map, MapPosition{10, 1})->setVisible(false);
    testutil::LogCapture log;
    EXPECT_EQ(at(*map, MapPosition{10, 1}, true)->getName(), "a.txt");
    EXPECT_EQ(log.text(), "MapIteratorImpl(246): name: a.txt, address: 20, visibleOnly_: 1, "
                          "directoriesOnly_: 0\n");
}

} // namespace
