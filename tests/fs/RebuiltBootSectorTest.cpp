// Boot sectors made up from what the scan placed of a volume when no boot
// sector of it was found: real volumes (mkfs.fat, mkntfs) described by hand as
// the candidate collection would describe them, whose made-up boot sector must
// give back the volume's own parameters; and the defaults for what the
// evidence does not tell. The builders' found-boot-sector path is tested with
// the parameter records (FsCandidateTest).

#include "fs/RebuiltBootSector.h"

#include "core/Array.h"
#include "core/Log.h"
#include "fs/FsCandidate.h"
#include "fs/Params.h"
#include "fs/StructureChecks.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"
#include "tests/support/VolumeEvidence.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

using namespace testutil;

namespace {

using Sector = std::array<u8, 512>;

const u8* rawBytes(const std::string& s) {
    return reinterpret_cast<const u8*>(s.data());
}

std::string text(const Sector& s, u32 offset, u32 n) {
    return std::string(reinterpret_cast<const char*>(s.data() + offset), n);
}

// The log written while `f` runs.
template <typename F> std::string logOf(F f) {
    const std::size_t mark = logMemoryText().size();
    f();
    return logMemoryText().substr(mark);
}

// A driver over zeros: the builders only read its properties.
struct ZeroDrive {
    ZeroDrive() : reader(new MemoryReader(std::string(8192 * 512, '\0'))), driver(reader, 512) {}
    SharedPtr<dt::Reader> reader;
    Driver driver;
};

bool formFat(const FsCandidate& c, Sector& s, Driver& driver, FatType type) {
    return type == FAT32 ? DL::formBootSectorFat32(c, s.data(), driver)
                         : DL::formBootSectorFat16(c, s.data(), driver, type == FAT12);
}

} // namespace

TEST(RebuiltBootSectorTest, FatVolumesComeBackFromTheirFatsAndDirectories) {
    TempDir dir;
    struct Case {
        int bits;
        u32 sizeKiB;
        u32 lba;
        bool grid;
    };
    // A floppy has no subdirectory grid to give its cluster size: the default
    // of FAT12 is what mkfs.fat gives it too.
    for (Case k : {Case{12, 1440, 0, false}, Case{16, 20000, 2048, true}, Case{32, 40000, 63, true},
                   Case{32, 300000, 0, true}}) {
        SCOPED_TRACE(k.bits);
        FatImageOptions o;
        o.fatBits = k.bits;
        o.sizeKiB = k.sizeKiB;
        o.partitionLba = k.lba;
        FatImage image(dir.file("fat.img"), o);
        image.makeFolder("docs");
        SharedPtr<Driver> driver = openImageDriver(image.path());
        const std::string boot = image.bootSector();
        FAT_FS_PARAMS expected;
        ASSERT_TRUE(
            fatFsParamsFromBootSector(k.lba, rawBytes(boot), expected, driver->getSectorCount()));
        if (k.lba == 0) {
            driver->getProperties().setUInt8(PROP_USES_PARTITION_TABLES, 0);
            driver->getProperties().setUInt8(PROP_IS_FLOPPY, k.bits == 12);
        }

        FsCandidate c = fatEvidenceOf(expected, k.grid);
        Sector s{};
        ASSERT_TRUE(formFat(c, s, *driver, expected.fatType()));
        FAT_FS_PARAMS p;
        ASSERT_TRUE(fatFsParamsFromBootSector(k.lba, s.data(), p, driver->getSectorCount()))
            << hexDump(s.data(), 96);
        EXPECT_TRUE(p == expected) << p << "\n--\n" << expected;
        ConstArray a(s.data(), 512);
        // Hidden sectors: from the MBR; without tables none for FAT12, else 63.
        EXPECT_EQ(a.getLE32(0x1C), k.lba != 0 ? k.lba : k.bits == 12 ? 0 : 63);
        EXPECT_EQ(a.getU8(0x15), k.bits == 12 ? 0xF0 : 0xF8);

        // Without the grid the FAT32 root cluster and the FAT size still come
        // from the FATs and the root directory.
        if (k.bits == 32) {
            c.hasSubDirs = false;
            s.fill(0);
            ASSERT_TRUE(DL::formBootSectorFat32(c, s.data(), *driver));
            FatBootParams b;
            ASSERT_TRUE(readFatBootParams(s.data(), b));
            EXPECT_EQ(b.sectorsPerFAT, expected.sectorsPerFAT);
            EXPECT_EQ(b.reservedSectors, expected.fatLBA - k.lba);
        }
    }
}

TEST(RebuiltBootSectorTest, Fat16DefaultsForWhatNothingTells) {
    ZeroDrive z;
    FsCandidate c;
    c.startLBA = 63;
    c.layoutSectors = 40000;
    Sector s{};
    const std::string log =
        logOf([&] { ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), z.driver, false)); });
    EXPECT_NE(log.find("DL(457): bClustSize set to default 4\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DL(463): wResSects set to default 1\n"), std::string::npos);
    EXPECT_NE(log.find("DL(482): wRootEntries set to default 512\n"), std::string::npos);
    // Root 32 sectors; (40000 - 33) / 4 + 2 = 9993 entries of two bytes.
    EXPECT_NE(log.find("DL(508): wFatSects set to default 40\n"), std::string::npos);
    EXPECT_EQ(log.find("DL(512)"), std::string::npos);
    FatBootParams b;
    ASSERT_TRUE(readFatBootParams(s.data(), b));
    EXPECT_EQ(b.totalSectors, 40000u);
    EXPECT_EQ(b.sectorsPerCluster, 4u);
    EXPECT_EQ(b.reservedSectors, 1u);
    EXPECT_EQ(b.rootEntries, 512u);
    EXPECT_EQ(b.sectorsPerFAT, 40u);
    EXPECT_EQ(text(s, 0x36, 8), "FAT16   ");
    EXPECT_EQ(s[0x26], 0x29);
    EXPECT_EQ(s[0x24], 0x80);
    EXPECT_EQ(std::memcmp(s.data() + 3, "\0\0\0\0\0\0\0\0", 8), 0); // the name stays

    // A root directory gives the FAT size; FATs placed give it outright, and a
    // size other than the formula's is noted.
    c.hasRootDir = true;
    c.rootDirLBA = 63 + 1 + 2 * 50;
    std::string more =
        logOf([&] { ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), z.driver, false)); });
    EXPECT_NE(more.find("DL(505): wFatSects set to default 50 root directory\n"), std::string::npos)
        << more;
    EXPECT_NE(more.find("DL(512): new_b->wFatSects != SectorsPerFAT 40\n"), std::string::npos);
    c.hasFats = true;
    c.fatLBA = 63 + 4;
    c.fatSectors = 40;
    more = logOf([&] { ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), z.driver, false)); });
    EXPECT_EQ(more.find("DL(463)"), std::string::npos);
    EXPECT_EQ(more.find("DL(505)"), std::string::npos);
    ASSERT_TRUE(readFatBootParams(s.data(), b));
    EXPECT_EQ(b.reservedSectors, 4u);
    EXPECT_EQ(b.sectorsPerFAT, 40u);

    // With a grid the root directory's size is what lies before cluster 2.
    c.hasSubDirs = true;
    c.sectorsPerCluster = 8;
    c.cluster2LBA = c.fatLBA + 80 + 16;
    more = logOf([&] { ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), z.driver, false)); });
    EXPECT_EQ(more.find("DL(482)"), std::string::npos);
    EXPECT_EQ(more.find("DL(457)"), std::string::npos);
    ASSERT_TRUE(readFatBootParams(s.data(), b));
    EXPECT_EQ(b.rootEntries, 256u);
    EXPECT_EQ(b.sectorsPerCluster, 8u);
    EXPECT_EQ(b.dataLbaOffset, c.cluster2LBA - 63);
    // A grid whose data area starts before the FATs end says nothing of the root.
    c.cluster2LBA = c.fatLBA + 80;
    more = logOf([&] { ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), z.driver, false)); });
    EXPECT_NE(more.find("DL(482): wRootEntries set to default 512"), std::string::npos);
}

TEST(RebuiltBootSectorTest, SizesWithoutAPublishedClusterSize) {
    ZeroDrive z;
    FsCandidate c;
    Sector s{};
    // The FAT16 table has no cluster size below 8400 sectors: the smallest
    // that numbers the clusters is taken rather than a 0 no reader accepts.
    c.layoutSectors = 8000;
    std::string log =
        logOf([&] { ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), z.driver, false)); });
    EXPECT_NE(log.find("DL(457): bClustSize set to default 1\n"), std::string::npos) << log;
    // Nor above 4 GiB-ish for FAT16, nor below 66601 sectors for FAT32.
    c.layoutSectors = 5000000;
    log = logOf([&] { ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), z.driver, false)); });
    EXPECT_NE(log.find("DL(457): bClustSize set to default 128\n"), std::string::npos) << log;
    c.layoutSectors = 60000;
    s.fill(0);
    log = logOf([&] { ASSERT_TRUE(DL::formBootSectorFat32(c, s.data(), z.driver)); });
    EXPECT_NE(log.find("DL(595): bClustSize set to default 1\n"), std::string::npos) << log;

    // FAT12 floppy: what mkfs.fat makes of 2880 sectors.
    c.layoutSectors = 2880;
    s.fill(0);
    log = logOf([&] { ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), z.driver, true)); });
    FatBootParams b;
    ASSERT_TRUE(readFatBootParams(s.data(), b));
    EXPECT_EQ(b.sectorsPerCluster, 1u);
    EXPECT_EQ(b.rootEntries, 224u);
    EXPECT_EQ(b.sectorsPerFAT, 9u);
    EXPECT_NE(log.find("DL(482): wRootEntries set to default 224\n"), std::string::npos);

    // Outside a layout the largest plausible size stands in; with none, there is
    // nothing to build and the buffer is left alone.
    c.layoutSectors = 0;
    c.maxSectors = 2880;
    s.fill(0);
    ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), z.driver, true));
    ASSERT_TRUE(readFatBootParams(s.data(), b));
    EXPECT_EQ(b.totalSectors, 2880u);
    c.maxSectors = 0;
    s.fill(0x5A);
    const Sector before = s;
    EXPECT_FALSE(DL::formBootSectorFat16(c, s.data(), z.driver, false));
    EXPECT_FALSE(DL::formBootSectorFat32(c, s.data(), z.driver));
    EXPECT_FALSE(DL::formBootSectorNtfs(c, s.data(), z.driver));
    EXPECT_EQ(s, before);
}

TEST(RebuiltBootSectorTest, Fat32DefaultsForWhatNothingTells) {
    ZeroDrive z;
    FsCandidate c;
    c.startLBA = 2048;
    c.layoutSectors = 80000;
    Sector s{};
    std::string log = logOf([&] { ASSERT_TRUE(DL::formBootSectorFat32(c, s.data(), z.driver)); });
    EXPECT_NE(log.find("DL(595): bClustSize set to default 1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DL(601): wResSects set to default 32\n"), std::string::npos);
    // (80000 - 33) / ((256 + 2) / 2) rounded up.
    EXPECT_NE(log.find("DL(649): FAT32.lFatSects set to default 620 docs\n"), std::string::npos);
    EXPECT_NE(log.find("DL(666): FAT32.lRootCluster set to default 2\n"), std::string::npos);
    ConstArray a(s.data(), 512);
    EXPECT_EQ(a.getLE16(0x11), 0);
    EXPECT_EQ(a.getLE16(0x13), 0);
    EXPECT_EQ(a.getLE32(0x20), 80000u);
    EXPECT_EQ(a.getLE32(0x24), 620u);
    EXPECT_EQ(a.getLE16(0x28), 0);
    EXPECT_EQ(a.getLE16(0x30), 1);
    EXPECT_EQ(a.getLE16(0x32), 6);
    EXPECT_EQ(a.getLE32(0x1C), 2048u); // parent table at 0
    EXPECT_EQ(a.getLE16(0x18), 63);    // the repair geometry's defaults
    EXPECT_EQ(a.getLE16(0x1A), 255);
    EXPECT_EQ(text(s, 0x52, 8), "FAT32   ");

    // The root directory gives the FAT size and its own cluster.
    c.hasRootDir = true;
    c.rootDirLBA = 2048 + 32 + 2 * 600 + 3;
    log = logOf([&] { ASSERT_TRUE(DL::formBootSectorFat32(c, s.data(), z.driver)); });
    EXPECT_NE(log.find("DL(645): FAT32.lFatSects set to default 601 root directory\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("DL(652): new_b->FAT32.lFatSects != FATSz 620\n"), std::string::npos);
    EXPECT_EQ(log.find("DL(666)"), std::string::npos);
    EXPECT_EQ(a.getLE32(0x2C), 3u); // 2048 + 32 + 1202 = cluster 2, one sector per cluster
}

TEST(RebuiltBootSectorTest, HiddenSectorsFollowThePartitionTables) {
    ZeroDrive z;
    FsCandidate c;
    c.startLBA = 5000;
    c.parentTableLBA = 4937; // an extended boot record
    c.layoutSectors = 40000;
    c.hasNtfsVolume = true;
    c.mftLBA = 5000 + 32;
    c.mftMirrLBA = 5000 + 16000;
    c.ntfsSectorsPerCluster = 8;
    c.sectorsPerFileRecord = 2;
    Sector s{};
    ConstArray a(s.data(), 512);
    struct Case {
        FatType type;
        bool ntfs;
        u32 without;
    };
    for (Case k : {Case{FAT12, false, 0}, Case{FAT16, false, 63}, Case{FAT32, false, 63},
                   Case{FAT_NONE, true, 63}}) {
        z.driver.getProperties().setUInt8(PROP_USES_PARTITION_TABLES, 1);
        s.fill(0);
        ASSERT_TRUE(k.ntfs ? DL::formBootSectorNtfs(c, s.data(), z.driver)
                           : formFat(c, s, z.driver, k.type));
        EXPECT_EQ(a.getLE32(0x1C), 63u) << k.type;
        z.driver.getProperties().setUInt8(PROP_USES_PARTITION_TABLES, 0);
        s.fill(0);
        ASSERT_TRUE(k.ntfs ? DL::formBootSectorNtfs(c, s.data(), z.driver)
                           : formFat(c, s, z.driver, k.type));
        EXPECT_EQ(a.getLE32(0x1C), k.without) << k.type;
    }
}

TEST(RebuiltBootSectorTest, NtfsVolumesComeBackFromTheirMftPlacement) {
    TempDir dir;
    for (u32 clusterBytes : {4096u, 512u}) {
        SCOPED_TRACE(clusterBytes);
        NtfsImageOptions o;
        o.partitionLba = 63;
        o.clusterBytes = clusterBytes;
        NtfsImage image(dir.file("ntfs.img"), o);
        const std::string boot = image.bootSector();
        SharedPtr<Driver> driver = openImageDriver(image.path());
        NTFS_FS_PARAMS expected;
        ASSERT_TRUE(
            ntfsFsParamsFromBootSector(63, rawBytes(boot), expected, driver->getSectorCount()));

        FsCandidate c = ntfsEvidenceOf(expected, static_cast<u32>(image.volumeSectors()));
        c.hasPartitionEntry = true;
        c.partitionType = 0x07;
        Sector s{};
        ASSERT_TRUE(DL::formBootSectorNtfs(c, s.data(), *driver));
        NTFS_FS_PARAMS p;
        ASSERT_TRUE(ntfsFsParamsFromBootSector(63, s.data(), p, driver->getSectorCount()));
        EXPECT_TRUE(p == expected) << p << "\n--\n" << expected;
        // The fields mkntfs writes come back byte for byte.
        EXPECT_EQ(hexDump(s.data(), 0x48), hexDump(boot.data(), 0x48));
    }
}

TEST(RebuiltBootSectorTest, NtfsWithoutItsVolumePlaced) {
    ZeroDrive z;
    FsCandidate c;
    c.startLBA = 2048;
    c.layoutSectors = 300000;
    Sector s{};
    ConstArray a(s.data(), 512);
    std::string log = logOf([&] { ASSERT_TRUE(DL::formBootSectorNtfs(c, s.data(), z.driver)); });
    EXPECT_NE(log.find("DL(809): bClustSize set to default 2\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DL(879): MFT_data_LCN_u64 not set\n"), std::string::npos);
    EXPECT_EQ(a.getLE64(0x28), 299999u);
    EXPECT_EQ(a.getLE32(0x24), 0x00800080u);
    EXPECT_EQ(a.getLE32(0x44), 4u);
    EXPECT_EQ(text(s, 3, 8), "NTFS    ");
    EXPECT_EQ(s[0], 0xEB);
    EXPECT_EQ(s[1], 0x52);
    // No MFT: no record comes of it.
    NTFS_FS_PARAMS p;
    EXPECT_FALSE(ntfsFsParamsFromBootSector(2048, s.data(), p, 1u << 30));

    // Over a sector that still holds its cluster size and MFT fields, those stay.
    s.fill(0);
    s[0x0D] = 16;
    s[0x30] = 0x21;
    s[0x38] = 0x42;
    s[0x40] = 0xF6;
    log = logOf([&] { ASSERT_TRUE(DL::formBootSectorNtfs(c, s.data(), z.driver)); });
    EXPECT_NE(log.find("DL(811): bClustSize not set (left 16)\n"), std::string::npos) << log;
    EXPECT_EQ(a.getLE64(0x30), 0x21u);
    EXPECT_EQ(a.getLE64(0x38), 0x42u);
    EXPECT_EQ(a.getLE32(0x40), 0xF6u);
    EXPECT_EQ(a.getLE32(0x44), 1u);
    ASSERT_TRUE(ntfsFsParamsFromBootSector(2048, s.data(), p, 1u << 30));
    EXPECT_EQ(p.sectorsPerCluster, 16u);
    EXPECT_EQ(p.sectorsPerFileRecord, 2u);
}

TEST(RebuiltBootSectorTest, NtfsPlacementsNoBootSectorCanSay) {
    ZeroDrive z;
    FsCandidate c;
    c.startLBA = 100;
    c.layoutSectors = 40000;
    c.hasNtfsVolume = true;
    c.mftLBA = 132;
    c.mftMirrLBA = 20100;
    c.ntfsSectorsPerCluster = 3; // two records apart by something odd
    c.sectorsPerFileRecord = 2;
    Sector s{};
    s.fill(0x11);
    const Sector before = s;
    EXPECT_FALSE(DL::formBootSectorNtfs(c, s.data(), z.driver));
    c.ntfsSectorsPerCluster = 256;
    EXPECT_FALSE(DL::formBootSectorNtfs(c, s.data(), z.driver));
    c.ntfsSectorsPerCluster = 8;
    c.sectorsPerFileRecord = 3;
    EXPECT_FALSE(DL::formBootSectorNtfs(c, s.data(), z.driver));
    EXPECT_EQ(s, before);

    // A record of whole clusters, and one of a size in bytes with the log line.
    c.ntfsSectorsPerCluster = 1;
    c.sectorsPerFileRecord = 2;
    ASSERT_TRUE(DL::formBootSectorNtfs(c, s.data(), z.driver));
    ConstArray a(s.data(), 512);
    EXPECT_EQ(a.getLE32(0x40), 2u);
    EXPECT_EQ(a.getLE64(0x30), 32u);
    EXPECT_EQ(a.getLE64(0x38), 20000u);
    c.ntfsSectorsPerCluster = 8;
    const std::string log =
        logOf([&] { ASSERT_TRUE(DL::formBootSectorNtfs(c, s.data(), z.driver)); });
    EXPECT_NE(log.find("DL(861): clusters_per_file_record_u32 set to 246 (sectorsPerFileRecord = "
                       "2, bClustSize = 8)\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(a.getLE64(0x30), 4u);
    EXPECT_EQ(a.getLE64(0x38), 2500u);
    // What was no jump gets one.
    EXPECT_EQ(s[0], 0xEB);
    EXPECT_EQ(s[2], 0x90);
}
