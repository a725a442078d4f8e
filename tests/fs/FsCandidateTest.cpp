#include "fs/FsCandidate.h"

#include "tests/support/FailingReader.h"
#include "tests/support/FatBytes.h"
#include "tests/support/FatCorpus.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

BootParams bootOf(const std::string& sector) {
    BootParams b;
    if (!readBootParams(bytesAt(sector), b))
        throw std::runtime_error("no boot sector:\n" + hexDump(sector.data(), 96));
    return b;
}

// A FAT boot sector of `clusters` clusters of a sector behind one reserved
// sector, two FATs and the root.
BootParams fatBoot(u32 sectorsPerFat, u32 rootEntries, u32 clusters) {
    const u32 data = 1 + 2 * sectorsPerFat + rootEntries / DIR_ENTRIES_PER_SECTOR;
    const Sector s = fatBootSector(1, sectorsPerFat, rootEntries, data + clusters, 1);
    return bootOf(std::string(s.begin(), s.end()));
}

// A candidate as the collection makes it from a boot sector found at `lba`.
FsCandidate candidateAt(u32 lba, const BootParams& boot, u8 partitionType = 0) {
    FsCandidate c;
    c.startLBA = lba;
    c.hasBootSector = true;
    c.bootSector = boot;
    c.hasPartitionEntry = partitionType != 0;
    c.partitionType = partitionType;
    return c;
}

} // namespace

TEST(FsCandidateTest, KindAndCodeFromTheEvidence) {
    FsCandidate backup, fats, mft;
    backup.hasBootBackup = true;
    backup.bootBackup = fatBoot(1000, 0, 100000);
    fats.hasFats = fats.hasNtfsVolume = mft.hasNtfsVolume = true;
    fats.fatType = FAT16;
    FsCandidate ntfs = candidateAt(0, fatBoot(200, 512, 50000));
    ntfs.bootSector.kind = FS_NTFS;
    FsCandidate traces = candidateAt(0, BootParams(), 0x17);
    traces.hasBootSector = false;
    traces.hasRootDir = true;
    const std::tuple<const char*, FsCandidate, u8, FsKind> cases[] = {
        {"nothing", FsCandidate(), 0, FS_NONE},
        {"0x06 refined by the boot sector", candidateAt(0, fatBoot(200, 512, 50000), 0x06), 0x04,
         FS_FAT},
        {"an NTFS boot sector", ntfs, 0x07, FS_NTFS},
        // FAT12 by its count, its FAT padded to a FAT16's size (mkfs.fat -s 64).
        {"a FAT12 of a large FAT", candidateAt(0, fatBoot(64, 512, 380)), 0x01, FS_FAT},
        {"an entry's own type", candidateAt(0, fatBoot(200, 512, 50000), 0x0E), 0x0E, FS_FAT},
        {"a hidden entry's own type", candidateAt(0, BootParams(), 0x16), 0x16, FS_FAT},
        // A partition formatted anew keeps its type: the FAT decides the width.
        {"an entry of another width", candidateAt(0, fatBoot(9, 224, 2000), 0x0C), 0x01, FS_FAT},
        {"the backup", backup, 0x0B, FS_FAT},
        {"FATs before an MFT", fats, 0x04, FS_FAT},
        {"an MFT", mft, 0x07, FS_NTFS},
        {"hidden NTFS, but FAT traces win", traces, 0x07, FS_FAT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::get<1>(c).fscode(), std::get<2>(c)) << std::get<0>(c);
        EXPECT_EQ(candidateFsKind(std::get<1>(c)), std::get<3>(c)) << std::get<0>(c);
    }
    // Partition types and the volumes they may hold.
    EXPECT_TRUE(isPartitionTypeCompatible(0x06, FS_FAT, FAT12) &&
                !isPartitionTypeCompatible(0x06, FS_FAT, FAT32));
    EXPECT_TRUE(isPartitionTypeCompatible(0x04, FS_FAT, FAT16_32) &&
                isPartitionTypeCompatible(0x0C, FS_FAT, FAT16_32));
    EXPECT_TRUE(isPartitionTypeCompatible(0x87, FS_NTFS, FAT32) &&
                !isPartitionTypeCompatible(0x07, FS_FAT, FAT16));
    EXPECT_TRUE(isPartitionTypeCompatible(0x0E, FS_FAT, FAT12) &&
                isPartitionTypeCompatible(0x1E, FS_FAT, FAT16) &&
                isPartitionTypeCompatible(0x1C, FS_FAT, FAT32) &&
                !isPartitionTypeCompatible(0x11, FS_FAT, FAT16) &&
                !isPartitionTypeCompatible(0x12, FS_FAT, FAT12));
}

TEST(FormFsParamsTest, FatRecordsFromTheFoundBootSectors) {
    for (int bits : {12, 16, 32}) {
        SCOPED_TRACE(bits);
        const FatCorpus& v = fatCorpus(bits);
        SharedPtr<Driver> driver = openImageDriver(v.path);
        const BootParams boot = bootOf(v.image().bootSector());
        FsCandidate c = candidateAt(v.volumeLba(), boot, bits == 32 ? 0x0C : 0);
        FAT_FS_PARAMS p;
        ASSERT_TRUE(form_fat_fs_params(c, p, *driver));
        EXPECT_TRUE(p == v.params) << p << "\n--\n" << v.params;
        if (bits == 32) {
            // Only the backup at +6 was found.
            FsCandidate b;
            b.startLBA = v.volumeLba();
            b.hasBootBackup = true;
            b.bootBackup = bootOf(readAt(v.path, (v.volumeLba() + 6) * 512ull, 512));
            ASSERT_TRUE(form_fat_fs_params(b, p, *driver));
            EXPECT_TRUE(p == v.params);
        }
    }
    // A FAT16 boot sector under an entry that says FAT32: the FAT decides.
    // No record: FATs only (no boot sector built yet); an NTFS or another
    // entry; more sectors than twice the source; a source of 4096-byte sectors.
    const FatCorpus& v = fatCorpus(16);
    SharedPtr<Driver> driver = openImageDriver(v.path);
    const BootParams boot = bootOf(v.image().bootSector());
    FsCandidate fatsOnly;
    fatsOnly.hasFats = true;
    fatsOnly.fatType = FAT16;
    FsCandidate tooBig = candidateAt(0, boot);
    tooBig.bootSector.fat.totalSectors = static_cast<u32>(2 * driver->getSectorCount() + 1);
    FAT_FS_PARAMS p;
    ASSERT_TRUE(form_fat_fs_params(candidateAt(0, boot, 0x0B), p, *driver));
    EXPECT_TRUE(p == v.params);
    for (const FsCandidate& c :
         {fatsOnly, candidateAt(0, boot, 0x07), candidateAt(0, boot, 0x83), tooBig})
        EXPECT_FALSE(form_fat_fs_params(c, p, *driver));
    Driver big(SharedPtr<dt::Reader>(new MemoryReader(std::string(1 << 20, '\0'))), 4096);
    EXPECT_FALSE(form_fat_fs_params(candidateAt(0, boot), p, big));
}

TEST(FormFsParamsTest, NtfsRecordsFromThePrimaryThenTheBackupThenABuiltOne) {
    TempDir dir;
    NtfsImageOptions o;
    o.partitionLba = 63;
    NtfsImage image(dir.file("ntfs.img"), o);
    const std::string path = image.path();
    const u32 backupLba = static_cast<u32>(63 + image.volumeSectors() - 1);
    const BootParams boot = bootOf(image.bootSector());
    SharedPtr<Driver> driver = openImageDriver(path);
    NTFS_FS_PARAMS expected;
    ASSERT_TRUE(ntfsFsParamsFromBootSector(63, bytesAt(image.bootSector()), expected,
                                           driver->getSectorCount()));
    FsCandidate c = candidateAt(63, boot, 0x07);
    c.hasBootBackup = true;
    c.bootBackup = boot;
    c.bootBackupLBA = backupLba;
    NTFS_FS_PARAMS p;
    FAT_FS_PARAMS fat;
    EXPECT_FALSE(form_fat_fs_params(c, fat, *driver));
    // Read, then unreadable with the backup read, then both unreadable: the
    // boot sector is built from what the scan found.
    auto* failing = new FailingReader(driver->getReader(), {});
    Driver failingDriver(SharedPtr<dt::Reader>(failing), 512);
    for (u32 bad : {0u, 63u, backupLba}) {
        if (bad)
            failing->addBadSector(bad);
        ASSERT_TRUE(form_ntfs_fs_params(c, p, failingDriver)) << bad;
        EXPECT_TRUE(p == expected) << bad;
    }
    // The primary destroyed since the scan: it reads but does not parse, so no
    // record; not found by the scan, the backup is taken.
    writeAt(path, 63 * 512ull, std::string(512, '\0'));
    SharedPtr<Driver> damaged = openImageDriver(path);
    EXPECT_FALSE(form_ntfs_fs_params(c, p, *damaged));
    c.hasBootSector = false;
    ASSERT_TRUE(form_ntfs_fs_params(c, p, *damaged));
    EXPECT_TRUE(p == expected);
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
    for (auto st : {std::make_pair(50u, 1u), {10u, 2u}, {50u, 3u}, {20u, 4u}})
        EXPECT_EQ(insertCandidate(list, make(st.first, st.second)).partitionEntryIndex, st.second);
    EXPECT_EQ(tags(list), (std::vector<u32>{2, 4, 1, 3}));
    // Starts moved in place: after the last start that is lower or equal.
    list[0].startLBA = 90;
    insertCandidate(list, make(30, 5));
    EXPECT_EQ(tags(list), (std::vector<u32>{2, 4, 5, 1, 3}));
    // Many at once land where one after the other would have.
    u32 seed = 12345;
    auto next = [&seed](u32 range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    for (int round = 0; round < 50; ++round) {
        FsCandidateList base, added;
        for (u32 i = 0, n = next(12); i < n; ++i)
            base.push_back(make(next(20), 100 + i)); // out of order
        for (u32 i = 0, n = next(12); i < n; ++i)
            added.push_back(make(next(20), 200 + i));
        FsCandidateList one = base, many = base;
        for (const FsCandidate& c : added)
            insertCandidate(one, c);
        insertCandidates(many, added);
        EXPECT_EQ(tags(many), tags(one)) << round;
    }
}

TEST(FsCandidateTest, ACellGridFitsAPartitionOrABootSector) {
    auto grid = [](u32 cluster2, u32 maxThis, u32 spc = 4) {
        FsCandidate g;
        g.hasSubDirs = true;
        g.sectorsPerCluster = spc;
        g.cluster2LBA = cluster2;
        g.maxThisCluster = maxThis;
        return g;
    };
    // A partition at 1000 of that type and size, and a grid: its cluster 2,
    // highest cluster and cluster size.
    const std::tuple<u8, u32, u32, u32, u32, bool> cases[] = {
        {0x06, 1000, 1003, 100, 4, true},   // room for boot sector and FATs
        {0x06, 1000, 1002, 100, 4, false},  // too little
        {0x06, 1000, 1032, 100, 0, false},  // no cluster size
        {0x06, 1000, 1032, 5000, 1, false}, // FAT16-sized: 33 sectors
        {0x06, 496, 1100, 100, 4, true},    // clusters up to the partition's end
        {0x06, 495, 1100, 100, 4, false},   // and past it
        {0x06, 2053, 1005, 100, 4, true},   // FATs that describe the rest
        {0x06, 2054, 1005, 100, 4, true},   // two cannot, one FAT can
        {0x06, 4102, 1005, 100, 4, false},  // and one cannot
        {0x06, 0x400020 + 400, 1000 + 0x400020, 100, 4, true},
        {0x06, 0x400020 + 400, 1000 + 0x400021, 100, 4, false}, // data too far behind
        {0x06, 1000, 900, 100, 4, false},                       // data before the start
        // A type narrower than the FAT (a partition formatted anew): the FAT
        // decides, wide enough for the clusters of the grid or the partition.
        {0x01, 40000, 1400, 5000, 1, true},
        {0x06, 81920, 1600, 1483, 1, false}, // no room for the FAT32 it needs
        {0x04, 40000, 1400, 5000, 1, true},
        {0x0C, 40000, 2100, 5000, 1, true},
        {0x07, 40000, 1100, 100, 4, false},
    };
    for (const auto& c : cases) {
        FsCandidate p;
        p.startLBA = 1000;
        p.partitionType = std::get<0>(c);
        p.partitionSectors = std::get<1>(c);
        EXPECT_EQ(FatVolumeFitsPartition(p)(grid(std::get<2>(c), std::get<3>(c), std::get<4>(c))),
                  std::get<5>(c))
            << std::get<1>(c) << ' ' << std::get<2>(c);
    }
    EXPECT_EQ(neededFatType(4085), FAT12);
    EXPECT_EQ(neededFatType(65525), FAT16);
    EXPECT_EQ(neededFatType(65526), FAT32);

    FsCandidate c = candidateAt(63, fatBoot(100, 512, 25000));
    EXPECT_TRUE(FatVolumeFitsBootSector(c, false)(grid(296, 5000)));
    EXPECT_FALSE(FatVolumeFitsBootSector(c, true)(grid(296, 5000))); // no backup
    EXPECT_FALSE(FatVolumeFitsBootSector(c, false)(grid(297, 5000)));
    EXPECT_FALSE(FatVolumeFitsBootSector(c, false)(grid(296, 70000))); // past FAT16
    c.bootSector.kind = FS_NTFS;
    EXPECT_FALSE(FatVolumeFitsBootSector(c, false)(grid(296, 10)));
}
