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

// What the index must answer: of the unspent grids that fit, the one of most
// pairs, the first of equal ones.
std::size_t walkEveryGrid(const FsCandidateList& grids, const std::vector<bool>& spent,
                          const FatVolumeFitsPartition& fits) {
    std::size_t best = NONE;
    for (std::size_t i = 0; i < grids.size(); ++i) {
        if (!spent[i] && fits(grids[i]) &&
            (best == NONE || grids[i].subDirCount > grids[best].subDirCount))
            best = i;
    }
    return best;
}

// One draw of grids round a partition start and partitions that reach to
// where some grid's clusters end, give or take a sector.
struct Draw {
    FsCandidateList grids;
    FsCandidateList partitions;
};

Draw draw(std::mt19937& rng) {
    auto pick = [&](auto... values) {
        const u64 all[] = {static_cast<u64>(values)...};
        return all[std::uniform_int_distribution<std::size_t>(0, sizeof...(values) - 1)(rng)];
    };
    auto near = [&](u64 at) { return at + std::uniform_int_distribution<u64>(0, 4)(rng) - 2; };
    const u32 base = 5000;
    Draw d;
    std::set<std::pair<u32, u32>> taken;
    const int grids = std::uniform_int_distribution<int>(1, 40)(rng);
    for (int k = 0; k < grids; ++k) {
        const u32 spc = static_cast<u32>(pick(1, 2, 8, 64, 128));
        const u64 gap = near(pick(3, 33, 1056, 2000, 0x400020, 9000, 20, 70000));
        const u32 highest =
            static_cast<u32>(pick(0, 2, 300, 4085, 4086, 65525, 65526, 70000, 900000));
        const u32 c2 = static_cast<u32>(base + gap);
        if (!taken.insert({spc, c2}).second)
            continue;
        d.grids.push_back(grid(spc, c2, highest, static_cast<u32>(pick(2, 2, 3, 7))));
    }
    std::stable_sort(d.grids.begin(), d.grids.end());
    const int partitions = std::uniform_int_distribution<int>(1, 30)(rng);
    for (int k = 0; k < partitions; ++k) {
        const FsCandidate& g =
            d.grids[std::uniform_int_distribution<std::size_t>(0, d.grids.size() - 1)(rng)];
        const u32 start = static_cast<u32>(base - pick(0, 0, 1, 3, 40));
        const u64 end = g.cluster2LBA + u64{g.sectorsPerCluster} *
                                            (g.maxThisCluster == 0 ? 0 : g.maxThisCluster - 1);
        const u64 sectors = pick(near(end - start), near(end - start), 0x500000, 200000000, 5000);
        d.partitions.push_back(partition(static_cast<u8>(pick(0x01, 0x06, 0x0C, 0x0C)), start,
                                         static_cast<u32>(std::min<u64>(sectors, 0xFFFFFFFF))));
    }
    return d;
}

TEST(GridIndexTest, AnswersAsAWalkOverEveryGrid) {
    std::mt19937 rng(20240611);
    std::size_t adopted = 0;
    for (int round = 0; round < 2000; ++round) {
        const Draw d = draw(rng);
        GridIndex index(d.grids);
        std::vector<bool> spent(d.grids.size(), false);
        for (std::size_t k = 0; k < d.partitions.size(); ++k) {
            const FatVolumeFitsPartition fits(d.partitions[k]);
            const std::size_t expected = walkEveryGrid(d.grids, spent, fits);
            ASSERT_EQ(index.bestInPartition(d.partitions[k], fits), expected)
                << "round " << round << " partition " << k;
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
    EXPECT_EQ(index.bestAt(150, notEight), NONE);
}

TEST(GridIndexTest, AFloodOfPartitionEntriesTestsAFewGridsEach) {
    // What a disk of copied partition tables and folder sectors gives: FAT32
    // grids one sector apart, and many more partitions before them that all
    // reach far enough for any.
    constexpr u32 GRIDS = 1000;
    constexpr u32 PARTITIONS = 4000;
    FsCandidateList grids;
    for (u32 k = 0; k < GRIDS; ++k)
        grids.push_back(grid(1, 10000 + k, 70001, 2));
    GridIndex index(grids);
    std::size_t tests = 0;
    for (u32 k = 0; k < PARTITIONS; ++k) {
        const FsCandidate p = partition(0x0C, 1 + k % 4, 300000);
        const FatVolumeFitsPartition fits(p);
        const std::size_t g = index.bestInPartition(p, [&](const FsCandidate& c) {
            ++tests;
            return fits(c);
        });
        // Each takes the first grid left, until none is.
        ASSERT_EQ(g, k < GRIDS ? k : NONE) << k;
        if (g != NONE)
            index.spend(g);
    }
    // A test of every unspent grid for every partition: two million here.
    EXPECT_LT(tests, 20u * PARTITIONS);
}

} // namespace
