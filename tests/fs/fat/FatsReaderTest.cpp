#include "fs/fat/FatsReader.h"

#include "tests/fs/fat/FatTestVolume.h"
#include "tests/support/FailingReader.h"

#include <gtest/gtest.h>

#include <stdexcept>

using fattest::SyntheticVolume;
using testutil::FailingReader;
using testutil::MemoryReader;

namespace {

// A driver over the volume's bytes that sees every read and fails some.
struct Watched {
    explicit Watched(const SyntheticVolume& v, std::vector<u64> bad = {})
        : driver(v.watchedDriver(bad, failing)) {}
    FailingReader* failing = nullptr;
    SharedPtr<Driver> driver;
};

TEST(FatsReaderTest, Fat12EntriesAtTheEdgesOfThreeSectorWindows) {
    SyntheticVolume v(FAT12, 2000);
    v.setEntry(1023, 0xABC);
    v.setEntry(1022, 0x123);
    v.setEntry(1024, 0x456);
    Watched w(v);
    Bitmap none(v.params().sectorsPerFAT);
    FatsReader fats(w.driver.get(), v.params(), none);

    // Cluster 1023: offset 1534 of the first window, high nibble of byte 1534
    // and all of byte 1535.
    EXPECT_EQ(fats.getEntry(1023), 0xABCu);
    EXPECT_EQ(fats.getEntry(1022), 0x123u);
    ASSERT_EQ(w.failing->requests().size(), 1u);
    EXPECT_EQ(w.failing->requests()[0].offset, 512);
    EXPECT_EQ(w.failing->requests()[0].size, 3 * 512);

    // Cluster 1024 loads the window at FAT sector 3; with a FAT of 4 sectors that
    // window holds one sector only.
    EXPECT_EQ(fats.getEntry(1024), 0x456u);
    ASSERT_EQ(w.failing->requests().size(), 2u);
    EXPECT_EQ(w.failing->requests()[1].offset, 4 * 512);
    EXPECT_EQ(w.failing->requests()[1].size, 512);
}

TEST(FatsReaderTest, Fat12ClustersStopWhereTheFatEnds) {
    // Four FAT sectors hold 1365 entries: the volume's 2000 clusters are cut to
    // what they can chain, so cluster 1400 (whose entry would lie in a FAT sector
    // that does not exist) reads as 0, and the last entry still reads whole.
    SyntheticVolume v(FAT12, 2000);
    v.setEntry(1364, 0xFF8);
    Watched w(v);
    FatsReader fats(w.driver.get(), v.params(), Bitmap(4));
    EXPECT_EQ(fats.getEntryLimit(), 1365u);
    EXPECT_EQ(fats.getEntry(1400), 0u);
    EXPECT_EQ(fats.getEntry(1364), 0xFF8u);
}

TEST(FatsReaderTest, Fat32TopBitsAreCleared) {
    SyntheticVolume v(FAT32, 100);
    // The raw word FF FF FF FF, which setEntry would keep the top bits of.
    const u64 at = 512 + 4 * 7;
    v.bytes().replace(at, 4, std::string(4, '\xFF'));
    Watched w(v);
    FatsReader fats(w.driver.get(), v.params(), Bitmap(512));
    EXPECT_EQ(fats.getEntry(7), 0x0FFFFFFFu);
    EXPECT_EQ(fats.getClusterType(fats.getEntry(7)), EOF_CLUSTER);
}

TEST(FatsReaderTest, MirrorMarksSplitAReadIntoRunsOfOneCopy) {
    SyntheticVolume v(FAT16, 100);
    Watched w(v);
    Bitmap mirror(16);
    mirror.set(5, true);
    mirror.set(6, true);
    FatsReader fats(w.driver.get(), v.params(), mirror);
    std::vector<u8> buffer(10 * 512);
    fats.readSectors(0, 10, buffer.data());
    const auto& r = w.failing->requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].offset, 1 * 512);
    EXPECT_EQ(r[0].size, 5 * 512);
    EXPECT_EQ(r[1].offset, (17 + 5) * 512);
    EXPECT_EQ(r[1].size, 2 * 512);
    EXPECT_EQ(r[2].offset, (1 + 7) * 512);
    EXPECT_EQ(r[2].size, 3 * 512);
}

TEST(FatsReaderTest, EntriesComeFromTheCopyTheMarksName) {
    SyntheticVolume v(FAT16, 1000);
    v.setEntry(300, 301, false); // first FAT only: sector 1
    v.setEntry(600, 0xFFFF);
    Bitmap mirror(16);
    mirror.set(1, true);
    Watched w(v);
    FatsReader fats(w.driver.get(), v.params(), mirror);
    EXPECT_EQ(fats.getEntry(300), 0u);
    EXPECT_EQ(fats.getEntry(600), 0xFFFFu);
}

TEST(FatsReaderTest, ClustersOutsideTheVolumeReadZero) {
    SyntheticVolume v(FAT16, 100);
    v.setEntry(101, 5); // the last valid cluster
    Watched w(v);
    FatsReader fats(w.driver.get(), v.params(), Bitmap(16));
    EXPECT_EQ(fats.getEntryLimit(), 102u);
    EXPECT_EQ(fats.getEntry(0), 0u);
    EXPECT_EQ(fats.getEntry(1), 0u);
    EXPECT_EQ(fats.getEntry(102), 0u);
    EXPECT_EQ(fats.getEntry(101), 5u);
    EXPECT_FALSE(fats.isValidCluster(1));
    EXPECT_TRUE(fats.isValidCluster(2));
    EXPECT_FALSE(fats.isValidCluster(0xFFFFFFFF));
}

TEST(FatsReaderTest, AnUnreadableFatSectorReadsAsFreeEntries) {
    SyntheticVolume v(FAT16, 2000);
    for (u32 c = 700; c < 1100; ++c)
        v.setEntry(c, c + 1);
    Watched w(v, {1 + 3});
    FatsReader fats(w.driver.get(), v.params(), Bitmap(16));
    EXPECT_EQ(fats.getEntry(767), 768u);
    EXPECT_EQ(fats.getEntry(768), 0u);
    EXPECT_EQ(fats.getEntry(1023), 0u);
    EXPECT_EQ(fats.getClusterType(fats.getEntry(1023)), FREE_CLUSTER);
    EXPECT_EQ(fats.getEntry(1024), 1025u);
}

TEST(FatsReaderTest, RefusesOtherSectorSizesAndFatsWithoutAWidth) {
    SyntheticVolume v(FAT16, 100);
    SharedPtr<dt::Reader> memory(new MemoryReader(v.bytes()));
    Driver big(memory, 1024);
    try {
        FatsReader fats(&big, v.params(), Bitmap(16));
        FAIL() << "a 1024-byte sector was taken";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "FatsReader(24)");
    }
    Driver ok(memory, 512);
    for (u32 spf : {0u, 13u, 300u}) {
        FAT_FS_PARAMS p = v.params();
        p.sectorsPerFAT = spf;
        EXPECT_THROW(FatsReader(&ok, p, Bitmap(16)), std::runtime_error) << spf;
    }
}

} // namespace
