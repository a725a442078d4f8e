#include "fs/fat/FatsReader.h"

#include "tests/support/FailingReader.h"
#include "tests/support/FatBytes.h"
#include "tests/support/FatVolumes.h"

#include <gtest/gtest.h>

#include <stdexcept>

using testutil::FailingReader;
using testutil::SyntheticVolume;

namespace {

// A reader of the volume's FATs that sees every read; mirror marks as given.
struct Reader {
    explicit Reader(const SyntheticVolume& v, std::vector<u64> mirrorSectors = {},
                    std::vector<u64> bad = {})
        : driver(v.driver(bad, &failing)), marks(v.params().sectorsPerFAT) {
        for (u64 s : mirrorSectors)
            marks.set(s, true);
        fats = std::make_unique<FatsReader>(driver.get(), v.params(), marks);
    }
    const std::vector<FailingReader::Request>& reads() const { return failing->requests(); }
    FailingReader* failing = nullptr;
    SharedPtr<Driver> driver;
    Bitmap marks;
    std::unique_ptr<FatsReader> fats;
};

TEST(FatsReaderTest, Fat12EntriesAtTheEdgesOfThreeSectorWindows) {
    SyntheticVolume v(FAT12, 2000);
    v.setEntry(1022, 0x123);
    v.setEntry(1023, 0xABC); // the high nibble of byte 1534 and all of 1535
    v.setEntry(1024, 0x456);
    v.setEntry(1364, 0xFF8); // the last entry four sectors hold
    Reader r(v);
    EXPECT_EQ(r.fats->getEntry(1023), 0xABCu);
    EXPECT_EQ(r.fats->getEntry(1022), 0x123u);
    ASSERT_EQ(r.reads().size(), 1u);
    EXPECT_EQ(r.reads()[0].offset, 512);
    EXPECT_EQ(r.reads()[0].size, 3 * 512);
    // The window at FAT sector 3 holds the one sector left of the FAT.
    EXPECT_EQ(r.fats->getEntry(1024), 0x456u);
    ASSERT_EQ(r.reads().size(), 2u);
    EXPECT_EQ(r.reads()[1].offset, 4 * 512);
    EXPECT_EQ(r.reads()[1].size, 512);
    // The 2000 clusters are cut to the 1365 entries the FAT holds.
    EXPECT_EQ(r.fats->getEntryLimit(), 1365u);
    EXPECT_EQ(r.fats->getEntry(1364), 0xFF8u);
    EXPECT_EQ(r.fats->getEntry(1400), 0u);
}

TEST(FatsReaderTest, ClustersOutsideTheVolumeReadZeroAndFat32TopBitsGo) {
    SyntheticVolume v(FAT32, 100);
    v.bytes().replace(512 + 4 * 7, 4, std::string(4, '\xFF'));
    v.setEntry(101, 5);
    Reader r(v);
    EXPECT_EQ(r.fats->getEntry(7), 0x0FFFFFFFu);
    EXPECT_EQ(r.fats->getClusterType(r.fats->getEntry(7)), EOF_CLUSTER);
    EXPECT_EQ(r.fats->getEntry(101), 5u);
    for (u32 c : {0u, 1u, 102u, 0xFFFFFFFFu}) {
        EXPECT_EQ(r.fats->getEntry(c), 0u) << c;
        EXPECT_FALSE(r.fats->isValidCluster(c)) << c;
    }
}

// A volume filled to its last clusters numbers them as the FAT's reserved
// values read: they are links where the volume has such clusters.
TEST(FatsReaderTest, ValuesThatNameAClusterOfTheVolumeAreLinks) {
    struct Row {
        testutil::Sector boot;
        u32 value;
        ClusterType type;
    };
    const testutil::Sector fat12Full = testutil::fatBootSector(1, 12, 224, 39 + 4083, 1);
    const testutil::Sector fat16Full = testutil::fatBootSector(1, 256, 512, 545 + 65524, 1);
    const Row rows[] = {
        {fat12Full, 0xFF0, NEXT_CLUSTER},
        {fat12Full, 0xFF4, NEXT_CLUSTER},
        {fat12Full, 0xFF5, RESERVED_CLUSTER},
        {testutil::fatBootSector(1, 12, 224, 39 + 4000, 1), 0xFF0, RESERVED_CLUSTER},
        {fat16Full, 0xFFF5, NEXT_CLUSTER},
        {fat16Full, 0xFFF6, RESERVED_CLUSTER},
    };
    SharedPtr<Driver> driver(
        new Driver(SharedPtr<dt::Reader>(new testutil::MemoryReader(std::string(512, '\0'))), 512));
    for (const Row& row : rows) {
        FAT_FS_PARAMS p;
        ASSERT_TRUE(fatFsParamsFromBootSector(0, row.boot.data(), p, 1u << 20));
        const FatsReader fats(driver.get(), p, Bitmap(p.sectorsPerFAT));
        EXPECT_EQ(fats.getClusterType(row.value), row.type)
            << p.get_cluster_count() << " clusters, value " << row.value;
    }
}

TEST(FatsReaderTest, EntriesComeFromTheCopyTheMarksNameAndWhatNoCopyGivesIsUnknown) {
    SyntheticVolume v(FAT16, 4085);
    for (u32 c = 700; c < 1100; ++c)
        v.setEntry(c, c + 1);
    v.setEntry(300, 301, false); // the first FAT only: sector 1
    // Sector 3 cannot be read in either copy, sector 4 in the first only.
    Reader r(v, {1, 5, 6}, {1 + 3, 17 + 3, 1 + 4});
    EXPECT_EQ(r.fats->getEntry(300), 0u);
    EXPECT_EQ(r.fats->getEntry(767), 768u);
    EXPECT_EQ(r.fats->getEntry(768), 0u);
    EXPECT_EQ(r.fats->getEntry(1024), 1025u);
    for (u32 c : {767, 768, 1023, 1024})
        EXPECT_EQ(r.fats->isUnknown(c), c == 768 || c == 1023) << c;
    // One read per run of sectors from the same copy.
    std::vector<u8> buffer(10 * 512);
    const std::size_t before = r.reads().size();
    r.fats->readSectors(5, 5, buffer.data());
    ASSERT_EQ(r.reads().size() - before, 2u);
    EXPECT_EQ(r.reads()[before].offset, (17 + 5) * 512);
    EXPECT_EQ(r.reads()[before].size, 2 * 512);
    EXPECT_EQ(r.reads()[before + 1].offset, (1 + 7) * 512);
    EXPECT_EQ(r.reads()[before + 1].size, 3 * 512);
}

TEST(FatsReaderTest, APassOverTheWholeFatGivesWhatGetEntryGives) {
    struct Row {
        FatType type;
        u32 clusters;
        // What the FAT holds: the FAT12 one is cut to its four sectors.
        u32 entries;
        u64 badFatSector;
    };
    // FAT32: more than one piece, and one bad sector inside the second.
    for (const Row& row : {Row{FAT12, 2000, 1365, 1}, Row{FAT32, 40000, 40002, 300}}) {
        SyntheticVolume v(row.type, row.clusters);
        for (u32 c = 2; c < row.entries; ++c)
            v.setEntry(c, c * 7 % row.clusters + 2);
        const FAT_FS_PARAMS& p = v.params();
        Reader r(v, {}, {p.fatLBA + row.badFatSector, p.fatMirrLBA + row.badFatSector});
        std::vector<u32> passed;
        r.fats->forEachEntry([&](u32 cluster, u32 entry) {
            EXPECT_EQ(cluster, passed.size() + 2);
            passed.push_back(entry);
        });
        ASSERT_EQ(passed.size() + 2, row.entries);
        for (u32 c = 2; c < row.entries; ++c)
            ASSERT_EQ(passed[c - 2], r.fats->getEntry(c)) << c;
        // Only the entries of the sector that no copy gives read as free.
        EXPECT_EQ(passed[row.entries - 3], (row.entries - 1) * 7 % row.clusters + 2);
    }
}

TEST(FatsReaderTest, RefusesOtherSectorSizesAndRecordsThatAreNotValid) {
    SyntheticVolume v(FAT16, 4085);
    SharedPtr<dt::Reader> memory(new testutil::MemoryReader(v.bytes()));
    Driver big(memory, 1024);
    Driver ok(memory, 512);
    std::vector<std::pair<Driver*, u32>> cases = {{&big, 16}, {&ok, 0}, {&ok, 0x200001}};
    for (const auto& c : cases) {
        FAT_FS_PARAMS p = v.params();
        p.sectorsPerFAT = c.second;
        EXPECT_EQ(testutil::thrownText([&] { FatsReader(c.first, p, Bitmap(16)); }),
                  "FatsReader(24)")
            << c.second;
    }
}

} // namespace
