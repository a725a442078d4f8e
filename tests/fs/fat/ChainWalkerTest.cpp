#include "fs/fat/ChainWalker.h"

#include "fs/FatLayout.h"
#include "tests/support/FatVolumes.h"

#include <gtest/gtest.h>

using testutil::SyntheticVolume;

namespace {

using Clusters = std::vector<u32>;

struct Walk {
    explicit Walk(const SyntheticVolume& v)
        : driver(v.driver()), fats(driver.get(), v.params(), Bitmap(v.params().sectorsPerFAT)),
          walker(&fats) {}
    // n clusters from `first` on (0 where the walk ended).
    Clusters clusters(u32 first, u32 n, bool deleted = false, u64 fileClusters = 0) {
        Clusters out{walker.start(first, deleted, fileClusters)};
        while (out.size() < n)
            out.push_back(walker.next());
        return out;
    }
    SharedPtr<Driver> driver;
    FatsReader fats;
    ChainWalker walker;
};

TEST(ChainWalkerTest, ChainsBreakIntoTheClustersThatFollow) {
    SyntheticVolume v(FAT16, 100);
    v.setChain({5, 9, 7});
    v.setChain({40, 2, 41}); // cluster 2 is a link like any other
    v.setChain({10, 11});
    v.setEntry(11, 10);     // back into the chain
    v.setEntry(50, 0xFFF0); // reserved
    v.setEntry(60, 5000);   // outside the volume
    Walk w(v);
    // Read on past the chain's end is a guess; the chain itself is not.
    EXPECT_EQ(w.clusters(5, 3), (Clusters{5, 9, 7}));
    EXPECT_FALSE(w.walker.strayed());
    EXPECT_EQ(w.clusters(5, 6), (Clusters{5, 9, 7, 8, 9, 10}));
    EXPECT_TRUE(w.walker.strayed());
    EXPECT_EQ(w.clusters(40, 4), (Clusters{40, 2, 41, 42}));
    EXPECT_EQ(w.clusters(10, 4), (Clusters{10, 11, 12, 13}));
    EXPECT_EQ(w.clusters(50, 2), (Clusters{50, 51}));
    EXPECT_EQ(w.clusters(60, 2), (Clusters{60, 61}));
    EXPECT_EQ(w.clusters(20, 3), (Clusters{20, 21, 22})); // free: read on
    EXPECT_EQ(w.clusters(100, 4), (Clusters{100, 101, 0, 0}));
    EXPECT_TRUE(w.walker.ended());
    EXPECT_EQ(w.clusters(1, 2), (Clusters{0, 0}));
    EXPECT_EQ(w.clusters(102, 1), (Clusters{0}));
}

TEST(ChainWalkerTest, ADeletedFileStepsOverClustersOfLiveFiles) {
    SyntheticVolume v(FAT16, 100);
    v.setChain({21, 22});
    v.setChain({24});
    v.setEntry(25, 0xFFF7); // bad, but given to no file
    v.setChain({99, 100, 101});
    Walk w(v);
    EXPECT_EQ(w.clusters(20, 5, true), (Clusters{20, 23, 25, 26, 27}));
    EXPECT_FALSE(w.walker.strayed());
    // Its first cluster is read whatever the FAT says, and then is a live
    // file's; the walk ends with the volume's free clusters.
    EXPECT_EQ(w.clusters(21, 3, true), (Clusters{21, 23, 25}));
    EXPECT_TRUE(w.walker.strayed());
    EXPECT_EQ(w.clusters(98, 2, true), (Clusters{98, 0}));
    EXPECT_EQ(w.walker.seek(20, 2, true), 25u);
    EXPECT_EQ(w.walker.seek(20, 2, false), 22u);
    // On a full volume it passes over no more than 16 clusters per cluster of
    // the file and 4096 more.
    SyntheticVolume full(FAT32, 5000);
    for (u32 c = 21; c <= 4200; ++c)
        full.setEntry(c, FAT32_END);
    Walk f(full);
    EXPECT_EQ(f.clusters(20, 2, true, 5), (Clusters{20, 0}));
    EXPECT_EQ(f.clusters(20, 2, true, 6), (Clusters{20, 4201}));
}

TEST(ChainWalkerTest, SeekGoesOnForwardAndStartsAgainBackward) {
    SyntheticVolume v(FAT16, 100);
    v.setChain({5, 9, 7, 20});
    Walk w(v);
    EXPECT_EQ(w.walker.seek(5, 2), 7u);
    EXPECT_EQ(w.walker.position(), 2u);
    EXPECT_EQ(w.walker.seek(5, 3), 20u);
    EXPECT_EQ(w.walker.seek(5, 1), 9u);
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
    EXPECT_EQ(w.walker.extendRun(3), 3u); // past the chain's end, on the disk
    EXPECT_EQ(w.walker.current(), 11u);
    w.walker.start(99);
    EXPECT_EQ(w.walker.extendRun(10), 3u);
    EXPECT_EQ(w.walker.next(), 0u);
    EXPECT_EQ(w.walker.extendRun(10), 0u);
}

} // namespace
