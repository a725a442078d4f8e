// Blocks of sectors in, single sectors out, each with the sectors that follow
// it: the look-ahead that waits for the next block, blocks that do not continue
// the waiting sectors, and the end of a scan.

#include "analysis/SectorsCollector.h"

#include "core/Array.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

constexpr u32 SECTOR = 512;

struct Seen {
    u64 lba;
    u32 available;
    // What the first and the last available sector say they are.
    u64 firstLabel;
    u64 lastLabel;
};

// Records each sector as it is processed; sectors are labelled with their own
// LBA, so a sector handed over from the wrong place shows.
class RecordingCollector : public SectorsCollector {
public:
    RecordingCollector(u32 window, u32 lookAhead) : SectorsCollector(window, lookAhead, SECTOR) {}

    // Places `count` labelled sectors at bufferEnd() and adds them.
    void deliver(u64 lba, u32 count) {
        for (u32 i = 0; i < count; ++i)
            setLE64(bufferEnd() + static_cast<u64>(i) * SECTOR, 0, lba + i);
        addSectors(lba, count);
    }

    std::vector<Seen> seen;

protected:
    void processSector(const u8* sector, u64 lba, u32 available) override {
        seen.push_back({lba, available, getLE64(sector, 0),
                        getLE64(sector + static_cast<u64>(available - 1) * SECTOR, 0)});
    }
};

TEST(SectorsCollectorTest, TheLastSectorsOfABlockWaitForTheNext) {
    RecordingCollector c(256, 3);
    c.deliver(0, 256);
    ASSERT_EQ(c.seen.size(), 253u);
    for (u32 i = 0; i < 253; ++i) {
        EXPECT_EQ(c.seen[i].lba, i);
        EXPECT_EQ(c.seen[i].available, 256 - i);
        EXPECT_EQ(c.seen[i].firstLabel, i);
        EXPECT_EQ(c.seen[i].lastLabel, 255u);
    }

    c.seen.clear();
    c.deliver(256, 256);
    ASSERT_EQ(c.seen.size(), 256u);
    // Sector 253 now sees its two block neighbours and the whole new block.
    EXPECT_EQ(c.seen[0].lba, 253u);
    EXPECT_EQ(c.seen[0].available, 259u);
    EXPECT_EQ(c.seen[0].firstLabel, 253u);
    EXPECT_EQ(c.seen[0].lastLabel, 511u);
    EXPECT_EQ(c.seen.back().lba, 508u);
    EXPECT_EQ(c.seen.back().available, 4u);

    // The last three wait for the end.
    c.seen.clear();
    c.flush();
    ASSERT_EQ(c.seen.size(), 3u);
    for (u32 i = 0; i < 3; ++i) {
        EXPECT_EQ(c.seen[i].lba, 509u + i);
        EXPECT_EQ(c.seen[i].available, 3 - i);
        EXPECT_EQ(c.seen[i].firstLabel, 509u + i);
        EXPECT_EQ(c.seen[i].lastLabel, 511u);
    }
}

TEST(SectorsCollectorTest, ABlockElsewhereFirstProcessesTheWaitingSectorsAlone) {
    RecordingCollector c(256, 3);
    c.deliver(256, 256);
    c.seen.clear();
    c.deliver(1000, 10);
    ASSERT_EQ(c.seen.size(), 3u + 7u);
    EXPECT_EQ(c.seen[0].lba, 509u);
    EXPECT_EQ(c.seen[0].available, 3u);
    EXPECT_EQ(c.seen[1].available, 2u);
    EXPECT_EQ(c.seen[2].lba, 511u);
    EXPECT_EQ(c.seen[2].available, 1u);
    EXPECT_EQ(c.seen[2].lastLabel, 511u);
    EXPECT_EQ(c.seen[3].lba, 1000u);
    EXPECT_EQ(c.seen[3].available, 10u);
    EXPECT_EQ(c.seen[3].firstLabel, 1000u);
    EXPECT_EQ(c.seen[3].lastLabel, 1009u);

    // Single sectors, as the reader hands them over around a bad one, continue
    // one another.
    c.seen.clear();
    for (u64 lba = 1010; lba < 1014; ++lba)
        c.deliver(lba, 1);
    ASSERT_EQ(c.seen.size(), 4u);
    EXPECT_EQ(c.seen[0].lba, 1007u);
    EXPECT_EQ(c.seen[0].available, 4u);
    EXPECT_EQ(c.seen[3].lba, 1010u);
    EXPECT_EQ(c.seen[3].lastLabel, 1013u);
}

TEST(SectorsCollectorTest, FlushedSectorsAreNotProcessedAgain) {
    RecordingCollector c(16, 3);
    c.deliver(0, 16);
    c.flush();
    c.flush();
    ASSERT_EQ(c.seen.size(), 16u);
    // A block that continues them sees only itself.
    c.deliver(16, 8);
    ASSERT_EQ(c.seen.size(), 21u);
    EXPECT_EQ(c.seen[16].lba, 16u);
    EXPECT_EQ(c.seen[16].available, 8u);
}

TEST(SectorsCollectorTest, WithoutLookAheadEverySectorGoesAtOnce) {
    RecordingCollector c(4, 0);
    c.deliver(7, 4);
    ASSERT_EQ(c.seen.size(), 4u);
    EXPECT_EQ(c.seen[3].lba, 10u);
    EXPECT_EQ(c.seen[3].available, 1u);
}

TEST(SectorsCollectorTest, LbasPastTheThirtyTwoBitRangeStayWhole) {
    RecordingCollector c(8, 3);
    const u64 first = 0xFFFFFFFCull;
    c.deliver(first, 8);
    c.flush();
    ASSERT_EQ(c.seen.size(), 8u);
    for (u32 i = 0; i < 8; ++i) {
        EXPECT_EQ(c.seen[i].lba, first + i);
        EXPECT_EQ(c.seen[i].firstLabel, first + i);
    }
}

TEST(SectorsCollectorTest, ABlockLargerThanTheWindowOrNoWindowIsRefused) {
    RecordingCollector c(8, 3);
    EXPECT_THROW(c.deliver(0, 9), std::runtime_error);
    EXPECT_THROW(RecordingCollector(0, 3), std::runtime_error);
}

} // namespace
