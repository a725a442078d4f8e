#include "devices/UnreadableSectors.h"

#include <gtest/gtest.h>

#include <iterator>

namespace {

TEST(UnreadableSectorsTest, OverlapsAreComputedIn64Bits) {
    const SectorRuns runs{{10, 5}, {0xFFFFFFF0u, 0x20}};
    const struct {
        u32 start, length;
        bool hit;
    } cases[] = {{14, 1, true},  {15, 3, false},         {5, 5, false},  {5, 6, true},
                 {12, 0, false}, {0xFFFFFFFFu, 1, true}, {0, 10, false}, {0xFFFFFF00u, 0xFF, true}};
    for (const auto& c : cases)
        EXPECT_EQ(rangeListOverlaps(runs, c.start, c.length), c.hit) << c.start << '+' << c.length;
}

TEST(UnreadableSectorsTest, CommitJoinsTouchingRunsAndCutsAt32Bits) {
    UnreadableSectors u;
    for (u32 lba : {5u, 6u, 7u, 9u, 0xFFFFFFFFu})
        u.add(lba);
    u.commit();
    EXPECT_EQ(u.runs(), (SectorRuns{{5, 3}, {9, 1}, {0xFFFFFFFFu, 1}}));
    u.add(8);
    u.commit();
    EXPECT_EQ(u.runs(), (SectorRuns{{5, 5}, {0xFFFFFFFFu, 1}}));
    // Scan addresses are 32-bit: nothing at 2^32 or beyond was found unreadable,
    // though the last run reaches there and a truncated address would hit it.
    const struct {
        u64 first, count;
        bool hit;
    } ranges[] = {{0, 5, false},          {0, 6, true},
                  {9, 0, false},          {0xFFFFFFFFu, 1, true},
                  {1ull << 32, 1, false}, {(1ull << 32) + 5, 1, false},
                  {10, 1ull << 33, true}, {0xFFFFFFF0u, 15, false}};
    for (const auto& r : ranges)
        EXPECT_EQ(u.contains(r.first, r.count), r.hit) << r.first << '+' << r.count;
    // What reaches past 2^32 is cut there, never wrapped round to low sectors.
    SectorRunCollector c;
    c.add(SectorRun{0xFFFFFFF0u, 0x20});
    c.add(SectorRun{0xFFFFFFFFu, 0xFFFFFFFFu});
    c.flush();
    EXPECT_EQ(c.runs(), (SectorRuns{{0xFFFFFFF0u, 0x10}}));
}

TEST(UnreadableSectorsTest, SavedBytesAreBigEndianStartsAndCounts) {
    UnreadableSectors u;
    u.runs() = {{1, 2}, {0x01020304, 5}};
    std::string bytes;
    u.toBytes(bytes);
    EXPECT_EQ(bytes, std::string("\0\0\0\1\0\0\0\2\1\2\3\4\0\0\0\5", 16));
}

// Runs from a damaged file, joined in place: a union longer than one run can
// count is split in two, one past 2^32 is cut there, an empty run vanishes.
TEST(UnreadableSectorsTest, RunsInAnyOrderAreSortedAndJoinedInPlace) {
    const struct {
        SectorRuns in, out;
    } cases[] = {
        {{{1000, 1}, {1000, 1}, {1000, 1}}, {{1000, 1}}},
        {{{7, 0}, {2, 1}, {3, 0}}, {{2, 1}}},
        {{{10, 0xFFFFFFFFu}, {0, 20}}, {{0, 0xFFFFFFFFu}, {0xFFFFFFFFu, 1}}},
        {{{5, 1}, {0, 0xFFFFFFF0u}, {3, 2}, {0xFFFFFFF0u, 1}}, {{0, 0xFFFFFFF1u}}},
        {{{9, 1}, {0xFFFFFFFEu, 0xFFFFFFFFu}, {0, 9}}, {{0, 10}, {0xFFFFFFFEu, 2}}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SectorRuns runs = cases[i].in;
        sortAndJoinSectorRuns(runs);
        EXPECT_EQ(runs, cases[i].out) << "case " << i;
    }
}

} // namespace
