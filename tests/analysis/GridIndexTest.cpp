// The grids' index against what it stands for, a walk over every grid: random
// grids and partitions crowded around the fit test's edges (the smallest data
// area of each FAT width, the farthest cluster 2, a partition ending exactly
// where a grid does, the cluster counts where FAT12 and FAT16 end), adopted in
// turn; and a flood of partition entries, whose work is counted.

#include "analysis/GridIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace {

constexpr std::size_t NONE = GridIndex::NONE;

FsCandidate grid(u32 spc, u32 cluster2, u32 highest, u32 pairs) {
    FsCandidate g;
    g.startLBA = cluster2;
    g.hasSubDirs = true;
    g.sectorsPerCluster = spc;
    g.cluster2LBA = cluster2;
    g.lastCluster = highest;
    g.maxThisCluster = highest;
    g.subDirCount = pairs;
    return g;
}

FsCandidate partition(u8 type, u32 start, u32 sectors) {
    FsCandidate p;
    p.startLBA = start;
    p.hasPartitionEntry = true;
    p.partitionType = type;
    p.partitionSectors = sectors;
    return p;
}

// Grids round a partition start and partitions that reach to where some
// grid's clusters end, give or take a sector: of the unspent grids that fit,
// each takes the one of most pairs, the first of equal ones.
TEST(GridIndexTest, AnswersAsAWalkOverEveryGrid) {
    std::mt19937 rng(20240611);
    auto below = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    auto pick = [&](std::initializer_list<u64> values) {
        return values.begin()[below(values.size())];
    };
    auto near = [&](u64 at) { return at + below(5) - 2; };
    constexpr u32 BASE = 5000;
    std::size_t adopted = 0;
    for (int round = 0; round < 2000; ++round) {
        FsCandidateList grids;
        std::set<std::pair<u32, u32>> taken;
        for (std::size_t k = below(40); k-- > 0;) {
            const u32 spc = static_cast<u32>(pick({1, 2, 8, 64, 128}));
            const u32 c2 =
                static_cast<u32>(BASE + near(pick({3, 33, 1056, 2000, 0x400020, 9000, 20, 70000})));
            const u64 highest = pick({0, 2, 300, 4085, 4086, 65525, 65526, 70000, 900000});
            if (taken.insert({spc, c2}).second)
                grids.push_back(
                    grid(spc, c2, static_cast<u32>(highest), static_cast<u32>(pick({2, 2, 3, 7}))));
        }
        if (grids.empty())
            continue;
        std::stable_sort(grids.begin(), grids.end());
        GridIndex index(grids);
        std::vector<bool> spent(grids.size(), false);
        for (std::size_t k = below(30) + 1; k-- > 0;) {
            const FsCandidate& g = grids[below(grids.size())];
            const u32 start = static_cast<u32>(BASE - pick({0, 0, 1, 3, 40}));
            const u64 end = g.cluster2LBA + u64{g.sectorsPerCluster} *
                                                (g.maxThisCluster == 0 ? 0 : g.maxThisCluster - 1);
            const u64 sectors =
                pick({near(end - start), near(end - start), 0x500000, 200000000, 5000});
            const FsCandidate p = partition(static_cast<u8>(pick({0x01, 0x06, 0x0C, 0x0C})), start,
                                            static_cast<u32>(std::min<u64>(sectors, 0xFFFFFFFF)));
            const FatVolumeFitsPartition fits(p);
            std::size_t expected = NONE;
            for (std::size_t i = 0; i < grids.size(); ++i) {
                if (!spent[i] && fits(grids[i]) &&
                    (expected == NONE || grids[i].subDirCount > grids[expected].subDirCount))
                    expected = i;
            }
            ASSERT_EQ(index.bestInPartition(p, fits), expected) << "round " << round;
            if (expected != NONE) {
                spent[expected] = true;
                index.spend(expected);
                ++adopted;
            }
        }
    }
    // The draw must reach the fits as well as the misses.
    EXPECT_GT(adopted, 2000u);
}

// Grids that only some boot sector names: spent ones and those it does not
// take are passed over, and the most pairs win.
TEST(GridIndexTest, AtOneCluster2) {
    const FsCandidateList grids = {grid(1, 100, 10, 2), grid(2, 100, 10, 3), grid(4, 100, 10, 3),
                                   grid(8, 100, 10, 9), grid(1, 200, 10, 5)};
    GridIndex index(grids);
    auto notEight = [](const FsCandidate& g) { return g.sectorsPerCluster != 8; };
    EXPECT_EQ(index.bestAt(100, notEight), 1u);
    index.spend(1);
    EXPECT_EQ(index.bestAt(100, notEight), 2u);
    index.spend(0);
    index.spend(2);
    EXPECT_EQ(index.bestAt(100, notEight), NONE);
    EXPECT_EQ(index.bestAt(150, notEight), NONE);
}

// What a disk of copied partition tables and folder sectors gives: FAT32 grids
// one sector apart, and many more partitions that start where the first half of
// the grids lie too close behind them for a FAT32 volume's FAT. Each takes the
// first grid left that fits, having tested a few.
TEST(GridIndexTest, AFloodOfPartitionEntriesTestsAFewGridsEach) {
    constexpr u32 GRIDS = 1000;
    constexpr u32 PARTITIONS = 4000;
    FsCandidateList grids;
    for (u32 k = 0; k < GRIDS; ++k)
        grids.push_back(grid(1, 10000 + k, 70001, 2));
    // A FAT for 300,000 sectors needs 2,358 sectors before cluster 2.
    const FsCandidate p = partition(0x0C, 10000 + GRIDS / 2 - 2358, 300000);
    const FatVolumeFitsPartition fits(p);
    const u32 first = static_cast<u32>(
        std::find_if(grids.begin(), grids.end(), [&](const FsCandidate& g) { return fits(g); }) -
        grids.begin());
    ASSERT_EQ(first, GRIDS / 2);
    GridIndex index(grids);
    std::size_t tests = 0;
    for (u32 k = 0; k < PARTITIONS; ++k) {
        const std::size_t g = index.bestInPartition(p, [&](const FsCandidate& c) {
            ++tests;
            return fits(c);
        });
        ASSERT_EQ(g, first + k < GRIDS ? first + k : NONE) << k;
        if (g != NONE)
            index.spend(g);
    }
    // A test of every grid behind the start for every partition: a million here.
    EXPECT_LT(tests, 20u * PARTITIONS);
}

} // namespace
