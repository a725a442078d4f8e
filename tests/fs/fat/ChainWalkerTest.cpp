#include "fs/fat/ChainWalker.h"

#include "tests/fs/fat/FatTestVolume.h"

#include <gtest/gtest.h>

#include <memory>

using fattest::SyntheticVolume;

namespace {

struct Walk {
    explicit Walk(const SyntheticVolume& v)
        : driver(v.driver()), fats(driver.get(), v.params(), Bitmap(v.params().sectorsPerFAT)),
          walker(&fats) {}
    // The clusters from `first` on, at most n of them (0 where the walk ended).
    std::vector<u32> clusters(u32 first, u32 n) {
        std::vector<u32> out{walker.start(first)};
        while (out.size() < n)
            out.push_back(walker.next());
        return out;
    }
    SharedPtr<Driver> driver;
    FatsReader fats;
    ChainWalker walker;
};

using Clusters = std::vector<u32>;

TEST(ChainWalkerTest, FollowsTheFatThenTheClustersThatFollow) {
    SyntheticVolume v(FAT16, 100);
    v.setChain({5, 9, 7});
    Walk w(v);
    EXPECT_EQ(w.clusters(5, 6), (Clusters{5, 9, 7, 8, 9, 10}));
    // A deleted file (free first entry) is read in consecutive clusters.
    EXPECT_EQ(w.clusters(20, 3), (Clusters{20, 21, 22}));
}

TEST(ChainWalkerTest, ALinkBackIntoTheChainIsABreak) {
    SyntheticVolume v(FAT16, 100);
    v.setChain({10, 11});
    v.setEntry(11, 10);
    v.setEntry(30, 30);
    Walk w(v);
    EXPECT_EQ(w.clusters(10, 4), (Clusters{10, 11, 12, 13}));
    EXPECT_EQ(w.clusters(30, 3), (Clusters{30, 31, 32}));
    // A new walk forgets the clusters of the last one.
    EXPECT_EQ(w.clusters(10, 3), (Clusters{10, 11, 12}));
}

TEST(ChainWalkerTest, ClusterTwoIsALinkAndTheVolumeEndIsTheEnd) {
    SyntheticVolume v(FAT16, 100);
    v.setChain({40, 2, 41});
    v.setEntry(50, 0xFFF0); // reserved: the chain breaks
    v.setEntry(60, 5000);   // outside the volume
    Walk w(v);
    EXPECT_EQ(w.clusters(40, 4), (Clusters{40, 2, 41, 42}));
    EXPECT_EQ(w.clusters(50, 2), (Clusters{50, 51}));
    EXPECT_EQ(w.clusters(60, 2), (Clusters{60, 61}));
    EXPECT_EQ(w.clusters(100, 4), (Clusters{100, 101, 0, 0}));
    EXPECT_TRUE(w.walker.ended());
    EXPECT_EQ(w.clusters(0, 2), (Clusters{0, 0}));
    EXPECT_EQ(w.clusters(102, 1), (Clusters{0}));
}

TEST(ChainWalkerTest, SeekGoesOnForwardAndStartsAgainBackward) {
    SyntheticVolume v(FAT16, 100);
    v.setChain({5, 9, 7, 20});
    Walk w(v);
    EXPECT_EQ(w.walker.seek(5, 2), 7u);
    EXPECT_EQ(w.walker.position(), 2u);
    EXPECT_EQ(w.walker.seek(5, 3), 20u);
    EXPECT_EQ(w.walker.seek(5, 1), 9u);
    EXPECT_EQ(w.walker.seek(9, 0), 9u);
    EXPECT_EQ(w.walker.seek(9, 2), 20u);
    EXPECT_EQ(w.walker.seek(99, 5), 0u); // past the last cluster
    EXPECT_EQ(w.walker.seek(1, 0), 0u);
}

TEST(ChainWalkerTest, RunsCoverClustersThatFollowOnTheDisk) {
    SyntheticVolume v(FAT16, 100);
    v.setChain({5, 6, 7, 9, 10});
    Walk w(v);
    w.walker.start(5);
    EXPECT_EQ(w.walker.extendRun(10), 3u);
    EXPECT_EQ(w.walker.current(), 7u);
    EXPECT_EQ(w.walker.position(), 2u);
    EXPECT_EQ(w.walker.next(), 9u);
    EXPECT_EQ(w.walker.extendRun(1), 1u);
    EXPECT_EQ(w.walker.extendRun(2), 2u);
    EXPECT_EQ(w.walker.current(), 10u);
    EXPECT_EQ(w.walker.extendRun(3), 3u); // past the chain's end, on the disk
    EXPECT_EQ(w.walker.current(), 12u);
    w.walker.start(99);
    EXPECT_EQ(w.walker.extendRun(10), 3u);
    EXPECT_EQ(w.walker.next(), 0u);
    EXPECT_EQ(w.walker.extendRun(10), 0u);
}

} // namespace
