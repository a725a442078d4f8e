// Boot sectors the layout repair makes for a candidate: from the boot sector the
// scan found, keeping what the sector holds that the builder has no say on; or,
// without one, from what the scan placed of the volume, where a real volume
// described as the collection would describe it must come back with its own
// parameters, and what the evidence does not tell is a logged default.

#include "fs/RebuiltBootSector.h"

#include "core/Array.h"
#include "fs/FatLayout.h"
#include "fs/FsCandidate.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FatBytes.h"
#include "tests/support/FatCorpus.h"
#include "tests/support/VolumeEvidence.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace testutil;

namespace {

// A driver over zeros: the builders only read its properties.
SharedPtr<Driver> zeroDriver() {
    return openMemoryDriver(std::string(8192 * 512, '\0'));
}

bool formFat(const FsCandidate& c, Sector& s, Driver& driver, FatType type) {
    return type == FAT32 ? DL::formBootSectorFat32(c, s.data(), driver)
                         : DL::formBootSectorFat16(c, s.data(), driver, type == FAT12);
}

std::string textAt(const Sector& s, u32 offset) {
    return std::string(reinterpret_cast<const char*>(s.data() + offset), BS_FS_TYPE_BYTES);
}

} // namespace

TEST(RebuiltBootSectorTest, FatVolumesComeBackFromTheirFatsAndDirectories) {
    for (int bits : {12, 16, 32}) {
        SCOPED_TRACE(bits);
        const FatCorpus& v = fatCorpus(bits);
        SharedPtr<Driver> driver = openImageDriver(v.path);
        if (v.volumeLba() == 0) {
            driver->getProperties().setUInt8(PROP_USES_PARTITION_TABLES, 0);
            driver->getProperties().setUInt8(PROP_IS_FLOPPY, bits == 12);
        }
        // A floppy has no grid of subdirectories: FAT12's default cluster size
        // is what mkfs.fat gives it too.
        FsCandidate c = fatEvidenceOf(v.params, bits != 12);
        Sector s{};
        ASSERT_TRUE(formFat(c, s, *driver, v.params.fatType()));
        FAT_FS_PARAMS p;
        ASSERT_TRUE(fatFsParamsFromBootSector(v.volumeLba(), s.data(), p, driver->getSectorCount()))
            << hexDump(s.data(), 96);
        EXPECT_TRUE(p == v.params) << p << "\n--\n" << v.params;
        if (bits == 32) {
            // Without the grid, the FATs and the root directory still tell.
            c.hasSubDirs = false;
            s.fill(0);
            ASSERT_TRUE(DL::formBootSectorFat32(c, s.data(), *driver));
            ASSERT_TRUE(
                fatFsParamsFromBootSector(v.volumeLba(), s.data(), p, driver->getSectorCount()));
            EXPECT_TRUE(p == v.params) << p << "\n--\n" << v.params;
        }
    }
}

TEST(RebuiltBootSectorTest, WhatNothingTellsIsALoggedDefaultThatStillReads) {
    using Fields = std::tuple<u32, u32, u32, u32, u32, u32>;
    struct Case {
        FatType type;
        u32 size; // the layout's, else the largest plausible one
        bool layout;
        u32 rootDir;  // the LBA of a root directory placed, or 0
        u32 cluster2; // a grid's cluster 2 behind FATs at 67 of 2 x 40 sectors, or 0
        const char* logged;
        // Total sectors, cluster size, sectors per FAT, reserved, root entries and
        // root cluster of the boot sector made.
        Fields fields;
    };
    const Case cases[] = {
        // Root 32 sectors; (40000 - 33) / 4 + 2 = 9993 entries of two bytes.
        {FAT16, 40000, true, 0, 0, "DL(457)DL(463)DL(482)DL(508)", {40000, 4, 40, 1, 512, 0}},
        {FAT16, 40000, true, 63 + 1 + 2 * 50, 0, "DL(505)DL(512)", {40000, 4, 50, 1, 512, 0}},
        // The root is what lies between the FATs and cluster 2.
        {FAT16, 40000, true, 0, 67 + 80 + 16, "", {40000, 8, 40, 4, 256, 0}},
        // No published cluster size: the smallest that numbers the clusters.
        {FAT16, 8000, true, 0, 0, "DL(457)", {8000, 1, 32, 1, 512, 0}},
        {FAT16, 5000000, true, 0, 0, "DL(457)", {5000000, 128, 153, 1, 512, 0}},
        {FAT12, 2880, false, 0, 0, "DL(482)", {2880, 1, 9, 1, 224, 0}},
        // The width asked for is the count's: FAT12 numbers 4,084 clusters at
        // most, FAT16 has 4,085 at least (here the source's end cut it short).
        {FAT12,
         60000,
         false,
         0,
         0,
         "DL(457)DL(463)DL(482)DL(508)",
         {367 + 4084, 1, 176, 1, 224, 0}},
        {FAT16, 4000, false, 0, 0, "DL(457)DL(463)DL(482)DL(508)", {65 + 4085, 1, 16, 1, 512, 0}},
        {FAT32, 60000, true, 0, 0, "DL(595)", {60000, 1, 465, 32, 0, 2}},
        // (80000 - 33) / ((256 + 2) / 2) rounded up.
        {FAT32, 80000, true, 0, 0, "DL(601)DL(649)DL(666)", {80000, 1, 620, 32, 0, 2}},
        {FAT32, 80000, true, 63 + 32 + 2 * 600 + 3, 0, "DL(645)DL(652)", {80000, 1, 601, 32, 0, 3}},
    };
    SharedPtr<Driver> driver = zeroDriver();
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.type) + " " + std::to_string(k.size) + " " + k.logged);
        FsCandidate c;
        c.startLBA = 63;
        (k.layout ? c.layoutSectors : c.maxSectors) = k.size;
        c.hasRootDir = k.rootDir != 0;
        c.rootDirLBA = k.rootDir;
        c.hasFats = c.hasSubDirs = k.cluster2 != 0;
        c.fatLBA = 67;
        c.fatSectors = 40;
        c.sectorsPerCluster = 8;
        c.cluster2LBA = k.cluster2;
        Sector s{};
        LogCapture log;
        ASSERT_TRUE(formFat(c, s, *driver, k.type));
        for (std::string tags = k.logged; !tags.empty(); tags.erase(0, 7))
            EXPECT_TRUE(log.has(tags.substr(0, 7) + ": ")) << tags.substr(0, 7) << log.text();
        FatBootParams b;
        ASSERT_TRUE(readFatBootParams(s.data(), b)) << hexDump(s.data(), 96);
        EXPECT_EQ(Fields(b.totalSectors, b.sectorsPerCluster, b.sectorsPerFAT, b.reservedSectors,
                         b.rootEntries, b.rootCluster),
                  k.fields);
        EXPECT_EQ(b.fatType(), k.type);
    }
    // With no size at all there is nothing to build: the buffer stays as it was.
    Sector s;
    s.fill(0x5A);
    const Sector before = s;
    EXPECT_FALSE(DL::formBootSectorFat16(FsCandidate(), s.data(), *driver, false));
    EXPECT_FALSE(DL::formBootSectorFat32(FsCandidate(), s.data(), *driver));
    EXPECT_FALSE(DL::formBootSectorNtfs(FsCandidate(), s.data(), *driver));
    EXPECT_EQ(s, before);
}

TEST(RebuiltBootSectorTest, AFoundBootSectorKeepsWhatTheBuilderHasNoSayOn) {
    SharedPtr<Driver> driver = zeroDriver();
    BootParams boot;
    boot.kind = FS_FAT;
    boot.fat = {100000, 4, 200, 1, 512, 0, 433, 401};
    FsCandidate c;
    c.startLBA = 63;
    c.hasBootSector = true;
    c.bootSector = boot;
    driver->getProperties().setUInt8(PROP_IS_FLOPPY, 1);
    driver->getProperties().setUInt64(PROP_REPAIR_SECTORS, 18);
    driver->getProperties().setUInt64(PROP_REPAIR_HEADS, 2);
    Sector s{};
    Array a(s.data(), 512);
    a.setU8(BS_JUMP, BS_JUMP_NEAR);
    a.setU8(BS_JUMP + 1, 0x12);
    a.setU8(BS16_DRIVE_NUMBER, 0x81);
    a.write(BS16_FS_TYPE, "MYFS    ", 8);
    ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), *driver, false));
    EXPECT_EQ(a.getLE16(BS_JUMP), 0x12E9); // kept: it is a jump
    EXPECT_EQ(a.getU8(BS_MEDIA), MEDIA_FLOPPY);
    EXPECT_EQ(a.getLE16(BS_SECTORS_PER_TRACK), 18); // the user's geometry
    EXPECT_EQ(a.getLE16(BS_HEADS), 2);
    EXPECT_EQ(a.getLE32(BS_HIDDEN_SECTORS), 63u); // from the table at LBA 0
    EXPECT_EQ(a.getU8(BS16_DRIVE_NUMBER), 0x81);
    EXPECT_EQ(a.getU8(BS16_SIGNATURE), BS_EXTENDED_SIGNATURE);
    EXPECT_EQ(textAt(s, BS16_FS_TYPE), "MYFS    ");
    // Now the sector is the found boot sector: it stays as it stands, an
    // unreadable type name too, but for a broken jump.
    s[BS16_FS_TYPE] = '-';
    a.setLE16(BS_JUMP, 0);
    Sector held = s;
    held[BS_JUMP] = BS_JUMP_SHORT;
    held[BS_JUMP + 2] = BS_NOP;
    ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), *driver, false));
    EXPECT_EQ(hexDump(s.data(), 512), hexDump(held.data(), 512));
    // Over a sector that says something else, such a name gives way.
    a.setU8(BS_SECTORS_PER_CLUSTER, 8);
    ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), *driver, false));
    EXPECT_EQ(textAt(s, BS16_FS_TYPE), "FAT16   ");
    // The builders of the other layouts refuse it.
    EXPECT_FALSE(DL::formBootSectorFat32(c, s.data(), *driver));
    EXPECT_FALSE(DL::formBootSectorNtfs(c, s.data(), *driver));
    // Hidden sectors count from the table that describes the volume, or are a
    // fixed value on a drive without tables (none for FAT12).
    c = FsCandidate();
    c.startLBA = 5000;
    c.parentTableLBA = 4937;
    c.layoutSectors = 40000;
    for (auto k : {std::make_tuple(FAT12, 1, 63u), std::make_tuple(FAT12, 0, 0u),
                   std::make_tuple(FAT16, 0, 63u), std::make_tuple(FAT32, 0, 63u)}) {
        driver->getProperties().setUInt8(PROP_USES_PARTITION_TABLES, std::get<1>(k));
        ASSERT_TRUE(formFat(c, s, *driver, std::get<0>(k)));
        EXPECT_EQ(a.getLE32(BS_HIDDEN_SECTORS), std::get<2>(k)) << std::get<0>(k);
    }
}

// A found boot sector of larger sectors or of one FAT: the image places every
// area where the volume has it (a FAT32 backup found 12 sectors in says
// sectors of 1024 bytes), in 512-byte sectors, or in the volume's own where a
// cluster is more of ours than its byte states.
TEST(RebuiltBootSectorTest, AFoundBootSectorOfLargerSectorsIsRestatedInOurs) {
    struct Row {
        const char* what;
        u32 sectorBytes;
        u32 clusterSize;
        u32 fats;
        u32 rootEntries;
        bool built;
    };
    const Row rows[] = {
        {"4096-byte sectors, one FAT", 4096, 4, 1, 512, true},
        {"a root of 100 entries in a sector of 4096 bytes", 4096, 1, 2, 100, true},
        {"FAT32 of 1024-byte sectors, one FAT", 1024, 1, 1, 0, true},
        {"clusters of 32 sectors of 4096 bytes", 4096, 32, 2, 512, true},
        {"FAT32 clusters of 64 sectors of 4096 bytes", 4096, 64, 2, 0, true},
    };
    SharedPtr<Driver> driver = zeroDriver();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Sector found = r.rootEntries != 0 ? fatBootSector(4, 4, r.rootEntries, 16384, r.clusterSize)
                                          : fatBootSector(32, 300, 0, 70000, r.clusterSize);
        Array f(found.data(), 512);
        f.setLE16(BS_BYTES_PER_SECTOR, static_cast<u16>(r.sectorBytes));
        f.setU8(BS_FAT_COUNT, static_cast<u8>(r.fats));
        FsCandidate c;
        c.hasBootSector = c.hasBootBackup = true;
        ASSERT_TRUE(readBootParams(found.data(), c.bootSector));
        c.bootBackup = c.bootSector;
        c.bootBackupLBA = FAT32_BACKUP_SECTOR * r.sectorBytes / 512;
        Sector s{};
        LogCapture log;
        ASSERT_EQ(formFat(c, s, *driver, c.bootSector.fat.fatType()), r.built);
        if (!r.built) {
            EXPECT_TRUE(log.has("RebuiltBootSector(4): ")) << log.text();
            continue;
        }
        FAT_FS_PARAMS want, made;
        ASSERT_TRUE(fatFsParamsFromBootSector(0, found.data(), want, 1ull << 32));
        ASSERT_TRUE(fatFsParamsFromBootSector(0, s.data(), made, 1ull << 32));
        EXPECT_GE(made.rootEntries, want.rootEntries);
        made.rootEntries = want.rootEntries;
        EXPECT_TRUE(made == want) << made << "\n--\n" << want;
        // The image's sectors, and the information sector and backup in them.
        const Array a(s.data(), 512);
        if (r.clusterSize * r.sectorBytes > 255 * 512) {
            EXPECT_EQ(a.getLE16(BS_BYTES_PER_SECTOR), r.sectorBytes);
        }
        if (r.rootEntries == 0) {
            const u32 scale = r.sectorBytes / a.getLE16(BS_BYTES_PER_SECTOR);
            EXPECT_EQ(a.getLE16(BS32_FSINFO_SECTOR), FAT32_FSINFO_SECTOR * scale);
            EXPECT_EQ(a.getLE16(BS32_BACKUP_SECTOR), FAT32_BACKUP_SECTOR * scale);
        }
    }
}

TEST(RebuiltBootSectorTest, AnNtfsVolumeComesBackFromItsMftPlacement) {
    TempDir dir;
    NtfsImageOptions o;
    o.partitionLba = 63;
    NtfsImage image(dir.file("ntfs.img"), o);
    const std::string boot = image.bootSector();
    SharedPtr<Driver> driver = openImageDriver(image.path());
    NTFS_FS_PARAMS expected;
    ASSERT_TRUE(ntfsFsParamsFromBootSector(63, bytesAt(boot), expected, driver->getSectorCount()));
    FsCandidate c = ntfsEvidenceOf(expected, static_cast<u32>(image.volumeSectors()));
    c.hasPartitionEntry = true;
    c.partitionType = 0x07;
    Sector s{};
    ASSERT_TRUE(DL::formBootSectorNtfs(c, s.data(), *driver));
    // The fields mkntfs writes come back byte for byte.
    EXPECT_EQ(hexDump(s.data(), BSN_SERIAL), hexDump(boot.data(), BSN_SERIAL));
}

TEST(RebuiltBootSectorTest, NtfsWithoutItsVolumePlacedOrWithSizesNoBootSectorCanSay) {
    SharedPtr<Driver> driver = zeroDriver();
    FsCandidate c;
    c.startLBA = 100;
    c.layoutSectors = 300000;
    Sector s{};
    const ConstArray a(s.data(), 512);
    LogCapture log;
    ASSERT_TRUE(DL::formBootSectorNtfs(c, s.data(), *driver));
    EXPECT_TRUE(log.has("DL(809): bClustSize set to default 2\n") &&
                log.has("DL(879): MFT_data_LCN_u64 not set\n"))
        << log.text();
    NTFS_FS_PARAMS p;
    EXPECT_FALSE(ntfsFsParamsFromBootSector(100, s.data(), p, 1u << 30)); // no MFT
    // Over a sector that still holds its cluster size and MFT fields, those stay.
    s.fill(0);
    Array(s.data(), 512).setU8(BS_SECTORS_PER_CLUSTER, 16);
    Array(s.data(), 512).setU8(BSN_MFT_CLUSTER, 0x21);
    Array(s.data(), 512).setU8(BSN_CLUSTERS_PER_RECORD, 0xF6);
    ASSERT_TRUE(DL::formBootSectorNtfs(c, s.data(), *driver));
    EXPECT_TRUE(log.has("DL(811): bClustSize not set (left 16)\n")) << log.text();
    ASSERT_TRUE(ntfsFsParamsFromBootSector(100, s.data(), p, 1u << 30));
    EXPECT_EQ(p.mftLCN, 0x21u);
    EXPECT_EQ(p.sectorsPerFileRecord, 2u);

    // Placed: a record of whole clusters, one of 2^-n bytes with its log line,
    // and sizes no field can say (the buffer then stays as it was).
    c.layoutSectors = 40000;
    c.hasNtfsVolume = true;
    c.mftLBA = 132;
    c.mftMirrLBA = 20100;
    c.sectorsPerFileRecord = 2;
    for (auto k : {std::make_tuple(1u, 2u, 32u), std::make_tuple(8u, 246u, 4u)}) {
        c.ntfsSectorsPerCluster = std::get<0>(k);
        ASSERT_TRUE(DL::formBootSectorNtfs(c, s.data(), *driver));
        EXPECT_EQ(a.getLE32(BSN_CLUSTERS_PER_RECORD), std::get<1>(k));
        EXPECT_EQ(a.getLE64(BSN_MFT_CLUSTER), std::get<2>(k));
    }
    EXPECT_TRUE(log.has("DL(861): clusters_per_file_record_u32 set to 246 (sectorsPerFileRecord = "
                        "2, bClustSize = 8)\n"));
    const Sector before = s;
    for (auto k : {std::make_pair(3u, 2u), std::make_pair(256u, 2u), std::make_pair(8u, 3u)}) {
        c.ntfsSectorsPerCluster = k.first;
        c.sectorsPerFileRecord = k.second;
        EXPECT_FALSE(DL::formBootSectorNtfs(c, s.data(), *driver)) << k.first << ' ' << k.second;
    }
    EXPECT_EQ(s, before);
}

// The OEM name and the block after the parameters of a FAT boot sector, the
// serial number of an NTFS one, survive only into a sector of the same layout.
TEST(RebuiltBootSectorTest, ASectorMadeAgainOverZerosKeepsTheNameOfTheOneItReplaces) {
    using Ranges = std::vector<std::pair<u32, u32>>;
    const Ranges fatName = {{BS_OEM_NAME, BS_OEM_NAME + BS_OEM_NAME_BYTES},
                            {BS16_DRIVE_NUMBER, BS16_FS_TYPE + BS_FS_TYPE_BYTES}};
    const Ranges ntfsName = {{BSN_SERIAL, BSN_SERIAL + 8}};
    auto named = [](Sector s, const Ranges& name) {
        for (auto [from, to] : name)
            std::fill(&s[from], &s[to], 0x4E);
        return s;
    };
    Sector f16 = named(fatBootSector(1, 200, 512, 100000, 4), fatName);
    f16[BS16_SIGNATURE] = BS_EXTENDED_SIGNATURE;
    const Sector ntfs = named(ntfsBootSector(40000, 8, 4, 2000, 0xF6), ntfsName);
    const std::tuple<Sector, Sector, Ranges> cases[] = {
        {f16, f16, fatName},
        {ntfs, ntfs, ntfsName},
        {fatBootSector(32, 600, 0, 80000, 1), f16, {}}};
    for (auto [image, old, kept] : cases) {
        DL::clearKeepingVolumeName(image.data(), old.data());
        Sector expected{};
        for (auto [from, to] : kept)
            std::copy(&old[from], &old[to], &expected[from]);
        EXPECT_EQ(hexDump(image.data(), 512), hexDump(expected.data(), 512));
    }
}
