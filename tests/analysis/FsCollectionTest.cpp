// The candidate collection on finds made by hand, one row per rule: partition
// entries, boot sectors and their backups, subdirectory grids, root
// directories, FAT positions, NTFS volumes and size limits; hostile finds; and
// the filters. Real disks go through the whole road in DiskAnalysisTest.

#include "analysis/FsCollection.h"
#include "analysis/FsFilters.h"
#include "core/Preferences.h"
#include "devices/Driver.h"
#include "fs/DirectoryEntry.h"
#include "fs/StructureChecks.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FatBytes.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <sstream>

using namespace testutil;

namespace {

// Sectors that start with these bytes.
using SectorBytes = std::map<u64, std::string>;

// `sectors` zero sectors that take no memory, but for the starts of a few.
class ZeroReader : public dt::Reader {
public:
    explicit ZeroReader(u64 sectors, SectorBytes bytes = {}) : bytes_(std::move(bytes)) {
        setSize(static_cast<i64>(sectors * 512));
    }
    bool read(i64 offset, u8* buffer, i64 size) override {
        if (!dt::rangeInside(offset, size, getSize()))
            return false;
        std::memset(buffer, 0, static_cast<std::size_t>(size));
        for (const auto& [lba, bytes] : bytes_) {
            const i64 at = static_cast<i64>(lba * 512) - offset;
            if (at >= 0 && at < size)
                std::memcpy(buffer + at, bytes.data(),
                            std::min<std::size_t>(bytes.size(), size - at));
        }
        return true;
    }

private:
    SectorBytes bytes_;
};

SharedPtr<Driver> zeroDriver(u64 sectors, bool floppy = false, SectorBytes bytes = {}) {
    SharedPtr<Driver> d(
        new Driver(SharedPtr<dt::Reader>(new ZeroReader(sectors, std::move(bytes))), 512));
    d->getProperties().setUInt8(PROP_IS_FLOPPY, floppy ? 1 : 0);
    return d;
}

FsCandidateList collect(const ScanResults& r, Driver& d, u32 slack = 0,
                        InterfaceCallback* progress = nullptr) {
    CreateFSCollectionParameters p(r, d, slack);
    p.setInterfaceCallback(progress);
    FsCandidateList out;
    CreateFSCollection(out, p);
    return out;
}

BootParams fatBoot(u32 total, u32 spc, u32 spf, u32 reserved, u32 rootEntries) {
    BootParams b;
    b.kind = FS_FAT;
    b.fat = {total,
             spc,
             spf,
             reserved,
             rootEntries,
             rootEntries == 0 ? 2u : 0u,
             reserved + 2 * spf + rootEntries / 16,
             reserved + 2 * spf};
    return b;
}

BootParams ntfsBoot(u64 total, u8 spc, u64 mft, u64 mirror) {
    BootParams b;
    b.kind = FS_NTFS;
    b.ntfs = {total, spc, mft, mirror, 2};
    return b;
}

void table(ScanResults& r, u32 lba, std::vector<FoundPartitionEntry> entries) {
    FoundPartitionTable t{lba, {}};
    std::copy(entries.begin(), entries.end(), t.entries.begin());
    r.partitionTables.insert(t);
}
void boot(ScanResults& r, u32 lba, const BootParams& p) {
    r.bootSectors.insert(FoundBootSector{lba, p});
}
void fat(ScanResults& r, u32 lba, FatType type = FAT16) {
    r.fatSectors.insert(FoundFatSector{lba, type});
}
void subdir(ScanResults& r, u32 lba, u32 dot, u32 dotDot, u32 highest = 0) {
    r.directoryRuns.insert(FoundDirectoryRun{lba, 1, true, false, dot, dotDot, highest});
}
void plain(ScanResults& r, u32 lba, u32 sectors, u32 highest) {
    r.directoryRuns.insert(FoundDirectoryRun{lba, sectors, false, false, 0, 0, highest});
}
// Subdirectories with these "." clusters on the grid of cluster 2 at c2.
void grid(ScanResults& r, u32 c2, u32 spc, std::initializer_list<u32> dots, u32 highest = 0) {
    for (u32 dot : dots)
        subdir(r, c2 + (dot - 2) * spc, dot, 0, highest);
}
void system(ScanResults& r, u32 lba, u32 which, u64 lcn, u64 size) {
    r.ntfsSystemRecords.insert(FoundNtfsSystemRecord{lba, {which, lcn, size}});
}

// What a FAT16 volume from LBA 63 leaves without its boot sector: the FAT
// starts at 64 and 264, the root directory at 464, three subdirectories on the
// grid of four sectors a cluster from 496.
void fat16Remains(ScanResults& r) {
    fat(r, 64);
    fat(r, 264);
    plain(r, 464, 1, 30);
    grid(r, 496, 4, {3, 4, 5}, 30);
}

// ... and an NTFS logical partition at 200000 behind its record at 199000.
void fat16BeforeALogicalNtfs(ScanResults& r) {
    fat16Remains(r);
    table(r, 199000, {{7, 200000, 50000}});
    boot(r, 200000, ntfsBoot(49999, 8, 4, 2559));
}

// One candidate a line: start, then each piece of evidence, then the limits.
std::string summary(const FsCandidateList& list) {
    std::ostringstream os;
    for (const FsCandidate& c : list) {
        os << c.startLBA;
        if (c.hasPartitionEntry)
            os << " P" << std::hex << unsigned(c.partitionType) << std::dec << '@'
               << c.partitionTableLBA << '.' << c.partitionEntryIndex;
        if (c.hasBootSector)
            os << " B";
        if (c.hasBootBackup)
            os << " b" << c.bootBackupLBA;
        if (c.hasFats)
            os << " F" << c.fatLBA << '+' << c.fatSectors << (c.fatFound ? '+' : '-')
               << (c.fatMirrorFound ? '+' : '-');
        if (c.hasRootDir)
            os << " R" << c.rootDirLBA << '/' << c.rootLastCluster;
        if (c.hasSubDirs)
            os << " G" << c.sectorsPerCluster << '@' << c.cluster2LBA << '#' << c.subDirCount << '/'
               << c.lastCluster << '/' << c.maxThisCluster;
        if (c.hasNtfsVolume)
            os << " N" << c.mftLBA << '/' << c.mftMirrLBA << '/' << c.ntfsSectorsPerCluster << '/'
               << c.sectorsPerFileRecord << '/' << c.bitmapSize;
        os << " [" << c.minSectors << ',' << c.maxSectors << "]\n";
    }
    return os.str();
}

struct Rule {
    const char* name;
    std::function<void(ScanResults&)> finds;
    u64 sectors;
    std::string expected;
    bool floppy = false;
    u32 slack = 0;
    SectorBytes bytes = {};
    // A volume image ("USES_PARTITION_TABLES" 0) rather than a disk.
    bool volumeImage = false;
};

std::ostream& operator<<(std::ostream& os, const Rule& r) {
    return os << r.name;
}

const Rule RULES[] = {
    // Extended, empty and zero-sized slots and a partition past the drive are
    // skipped; two tables naming one partition give two candidates.
    {"PartitionEntriesThatFit",
     [](ScanResults& r) {
         table(r, 0, {{7, 2048, 1000}, {5, 4000, 100}, {0x83, 10, 0}, {0x0C, 100, 500}});
         table(r, 4000, {{0x0C, 100, 500}, {6, 4100, 6000}, {0x0F, 5000, 10}});
     },
     10000, "100 Pc@0.3 [500,500]\n100 Pc@4000.0 [500,500]\n2048 P7@0.0 [1000,1000]\n"},
    // Volumes may end four cylinders past the reported end (not five), but
    // their sizes count only the sectors that are there.
    {"FourCylindersOfSlack",
     [](ScanResults& r) {
         table(r, 0, {{7, 1000, 99000 + 64260}, {7, 2000, 98000 + 64261}});
     },
     100000, "1000 P7@0.0 [1,99000]\n", false, 64260},
    // A FAT32 boot sector is also read as the backup 6 sectors into a volume.
    {"Fat32BootSectorAt6", [](ScanResults& r) { boot(r, 6, fatBoot(1000, 1, 600, 32, 0)); }, 5000,
     "0 b6 F32+600-- [1232,5000]\n6 B F38+600-- [1232,4994]\n"},
    // ... and 6 of 1024 bytes in when a primary of its parameters lies there.
    {"Fat32BackupOfSectorsOf1024Bytes",
     [](ScanResults& r) {
         boot(r, 0, fatBoot(10000, 2, 600, 64, 0));
         boot(r, 12, fatBoot(10000, 2, 600, 64, 0));
     },
     20000, "0 B b12 F64+600-- [10000,10000]\n12 B F76+600-- [10000,10000]\n"},
    // One FAT: its own mirror, found with it.
    {"OneFat",
     [](ScanResults& r) {
         BootParams one = fatBoot(5000, 1, 600, 32, 0);
         one.fat.dataLbaOffset -= 600;
         one.fat.rootDirectoryLbaOffset -= 600;
         boot(r, 0, one);
         fat(r, 32, FAT32);
     },
     10000, "0 B F32+600++ [5000,5000]\n"},
    // A boot sector joins only a partition entry of a compatible type.
    {"BootSectorAndIncompatibleEntry",
     [](ScanResults& r) {
         table(r, 0, {{7, 2048, 40000}});
         boot(r, 2048, fatBoot(40000, 4, 100, 1, 512));
     },
     50000, "2048 P7@0.0 [40000,40000]\n2048 B F2049+100-- [40000,40000]\n"},
    // A copy cut short keeps a FAT volume while it holds at least half of it:
    // at 0 and 30000 just half, the primary at 10006 not (its backup reading
    // at 10000 just), at 40000 not.
    {"CutFatVolumesWhileHalfHeld",
     [](ScanResults& r) {
         boot(r, 0, fatBoot(100000, 1, 600, 32, 0));
         boot(r, 10006, fatBoot(80000, 1, 600, 32, 0));
         boot(r, 30000, fatBoot(40000, 4, 100, 1, 512));
         boot(r, 40000, fatBoot(20002, 4, 100, 1, 512));
     },
     50000,
     "0 B F32+600-- [1232,50000]\n10000 b10006 F10032+600-- [1232,40000]\n"
     "30000 B F30001+100-- [201,20000]\n"},
    // The slack lets no FAT volume through that the source holds less than
    // half of: no tree could be built of it.
    {"NoSlackForAFatVolumeLessThanHalfHeld",
     [](ScanResults& r) { boot(r, 0, fatBoot(3000, 1, 9, 1, 224)); }, 1000, "", false, 64260},
    // An NTFS volume past the drive's end: only the backup reading places it.
    {"NtfsBackupBootSector", [](ScanResults& r) { boot(r, 10000, ntfsBoot(9000, 8, 4, 500)); },
     15000, "1000 b10000 [9001,9001]\n"},
    // Of two grids that fit the partition, the one of more subdirectories.
    {"GridAdoptedByItsPartition",
     [](ScanResults& r) {
         table(r, 0, {{6, 1500, 20000}});
         grid(r, 2000, 4, {10, 20, 30});
         grid(r, 5000, 4, {10, 20, 30, 40});
     },
     50000, "1500 P6@0.0 G4@5000#4/40/40 [20000,20000]\n2000 G4@2000#3/30/30 [1,48000]\n"},
    // A boot sector names its root directory; a grid takes a run at most 128
    // sectors before its cluster 2 (3871 is one too far from 4000).
    {"RootDirectories",
     [](ScanResults& r) {
         boot(r, 0, fatBoot(1000, 4, 100, 1, 512));
         plain(r, 201, 2, 33);
         grid(r, 4000, 4, {10, 20});
         plain(r, 3871, 1, 5);
         plain(r, 3872, 1, 6);
     },
     50000, "0 B F1+100-- R201/33 [1000,1000]\n4000 R3872/6 G4@4000#2/20/20 [1,46000]\n"},
    // Only the FAT starts, the root and the subdirectories are left: the FATs
    // are guessed; the volume start sits behind one reserved sector.
    {"FatsGuessed", [](ScanResults& r) { fat16Remains(r); }, 300000,
     "63 F64+200++ R464/30 G4@496#3/30/5 [433,205225]\n"},
    // A guessed size ends where the next volume shown, or the extended boot
    // record in front of it, begins (the FAT holds nothing from there on)...
    {"AGuessedSizeEndsWhereTheNextVolumeBegins", fat16BeforeALogicalNtfs, 300000,
     "63 F64+200++ R464/30 G4@496#3/30/5 [433,198937]\n150001 b200000 [50000,50000]\n"
     "200000 P7@199000.0 B [50000,50000]\n"},
    // ... but not where its FAT names a cluster in use (an image of a disk
    // kept as a file on the volume).
    {"AGuessedSizeKeepsWhatItsFatHolds",
     fat16BeforeALogicalNtfs,
     300000,
     "63 F64+200++ R464/30 G4@496#3/30/5 [433,205225]\n150001 b200000 [50000,50000]\n"
     "200000 P7@199000.0 B [50000,50000]\n",
     false,
     0,
     {{263, "\x07"}}},
    // ... nor where more of its FAT lies behind that place than is read to
    // tell (a disk image kept as a file there, whose table and volume are
    // listed too).
    {"AGuessedSizeKeepsAFatTailTooLongToRead",
     [](ScanResults& r) {
         fat16Remains(r);
         table(r, 100000, {{7, 101000, 50000}});
         boot(r, 101000, ntfsBoot(49999, 8, 4, 2559));
     },
     300000,
     "63 F64+200++ R464/30 G4@496#3/30/5 [433,205225]\n51001 b101000 [50000,50000]\n"
     "101000 P7@100000.0 B [50000,50000]\n"},
    // An NTFS volume that a copy cut short holds only part of is that part,
    // whatever its $Bitmap counts.
    {"ACutNtfsVolumeIsWhatTheSourceHolds",
     [](ScanResults& r) {
         boot(r, 2048, ntfsBoot(40959, 8, 4, 2559));
         system(r, 2080, NTFS_MFT_RECORD, 4, 65536);
     },
     30000, "2048 B N2080/22520/8/2/640 [27952,27952]\n", false, 64260},
    // A partition entry fixes the start; the guess keeps it.
    {"GuessedFatsKeepTheEntrysStart",
     [](ScanResults& r) {
         table(r, 0, {{6, 60, 30000}});
         fat16Remains(r);
     },
     300000, "60 P6@0.0 F64+200++ R464/30 G4@496#3/30/5 [30000,30000]\n"},
    // One FAT right behind one reserved sector of its partition: guessed from
    // the partition's start, where two FATs of half its size read as zeros
    // alike and so agree on nothing.
    {"OneFatGuessedInItsPartition",
     [](ScanResults& r) {
         table(r, 0, {{6, 2048, 65536}});
         fat(r, 2049);
         plain(r, 2113, 2, 30);
         grid(r, 2145, 4, {3, 4}, 30);
     },
     100000, "2048 P6@0.0 F2049+64++ R2113/30 G4@2145#2/30/4 [65536,65536]\n"},
    // A FAT16 of one FAT and a FAT32 pair at the same place and size (its
    // first sector opens as a FAT32's): the pair, of two found copies, wins.
    {"OneFatAndAPairOfItsSize",
     [](ScanResults& r) {
         fat(r, 32);
         fat(r, 64);
         grid(r, 96, 1, {3, 4});
     },
     1000,
     "0 F32+32++ G1@96#2/4/4 [96,1000]\n",
     false,
     0,
     {{32, std::string("\xF8\xFF\xFF\x0F\xFF\xFF\xFF\x0F", 8)}}},
    // A FAT16 whose root of 4,096 entries is not found: its FAT, which opens
    // as a FAT16's, is no single FAT ending where a FAT32's would, with no
    // room for a root, but what a root of the usual size leaves.
    {"NoFat16EndsWhereAFat32Would",
     [](ScanResults& r) {
         fat(r, 4);
         fat(r, 68);
         grid(r, 388, 4, {3, 4, 5}, 30);
     },
     65536,
     "63 F64+146-- G4@388#3/30/5 [325,65473]\n",
     false,
     0,
     {{4, std::string("\xF8\xFF\xFF\xFF", 4)}, {68, std::string("\xF8\xFF\xFF\xFF", 4)}}},
    // $MFT, $MFTMirr, $Bitmap and the mirror's copy: eight sectors a cluster.
    {"NtfsFromMftRecords",
     [](ScanResults& r) {
         system(r, 2080, NTFS_MFT_RECORD, 4, 65536);
         system(r, 2082, NTFS_MFT_MIRROR_RECORD, 2559, 4096);
         system(r, 2092, NTFS_BITMAP_RECORD, 10, 640);
         system(r, 22520, NTFS_MFT_RECORD, 4, 65536);
         system(r, 22522, NTFS_MFT_MIRROR_RECORD, 2559, 4096);
         table(r, 0, {{0x0B, 2048, 40960}, {7, 2048, 40960}});
     },
     50000, "2048 Pb@0.0 [40960,40960]\n2048 P7@0.1 N2080/22520/8/2/640 [40960,40960]\n"},
    // A boot sector places a volume only where the scan found its $MFT.
    {"NtfsBootSectorNeedsItsMft",
     [](ScanResults& r) {
         boot(r, 2048, ntfsBoot(40959, 8, 4, 2559));
         system(r, 2080, NTFS_MFT_RECORD, 4, 65536);
         boot(r, 9000, ntfsBoot(30000, 0, 4, 2559));
         system(r, 9000, NTFS_MFT_RECORD, 4, 65536);
     },
     50000, "2048 B N2080/22520/8/2/640 [40960,40960]\n9000 B [30001,30001]\n"},
    // ... and only one whose volume ends on the source: an $MFT record where a
    // boot sector that overstates its size puts it, without the mirror's
    // copy, places nothing.
    {"NtfsBootSectorLargerThanTheSourceWithoutItsMftPair",
     [](ScanResults& r) {
         boot(r, 2048, ntfsBoot(60000, 8, 4, 2559));
         system(r, 2080, NTFS_MFT_RECORD, 4, 65536);
     },
     50000, ""},
    // A volume image whose boot code reads as a table: its entries name no
    // partition, and the FATs behind sector 0 place the volume there; the
    // table of a disk image kept as a file on it names that disk's volume.
    {"AVolumeImageNamesNoPartitionInItsSectorZero",
     [](ScanResults& r) {
         table(r, 0, {{6, 63, 24576}, {5, 24639, 1000}});
         fat(r, 4);
         fat(r, 52);
         plain(r, 100, 32, 30);
         grid(r, 132, 4, {3, 4, 5}, 30);
         table(r, 3000, {{6, 5048, 10240}});
         boot(r, 5048, fatBoot(10240, 4, 10, 1, 512));
     },
     49152,
     "0 F4+48++ R100/30 G4@132#3/30/5 [132,49152]\n5048 P6@3000.0 B F5049+10-- "
     "[10240,10240]\n",
     false,
     0,
     {},
     true},
};

class FsCollectionRuleTest : public ::testing::TestWithParam<Rule> {};

TEST_P(FsCollectionRuleTest, Candidates) {
    ScanResults r;
    GetParam().finds(r);
    SharedPtr<Driver> d = zeroDriver(GetParam().sectors, GetParam().floppy, GetParam().bytes);
    d->getProperties().setUInt8(PROP_USES_PARTITION_TABLES, GetParam().volumeImage ? 0 : 1);
    EXPECT_EQ(summary(collect(r, *d, GetParam().slack)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, FsCollectionRuleTest, ::testing::ValuesIn(RULES),
                         [](const ::testing::TestParamInfo<Rule>& info) {
                             return std::string(info.param.name);
                         });

TEST(FsCollectionTest, Fat32RootIsTheRunNamingMostFirstLevelFoldersReadSectorBySector) {
    // Cluster 2 at 100, a sector a cluster; first-level folders in clusters 3-5
    // and a cluster above 65525 make the grid FAT32.
    std::string image(200 * 512, '\0');
    auto entry = [&](u32 lba, u32 slot, u32 cluster, u8 attributes) {
        char* e = &image[lba * 512 + slot * 32];
        std::memcpy(e, "FOLDER     ", 11);
        e[11] = static_cast<char>(attributes);
        e[26] = static_cast<char>(cluster);
    };
    entry(100, 0, 9, 0x10);
    entry(110, 0, 3, 0x10);
    entry(110, 1, 4, 0x0F);
    for (u32 slot = 2; slot < 16; ++slot)
        entry(110, slot, 5, 0x20);
    entry(111, 0, 4, 0x10);
    entry(111, 1, 5, 0x10);
    // After the first free slot nothing counts, though the run says it goes on.
    entry(112, 1, 3, 0x10);
    ScanResults r;
    subdir(r, 101, 3, 0, 70000);
    subdir(r, 102, 4, 0);
    subdir(r, 103, 5, 0);
    plain(r, 100, 1, 9);
    r.directoryRuns.insert(FoundDirectoryRun{110, 0xFFFFFFF0u, false, true, 0, 0, 5});
    FailingReader* reads = new FailingReader(SharedPtr<dt::Reader>(new MemoryReader(image)), {});
    Driver d(SharedPtr<dt::Reader>(reads), 512);
    FsCandidateList out = collect(r, d);
    EXPECT_EQ(summary(out), "100 R110/5 G1@100#3/70000/5 [10,100]\n");
    for (const auto& request : reads->requests())
        EXPECT_EQ(request.size, 512) << "a run's length sizes no read";
    // Its second sector unreadable, the run at cluster 2 wins by its position.
    Driver bad(SharedPtr<dt::Reader>(new FailingReader(d.getReader(), {111})), 512);
    EXPECT_EQ(collect(r, bad)[0].rootDirLBA, 100u);
}

// Two FAT32 grids of one sector a cluster, cluster 2 at 100 and at 200, whose
// first-level folders are both at clusters 3 and 4: they are searched together,
// each from its own cluster 2 on, with its own point for a run right there.
TEST(FsCollectionTest, GridsOfTheSameFoldersEachTakeTheirOwnRoot) {
    const struct {
        std::vector<std::pair<u32, std::vector<u32>>> runs; // LBA, folders it names
        const char* roots;                                  // of the grids at 100 and 200
    } rows[] = {
        // Named folders and the point tie: the first run wins; none lies behind 200.
        {{{100, {}}, {150, {3}}}, "100:100 200:- "},
        // A run that names more beats the one at cluster 2, a tie does not.
        {{{200, {3}}, {250, {3, 4}}}, "100:250 200:200 "},
        // A folder named twice counts twice.
        {{{150, {4, 4, 3}}, {300, {3, 4}}}, "100:150 200:300 "},
    };
    for (const auto& row : rows) {
        std::string image(400 * 512, '\0');
        ScanResults r;
        grid(r, 100, 1, {3, 4}, 70000);
        grid(r, 200, 1, {3, 4}, 70000);
        for (const auto& run : row.runs) {
            plain(r, run.first, 1, 4);
            for (std::size_t i = 0; i < run.second.size(); ++i)
                image.replace(run.first * 512 + i * 32, 32,
                              shortEntry("FOLDER     ", ATTR_DIRECTORY, run.second[i], 0));
        }
        std::string roots;
        for (const FsCandidate& c : collect(r, *openMemoryDriver(image)))
            roots += std::to_string(c.cluster2LBA) + ':' +
                     (c.hasRootDir ? std::to_string(c.rootDirLBA) : "-") + ' ';
        EXPECT_EQ(roots, row.roots) << row.runs[0].first;
    }
}

// Every sector starts as this one, without taking the memory of a disk.
class SameSectorReader : public ZeroReader {
public:
    SameSectorReader(u64 sectors, std::string head) : ZeroReader(sectors), head_(std::move(head)) {}
    bool read(i64 offset, u8* buffer, i64 size) override {
        if (!ZeroReader::read(offset, buffer, size))
            return false;
        for (i64 at = (512 - offset % 512) % 512; at < size; at += 512)
            std::memcpy(buffer + at, head_.data(), std::min<i64>(size - at, head_.size()));
        return true;
    }

private:
    std::string head_;
};

// The shared-folder flood as the root search sees it: grids of one sector a
// cluster whose first-level folders are the one at cluster 3 and one of their
// own, each followed by a run naming cluster 3. Every grid has its own set of
// folders and every run behind a grid names one of them: scoring each grid
// against each run costs grids times runs. Past a budget that no real disk
// needs, the grids the most runs lie behind (the first ones) stay unscored and
// the log counts them; twice the flood costs twice the work, not four times.
TEST(FsCollectionTest, AFloodOfGridsSharingAFolderIsScoredWithinABudget) {
    auto pollsFor = [](u32 grids) {
        ScanResults r;
        std::map<u32, u32> ownRun; // of the grid at each cluster 2
        u32 c2 = 10;
        for (u32 own = 4; own < 4 + grids; c2 += own++) {
            grid(r, c2, 1, {3, own}, 70000);
            plain(r, ownRun[c2] = c2 + own - 1, 1, 3);
        }
        Driver d(SharedPtr<dt::Reader>(
                     new SameSectorReader(c2, shortEntry("FOLDER     ", ATTR_DIRECTORY, 3, 0))),
                 512);
        RecordingProgress progress;
        LogCapture log;
        u32 rooted = 0;
        u32 wrong = 0; // unrooted after a rooted one, or rooted elsewhere
        for (const FsCandidate& c : collect(r, d, 0, &progress)) {
            rooted += c.hasRootDir;
            // The first run behind cluster 2 names as many as any later one.
            wrong += c.hasRootDir ? c.rootDirLBA != ownRun.at(c.cluster2LBA) : rooted != 0;
        }
        EXPECT_EQ(wrong, 0u) << grids;
        EXPECT_GT(rooted, 0u);
        EXPECT_TRUE(log.has("FSs(694): " + std::to_string(grids - rooted) + " of " +
                            std::to_string(grids) + " FAT32 grids left unscored"))
            << grids;
        return progress.record()->polls;
    };
    const u64 polls = pollsFor(4000);
    EXPECT_LT(pollsFor(8000), 2 * polls);
}

TEST(FsCollectionTest, PhasesPollAndACancelKeepsTheFinishedOnes) {
    ScanResults r;
    table(r, 0, {{6, 1500, 20000}});
    grid(r, 2000, 4, {10, 20, 30});
    plain(r, 1990, 1, 5);
    SharedPtr<Driver> d = zeroDriver(50000);
    RecordingProgress progress;
    EXPECT_TRUE(collect(ScanResults(), *d, 0, &progress).empty());
    EXPECT_EQ(progress.record()->polls, 7u);
    CreateFSCollectionParameters p(r, *d, 0);
    RecordingProgress cancel;
    cancel.cancelAtPoll(3);
    p.setInterfaceCallback(&cancel);
    FsCandidateList out;
    EXPECT_THROW(CreateFSCollection(out, p), InterruptedException);
    EXPECT_EQ(summary(out), "1500 P6@0.0 G4@2000#3/30/30 [0,0]\n");
}

TEST(FsCollectionTest, HostileFindsNeitherThrowNorWrap) {
    const u32 M = 0xFFFFFFFFu;
    ScanResults r;
    table(r, M, {{6, M, M}, {7, 0, M}, {0x0C, M - 1, 1}, {1, 1, M}});
    table(r, 0, {{6, 0, 4000}, {1, 10, 4000}});
    BootParams wild = fatBoot(M, 128, M, M, M);
    wild.fat.dataLbaOffset = wild.fat.rootDirectoryLbaOffset = M;
    boot(r, 0, wild);
    boot(r, 6, fatBoot(0, 0, 0x200000, 0, 0));
    boot(r, 7, ntfsBoot(~0ull, 255, ~0ull, ~0ull));
    boot(r, M, ntfsBoot(M, 0, 0, 0));
    fat(r, M);
    subdir(r, 1, 2, 0, M);
    subdir(r, 2, 3, 0, M);
    subdir(r, M, M, M, M);
    plain(r, M - 2, M, M);
    system(r, 0, NTFS_MFT_RECORD, 0, ~0ull);
    system(r, 1, NTFS_MFT_MIRROR_RECORD, ~0ull - 1, ~0ull);
    system(r, 2, NTFS_BITMAP_RECORD, ~0ull, ~0ull);
    for (u32 slack : {0u, M}) {
        SharedPtr<Driver> d = zeroDriver(4096, slack != 0);
        FsCandidateList out = collect(r, *d, slack);
        for (const FsCandidate& c : out)
            ASSERT_GE(c.maxSectors, c.minSectors) << c.startLBA;
        FsCandidateList kept;
        filterFsCollection(kept, out, *d);
    }
}

TEST(FsCollectionTest, LimitsThatContradictAreLoggedAndClosed) {
    ScanResults r;
    table(r, 0, {{7, 1500, 100}});
    SharedPtr<Driver> d = zeroDriver(1000);
    LogCapture log;
    EXPECT_EQ(summary(collect(r, *d, 64260)), "1500 P7@0.0 [1,1]\n");
    EXPECT_TRUE(log.has("FSs(1228): min > max: 1/0\nFSs(1229)\nIndex:0 LBA: 1500\n")) << log.text();
}

// ---- Filters ----

FsCandidate fat16Volume() {
    FsCandidate c;
    c.startLBA = 63;
    c.hasPartitionEntry = true;
    c.partitionType = 0x06;
    c.partitionSectors = 40000;
    c.hasBootSector = true;
    c.bootSector = fatBoot(40000, 4, 100, 1, 512);
    c.hasFats = true;
    c.fatType = FAT16;
    c.fatLBA = 64;
    c.fatSectors = 100;
    c.fatFound = c.fatMirrorFound = true;
    c.hasRootDir = true;
    c.rootDirLBA = 264;
    c.rootLastCluster = 33;
    return c;
}

// Without its boot sector, partition entry and FAT mirror, on a grid confirmed
// by `pairs`.
void gridOf(FsCandidate& c, u32 pairs) {
    c.fatMirrorFound = c.hasBootSector = c.hasPartitionEntry = false;
    c.hasSubDirs = true;
    c.subDirCount = pairs;
}

TEST(FsFiltersTest, WhatEvidenceIsEnough) {
    SharedPtr<Driver> disk = zeroDriver(16);
    SharedPtr<Driver> floppy = zeroDriver(16, true);
    struct Case {
        const char* name;
        std::function<void(FsCandidate&)> change;
        bool evident;
        bool plausible;
    };
    const Case cases[] = {
        {"every piece", [](FsCandidate&) {}, true, true},
        {"a partition entry alone",
         [](FsCandidate& c) { c = FsCandidate(), c.hasPartitionEntry = true, c.partitionType = 6; },
         false, true},
        {"an NTFS volume alone", [](FsCandidate& c) { c = FsCandidate(), c.hasNtfsVolume = true; },
         true, false},
        {"mirror lost, boot sector and root agree",
         [](FsCandidate& c) { c.fatMirrorFound = false; }, true, true},
        {"fresh format: no root, both FATs", [](FsCandidate& c) { c.hasRootDir = false; }, true,
         true},
        {"neither FAT's first sector passes, the root where the boot sector says",
         [](FsCandidate& c) { c.fatFound = c.fatMirrorFound = false; }, true, true},
        {"...the root elsewhere",
         [](FsCandidate& c) { c.fatFound = c.fatMirrorFound = false, c.rootDirLBA = 300; }, false,
         true},
        {"no boot sector, mirror lost: the entry places it",
         [](FsCandidate& c) { c.fatMirrorFound = c.hasBootSector = false; }, true, true},
        {"...both FATs' first sectors lost too",
         [](FsCandidate& c) { c.fatFound = c.fatMirrorFound = c.hasBootSector = false; }, true,
         true},
        {"...without the entry",
         [](FsCandidate& c) { c.fatMirrorFound = c.hasBootSector = c.hasPartitionEntry = false; },
         false, true},
        {"...but a grid of ten pairs", [](FsCandidate& c) { gridOf(c, 10); }, true, true},
        {"...of nine", [](FsCandidate& c) { gridOf(c, 9); }, false, true},
        {"FATs only inferred, beside the entry alone",
         [](FsCandidate& c) {
             c.fatFound = c.fatMirrorFound = c.hasBootSector = c.hasRootDir = false;
         },
         false, false},
        {"FAT12 without an entry, off a floppy",
         [](FsCandidate& c) {
             c.hasPartitionEntry = false, c.bootSector = fatBoot(2880, 1, 9, 1, 224);
         },
         false, true},
        {"...its FATs where its boot sector says, whatever its hidden sectors",
         [](FsCandidate& c) {
             c.hasPartitionEntry = false, c.bootSector = fatBoot(40000, 16, 100, 1, 512);
         },
         true, true},
        {"no kind",
         [](FsCandidate& c) {
             c = FsCandidate(), c.hasPartitionEntry = c.hasBootSector = true,
             c.partitionType = 0x83;
         },
         true, false},
    };
    for (const Case& k : cases) {
        FsCandidate c = fat16Volume();
        k.change(c);
        EXPECT_EQ(hasSufficientEvidence(c, *disk), k.evident) << k.name;
        EXPECT_EQ(isPlausibleCandidate(c, 1, *disk), k.plausible) << k.name;
        EXPECT_TRUE(isPlausibleCandidate(c, 0, *disk)) << k.name;
    }
    FsCandidate floppyFat = fat16Volume();
    floppyFat.hasPartitionEntry = false;
    floppyFat.bootSector = fatBoot(2880, 1, 9, 1, 224);
    EXPECT_TRUE(hasSufficientEvidence(floppyFat, *floppy));

    // The layout's copy is filtered only when the preference says so.
    FsCandidate entryOnly;
    entryOnly.hasPartitionEntry = true;
    entryOnly.partitionType = 6;
    FsCandidateList out;
    Preferences::instance().setFilterInvalidFileSystems(false);
    filterFsCollection(out, {entryOnly, fat16Volume()}, *disk);
    EXPECT_EQ(out.size(), 2u);
    Preferences::instance().resetToDefaults();
    LogCapture log;
    filterFsCollection(out, {entryOnly, fat16Volume()}, *disk);
    EXPECT_EQ(out.size(), 1u);
    EXPECT_TRUE(log.has("Analyzer(262): *** CreateFSCollection after filters ***\nAnalyzer(263)\n"
                        "(not selected) Index:0 LBA: 63\n"));
}

// On a drive, a FAT12 volume outside any partition is dropped where it lies
// inside another volume (a floppy image kept as a file there), and only there.
TEST(FsFiltersTest, AFat12WithoutEntryIsDroppedInsideAnotherVolume) {
    SharedPtr<Driver> disk = zeroDriver(200000);
    FsCandidate outer = fat16Volume();
    outer.minSectors = outer.maxSectors = 40000;
    auto fat12At = [](u32 start) {
        FsCandidate c = fat16Volume();
        c.hasPartitionEntry = false;
        c.startLBA = start;
        c.fatLBA = start + 1;
        c.rootDirLBA = start + 201;
        c.bootSector = fatBoot(4000, 16, 100, 1, 512);
        c.minSectors = c.maxSectors = 4000;
        return c;
    };
    FsCandidateList out;
    filterFsByEvidence(out, {outer, fat12At(30000), fat12At(40063)}, *disk);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].startLBA, 40063u);
}

} // namespace
