#include "fs/Params.h"

#include "core/Array.h"
#include "fs/FatLayout.h"
#include "fs/StructureChecks.h"
#include "tests/support/FatBytes.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

using namespace testutil;

namespace {

constexpr u64 BIG_SOURCE = 1ull << 40;

// The FAT16 volume of the worked example: 1 reserved sector, 2 x 200 sectors of
// FAT, 512 root entries, clusters of 4 sectors.
Sector exampleFat16() {
    return fatBootSector(1, 200, 512, 100000, 4);
}

Sector exampleNtfs() {
    return ntfsBootSector(1000000, 8, 4, 62499, 0xF6);
}

// The sector with one field (of `bytes` bytes at `offset`) set to `value`.
Sector with(Sector s, u32 offset, u32 bytes, u64 value) {
    for (u32 i = 0; i < bytes; ++i)
        s[offset + i] = static_cast<u8>(value >> (8 * i));
    return s;
}

template <typename T> std::string textOf(const T& record) {
    std::ostringstream os;
    os << record;
    return os.str();
}

} // namespace

TEST(BootSectorRecordTest, TheWorkedExamplesAddUp) {
    FatBootParams f;
    Sector s = exampleFat16();
    FAT_FS_PARAMS p;
    ASSERT_TRUE(fatFsParamsFromBootSector(63, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(textOf(p), "Starting LBA: 63\nTotal Sectors: 100000\nSectors Per Cluster: 4\n"
                         "FAT LBA: 64\nFATMirr LBA: 264\nSectors Per FAT: 200\n"
                         "Root Directory Entries: 512\nRoot Directory LBA: 464\n"
                         "Root Directory Cluster: 0\nData Cluster LBA: 496");
    BootParams b;
    ASSERT_TRUE(readBootParams(s.data(), b));
    EXPECT_EQ(textOf(b), "FAT\ntotalSectors: 100000\nsectorsPerCluster: 4\nsectorsPerFAT: 200\n"
                         "reservedSectors: 1\nrootCluster: 0\nrootEntries: 512\n"
                         "dataLbaOffset: 433\nrootDirectoryLbaOffset: 401\n");
    // FAT32: root cluster 5 lies three clusters into the data area.
    s = fatBootSector(32, 1000, 0, 600000, 8, 5);
    ASSERT_TRUE(readFatBootParams(s.data(), f));
    EXPECT_EQ(f.dataLbaOffset, 2032u);
    EXPECT_EQ(f.rootDirectoryLbaOffset, 2032u + 24u);
    ASSERT_TRUE(fatFsParamsFromBootSector(2048, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(p.dataClusterLBA, 2048u + 2032u);
    EXPECT_EQ(p.rootDirectoryLBA, 0u);

    // mkfs.fat -F 16 -f 1 -S 4096 on 64 MiB: in 512-byte sectors, one FAT,
    // its own mirror; a root of 100 entries still fills a sector of 4096 bytes.
    s = with(with(fatBootSector(4, 4, 512, 16384, 4), BS_BYTES_PER_SECTOR, 2, 4096), BS_FAT_COUNT,
             1, 1);
    ASSERT_TRUE(fatFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(textOf(p), "Starting LBA: 0\nTotal Sectors: 131072\nSectors Per Cluster: 32\n"
                         "FAT LBA: 32\nFATMirr LBA: 32\nSectors Per FAT: 32\n"
                         "Root Directory Entries: 512\nRoot Directory LBA: 64\n"
                         "Root Directory Cluster: 0\nData Cluster LBA: 96");
    EXPECT_EQ(p.fatType(), FAT16);
    ASSERT_TRUE(readFatBootParams(with(s, BS_ROOT_ENTRIES, 2, 100).data(), f));
    EXPECT_EQ(f.dataLbaOffset, 64u + 8u);
    EXPECT_EQ(f.fatCount(), 1u);

    NTFS_FS_PARAMS n;
    ASSERT_TRUE(ntfsFsParamsFromBootSector(63, exampleNtfs().data(), n, BIG_SOURCE));
    EXPECT_EQ(textOf(n), "Starting LBA: 63\nTotal Sectors: 1000000\nSectors Per Cluster: 8\n"
                         "MFT LCN: 4\nMFTMirr LCN: 62499\nSectors Per File Record: 2");
    EXPECT_EQ(n.get_cluster_count(), 125000u);
    // One cluster per record.
    ASSERT_TRUE(ntfsFsParamsFromBootSector(
        0, with(exampleNtfs(), BSN_CLUSTERS_PER_RECORD, 1, 1).data(), n, BIG_SOURCE));
    EXPECT_EQ(n.sectorsPerFileRecord, 8u);
    EXPECT_EQ(n.clusterLBA(~0ull), ~0ull);
}

// Whether each boot sector reads as one and gives a record, in 64-bit
// arithmetic: a damaged one must neither wrap an offset nor size anything.
TEST(BootSectorRecordTest, EachIsRecordedOrRefusedAsItsNumbersAddUp) {
    const Sector fat = exampleFat16();
    const Sector ntfs = exampleNtfs();
    struct Case {
        const char* what;
        Sector sector;
        u32 lba;
        u64 source;
        bool reads;
        bool recorded;
    };
    const Case cases[] = {
        {"FAT16", fat, 0, BIG_SOURCE, true, true},
        {"sector size 1024", with(fat, BS_BYTES_PER_SECTOR, 2, 1024), 0, BIG_SOURCE, true, true},
        {"sector size 768", with(fat, BS_BYTES_PER_SECTOR, 2, 768), 0, BIG_SOURCE, false, false},
        {"2^32 - 1 sectors of 1024 bytes",
         with(fatBootSector(32, 0x200000, 0, 0xFFFFFFFFu, 64), BS_BYTES_PER_SECTOR, 2, 1024), 0,
         BIG_SOURCE, false, false},
        {"no signature", with(fat, SECTOR_SIGNATURE_OFFSET, 2, 0x55AA), 0, BIG_SOURCE, false,
         false},
        {"one FAT", with(fat, BS_FAT_COUNT, 1, 1), 0, BIG_SOURCE, true, true},
        {"four FATs", with(fat, BS_FAT_COUNT, 1, 4), 0, BIG_SOURCE, true, true},
        {"five FATs", with(fat, BS_FAT_COUNT, 1, 5), 0, BIG_SOURCE, false, false},
        {"no cluster size", with(fat, BS_SECTORS_PER_CLUSTER, 1, 0), 0, BIG_SOURCE, false, false},
        {"no FAT size", with(fat, BS_SECTORS_PER_FAT_16, 2, 0), 0, BIG_SOURCE, false, false},
        {"no size", with(fat, BS_TOTAL_SECTORS_32, 4, 0), 0, BIG_SOURCE, false, false},
        {"2^31 sectors per FAT", fatBootSector(32, 0x80000000u, 0, 0xFFFFFFFFu, 8), 0, BIG_SOURCE,
         false, false},
        // FAT32 by its layout, whatever the size of its FAT; a FAT larger than
        // FAT32's largest is none.
        {"300 sectors per FAT", fatBootSector(32, 300, 0, 0xF0000000u, 1), 0, BIG_SOURCE, true,
         true},
        {"2^21 + 1 sectors per FAT", fatBootSector(32, 0x200001, 0, 0xFFFFFFFFu, 64), 0, BIG_SOURCE,
         true, false},
        {"root cluster 0", fatBootSector(32, 1000, 0, 600000, 8, 0), 0, BIG_SOURCE, true, false},
        {"a root past 2^32 sectors", fatBootSector(32, 1000, 0, 600000, 128, 0x7FFFFFFF), 0,
         BIG_SOURCE, false, false},
        {"2^32 - 1 sectors", fatBootSector(32, 0x200000, 0, 0xFFFFFFFFu, 64), 0, BIG_SOURCE, true,
         true},
        {"... past the source", fatBootSector(32, 0x200000, 0, 0xFFFFFFFFu, 64), 0, 1u << 20, true,
         false},
        {"... past LBA 2^32 - 1", fatBootSector(32, 0x200000, 0, 0xFFFFFFFFu, 64), 63, BIG_SOURCE,
         true, false},
        {"the data area at the end", fatBootSector(1, 200, 512, 433, 4), 0, BIG_SOURCE, true,
         false},
        {"one data sector", fatBootSector(1, 200, 512, 434, 4), 0, BIG_SOURCE, true, true},
        {"65535 reserved sectors", fatBootSector(65535, 9, 224, 2880, 1), 0, 2880, true, false},
        {"65535 root entries", fatBootSector(1, 9, 65535, 2880, 1), 0, 2880, true, false},
        {"NTFS", ntfs, 63, BIG_SOURCE, true, true},
        {"NTFS with a FAT count", with(ntfs, BS_FAT_COUNT, 1, 2), 0, BIG_SOURCE, false, false},
        {"NTFS with FAT sectors", with(ntfs, BS_SECTORS_PER_FAT_16, 2, 1), 0, BIG_SOURCE, false,
         false},
        {"NTFS named otherwise", with(ntfs, BS_OEM_NAME, 1, 'X'), 0, BIG_SOURCE, false, false},
        {"records of 2^128 bytes", with(ntfs, BSN_CLUSTERS_PER_RECORD, 1, 0x80), 0, BIG_SOURCE,
         true, false},
        {"no MFT placed", ntfsBootSector(1000000, 8, 0, 0, 0xF6), 0, BIG_SOURCE, true, false},
        {"NTFS at the source's end", ntfs, 63, 1000063, true, true},
        // A copy cut short keeps its volume while it holds at least half of it.
        {"NTFS one sector short", ntfs, 63, 1000062, true, true},
        {"NTFS half held", ntfs, 63, 500063, true, true},
        {"NTFS less than half held", ntfs, 63, 500062, true, false},
        {"NTFS starting past the source", ntfs, 63, 63, true, false},
        {"FAT16 half held", fat, 0, 50000, true, true},
        {"FAT16 less than half held", fat, 0, 49999, true, false},
        {"2^64 - 1 NTFS sectors", ntfsBootSector(~0ull, 8, 4, 62499, 0xF6), 63, BIG_SOURCE, true,
         false},
        {"the MFT beyond, its mirror inside", ntfsBootSector(1000000, 8, 1u << 30, 4, 0xF6), 0,
         2000000, true, true},
        {"both beyond", ntfsBootSector(1000000, 8, 1u << 30, 1u << 30, 0xF6), 0, 2000000, true,
         false},
        {"an MFT past 2^64", ntfsBootSector(1000000, 8, ~0ull, 0, 0xF6), 0, BIG_SOURCE, true,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BootParams b;
        EXPECT_EQ(readBootParams(c.sector.data(), b), c.reads);
        FAT_FS_PARAMS f;
        NTFS_FS_PARAMS n;
        const bool recorded = fatFsParamsFromBootSector(c.lba, c.sector.data(), f, c.source) ||
                              ntfsFsParamsFromBootSector(c.lba, c.sector.data(), n, c.source);
        EXPECT_EQ(recorded, c.recorded);
    }
}

TEST(FatFsParamsTest, ClustersAreWhatTheFatCanAddressAndLieInTheVolume) {
    struct Case {
        Sector sector;
        u32 clusters;
        FatType width;
    };
    // The width is the count's before the FAT caps it: 16 sectors of FAT16 hold
    // 4096 entries, 12 sectors 3072, though FAT12 would number the volume's
    // 4,161 clusters in them; a volume smaller than its FAT keeps its own count.
    // mkfs.fat pads the FAT of a FAT12 volume of large clusters (-s 64) to 64
    // sectors; up to 4,084 clusters make FAT12. A FAT16 of 256 sectors has
    // entries past the 65,524 clusters FAT16 numbers: those hold end marks.
    const Case cases[] = {{fatBootSector(1, 16, 512, 500000, 1), 4094, FAT16},
                          {fatBootSector(1, 256, 512, 545 + 70000, 1), 65524, FAT16},
                          {fatBootSector(1, 12, 224, 4200, 1), 3070, FAT16},
                          {fatBootSector(64, 64, 1024, 24576, 64), 380, FAT12},
                          {fatBootSector(1, 16, 512, 65 + 4084, 1), 4084, FAT12},
                          {fatBootSector(1, 16, 512, 65 + 4085, 1), 4085, FAT16},
                          {fatBootSector(32, 1000, 0, 600000, 8), (600000 - 2032) / 8, FAT32},
                          {fatBootSector(1, 9, 224, 2880, 1), 2880 - 33, FAT12},
                          {exampleFat16(), (100000 - 433) / 4, FAT16}};
    FAT_FS_PARAMS p;
    for (const Case& c : cases) {
        ASSERT_TRUE(fatFsParamsFromBootSector(63, c.sector.data(), p, BIG_SOURCE));
        EXPECT_EQ(p.get_cluster_count(), c.clusters);
        EXPECT_EQ(p.fatType(), c.width) << c.clusters;
        EXPECT_TRUE(p.isValidCluster(c.clusters + 1) && !p.isValidCluster(c.clusters + 2));
        EXPECT_FALSE(p.isValidCluster(1));
    }
    EXPECT_EQ(p.get_cluster_LBA(3), 500u);
    // Outside the volume: logged, and still answered above 1.
    LogCapture log;
    EXPECT_EQ(p.get_cluster_LBA(p.get_cluster_count() + 2), 496u + 4ull * p.get_cluster_count());
    EXPECT_EQ(p.get_cluster_LBA(1), ~0ull);
    EXPECT_TRUE(log.has("FAT_FS_PARAMS(22): FAT_FS_PARAMS::get_cluster_LBA: 1\n")) << log.text();
    p.sectorsPerCluster = 0;
    EXPECT_FALSE(p.isValid());
    EXPECT_EQ(thrownText([&] { p.get_cluster_count(); }), "FAT_FS_PARAMS(8)");
    EXPECT_EQ(thrownText([] { NTFS_FS_PARAMS().get_cluster_count(); }), "NTFS_FS_PARAMS(17)");
}

TEST(BootParamsTest, ParametersCompareByTheirFieldsAndKind) {
    BootParams a, b, fat;
    ASSERT_TRUE(readBootParams(exampleNtfs().data(), a));
    ASSERT_TRUE(readBootParams(with(exampleNtfs(), BSN_SERIAL, 4, 0xDEADBEEF).data(), b));
    EXPECT_TRUE(equalBootParams(a, b)); // the serial number is no parameter
    ASSERT_TRUE(readBootParams(with(exampleNtfs(), BSN_MFT_CLUSTER, 1, 5).data(), b));
    EXPECT_FALSE(equalBootParams(a, b));
    ASSERT_TRUE(readBootParams(exampleFat16().data(), fat));
    EXPECT_FALSE(equalBootParams(a, fat));
    EXPECT_TRUE(equalBootParams(fat, fat));
    EXPECT_FALSE(equalBootParams(BootParams(), BootParams()));
}
