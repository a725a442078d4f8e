#include "devices/UnreadableSectors.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(SectorRunsTest, OverlapTest) {
    SectorRuns runs{{10, 5}};
    EXPECT_TRUE(rangeListOverlaps(runs, 14, 1));
    EXPECT_FALSE(rangeListOverlaps(runs, 15, 3));
    EXPECT_FALSE(rangeListOverlaps(runs, 5, 5));
    EXPECT_TRUE(rangeListOverlaps(runs, 5, 6));
    EXPECT_FALSE(rangeListOverlaps(runs, 12, 0));
    EXPECT_FALSE(rangeListOverlaps(SectorRuns(), 0, 100));
}

TEST(SectorRunsTest, RunEndsAreComputedIn64Bits) {
    SectorRuns runs{{0xFFFFFFF0u, 0x20}};
    EXPECT_TRUE(rangeListOverlaps(runs, 0xFFFFFFFFu, 1));
    EXPECT_FALSE(rangeListOverlaps(runs, 0, 16));
    EXPECT_TRUE(rangeListOverlaps(runs, 0xFFFFFF00u, 0xFF));
}

TEST(UnreadableSectorsTest, CommitJoinsTouchingRuns) {
    UnreadableSectors u;
    u.add(100);
    u.commit();
    ASSERT_EQ(u.runs().size(), 1u);
    EXPECT_TRUE(u.contains(100));
    EXPECT_FALSE(u.contains(101));

    UnreadableSectors v;
    for (u32 lba : {5u, 6u, 7u, 9u})
        v.add(lba);
    v.commit();
    EXPECT_EQ(v.runs(), (SectorRuns{{5, 3}, {9, 1}}));
    v.add(8);
    v.commit();
    EXPECT_EQ(v.runs(), (SectorRuns{{5, 5}}));
}

TEST(UnreadableSectorsTest, RangesAndAddressesBeyond32Bits) {
    UnreadableSectors u;
    u.add(7);
    u.add(0xFFFFFFFFu);
    u.commit();
    EXPECT_TRUE(u.contains(0xFFFFFFFFull));
    EXPECT_FALSE(u.contains(0x100000000ull + 7));
    EXPECT_FALSE(u.contains(0x100000000ull, 100));
    EXPECT_TRUE(u.contains(0, 8));
    EXPECT_FALSE(u.contains(0, 7));
    EXPECT_TRUE(u.contains(8, 0x200000000ull));
    EXPECT_FALSE(u.contains(7, 0));
}

TEST(UnreadableSectorsTest, BytesRoundTrip) {
    UnreadableSectors u;
    u.runs() = {{1, 2}, {0x01020304, 5}};
    std::string bytes;
    u.toBytes(bytes);
    const unsigned char expect[] = {0, 0, 0, 1, 0, 0, 0, 2, 1, 2, 3, 4, 0, 0, 0, 5};
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(expect), 16));
    UnreadableSectors back;
    back.fromBytes(bytes + "xyz");
    EXPECT_EQ(back.runs(), u.runs());
}

TEST(UnreadableSectorsTest, DamagedBytesAreBroughtInOrder) {
    UnreadableSectors a;
    a.runs() = {{50, 10}, {0, 5}, {3, 4}};
    std::string bytes;
    a.toBytes(bytes);
    UnreadableSectors b;
    b.fromBytes(bytes);
    EXPECT_EQ(b.runs(), (SectorRuns{{0, 7}, {50, 10}}));
    EXPECT_TRUE(b.contains(55));
}

TEST(UnreadablePatternTest, FillAndRecognise) {
    std::vector<u8> buf(512, 0);
    fillUnreadablePattern(buf.data(), buf.size());
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 24), "(unreadable)(unreadable)");
    EXPECT_EQ(std::string(buf.end() - 8, buf.end()), "(unreada");
    EXPECT_TRUE(isUnreadablePattern(buf.data(), buf.size()));
    buf.back() ^= 1;
    EXPECT_FALSE(isUnreadablePattern(buf.data(), buf.size()));
    u8 five[5];
    fillUnreadablePattern(five, 5);
    EXPECT_EQ(std::string(five, five + 5), "(unre");
    EXPECT_TRUE(isUnreadablePattern(five, 0));
}

} // namespace

namespace {

// Runs are kept at 32-bit addresses: what reaches past 2^32 is cut there, never
// wrapped round to low sectors.
TEST(SectorRunsTest, RunsPast32BitsAreCutNotWrapped) {
    SectorRunCollector c;
    c.add(SectorRun{0xFFFFFFF0u, 0x20});
    c.add(SectorRun{0xFFFFFFFFu, 0xFFFFFFFFu});
    c.flush();
    ASSERT_EQ(c.runs().size(), 1u);
    EXPECT_EQ(c.runs()[0], (SectorRun{0xFFFFFFF0u, 0x10}));
}

} // namespace
