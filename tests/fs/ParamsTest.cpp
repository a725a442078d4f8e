#include "fs/Params.h"

#include "core/Array.h"
#include "core/Log.h"
#include "fs/StructureChecks.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <sstream>
#include <stdexcept>

using namespace testutil;

namespace {

using Sector = std::array<u8, 512>;

constexpr u64 BIG_SOURCE = 1ull << 40;

// A FAT boot sector with the fields given and nothing else: the 16-bit size
// fields where they fit, the FAT32 ones otherwise.
Sector fatBoot(u32 reserved, u32 sectorsPerFat, u32 rootEntries, u32 totalSectors, u32 spc,
               u32 rootCluster = 2) {
    Sector s{};
    Array a(s.data(), 512);
    a.setLE16(11, 512);
    a.setU8(13, static_cast<u8>(spc));
    a.setLE16(14, static_cast<u16>(reserved));
    a.setU8(16, 2);
    a.setLE16(17, static_cast<u16>(rootEntries));
    if (totalSectors < 0x10000)
        a.setLE16(19, static_cast<u16>(totalSectors));
    else
        a.setLE32(32, totalSectors);
    if (rootEntries != 0 && sectorsPerFat <= 0xFFFF) {
        a.setLE16(22, static_cast<u16>(sectorsPerFat));
    } else {
        a.setLE32(36, sectorsPerFat);
    }
    if (rootEntries == 0)
        a.setLE32(44, rootCluster);
    a.setLE16(510, 0xAA55);
    return s;
}

// The FAT16 volume of the worked example: 1 reserved sector, 2 x 200 sectors of
// FAT, 512 root entries.
Sector exampleFat16() {
    return fatBoot(1, 200, 512, 100000, 4);
}

Sector ntfsBoot(u64 total, u8 spc, u64 mft, u64 mirror, u8 clustersPerRecord) {
    Sector s{};
    Array a(s.data(), 512);
    a.setU8(0, 0xEB);
    a.write(3, "NTFS    ", 8);
    a.setLE16(11, 512);
    a.setU8(13, spc);
    a.setLE64(40, total);
    a.setLE64(48, mft);
    a.setLE64(56, mirror);
    a.setU8(64, clustersPerRecord);
    a.setLE16(510, 0xAA55);
    return s;
}

std::string textOf(const FAT_FS_PARAMS& p) {
    std::ostringstream os;
    os << p;
    return os.str();
}

// mdir's "bytes free" of an empty volume, in clusters.
u64 freeClusters(const FatImage& image, u32 spc) {
    std::string listing = image.listing();
    std::size_t at = listing.find("bytes free");
    if (at == std::string::npos)
        throw std::runtime_error("no free bytes in\n" + listing);
    std::size_t begin = listing.rfind('\n', at) + 1;
    std::string digits;
    for (std::size_t i = begin; i < at; ++i) {
        if (listing[i] >= '0' && listing[i] <= '9')
            digits += listing[i];
    }
    return std::stoull(digits) / (u64{spc} * 512);
}

} // namespace

// ---- Real boot sectors ----

class RealFatBootTest : public ::testing::TestWithParam<int> {
protected:
    TempDir dir;
};

// The boot sector of each width, as mkfs.fat writes it, alone and behind an MBR;
// minfo and mdir give the same volume from the other side.
TEST_P(RealFatBootTest, BootSectorAndRecordAgreeWithTheTools) {
    int bits = GetParam();
    for (u32 lba : {0u, 2048u}) {
        FatImageOptions o;
        o.fatBits = bits;
        o.sizeKiB = bits == 12 ? 1440 : bits == 16 ? 20000 : 40000;
        o.partitionLba = lba;
        FatImage image(dir.file("fat" + std::to_string(bits) + ".img"), o);
        std::string info = image.mtools("minfo", "::");
        std::string sector = image.bootSector();
        const u8* bytes = reinterpret_cast<const u8*>(sector.data());

        BootParams boot;
        ASSERT_TRUE(readBootParams(bytes, boot)) << hexDump(bytes, 96);
        ASSERT_EQ(boot.kind, FS_FAT);
        const FatBootParams& f = boot.fat;
        u32 spf = bits == 32 ? toolNumber(info, "Big fatlen") : toolNumber(info, "sectors per fat");
        u32 total = bits == 32 ? toolNumber(info, "big size") : toolNumber(info, "small size");
        EXPECT_EQ(f.totalSectors, total);
        EXPECT_EQ(f.totalSectors, image.volumeSectors());
        EXPECT_EQ(f.sectorsPerCluster, toolNumber(info, "cluster size"));
        EXPECT_EQ(f.sectorsPerFAT, spf);
        EXPECT_EQ(f.reservedSectors, toolNumber(info, "reserved (boot) sectors"));
        EXPECT_EQ(f.rootEntries, toolNumber(info, "max available root directory slots"));
        EXPECT_EQ(fatTypeBySectorsPerFat(f.sectorsPerFAT), bits == 12   ? FAT12
                                                           : bits == 16 ? FAT16
                                                                        : FAT32);

        FAT_FS_PARAMS p;
        ASSERT_TRUE(
            fatFsParamsFromBootSector(lba, bytes, p, image.volumeLba() + image.volumeSectors()));
        EXPECT_EQ(p.startingLBA, lba);
        EXPECT_EQ(p.fatLBA, lba + f.reservedSectors);
        EXPECT_EQ(p.fatMirrLBA, p.fatLBA + spf);
        u32 rootSectors = f.rootEntries * 32 / 512;
        if (bits == 32) {
            EXPECT_EQ(p.rootCluster, toolNumber(info, "rootCluster"));
            EXPECT_EQ(p.rootDirectoryLBA, 0u);
            EXPECT_EQ(p.dataClusterLBA, p.fatMirrLBA + spf);
        } else {
            EXPECT_EQ(p.rootCluster, 0u);
            EXPECT_EQ(p.rootDirectoryLBA, p.fatMirrLBA + spf);
            EXPECT_EQ(p.dataClusterLBA, p.rootDirectoryLBA + rootSectors);
        }
        // An empty volume has every cluster free but the FAT32 root's.
        u64 free = freeClusters(image, f.sectorsPerCluster);
        EXPECT_EQ(p.get_cluster_count(), free + (bits == 32 ? 1 : 0));
        EXPECT_TRUE(p.isValidCluster(p.get_cluster_count() + 1));
        EXPECT_FALSE(p.isValidCluster(p.get_cluster_count() + 2));
        EXPECT_EQ(p.get_cluster_LBA(2), p.dataClusterLBA);

        // A source that ends one sector early cannot hold the volume.
        EXPECT_FALSE(fatFsParamsFromBootSector(lba, bytes, p,
                                               image.volumeLba() + image.volumeSectors() - 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, RealFatBootTest, ::testing::Values(12, 16, 32));

TEST(RealNtfsBootTest, BootSectorAndRecordAgreeWithNtfsinfo) {
    TempDir dir;
    for (u32 clusterBytes : {512u, 4096u}) {
        for (u32 lba : {0u, 63u}) {
            NtfsImageOptions o;
            o.clusterBytes = clusterBytes;
            o.partitionLba = lba;
            NtfsImage image(dir.file("ntfs.img"), o);
            std::string info = image.info();
            std::string sector = image.bootSector();
            const u8* bytes = reinterpret_cast<const u8*>(sector.data());

            BootParams boot;
            ASSERT_TRUE(readBootParams(bytes, boot)) << hexDump(bytes, 96);
            ASSERT_EQ(boot.kind, FS_NTFS);
            u32 spc = clusterBytes / 512;
            EXPECT_EQ(boot.ntfs.sectorsPerCluster, spc);
            EXPECT_EQ(boot.ntfs.MFTCluster, toolNumber(info, "LCN of Data Attribute for FILE_MFT"));
            EXPECT_EQ(boot.ntfs.MFTMirrCluster,
                      toolNumber(info, "LCN of Data Attribute for File_MFTMirr"));
            EXPECT_EQ(boot.ntfs.sectorsPerFileRecord, toolNumber(info, "MFT Record Size") / 512);
            // The last sector holds the backup boot sector and is not counted.
            EXPECT_EQ(boot.ntfs.totalSectors, image.volumeSectors() - 1);
            EXPECT_EQ(boot.ntfs.totalSectors / spc, toolNumber(info, "Volume Size in Clusters"));

            NTFS_FS_PARAMS p;
            ASSERT_TRUE(ntfsFsParamsFromBootSector(lba, bytes, p, lba + image.volumeSectors()));
            EXPECT_EQ(p.startingLBA, lba);
            EXPECT_EQ(p.sectorsPerCluster, spc);
            EXPECT_EQ(p.mftLCN, boot.ntfs.MFTCluster);
            EXPECT_EQ(p.mftMirrLCN, boot.ntfs.MFTMirrCluster);
            EXPECT_EQ(p.sectorsPerFileRecord, 2u);
            EXPECT_EQ(p.clusterLBA(p.mftLCN), lba + p.mftLCN * spc);

            // The backup at the volume's end says the same.
            std::string backup = readAt(image.volumePath(), (image.volumeSectors() - 1) * 512, 512);
            BootParams fromBackup;
            ASSERT_TRUE(readBootParams(reinterpret_cast<const u8*>(backup.data()), fromBackup));
            EXPECT_TRUE(equalBootParams(boot, fromBackup));
        }
    }
}

// ---- Reading FAT boot sectors, one field at a time ----

TEST(FatBootParamsTest, WorkedFat16Example) {
    Sector s = exampleFat16();
    FatBootParams f;
    ASSERT_TRUE(readFatBootParams(s.data(), f));
    EXPECT_EQ(f.totalSectors, 100000u);
    EXPECT_EQ(f.rootCluster, 0u);
    EXPECT_EQ(f.rootDirectoryLbaOffset, 401u);
    EXPECT_EQ(f.dataLbaOffset, 433u);

    FAT_FS_PARAMS p;
    ASSERT_TRUE(fatFsParamsFromBootSector(63, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(p.fatLBA, 64u);
    EXPECT_EQ(p.fatMirrLBA, 264u);
    EXPECT_EQ(p.rootDirectoryLBA, 464u);
    EXPECT_EQ(p.dataClusterLBA, 496u);
    EXPECT_EQ(p.rootEntries, 512u);
    EXPECT_EQ(p.rootCluster, 0u);
    EXPECT_EQ(p.fatType(), FAT16);
}

TEST(FatBootParamsTest, RefusesSectorsThatAreNoFatBootSector) {
    struct Case {
        const char* what;
        u32 offset;
        u32 width;
        u32 value;
    };
    for (Case c : {Case{"sector size 1024", 11, 2, 1024}, Case{"no signature", 510, 2, 0x55AA},
                   Case{"one FAT", 16, 1, 1}, Case{"three FATs", 16, 1, 3},
                   Case{"no cluster size", 13, 1, 0}, Case{"no sectors per FAT", 22, 2, 0}}) {
        Sector s = exampleFat16();
        Array a(s.data(), 512);
        if (c.width == 1)
            a.setU8(c.offset, static_cast<u8>(c.value));
        else
            a.setLE16(c.offset, static_cast<u16>(c.value));
        FatBootParams f;
        BootParams b;
        EXPECT_FALSE(readFatBootParams(s.data(), f)) << c.what;
        EXPECT_FALSE(readBootParams(s.data(), b)) << c.what;
        EXPECT_EQ(b.kind, FS_NONE) << c.what;
    }
    // Both total-sector fields 0.
    Sector s = fatBoot(1, 200, 512, 0, 4);
    FatBootParams f;
    EXPECT_FALSE(readFatBootParams(s.data(), f));
}

TEST(FatBootParamsTest, Fat32RootClusterTwoStartsTheDataArea) {
    Sector s = fatBoot(32, 1000, 0, 600000, 8, 2);
    FatBootParams f;
    ASSERT_TRUE(readFatBootParams(s.data(), f));
    EXPECT_EQ(f.rootCluster, 2u);
    EXPECT_EQ(f.dataLbaOffset, 2032u);
    EXPECT_EQ(f.rootDirectoryLbaOffset, f.dataLbaOffset);

    FAT_FS_PARAMS p;
    ASSERT_TRUE(fatFsParamsFromBootSector(2048, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(p.rootDirectoryLBA, 0u);
    EXPECT_EQ(p.rootCluster, 2u);
    EXPECT_EQ(p.dataClusterLBA, 2048u + 2032u);
    EXPECT_EQ(p.fatType(), FAT32);

    // Root cluster 5 lies three clusters into the data area.
    s = fatBoot(32, 1000, 0, 600000, 8, 5);
    ASSERT_TRUE(readFatBootParams(s.data(), f));
    EXPECT_EQ(f.rootDirectoryLbaOffset, 2032u + 24u);
}

// ---- Hostile values: each is refused, in 64-bit arithmetic, without sizing
// anything after it ----

TEST(FatBootParamsTest, RefusesRecordsWhoseNumbersDoNotAddUp) {
    FAT_FS_PARAMS p;
    // 2^31 sectors per FAT: two FATs alone pass 2^32 sectors.
    Sector s = fatBoot(32, 0x80000000u, 0, 0xFFFFFFFFu, 8);
    FatBootParams f;
    EXPECT_FALSE(readFatBootParams(s.data(), f));
    EXPECT_FALSE(fatFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE));

    // Sizes of FAT that give no width.
    for (u32 spf : {13u, 300u, 0x200001u}) {
        s = fatBoot(32, spf, 0, 0xF0000000u, 1);
        ASSERT_TRUE(readFatBootParams(s.data(), f)) << spf;
        EXPECT_FALSE(fatFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE)) << spf;
    }

    // A FAT32 root cluster below 2 names no cluster.
    for (u32 root : {0u, 1u}) {
        s = fatBoot(32, 1000, 0, 600000, 8, root);
        ASSERT_TRUE(readFatBootParams(s.data(), f));
        EXPECT_EQ(f.rootDirectoryLbaOffset, f.dataLbaOffset);
        EXPECT_FALSE(fatFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE)) << root;
    }

    // A root cluster so high that its offset passes 32 bits.
    s = fatBoot(32, 1000, 0, 600000, 128, 0x7FFFFFFF);
    EXPECT_FALSE(readFatBootParams(s.data(), f));

    // 2^32 - 1 sectors: the volume passes the source's end, and from LBA 63 on
    // also LBA 2^32 - 1.
    s = fatBoot(32, 0x200000, 0, 0xFFFFFFFFu, 64);
    EXPECT_FALSE(fatFsParamsFromBootSector(0, s.data(), p, 1u << 20));
    EXPECT_FALSE(fatFsParamsFromBootSector(63, s.data(), p, BIG_SOURCE));
    EXPECT_TRUE(fatFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE));

    // The data area at or past the last sector.
    s = fatBoot(1, 200, 512, 433, 4);
    EXPECT_FALSE(fatFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE));
    s = fatBoot(1, 200, 512, 434, 4);
    EXPECT_TRUE(fatFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(p.get_cluster_count(), 0u);
}

TEST(FatBootParamsTest, RefusingAnAbsurdBootSectorIsFast) {
    // Two boot sectors that would ask for gigabytes if a size were trusted: the
    // refusal must come long before any allocation or loop over the size.
    Sector a = fatBoot(32, 0x80000000u, 0, 0xFFFFFFFFu, 1);
    Sector b = fatBoot(1, 12, 512, 0xFFFFFFFFu, 1);
    auto start = std::chrono::steady_clock::now();
    FAT_FS_PARAMS p;
    for (int i = 0; i < 1000; ++i) {
        EXPECT_FALSE(fatFsParamsFromBootSector(0, a.data(), p, 2880));
        EXPECT_FALSE(fatFsParamsFromBootSector(0, b.data(), p, 2880));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(FatBootParamsTest, ClusterCountIsWhatTheFatCanAddress) {
    // 16 sectors of FAT16 hold 4096 entries: 4094 clusters, whatever the size.
    Sector s = fatBoot(1, 16, 512, 500000, 1);
    FAT_FS_PARAMS p;
    ASSERT_TRUE(fatFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(p.get_cluster_count(), 4094u);
    EXPECT_TRUE(p.isValidCluster(4095));
    EXPECT_FALSE(p.isValidCluster(4096));

    // 12 sectors of FAT12 hold 4096 entries, but FAT12 numbers at most 4084.
    s = fatBoot(1, 12, 224, 60000, 1);
    ASSERT_TRUE(fatFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(p.get_cluster_count(), 4084u);

    // A volume smaller than its FAT keeps its own count.
    s = fatBoot(1, 9, 224, 2880, 1);
    ASSERT_TRUE(fatFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(p.get_cluster_count(), 2880u - 33u);
}

TEST(FatFsParamsTest, ClustersAndTheirSectors) {
    Sector s = exampleFat16();
    FAT_FS_PARAMS p;
    ASSERT_TRUE(fatFsParamsFromBootSector(63, s.data(), p, BIG_SOURCE));
    u32 count = p.get_cluster_count();
    EXPECT_EQ(count, (100000u - 433u) / 4);
    EXPECT_FALSE(p.isValidCluster(0));
    EXPECT_FALSE(p.isValidCluster(1));
    EXPECT_TRUE(p.isValidCluster(2));
    EXPECT_TRUE(p.isValidCluster(count + 1));
    EXPECT_FALSE(p.isValidCluster(count + 2));
    EXPECT_EQ(p.get_cluster_LBA(3), 500u);

    // Outside the volume: logged, and still answered above 1.
    EXPECT_EQ(p.get_cluster_LBA(count + 2), 496u + 4ull * count);
    EXPECT_EQ(p.get_cluster_LBA(1), ~0ull);
    EXPECT_NE(logMemoryText().find("FAT_FS_PARAMS(22): FAT_FS_PARAMS::get_cluster_LBA: 1\n"),
              std::string::npos);

    FAT_FS_PARAMS zero = p;
    zero.sectorsPerCluster = 0;
    EXPECT_FALSE(zero.isValid());
    try {
        zero.get_cluster_count();
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "FAT_FS_PARAMS(8)");
    }

    FAT_FS_PARAMS copy = p;
    EXPECT_TRUE(copy == p);
    copy.rootCluster = 1;
    EXPECT_TRUE(copy != p);
}

TEST(FatFsParamsTest, TextHasTenLabelledLines) {
    Sector s = exampleFat16();
    FAT_FS_PARAMS p;
    ASSERT_TRUE(fatFsParamsFromBootSector(63, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(textOf(p), "Starting LBA: 63\n"
                         "Total Sectors: 100000\n"
                         "Sectors Per Cluster: 4\n"
                         "FAT LBA: 64\n"
                         "FATMirr LBA: 264\n"
                         "Sectors Per FAT: 200\n"
                         "Root Directory Entries: 512\n"
                         "Root Directory LBA: 464\n"
                         "Root Directory Cluster: 0\n"
                         "Data Cluster LBA: 496");
}

// ---- NTFS ----

TEST(NtfsBootParamsTest, RecordSizeFromTheClustersPerRecordByte) {
    NtfsBootParams n;
    Sector s = ntfsBoot(1000000, 8, 4, 500, 0xF6);
    ASSERT_TRUE(readNtfsBootParams(s.data(), n));
    EXPECT_EQ(n.sectorsPerFileRecord, 2); // 2^10 bytes
    s = ntfsBoot(1000000, 8, 4, 500, 0x01);
    ASSERT_TRUE(readNtfsBootParams(s.data(), n));
    EXPECT_EQ(n.sectorsPerFileRecord, 8); // one cluster
    // -128: the shift wraps to 0, 1 / 512 is 0, and the record is refused.
    s = ntfsBoot(1000000, 8, 4, 500, 0x80);
    ASSERT_TRUE(readNtfsBootParams(s.data(), n));
    EXPECT_EQ(n.sectorsPerFileRecord, 0);
    NTFS_FS_PARAMS p;
    EXPECT_FALSE(ntfsFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE));
}

TEST(NtfsBootParamsTest, RefusesSectorsThatAreNoNtfsBootSector) {
    struct Case {
        const char* what;
        u32 offset;
        u8 value;
    };
    for (Case c : {Case{"FAT count", 16, 2}, Case{"sectors per FAT", 22, 1},
                   Case{"OEM name", 3, 'X'}, Case{"signature", 510, 0}}) {
        Sector s = ntfsBoot(1000000, 8, 4, 500, 0xF6);
        s[c.offset] = c.value;
        NtfsBootParams n;
        EXPECT_FALSE(readNtfsBootParams(s.data(), n)) << c.what;
    }
}

TEST(NtfsBootParamsTest, BootParamsCompareByTheirFields) {
    Sector s = ntfsBoot(1000000, 8, 4, 500, 0xF6);
    BootParams a;
    BootParams b;
    ASSERT_TRUE(readBootParams(s.data(), a));
    EXPECT_EQ(a.kind, FS_NTFS);
    s[0x48] ^= 0xFF; // the serial number is no parameter
    ASSERT_TRUE(readBootParams(s.data(), b));
    EXPECT_TRUE(equalBootParams(a, b));
    s[0x30] = 5;
    ASSERT_TRUE(readBootParams(s.data(), b));
    EXPECT_FALSE(equalBootParams(a, b));

    // FAT against NTFS, and two records of no kind.
    Sector f = exampleFat16();
    BootParams fat;
    ASSERT_TRUE(readBootParams(f.data(), fat));
    EXPECT_FALSE(equalBootParams(a, fat));
    EXPECT_TRUE(equalBootParams(fat, fat));
    EXPECT_FALSE(equalBootParams(BootParams(), BootParams()));
}

TEST(NtfsFsParamsTest, ValidityAndPlacementInTheSource) {
    NTFS_FS_PARAMS p;
    Sector s = ntfsBoot(1000000, 8, 0, 0, 0xF6);
    EXPECT_FALSE(ntfsFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE));

    s = ntfsBoot(1000000, 8, 4, 62499, 0xF6);
    ASSERT_TRUE(ntfsFsParamsFromBootSector(63, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(p.get_cluster_count(), 125000u);
    EXPECT_EQ(p.clusterLBA(4), 63u + 32u);
    // The MFT beyond the source, its mirror inside: still usable.
    s = ntfsBoot(1000000, 8, 1u << 30, 4, 0xF6);
    EXPECT_TRUE(ntfsFsParamsFromBootSector(0, s.data(), p, 2000000));
    // The volume itself must lie in the source.
    s = ntfsBoot(1000000, 8, 4, 62499, 0xF6);
    EXPECT_FALSE(ntfsFsParamsFromBootSector(63, s.data(), p, 1000062));
    EXPECT_TRUE(ntfsFsParamsFromBootSector(63, s.data(), p, 1000063));
    s = ntfsBoot(~0ull, 8, 4, 62499, 0xF6);
    EXPECT_FALSE(ntfsFsParamsFromBootSector(63, s.data(), p, BIG_SOURCE));
    // Both beyond, or a cluster number that overflows 64 bits.
    s = ntfsBoot(1000000, 8, 1u << 30, 1u << 30, 0xF6);
    EXPECT_FALSE(ntfsFsParamsFromBootSector(0, s.data(), p, 2000000));
    s = ntfsBoot(1000000, 8, ~0ull, 0, 0xF6);
    EXPECT_FALSE(ntfsFsParamsFromBootSector(0, s.data(), p, BIG_SOURCE));
    EXPECT_EQ(p.clusterLBA(~0ull), ~0ull);

    p.sectorsPerCluster = 0;
    try {
        p.get_cluster_count();
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "NTFS_FS_PARAMS(17)");
    }
}

TEST(NtfsFsParamsTest, Text) {
    Sector s = ntfsBoot(1000000, 8, 4, 62499, 0xF6);
    NTFS_FS_PARAMS p;
    ASSERT_TRUE(ntfsFsParamsFromBootSector(63, s.data(), p, BIG_SOURCE));
    std::ostringstream os;
    os << p;
    EXPECT_EQ(os.str(), "Starting LBA: 63\n"
                        "Total Sectors: 1000000\n"
                        "Sectors Per Cluster: 8\n"
                        "MFT LCN: 4\n"
                        "MFTMirr LCN: 62499\n"
                        "Sectors Per File Record: 2");
}

TEST(BootParamsTextTest, KindThenFieldLines) {
    BootParams b;
    Sector s = exampleFat16();
    ASSERT_TRUE(readBootParams(s.data(), b));
    std::ostringstream os;
    os << b;
    EXPECT_EQ(os.str(), "FAT\n"
                        "totalSectors: 100000\n"
                        "sectorsPerCluster: 4\n"
                        "sectorsPerFAT: 200\n"
                        "reservedSectors: 1\n"
                        "rootCluster: 0\n"
                        "rootEntries: 512\n"
                        "dataLbaOffset: 433\n"
                        "rootDirectoryLbaOffset: 401\n");
    s = ntfsBoot(1000000, 8, 4, 62499, 0xF6);
    ASSERT_TRUE(readBootParams(s.data(), b));
    os.str("");
    os << b;
    EXPECT_EQ(os.str(), "NTFS\n"
                        "totalSectors: 1000000\n"
                        "sectorsPerCluster: 8\n"
                        "MFTCluster: 4\n"
                        "MFTMirrCluster: 62499\n"
                        "sectorsPerFileRecord: 2\n");
    os.str("");
    os << BootParams();
    EXPECT_EQ(os.str(), "");
}

TEST(DefaultClusterSizeTest, PublishedTables) {
    EXPECT_EQ(defaultSectorsPerCluster(2880, FAT12), 1);
    EXPECT_EQ(defaultSectorsPerCluster(8400, FAT16), 0);
    EXPECT_EQ(defaultSectorsPerCluster(8401, FAT16), 2);
    EXPECT_EQ(defaultSectorsPerCluster(4194304, FAT16), 64);
    EXPECT_EQ(defaultSectorsPerCluster(4194305, FAT16), 0);
    EXPECT_EQ(defaultSectorsPerCluster(66600, FAT32), 0);
    EXPECT_EQ(defaultSectorsPerCluster(532480, FAT32), 1);
    EXPECT_EQ(defaultSectorsPerCluster(532481, FAT32), 8);
    EXPECT_EQ(defaultSectorsPerCluster(0xFFFFFFFF, FAT32), 64);
    EXPECT_EQ(defaultSectorsPerCluster(100000, FAT16_32), 0);
    EXPECT_EQ(defaultSectorsPerCluster(100000, FAT_NONE), 0);
}
