#include "fs/FsCandidate.h"

#include "core/Array.h"
#include "fs/RebuiltBootSector.h"
#include "fs/StructureChecks.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <array>

using namespace testutil;

namespace {

using Sector = std::array<u8, 512>;

BootParams bootOf(const std::string& sector) {
    BootParams b;
    if (!readBootParams(reinterpret_cast<const u8*>(sector.data()), b))
        throw std::runtime_error("no boot sector:\n" + hexDump(sector.data(), 96));
    return b;
}

BootParams fatBootParams(u32 sectorsPerFat, u32 rootEntries) {
    BootParams b;
    b.kind = FS_FAT;
    b.fat.sectorsPerFAT = sectorsPerFat;
    b.fat.rootEntries = rootEntries;
    return b;
}

// A candidate as the collection makes it from a boot sector found at `lba`.
FsCandidate candidateAt(u32 lba, const BootParams& boot) {
    FsCandidate c;
    c.startLBA = lba;
    c.hasBootSector = true;
    c.bootSector = boot;
    return c;
}

const u8* rawBytes(const std::string& s) {
    return reinterpret_cast<const u8*>(s.data());
}

} // namespace

TEST(FsCandidateTest, NewCandidateHasNoEvidence) {
    FsCandidate c;
    EXPECT_FALSE(c.hasPartitionEntry || c.hasBootSector || c.hasBootBackup || c.hasFats ||
                 c.hasRootDir || c.hasSubDirs || c.hasNtfsVolume);
    EXPECT_FALSE(c.selected || c.valid || c.isPartitionTable);
    for (const FsCandidateEntry& e : c.entries)
        EXPECT_EQ(e.type, 0);
    EXPECT_EQ(c.tableStatus + c.bootStatus + c.backupStatus, 0u);
    EXPECT_EQ(c.fscode(), 0);
    FsCandidate later;
    later.startLBA = 10;
    EXPECT_TRUE(c < later);
    EXPECT_FALSE(later < c);
}

TEST(FsCandidateTest, PartitionTypesToFileSystems) {
    for (int t = 0; t < 256; ++t) {
        FsKind kind = FS_FAT;
        FatType type = FAT16_32;
        partitionTypeToFs(static_cast<u8>(t), kind, type);
        switch (t) {
        case 0x01:
            EXPECT_EQ(kind, FS_FAT);
            EXPECT_EQ(type, FAT12);
            break;
        case 0x04:
        case 0x06:
            EXPECT_EQ(kind, FS_FAT);
            EXPECT_EQ(type, FAT16);
            break;
        case 0x0B:
        case 0x0C:
            EXPECT_EQ(kind, FS_FAT);
            EXPECT_EQ(type, FAT32);
            break;
        case 0x07:
        case 0x17:
        case 0x86:
        case 0x87:
            EXPECT_EQ(kind, FS_NTFS);
            EXPECT_EQ(type, FAT_NONE);
            break;
        default:
            EXPECT_EQ(kind, FS_NONE) << t;
            EXPECT_EQ(type, FAT_NONE) << t;
        }
    }
}

TEST(FsCandidateTest, CodeFromTheEvidence) {
    FsCandidate c;
    c.hasPartitionEntry = true;
    c.partitionType = 0x06;
    EXPECT_EQ(c.fscode(), 0); // 0x06 alone says too little
    c.hasBootSector = true;
    c.bootSector = fatBootParams(200, 512);
    EXPECT_EQ(c.fscode(), 0x04);
    c.bootSector.kind = FS_NTFS;
    EXPECT_EQ(c.fscode(), 0x07);
    c.bootSector = fatBootParams(300, 0); // no FAT width: the code stays 0
    EXPECT_EQ(c.fscode(), 0);

    // An entry's own type is final, but hidden NTFS types are written as 0x07.
    c.partitionType = 0x0C;
    EXPECT_EQ(c.fscode(), 0x0C);
    c.partitionType = 0x83;
    EXPECT_EQ(c.fscode(), 0x83);
    c = FsCandidate();
    c.hasPartitionEntry = true;
    c.partitionType = 0x17;
    EXPECT_EQ(c.fscode(), 0x07);

    // Without an entry: the primary boot sector, else the backup, else the FATs,
    // else an NTFS volume.
    c = FsCandidate();
    c.hasBootBackup = true;
    c.bootBackup = fatBootParams(1000, 0);
    EXPECT_EQ(c.fscode(), 0x0B);
    c.hasBootSector = true;
    c.bootSector = fatBootParams(9, 224);
    EXPECT_EQ(c.fscode(), 0x01);
    c = FsCandidate();
    c.hasFats = true;
    c.fatType = FAT16;
    c.hasNtfsVolume = true;
    EXPECT_EQ(c.fscode(), 0x04);
    c.fatType = FAT16_32;
    EXPECT_EQ(c.fscode(), 0);
    c.hasFats = false;
    EXPECT_EQ(c.fscode(), 0x07);
}

// ---- Forming the records of a chosen candidate ----

TEST(FormFsParamsTest, FatCandidatesFromTheirFoundBootSectors) {
    TempDir dir;
    struct Case {
        int bits;
        u32 sizeKiB;
        u32 lba;
    };
    for (Case k :
         {Case{12, 1440, 0}, Case{16, 20000, 2048}, Case{32, 40000, 0}, Case{32, 40000, 63}}) {
        FatImageOptions o;
        o.fatBits = k.bits;
        o.sizeKiB = k.sizeKiB;
        o.partitionLba = k.lba;
        FatImage image(dir.file("fat.img"), o);
        SharedPtr<Driver> driver = openImageDriver(image.path());
        std::string boot = image.bootSector();
        FAT_FS_PARAMS expected;
        ASSERT_TRUE(
            fatFsParamsFromBootSector(k.lba, rawBytes(boot), expected, driver->getSectorCount()));

        FsCandidate c = candidateAt(k.lba, bootOf(boot));
        if (k.lba != 0) {
            c.hasPartitionEntry = true;
            c.partitionType = k.bits == 32 ? 0x0C : 0x06;
        }
        FAT_FS_PARAMS p;
        ASSERT_TRUE(form_fat_fs_params(c, p, *driver)) << k.bits;
        EXPECT_TRUE(p == expected) << p << "\n--\n" << expected;

        NTFS_FS_PARAMS ntfs;
        EXPECT_FALSE(form_ntfs_fs_params(c, ntfs, *driver));

        if (k.bits == 32) {
            // Only the backup at +6 was found.
            std::string backup = readAt(image.path(), (k.lba + 6) * 512ull, 512);
            FsCandidate b;
            b.startLBA = k.lba;
            b.hasBootBackup = true;
            b.bootBackup = bootOf(backup);
            b.bootBackupLBA = k.lba + 6;
            ASSERT_TRUE(form_fat_fs_params(b, p, *driver));
            EXPECT_TRUE(p == expected);
        }
    }
}

TEST(FormFsParamsTest, FatCandidatesThatGiveNoRecord) {
    TempDir dir;
    FatImageOptions o;
    o.fatBits = 16;
    o.sizeKiB = 20000;
    FatImage image(dir.file("fat.img"), o);
    SharedPtr<Driver> driver = openImageDriver(image.path());
    BootParams boot = bootOf(image.bootSector());
    FAT_FS_PARAMS p;

    // Nothing found but FATs: made-up boot sectors are not built yet.
    FsCandidate c;
    c.hasFats = true;
    c.fatType = FAT16;
    EXPECT_FALSE(form_fat_fs_params(c, p, *driver));

    // A FAT16 boot sector where the entry says FAT32: no root cluster to use.
    c = candidateAt(0, boot);
    c.hasPartitionEntry = true;
    c.partitionType = 0x0B;
    EXPECT_FALSE(form_fat_fs_params(c, p, *driver));

    // An NTFS candidate, or one of no kind.
    c.partitionType = 0x07;
    EXPECT_FALSE(form_fat_fs_params(c, p, *driver));
    c.partitionType = 0x83;
    EXPECT_FALSE(form_fat_fs_params(c, p, *driver));

    // A boot sector that claims more sectors than the source has.
    c = candidateAt(0, boot);
    c.bootSector.fat.totalSectors = static_cast<u32>(driver->getSectorCount() + 1);
    EXPECT_FALSE(form_fat_fs_params(c, p, *driver));

    // A source of 4096-byte sectors does not fit the 512-byte images.
    SharedPtr<dt::Reader> reader(new MemoryReader(std::string(1 << 20, '\0')));
    Driver big(reader, 4096);
    EXPECT_FALSE(form_fat_fs_params(candidateAt(0, boot), p, big));
}

TEST(FormFsParamsTest, BuiltImagesCarryTheFieldsOfTheirSource) {
    SharedPtr<dt::Reader> reader(new MemoryReader(std::string(4096 * 512, '\0')));
    Driver driver(reader, 512);
    BootParams boot;
    boot.kind = FS_FAT;
    boot.fat = {2880, 1, 9, 1, 224, 0, 33, 19};
    FsCandidate c = candidateAt(0, boot);

    Sector s{};
    ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), driver, true));
    ConstArray a(s.data(), 512);
    EXPECT_EQ(s[0], 0xEB); // a jump is put in place of zeros
    EXPECT_EQ(s[1], 0x00);
    EXPECT_EQ(s[2], 0x90);
    EXPECT_EQ(a.getLE16(11), 512);
    EXPECT_EQ(a.getLE16(19), 2880);
    EXPECT_EQ(a.getLE32(32), 0u);
    EXPECT_EQ(a.getLE16(22), 9);
    EXPECT_EQ(a.getU8(21), 0xF8);
    EXPECT_EQ(a.getLE16(24), 63); // the repair geometry's defaults
    EXPECT_EQ(a.getLE16(26), 255);
    EXPECT_EQ(a.getLE16(510), 0xAA55);
    EXPECT_EQ(a.getU8(0x26), 0); // FAT12 gets no extended block
    FatBootParams back;
    ASSERT_TRUE(readFatBootParams(s.data(), back));
    EXPECT_EQ(back.dataLbaOffset, 33u);

    // A floppy source, the user's geometry, and bytes already in the buffer.
    driver.getProperties().setUInt8(PROP_IS_FLOPPY, 1);
    driver.getProperties().setUInt64(PROP_REPAIR_SECTORS, 18);
    driver.getProperties().setUInt64(PROP_REPAIR_HEADS, 2);
    s.fill(0);
    s[0] = 0xE9;
    s[1] = 0x12;
    s[0x24] = 0x81;
    std::memcpy(&s[0x36], "MYFS    ", 8);
    c.bootSector.fat.sectorsPerFAT = 200;
    c.bootSector.fat.totalSectors = 100000;
    c.startLBA = 63;
    c.parentTableLBA = 0;
    ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), driver, false));
    EXPECT_EQ(s[0], 0xE9);
    EXPECT_EQ(s[1], 0x12);
    EXPECT_EQ(a.getU8(21), 0xF0);
    EXPECT_EQ(a.getLE16(24), 18);
    EXPECT_EQ(a.getLE16(26), 2);
    EXPECT_EQ(a.getLE16(19), 0);
    EXPECT_EQ(a.getLE32(32), 100000u);
    EXPECT_EQ(a.getLE32(28), 63u); // hidden: from the table at LBA 0
    EXPECT_EQ(a.getU8(0x24), 0x81);
    EXPECT_EQ(a.getU8(0x26), 0x29);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[0x36]), 8), "MYFS    ");
    s[0x36] = '-';
    ASSERT_TRUE(DL::formBootSectorFat16(c, s.data(), driver, false));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[0x36]), 8), "FAT16   ");

    // FAT32 without partition tables: 63 hidden sectors.
    driver.getProperties().setUInt8(PROP_USES_PARTITION_TABLES, 0);
    boot.fat = {600000, 8, 1000, 32, 0, 2, 2032, 2032};
    c = candidateAt(0, boot);
    s.fill(0);
    ASSERT_TRUE(DL::formBootSectorFat32(c, s.data(), driver));
    EXPECT_EQ(a.getLE32(28), 63u);
    EXPECT_EQ(a.getLE16(22), 0);
    EXPECT_EQ(a.getLE32(0x24), 1000u);
    EXPECT_EQ(a.getLE32(0x2C), 2u);
    EXPECT_EQ(a.getLE16(0x30), 1);
    EXPECT_EQ(a.getLE16(0x32), 6);
    EXPECT_EQ(a.getU8(0x40), 0x80);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[0x52]), 8), "FAT32   ");
    ASSERT_TRUE(readFatBootParams(s.data(), back));
    EXPECT_EQ(back.rootDirectoryLbaOffset, 2032u);
    // The FAT12/16 builder refuses a FAT32 boot sector and the reverse.
    EXPECT_FALSE(DL::formBootSectorFat16(c, s.data(), driver, false));
    EXPECT_FALSE(DL::formBootSectorNtfs(c, s.data(), driver));
}

TEST(FormFsParamsTest, NtfsPrimaryThenBackupThenBuilt) {
    TempDir dir;
    NtfsImageOptions o;
    o.partitionLba = 63;
    NtfsImage image(dir.file("ntfs.img"), o);
    std::string path = image.path();
    const u32 backupLba = static_cast<u32>(63 + image.volumeSectors() - 1);
    std::string primary = image.bootSector();
    BootParams boot = bootOf(primary);
    SharedPtr<Driver> driver = openImageDriver(path);
    NTFS_FS_PARAMS expected;
    ASSERT_TRUE(
        ntfsFsParamsFromBootSector(63, rawBytes(primary), expected, driver->getSectorCount()));

    FsCandidate c = candidateAt(63, boot);
    c.hasPartitionEntry = true;
    c.partitionType = 0x07;
    c.hasBootBackup = true;
    c.bootBackup = boot;
    c.bootBackupLBA = backupLba;
    NTFS_FS_PARAMS p;
    ASSERT_TRUE(form_ntfs_fs_params(c, p, *driver));
    EXPECT_TRUE(p == expected) << p;
    FAT_FS_PARAMS fat;
    EXPECT_FALSE(form_fat_fs_params(c, fat, *driver));

    // The primary unreadable: the backup is read.
    auto* failing = new FailingReader(driver->getReader(), {63});
    SharedPtr<dt::Reader> failingReader(failing);
    Driver primaryBad(failingReader, 512);
    ASSERT_TRUE(form_ntfs_fs_params(c, p, primaryBad));
    EXPECT_TRUE(p == expected);

    // Both unreadable: the boot sector is built from what the scan found.
    failing->addBadSector(backupLba);
    ASSERT_TRUE(form_ntfs_fs_params(c, p, primaryBad));
    EXPECT_TRUE(p == expected);

    // The primary destroyed since the scan: it reads, does not parse, and the
    // candidate gets no record.
    writeAt(path, 63 * 512ull, std::string(512, '\0'));
    SharedPtr<Driver> damaged = openImageDriver(path);
    EXPECT_FALSE(form_ntfs_fs_params(c, p, *damaged));
    // Not found by the scan: the backup is taken.
    c.hasBootSector = false;
    ASSERT_TRUE(form_ntfs_fs_params(c, p, *damaged));
    EXPECT_TRUE(p == expected);
}

TEST(FormFsParamsTest, BuiltNtfsBootSector) {
    SharedPtr<dt::Reader> reader(new MemoryReader(std::string(4096 * 512, '\0')));
    Driver driver(reader, 512);
    BootParams boot;
    boot.kind = FS_NTFS;
    boot.ntfs = {40959, 8, 4, 2559, 2};
    FsCandidate c = candidateAt(2048, boot);
    c.parentTableLBA = 0;
    Sector s{};
    ASSERT_TRUE(DL::formBootSectorNtfs(c, s.data(), driver));
    ConstArray a(s.data(), 512);
    EXPECT_EQ(s[0], 0xEB);
    EXPECT_EQ(s[1], 0x52);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[3]), 8), "NTFS    ");
    EXPECT_EQ(a.getU8(0x40), 0xF6); // 1024-byte records
    EXPECT_EQ(a.getLE32(0x44), 1u);
    EXPECT_EQ(a.getLE32(0x24), 0x00800080u);
    EXPECT_EQ(a.getLE32(28), 2048u);
    NtfsBootParams back;
    ASSERT_TRUE(readNtfsBootParams(s.data(), back));
    EXPECT_EQ(back.totalSectors, 40959u);
    EXPECT_EQ(back.sectorsPerCluster, 8);
    EXPECT_EQ(back.MFTCluster, 4u);
    EXPECT_EQ(back.MFTMirrCluster, 2559u);
    EXPECT_EQ(back.sectorsPerFileRecord, 2);

    // Records of whole clusters, and a record size no field can say.
    c.bootSector.ntfs.sectorsPerCluster = 1;
    c.bootSector.ntfs.sectorsPerFileRecord = 2;
    ASSERT_TRUE(DL::formBootSectorNtfs(c, s.data(), driver));
    EXPECT_EQ(a.getU8(0x40), 2);
    EXPECT_EQ(a.getLE32(0x44), 8u);
    c.bootSector.ntfs.sectorsPerCluster = 4;
    c.bootSector.ntfs.sectorsPerFileRecord = 3;
    EXPECT_FALSE(DL::formBootSectorNtfs(c, s.data(), driver));
}

// ---- Partition types, kinds and selections ----

TEST(FsCandidateTest, PartitionTypesCompatibleWithAVolume) {
    struct Case {
        u8 type;
        FsKind kind;
        FatType width;
        bool compatible;
    };
    const Case cases[] = {
        {0x01, FS_FAT, FAT12, true},      {0x06, FS_FAT, FAT12, true},
        {0x04, FS_FAT, FAT12, false},     {0x04, FS_FAT, FAT16, true},
        {0x06, FS_FAT, FAT16, true},      {0x0B, FS_FAT, FAT16, false},
        {0x0B, FS_FAT, FAT32, true},      {0x0C, FS_FAT, FAT32, true},
        {0x06, FS_FAT, FAT32, false},     {0x04, FS_FAT, FAT16_32, true},
        {0x0C, FS_FAT, FAT16_32, true},   {0x01, FS_FAT, FAT16_32, false},
        {0x06, FS_FAT, FAT_NONE, false},  {0x07, FS_NTFS, FAT_NONE, true},
        {0x17, FS_NTFS, FAT32, true},     {0x86, FS_NTFS, FAT_NONE, true},
        {0x87, FS_NTFS, FAT_NONE, true},  {0x07, FS_FAT, FAT16, false},
        {0x0C, FS_NTFS, FAT_NONE, false}, {0x07, FS_NONE, FAT_NONE, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isPartitionTypeCompatible(c.type, c.kind, c.width), c.compatible)
            << std::hex << int(c.type) << ' ' << c.kind << ' ' << c.width;
}

TEST(FsCandidateTest, KindFromTheEvidenceFatFirst) {
    FsCandidate c;
    EXPECT_EQ(candidateFsKind(c), FS_NONE);
    c.hasPartitionEntry = true;
    c.partitionType = 0x83;
    EXPECT_EQ(candidateFsKind(c), FS_NONE);
    c.partitionType = 0x17;
    EXPECT_EQ(candidateFsKind(c), FS_NTFS);
    // Any FAT trace wins over NTFS evidence.
    c.hasRootDir = true;
    EXPECT_EQ(candidateFsKind(c), FS_FAT);
    c = FsCandidate();
    c.hasNtfsVolume = true;
    EXPECT_EQ(candidateFsKind(c), FS_NTFS);
    c.hasBootBackup = true;
    c.bootBackup = fatBootParams(200, 512);
    EXPECT_EQ(candidateFsKind(c), FS_FAT);
    // A type byte without its flag says nothing.
    c = FsCandidate();
    c.partitionType = 0x06;
    EXPECT_EQ(candidateFsKind(c), FS_NONE);
}

TEST(FsCandidateTest, SelectedFileSystemsSkipTablesAndUnselected) {
    FsCandidateList list;
    EXPECT_EQ(getSelectedFileSystem(list, 0), nullptr);
    for (u32 i = 0; i < 5; ++i) {
        FsCandidate c;
        c.startLBA = i;
        list.push_back(c);
    }
    EXPECT_EQ(getSelectedFileSystem(list, 0), nullptr);
    list[0].selected = list[0].isPartitionTable = true;
    list[1].selected = true;
    list[3].selected = true;
    ASSERT_NE(getSelectedFileSystem(list, 0), nullptr);
    EXPECT_EQ(getSelectedFileSystem(list, 0)->startLBA, 1u);
    EXPECT_EQ(getSelectedFileSystem(list, 1)->startLBA, 3u);
    EXPECT_EQ(getSelectedFileSystem(list, 2), nullptr);
    const FsCandidateList& constant = list;
    EXPECT_EQ(getSelectedFileSystem(constant, 1), &list[3]);
}

TEST(FsCandidateTest, InsertionKeepsTheOrderOfStartsAndArrival) {
    auto make = [](u32 start, u32 tag) {
        FsCandidate c;
        c.startLBA = start;
        c.partitionEntryIndex = tag;
        return c;
    };
    auto tags = [](const FsCandidateList& l) {
        std::vector<u32> t;
        for (const FsCandidate& c : l)
            t.push_back(c.partitionEntryIndex);
        return t;
    };
    FsCandidateList list;
    insertCandidate(list, make(50, 1));
    insertCandidate(list, make(10, 2));
    insertCandidate(list, make(50, 3));
    EXPECT_EQ(insertCandidate(list, make(20, 4)).partitionEntryIndex, 4u);
    EXPECT_EQ(tags(list), (std::vector<u32>{2, 4, 1, 3}));
    // A list whose starts were moved in place: after the last start that is
    // lower or equal.
    list[0].startLBA = 90;
    insertCandidate(list, make(30, 5));
    EXPECT_EQ(tags(list), (std::vector<u32>{2, 4, 5, 1, 3}));
    insertCandidate(list, make(5, 6));
    EXPECT_EQ(tags(list).front(), 6u);

    // Many at once land where one after the other would have.
    u32 seed = 12345;
    auto next = [&seed](u32 range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    for (int round = 0; round < 50; ++round) {
        FsCandidateList base;
        for (u32 i = 0; i < next(12); ++i)
            base.push_back(make(next(20), 100 + i)); // deliberately out of order
        FsCandidateList added;
        for (u32 i = 0; i < next(12); ++i)
            added.push_back(make(next(20), 200 + i));
        FsCandidateList one = base;
        for (const FsCandidate& c : added)
            insertCandidate(one, c);
        FsCandidateList many = base;
        insertCandidates(many, added);
        EXPECT_EQ(tags(many), tags(one)) << round;
    }
}

// ---- Grids against partitions and boot sectors ----

TEST(FsCandidateTest, NeededFatWidthOfAGrid) {
    EXPECT_EQ(neededFatType(0), FAT12);
    EXPECT_EQ(neededFatType(4085), FAT12);
    EXPECT_EQ(neededFatType(4086), FAT16);
    EXPECT_EQ(neededFatType(65525), FAT16);
    EXPECT_EQ(neededFatType(65526), FAT32);
}

TEST(FsCandidateTest, GridFitsAPartition) {
    auto partition = [](u8 type, u32 sectors) {
        FsCandidate p;
        p.startLBA = 1000;
        p.hasPartitionEntry = true;
        p.partitionType = type;
        p.partitionSectors = sectors;
        return p;
    };
    auto grid = [](u32 cluster2, u32 maxThis, u32 spc = 4) {
        FsCandidate g;
        g.hasSubDirs = true;
        g.sectorsPerCluster = spc;
        g.cluster2LBA = cluster2;
        g.maxThisCluster = maxThis;
        return g;
    };
    // Room for boot sector and FATs: 3 sectors for a FAT12-sized grid.
    FatVolumeFitsPartition fits(partition(0x06, 1000));
    EXPECT_TRUE(fits(grid(1003, 100)));
    EXPECT_FALSE(fits(grid(1002, 100)));
    EXPECT_FALSE(fits(grid(1032, 100, 0)));
    // ... 33 for a FAT16-sized one.
    EXPECT_FALSE(fits(grid(1032, 5000, 1)));
    // The clusters end inside the partition: 100 + 4 x 99 = 496 sectors.
    FatVolumeFitsPartition small(partition(0x06, 496));
    EXPECT_TRUE(small(grid(1100, 100)));
    EXPECT_FALSE(FatVolumeFitsPartition(partition(0x06, 495))(grid(1100, 100)));
    // The two FATs between start and data (5 sectors: 2 each) describe 512
    // clusters of four sectors: up to 5 + 2048 sectors.
    EXPECT_TRUE(FatVolumeFitsPartition(partition(0x06, 2053))(grid(1005, 100)));
    EXPECT_FALSE(FatVolumeFitsPartition(partition(0x06, 2054))(grid(1005, 100)));
    // Data at most 0x400020 sectors behind the start.
    FatVolumeFitsPartition huge(partition(0x06, 0x400020 + 400));
    EXPECT_TRUE(huge(grid(1000 + 0x400020, 100)));
    EXPECT_FALSE(huge(grid(1000 + 0x400021, 100)));
    // The partition's FAT width must number the clusters.
    EXPECT_FALSE(FatVolumeFitsPartition(partition(0x01, 40000))(grid(1400, 5000, 1)));
    EXPECT_TRUE(FatVolumeFitsPartition(partition(0x04, 40000))(grid(1400, 5000, 1)));
    EXPECT_TRUE(FatVolumeFitsPartition(partition(0x0C, 40000))(grid(2100, 5000, 1)));
    EXPECT_FALSE(FatVolumeFitsPartition(partition(0x07, 40000))(grid(1100, 100)));
}

TEST(FsCandidateTest, GridFitsABootSectorOrItsBackup) {
    BootParams boot;
    boot.kind = FS_FAT;
    boot.fat = {40000, 4, 100, 1, 512, 0, 233, 201};
    FsCandidate c = candidateAt(63, boot);
    FsCandidate g;
    g.hasSubDirs = true;
    g.sectorsPerCluster = 4;
    g.cluster2LBA = 296;
    g.maxThisCluster = 5000;
    EXPECT_TRUE(FatVolumeFitsBootSector(c, false)(g));
    EXPECT_FALSE(FatVolumeFitsBootSector(c, true)(g)); // no backup
    c.hasBootBackup = true;
    c.bootBackup = boot;
    EXPECT_TRUE(FatVolumeFitsBootSector(c, true)(g));
    // Another data area, or more clusters than FAT16 numbers.
    g.cluster2LBA = 297;
    EXPECT_FALSE(FatVolumeFitsBootSector(c, false)(g));
    g.cluster2LBA = 296;
    g.maxThisCluster = 70000;
    EXPECT_FALSE(FatVolumeFitsBootSector(c, false)(g));
    // An NTFS boot sector fits no grid.
    g.maxThisCluster = 10;
    c.bootSector.kind = FS_NTFS;
    EXPECT_FALSE(FatVolumeFitsBootSector(c, false)(g));
}
