#include "analysis/FsCollection.h"

#include "analysis/FsFilters.h"
#include "analysis/ScScanner.h"
#include "core/Log.h"
#include "devices/Driver.h"
#include "fs/DirectoryEntry.h"
#include "fs/StructureChecks.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

using namespace testutil;

namespace {

// A source of `sectors` zero sectors that holds no memory: large sources for
// the range tests, without the bytes.
class ZeroReader : public dt::Reader {
public:
    explicit ZeroReader(u64 sectors) { setSize(static_cast<i64>(sectors * 512)); }
    bool read(i64 offset, u8* buffer, i64 size) override {
        if (!dt::rangeInside(offset, size, getSize()))
            return false;
        std::memset(buffer, 0, static_cast<std::size_t>(size));
        return true;
    }
};

SharedPtr<Driver> zeroDriver(u64 sectors, bool floppy = false) {
    SharedPtr<dt::Reader> reader(new ZeroReader(sectors));
    SharedPtr<Driver> driver(new Driver(reader, 512));
    if (floppy)
        driver->getProperties().setUInt8(PROP_IS_FLOPPY, 1);
    return driver;
}

SharedPtr<Driver> memoryDriver(const std::string& bytes) {
    SharedPtr<dt::Reader> reader(new MemoryReader(bytes));
    return SharedPtr<Driver>(new Driver(reader, 512));
}

FsCandidateList collect(const ScanResults& results, Driver& driver, u32 slack = 0,
                        InterfaceCallback* progress = nullptr) {
    CreateFSCollectionParameters p(results, driver, slack);
    p.setInterfaceCallback(progress);
    FsCandidateList out;
    CreateFSCollection(out, p);
    return out;
}

std::string listing(const FsCandidateList& list, Driver& driver) {
    std::ostringstream os;
    printFsCollection(os, list, driver);
    return os.str();
}

std::vector<u32> startsOf(const FsCandidateList& list) {
    std::vector<u32> starts;
    for (const FsCandidate& c : list)
        starts.push_back(c.startLBA);
    return starts;
}

// ---- Finds as the scan records them ----

void addTable(ScanResults& r, u32 lba, std::vector<FoundPartitionEntry> entries) {
    FoundPartitionTable t;
    t.lba = lba;
    for (std::size_t i = 0; i < entries.size() && i < 4; ++i)
        t.entries[i] = entries[i];
    r.partitionTables.insert(t);
}

void addBoot(ScanResults& r, u32 lba, const BootParams& params) {
    r.bootSectors.insert(FoundBootSector{lba, params});
}

// A FAT boot sector: total sectors, sectors per cluster, sectors per FAT,
// reserved sectors, root entries (0 for FAT32, root in cluster 2).
BootParams fatBoot(u32 total, u32 spc, u32 spf, u32 reserved, u32 rootEntries) {
    BootParams b;
    b.kind = FS_FAT;
    b.fat.totalSectors = total;
    b.fat.sectorsPerCluster = spc;
    b.fat.sectorsPerFAT = spf;
    b.fat.reservedSectors = reserved;
    b.fat.rootEntries = rootEntries;
    const u32 rootSectors = rootEntries * 32 / 512;
    b.fat.rootDirectoryLbaOffset = reserved + 2 * spf;
    b.fat.dataLbaOffset = b.fat.rootDirectoryLbaOffset + rootSectors;
    b.fat.rootCluster = rootEntries == 0 ? 2 : 0;
    return b;
}

BootParams ntfsBoot(u64 total, u8 spc, u64 mft, u64 mirror, u8 spfr) {
    BootParams b;
    b.kind = FS_NTFS;
    b.ntfs.totalSectors = total;
    b.ntfs.sectorsPerCluster = spc;
    b.ntfs.MFTCluster = mft;
    b.ntfs.MFTMirrCluster = mirror;
    b.ntfs.sectorsPerFileRecord = spfr;
    return b;
}

void addFat(ScanResults& r, u32 lba, FatType type = FAT16) {
    r.fatSectors.insert(FoundFatSector{lba, type});
}

// A subdirectory's first cluster: "." and ".." entries.
void addSubdir(ScanResults& r, u32 lba, u32 dot, u32 dotDot, u32 highest = 0) {
    r.directoryRuns.insert(FoundDirectoryRun{lba, 1, true, false, dot, dotDot, highest});
}

// Directory sectors without "." entries (a root directory, or a directory's
// later cluster).
void addPlainRun(ScanResults& r, u32 lba, u32 sectors, u32 highest) {
    r.directoryRuns.insert(FoundDirectoryRun{lba, sectors, false, false, 0, 0, highest});
}

void addSystemRecord(ScanResults& r, u32 lba, u32 which, u64 lcn, u64 size) {
    FoundNtfsSystemRecord rec;
    rec.lba = lba;
    rec.info.which = which;
    rec.info.lcn = lcn;
    rec.info.size = size;
    r.ntfsSystemRecords.insert(rec);
}

// The subdirectories of a grid: "." clusters at their places.
void addGrid(ScanResults& r, u32 cluster2, u32 spc, std::initializer_list<u32> dots,
             u32 highest = 0) {
    for (u32 dot : dots)
        addSubdir(r, cluster2 + (dot - 2) * spc, dot, 0, highest);
}

// ---- Scanning a real image ----

ScanResults scanImage(Driver& driver) {
    ScanResults results;
    ScScanner scanner(&results, 256, 512, 0, 3);
    const u64 total = driver.getSectorCount();
    for (u64 lba = 0; lba < total; lba += 256) {
        const u32 n = static_cast<u32>(std::min<u64>(256, total - lba));
        if (!driver.readSectors(lba, n, scanner.bufferEnd()))
            throw std::runtime_error("cannot read the image at " + std::to_string(lba));
        scanner.addSectors(lba, n);
    }
    scanner.finish();
    return results;
}

// The candidates of a scanned image, and what the filters keep of them.
struct Collected {
    FsCandidateList all;
    FsCandidateList kept;
    std::string text;
};

Collected collectImage(Driver& driver) {
    Collected c;
    const ScanResults results = scanImage(driver);
    c.all = collect(results, driver, CreateFSCollectionParameters::defaultSlackSectors(driver));
    FsCandidateList evident;
    filterFsByEvidence(evident, c.all, driver);
    filterFsByPlausibility(c.kept, evident, 1, driver);
    c.text = "all:\n" + listing(c.all, driver) + "\nkept:\n" + listing(c.kept, driver);
    return c;
}

// A FAT image with a few folders and files, so that the scan sees a root
// directory and a grid of subdirectories.
void fillFat(FatImage& image, int folders) {
    image.addFile("readme.txt", "hello");
    for (int i = 0; i < folders; ++i) {
        const std::string name = "dir" + std::to_string(i);
        image.makeFolder(name);
        image.addFile(name + "/f.txt", std::string(100, 'a' + static_cast<char>(i)));
    }
}

} // namespace

// ---- The phases on finds made by hand ----

TEST(FsCollectionTest, AnEmptyScanYieldsNothingAfterOnePollPerPhase) {
    ScanResults r;
    SharedPtr<Driver> d = zeroDriver(1000);
    RecordingProgress progress;
    FsCandidateList out(3);
    out = collect(r, *d, 0, &progress);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(progress.record()->polls, 7u);
}

TEST(FsCollectionTest, PartitionEntriesThatFitTheDrive) {
    ScanResults r;
    addTable(r, 0, {{0x07, 2048, 1000}, {0x05, 4000, 100}, {0x83, 10, 0}, {0x0C, 100, 500}});
    addTable(r, 4000, {{0x0C, 100, 500}, {0x06, 4100, 6000}, {0x0F, 5000, 10}, {0, 0, 0}});
    SharedPtr<Driver> d = zeroDriver(10000);
    FsCandidateList out = collect(r, *d);
    // Extended, empty and zero-sized slots are skipped, as is the partition that
    // runs past the drive; two tables naming one partition give two candidates.
    ASSERT_EQ(out.size(), 3u) << listing(out, *d);
    EXPECT_EQ(startsOf(out), (std::vector<u32>{100, 100, 2048}));
    EXPECT_EQ(out[0].partitionTableLBA, 0u);
    EXPECT_EQ(out[0].partitionEntryIndex, 3u);
    EXPECT_EQ(out[1].partitionTableLBA, 4000u);
    EXPECT_EQ(out[1].partitionEntryIndex, 0u);
    EXPECT_EQ(out[2].partitionType, 0x07);
    EXPECT_EQ(out[2].partitionSectors, 1000u);
    // Size limits: an entry's count is the exact size.
    EXPECT_EQ(out[2].minSectors, 1000u);
    EXPECT_EQ(out[2].maxSectors, 1000u);
}

TEST(FsCollectionTest, VolumesMayReachFourCylindersPastTheReportedEnd) {
    SharedPtr<Driver> d = zeroDriver(100000);
    const u32 slack = CreateFSCollectionParameters::defaultSlackSectors(*d);
    EXPECT_EQ(slack, 64260u);
    ScanResults r;
    addTable(r, 0, {{0x07, 1000, 99000 + 64260}, {0x07, 2000, 98000 + 64260 + 1}});
    FsCandidateList out = collect(r, *d, slack);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].startLBA, 1000u);
    // The size limits know only the sectors that are there.
    EXPECT_EQ(out[0].maxSectors, 99000u);

    // The slack follows the drive's geometry, and an absurd one does not wrap.
    d->getProperties().setUInt64(PROP_HEADS, 16);
    d->getProperties().setUInt64(PROP_SECTORS, 32);
    EXPECT_EQ(CreateFSCollectionParameters::defaultSlackSectors(*d), 2048u);
    d->getProperties().setUInt64(PROP_HEADS, 1ull << 31);
    EXPECT_EQ(CreateFSCollectionParameters::defaultSlackSectors(*d), 0xFFFFFFFFu);
    d->getProperties().setUInt64(PROP_HEADS, 0);
    EXPECT_EQ(CreateFSCollectionParameters::defaultSlackSectors(*d), 0u);
}

TEST(FsCollectionTest, Fat32BootSectorsAreAlsoReadAsBackups) {
    const BootParams boot = fatBoot(1000, 1, 600, 32, 0);
    SharedPtr<Driver> d = zeroDriver(5000);
    {
        // At LBA 5 no volume can hold it six sectors in.
        ScanResults r;
        addBoot(r, 5, boot);
        FsCandidateList out = collect(r, *d);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_TRUE(out[0].hasBootSector);
        EXPECT_FALSE(out[0].hasBootBackup);
    }
    {
        ScanResults r;
        addBoot(r, 6, boot);
        FsCandidateList out = collect(r, *d);
        ASSERT_EQ(out.size(), 2u) << listing(out, *d);
        EXPECT_EQ(out[0].startLBA, 0u);
        EXPECT_TRUE(out[0].hasBootBackup && !out[0].hasBootSector);
        EXPECT_EQ(out[0].bootBackupLBA, 6u);
        EXPECT_EQ(out[1].startLBA, 6u);
        EXPECT_TRUE(out[1].hasBootSector && !out[1].hasBootBackup);
        // Without room behind it, no backup reading.
        out = collect(r, *zeroDriver(1011));
        EXPECT_EQ(out.size(), 1u);
        // A FAT16 boot sector is never read as a backup.
        ScanResults r16;
        addBoot(r16, 6, fatBoot(1000, 4, 100, 1, 512));
        EXPECT_EQ(collect(r16, *d).size(), 1u);
    }
}

TEST(FsCollectionTest, BootSectorsJoinOnlyCompatiblePartitionEntries) {
    SharedPtr<Driver> d = zeroDriver(50000);
    const BootParams fat16 = fatBoot(40000, 4, 100, 1, 512);
    ScanResults r;
    addTable(r, 0, {{0x07, 2048, 40000}});
    addBoot(r, 2048, fat16);
    FsCandidateList out = collect(r, *d);
    ASSERT_EQ(out.size(), 2u) << listing(out, *d);
    EXPECT_TRUE(out[0].hasPartitionEntry && !out[0].hasBootSector);
    EXPECT_TRUE(!out[1].hasPartitionEntry && out[1].hasBootSector);
    EXPECT_EQ(out[1].startLBA, 2048u);

    ScanResults joined;
    addTable(joined, 0, {{0x06, 2048, 40000}});
    addBoot(joined, 2048, fat16);
    out = collect(joined, *d);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].hasPartitionEntry && out[0].hasBootSector);
    EXPECT_EQ(out[0].minSectors, 40000u);
    EXPECT_EQ(out[0].maxSectors, 40000u);
}

TEST(FsCollectionTest, NtfsBackupBootSectorsPlaceTheirVolume) {
    SharedPtr<Driver> d = zeroDriver(15000);
    const BootParams boot = ntfsBoot(9000, 8, 4, 500, 2);
    {
        // The volume would end past the drive: no primary, but the backup
        // reading puts its start 9000 sectors back.
        ScanResults r;
        addBoot(r, 10000, boot);
        FsCandidateList out = collect(r, *d);
        ASSERT_EQ(out.size(), 1u) << listing(out, *d);
        EXPECT_EQ(out[0].startLBA, 1000u);
        EXPECT_TRUE(out[0].hasBootBackup && !out[0].hasBootSector);
        EXPECT_EQ(out[0].bootBackupLBA, 10000u);
        EXPECT_EQ(out[0].fscode(), 0x07);
    }
    {
        // Primary and backup of one volume meet in one candidate.
        ScanResults r;
        addBoot(r, 1000, boot);
        addBoot(r, 10000, boot);
        FsCandidateList out = collect(r, *d);
        ASSERT_EQ(out.size(), 1u) << listing(out, *d);
        EXPECT_TRUE(out[0].hasBootSector && out[0].hasBootBackup);
        EXPECT_EQ(out[0].minSectors, 9001u);
        // A backup that says something else is another volume.
        ScanResults other;
        addBoot(other, 1000, boot);
        addBoot(other, 10000, ntfsBoot(9000, 8, 4, 501, 2));
        EXPECT_EQ(collect(other, *d).size(), 2u);
    }
}

TEST(FsCollectionTest, SubdirectoryPairsAgreeOnAGrid) {
    SharedPtr<Driver> d = zeroDriver(50000);
    ScanResults r;
    // Four subdirectories of one grid (three pairs), then noise: a pair whose
    // clusters fall, and one whose distance is no cluster size.
    addGrid(r, 2000, 4, {10, 20, 30, 40}, 77);
    addSubdir(r, 9000, 50, 0);
    addSubdir(r, 9003, 51, 0);
    FsCandidateList out = collect(r, *d);
    ASSERT_EQ(out.size(), 1u) << listing(out, *d);
    const FsCandidate& g = out[0];
    EXPECT_EQ(g.startLBA, 2000u);
    EXPECT_TRUE(g.hasSubDirs);
    EXPECT_EQ(g.sectorsPerCluster, 4u);
    EXPECT_EQ(g.cluster2LBA, 2000u);
    EXPECT_EQ(g.subDirCount, 4u);
    EXPECT_EQ(g.lastCluster, 77u);
    EXPECT_EQ(g.maxThisCluster, 40u);
}

TEST(FsCollectionTest, GridsAreAdoptedByThePartitionOrBootSectorTheyFit) {
    SharedPtr<Driver> d = zeroDriver(50000);
    {
        // Of two grids that fit the partition, the one of more subdirectories.
        ScanResults r;
        addTable(r, 0, {{0x06, 1500, 20000}});
        addGrid(r, 2000, 4, {10, 20, 30});
        addGrid(r, 5000, 4, {10, 20, 30, 40});
        FsCandidateList out = collect(r, *d);
        ASSERT_EQ(out.size(), 2u) << listing(out, *d);
        EXPECT_EQ(out[0].startLBA, 1500u);
        EXPECT_EQ(out[0].cluster2LBA, 5000u);
        EXPECT_EQ(out[0].subDirCount, 4u);
        EXPECT_EQ(out[1].startLBA, 2000u);
        EXPECT_EQ(out[1].subDirCount, 3u);
        // An NTFS entry adopts no grid.
        ScanResults ntfs = r;
        ntfs.partitionTables.clear();
        addTable(ntfs, 0, {{0x07, 1500, 20000}});
        out = collect(ntfs, *d);
        EXPECT_EQ(out.size(), 3u);
        EXPECT_FALSE(out[0].hasSubDirs);
    }
    {
        // A boot sector takes the grid whose cluster 2 is its data area.
        ScanResults r;
        addBoot(r, 1500, fatBoot(20000, 4, 100, 1, 512));
        addGrid(r, 1500 + 1 + 200 + 32, 4, {10, 20});
        FsCandidateList out = collect(r, *d);
        ASSERT_EQ(out.size(), 1u) << listing(out, *d);
        EXPECT_TRUE(out[0].hasSubDirs);
        ScanResults off;
        addBoot(off, 1500, fatBoot(20000, 4, 100, 1, 512));
        addGrid(off, 1500 + 1 + 200 + 33, 4, {10, 20});
        EXPECT_EQ(collect(off, *d).size(), 2u);
    }
}

TEST(FsCollectionTest, RootDirectoriesFromBootSectorsAndGrids) {
    SharedPtr<Driver> d = zeroDriver(50000);
    ScanResults r;
    // A FAT16 boot sector names its root directory.
    addBoot(r, 0, fatBoot(1000, 4, 100, 1, 512));
    addPlainRun(r, 201, 2, 33);
    // A grid takes a run at most 128 sectors before its cluster 2: 3871 is one
    // too far from 4000, 3872 is just near enough.
    addGrid(r, 4000, 4, {10, 20});
    addPlainRun(r, 3871, 1, 5);
    addPlainRun(r, 3872, 1, 6);
    FsCandidateList out = collect(r, *d);
    ASSERT_EQ(out.size(), 2u) << listing(out, *d);
    EXPECT_TRUE(out[0].hasRootDir);
    EXPECT_EQ(out[0].rootDirLBA, 201u);
    EXPECT_EQ(out[0].rootLastCluster, 33u);
    EXPECT_TRUE(out[1].hasRootDir);
    EXPECT_EQ(out[1].rootDirLBA, 3872u);
    EXPECT_EQ(out[1].rootLastCluster, 6u);

    // Off a floppy a run that nobody takes stays a loose find; on one it opens
    // a candidate.
    ScanResults loose;
    addPlainRun(loose, 19, 14, 40);
    EXPECT_TRUE(collect(loose, *d).empty());
    out = collect(loose, *zeroDriver(2880, true));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].hasRootDir);
    EXPECT_EQ(out[0].startLBA, 19u);
}

TEST(FsCollectionTest, GridsOfFat32TakeNoRootDirectoryBeforeTheirData) {
    SharedPtr<Driver> d = zeroDriver(50000);
    ScanResults r;
    // The partition type says FAT32: its root lies in clusters.
    addTable(r, 0, {{0x0C, 1000, 40000}});
    addGrid(r, 3000, 8, {10, 20, 30});
    addPlainRun(r, 2990, 1, 5);
    // A FAT12 boot sector whose grid names clusters no FAT12 can number:
    // nothing is possible. (The run is not where the boot sector puts its root.)
    addBoot(r, 10000, fatBoot(20000, 4, 8, 1, 224));
    addGrid(r, 10000 + 1 + 16 + 14, 4, {10, 20}, 5000);
    addPlainRun(r, 10020, 1, 5);
    const std::size_t mark = logMemoryText().size();
    FsCandidateList out = collect(r, *d);
    for (const FsCandidate& c : out)
        EXPECT_FALSE(c.hasRootDir) << listing(out, *d);
    EXPECT_NE(logMemoryText().find("FSs(689): 10000\n", mark), std::string::npos);
}

TEST(FsCollectionTest, Fat32RootIsTheDirectoryOfMostFirstLevelFolders) {
    // Cluster 2 at 100, one sector a cluster; first-level folders in clusters 3,
    // 4 and 5; a cluster number above 65525 makes the grid FAT32.
    std::string image(200 * 512, '\0');
    auto entry = [&](u32 lba, u32 slot, u32 cluster, u8 attributes) {
        char* e = &image[lba * 512 + slot * 32];
        std::memcpy(e, "FOLDER     ", 11);
        e[11] = static_cast<char>(attributes);
        e[20] = static_cast<char>(cluster >> 16);
        e[21] = static_cast<char>(cluster >> 24);
        e[26] = static_cast<char>(cluster);
        e[27] = static_cast<char>(cluster >> 8);
    };
    // The run at cluster 2 names one folder nobody has; the run at 110 names all
    // three, the last two in its second sector (long-name entries and files with
    // their clusters do not count).
    entry(100, 0, 9, 0x10);
    entry(110, 0, 3, 0x10);
    entry(110, 1, 4, 0x0F);
    for (u32 slot = 2; slot < 16; ++slot)
        entry(110, slot, 5, 0x20);
    entry(111, 0, 4, 0x10);
    entry(111, 1, 5, 0x10);
    ScanResults r;
    addSubdir(r, 101, 3, 0, 70000);
    addSubdir(r, 102, 4, 0);
    addSubdir(r, 103, 5, 0);
    addPlainRun(r, 100, 1, 9);
    addPlainRun(r, 110, 2, 5);
    SharedPtr<Driver> d = memoryDriver(image);
    RecordingProgress progress;
    FsCandidateList out = collect(r, *d, 0, &progress);
    ASSERT_EQ(out.size(), 1u) << listing(out, *d);
    EXPECT_TRUE(out[0].hasRootDir);
    EXPECT_EQ(out[0].rootDirLBA, 110u);
    EXPECT_EQ(out[0].rootLastCluster, 5u);

    // Half the run that names the folders cannot be read: the run at cluster 2
    // keeps its position point and wins.
    SharedPtr<dt::Reader> failing(new FailingReader(d->getReader(), {111}));
    Driver bad(failing, 512);
    out = collect(r, bad);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].rootDirLBA, 100u);

    // First-level folders, but no run names one and none lies at cluster 2:
    // no root directory.
    ScanResults unnamed = r;
    unnamed.directoryRuns.erase(unnamed.directoryRuns.find(100u));
    unnamed.directoryRuns.erase(unnamed.directoryRuns.find(110u));
    addPlainRun(unnamed, 150, 1, 9);
    out = collect(unnamed, *d);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(out[0].hasRootDir);

    // Without first-level folders nothing is scored.
    ScanResults deeper = r;
    deeper.directoryRuns.clear();
    addSubdir(deeper, 101, 3, 7, 70000);
    addSubdir(deeper, 102, 4, 7);
    addPlainRun(deeper, 110, 2, 5);
    out = collect(deeper, *d);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(out[0].hasRootDir);
}

TEST(FsCollectionTest, FatPositionFromTheBootSector) {
    SharedPtr<Driver> d = zeroDriver(50000);
    ScanResults r;
    addBoot(r, 63, fatBoot(40000, 4, 100, 4, 512));
    addFat(r, 67);
    addFat(r, 167);
    FsCandidateList out = collect(r, *d);
    ASSERT_EQ(out.size(), 1u);
    const FsCandidate& c = out[0];
    EXPECT_TRUE(c.hasFats);
    EXPECT_EQ(c.fatLBA, 67u);
    EXPECT_EQ(c.fatSectors, 100u);
    EXPECT_EQ(c.fatType, FAT16);
    EXPECT_TRUE(c.fatFound && c.fatMirrorFound);

    // A FAT size of no width places nothing.
    ScanResults odd;
    addBoot(odd, 63, fatBoot(40000, 4, 300, 4, 512));
    out = collect(odd, *d);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(out[0].hasFats);
}

TEST(FsCollectionTest, FatPositionGuessedFromFatSectorsAndTheRootDirectory) {
    // FAT16 from LBA 63: one reserved sector, FATs of 200 sectors at 64 and 264,
    // root directory 464-495, cluster 2 at 496, four sectors a cluster. Nothing
    // but the FAT starts, the root and the subdirectories survived.
    SharedPtr<Driver> d = zeroDriver(300000);
    ScanResults r;
    addFat(r, 64);
    addFat(r, 264);
    addPlainRun(r, 464, 1, 30);
    addGrid(r, 496, 4, {3, 4, 5}, 30);
    RecordingProgress progress;
    FsCandidateList out = collect(r, *d, 0, &progress);
    ASSERT_EQ(out.size(), 1u) << listing(out, *d);
    const FsCandidate& c = out[0];
    EXPECT_EQ(c.startLBA, 63u);
    EXPECT_TRUE(c.hasFats);
    EXPECT_EQ(c.fatLBA, 64u);
    EXPECT_EQ(c.fatSectors, 200u);
    EXPECT_EQ(c.fatType, FAT16);
    EXPECT_TRUE(c.fatFound && c.fatMirrorFound);
    EXPECT_EQ(c.rootDirLBA, 464u);
    // Proposals: the mirror at 264 and the pair starting there, then the 63
    // hidden sectors' guess (the same as the first): the guessing stopped after
    // five tries at most, each polled.
    EXPECT_LE(progress.record()->polls, 7u + 5u);
    EXPECT_GT(progress.record()->polls, 7u + 1u);
    // Sizes: from the end of the mirror to what 200 FAT sectors can number.
    EXPECT_EQ(c.minSectors, 496u - 63u);
    EXPECT_EQ(c.maxSectors, (200u * 256 - 2) * 4 + 496 - 63);
}

TEST(FsCollectionTest, GuessingIsBoundedAndFloppiesGetNoHiddenSectors) {
    // Many FAT starts where a FAT16 mirror could begin: five proposals at most.
    SharedPtr<Driver> d = zeroDriver(50000);
    ScanResults r;
    for (u32 f = 300; f < 460; ++f)
        addFat(r, f);
    addPlainRun(r, 464, 1, 30);
    addGrid(r, 496, 4, {3, 4, 5}, 30);
    RecordingProgress progress;
    collect(r, *d, 0, &progress);
    EXPECT_EQ(progress.record()->polls, 7u + 5u);

    // A floppy: FAT12 only, and the volume at 0, not 63.
    SharedPtr<Driver> floppy = zeroDriver(2880, true);
    ScanResults f;
    addFat(f, 1, FAT12);
    addFat(f, 10, FAT12);
    addPlainRun(f, 19, 14, 40);
    FsCandidateList out = collect(f, *floppy);
    ASSERT_EQ(out.size(), 1u) << listing(out, *floppy);
    EXPECT_EQ(out[0].startLBA, 0u);
    EXPECT_EQ(out[0].rootDirLBA, 19u);
    EXPECT_EQ(out[0].fatLBA, 1u);
    EXPECT_EQ(out[0].fatSectors, 9u);
    EXPECT_EQ(out[0].fatType, FAT12);
    EXPECT_TRUE(out[0].fatFound && out[0].fatMirrorFound);
}

TEST(FsCollectionTest, MirrorCopiesDecideBetweenGuesses) {
    // Two hypotheses without FAT finds at either: the one whose copies match.
    // FAT16 from 63: FATs of 16 sectors at 64 and 80, root at 96.
    std::string image(1000 * 512, '\0');
    for (u32 s = 0; s < 16; ++s) {
        std::string fat(512, static_cast<char>(s + 1));
        image.replace((64 + s) * 512, 512, fat);
        image.replace((80 + s) * 512, 512, fat);
    }
    SharedPtr<Driver> d = memoryDriver(image);
    ScanResults r;
    addFat(r, 80);
    addPlainRun(r, 96, 1, 30);
    addGrid(r, 128, 4, {3, 4}, 30);
    FsCandidateList out = collect(r, *d);
    ASSERT_EQ(out.size(), 1u) << listing(out, *d);
    EXPECT_EQ(out[0].fatLBA, 64u);
    EXPECT_EQ(out[0].fatSectors, 16u);
    EXPECT_FALSE(out[0].fatFound);
    EXPECT_TRUE(out[0].fatMirrorFound);
}

TEST(FsCollectionTest, NtfsVolumesFromMftRecordsAndTheirMirror) {
    // A volume at 2048, eight sectors a cluster, $MFT at cluster 4 and $MFTMirr
    // at cluster 2559.
    SharedPtr<Driver> d = zeroDriver(50000);
    ScanResults r;
    addSystemRecord(r, 2080, NTFS_MFT_RECORD, 4, 65536);
    addSystemRecord(r, 2082, NTFS_MFT_MIRROR_RECORD, 2559, 4096);
    addSystemRecord(r, 2092, NTFS_BITMAP_RECORD, 10, 640);
    addSystemRecord(r, 22520, NTFS_MFT_RECORD, 4, 65536);
    addSystemRecord(r, 22522, NTFS_MFT_MIRROR_RECORD, 2559, 4096);
    FsCandidateList out = collect(r, *d);
    ASSERT_EQ(out.size(), 1u) << listing(out, *d);
    const FsCandidate& v = out[0];
    EXPECT_EQ(v.startLBA, 2048u);
    EXPECT_TRUE(v.hasNtfsVolume);
    EXPECT_EQ(v.mftLBA, 2080u);
    EXPECT_EQ(v.mftMirrLBA, 22520u);
    EXPECT_EQ(v.ntfsSectorsPerCluster, 8u);
    EXPECT_EQ(v.sectorsPerFileRecord, 2u);
    EXPECT_EQ(v.bitmapSize, 640u);
    EXPECT_EQ(v.minSectors, 8u * (640 * 8 - 63));
    EXPECT_EQ(v.maxSectors, 8u * 640 * 8 + 1);

    // It joins an NTFS partition entry of that start, not a FAT one.
    ScanResults withEntry = r;
    addTable(withEntry, 0, {{0x0B, 2048, 40960}, {0x07, 2048, 40960}});
    out = collect(withEntry, *d);
    ASSERT_EQ(out.size(), 2u) << listing(out, *d);
    EXPECT_FALSE(out[0].hasNtfsVolume);
    EXPECT_TRUE(out[1].hasNtfsVolume);
    EXPECT_EQ(out[1].minSectors, 40960u);
}

TEST(FsCollectionTest, NtfsVolumesFromBootSectorsNeedTheirMft) {
    SharedPtr<Driver> d = zeroDriver(50000);
    const BootParams boot = ntfsBoot(40959, 8, 4, 2559, 2);
    ScanResults r;
    addBoot(r, 2048, boot);
    FsCandidateList out = collect(r, *d);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(out[0].hasNtfsVolume);
    EXPECT_EQ(out[0].minSectors, 40960u);

    addSystemRecord(r, 2080, NTFS_MFT_RECORD, 4, 65536);
    out = collect(r, *d);
    ASSERT_EQ(out.size(), 1u) << listing(out, *d);
    EXPECT_TRUE(out[0].hasNtfsVolume);
    EXPECT_EQ(out[0].mftLBA, 2080u);
    EXPECT_EQ(out[0].mftMirrLBA, 2048u + 2559 * 8);
    EXPECT_EQ(out[0].bitmapSize, 640u);
    EXPECT_EQ(out[0].minSectors, 40960u);
    EXPECT_EQ(out[0].maxSectors, 40960u);

    // A boot sector that claims clusters of no sectors places nothing.
    ScanResults zero;
    addBoot(zero, 2048, ntfsBoot(40959, 0, 4, 2559, 2));
    addSystemRecord(zero, 2048, NTFS_MFT_RECORD, 4, 65536);
    out = collect(zero, *d);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(out[0].hasNtfsVolume);
}

TEST(FsCollectionTest, InconsistentLimitsAreLoggedAndClosed) {
    // A partition that starts behind the end the drive reports (inside the
    // slack): no sector of it is there.
    SharedPtr<Driver> d = zeroDriver(1000);
    ScanResults r;
    addTable(r, 0, {{0x07, 1500, 100}});
    const std::size_t mark = logMemoryText().size();
    FsCandidateList out = collect(r, *d, 64260);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].minSectors, 1u);
    EXPECT_EQ(out[0].maxSectors, 1u);
    const std::string log = logMemoryText().substr(mark);
    EXPECT_NE(log.find("FSs(1228): min > max: 1/0\nFSs(1229)\nIndex:0 LBA: 1500\n"),
              std::string::npos)
        << log;
}

TEST(FsCollectionTest, ACancelKeepsTheFinishedPhases) {
    SharedPtr<Driver> d = zeroDriver(50000);
    ScanResults r;
    addTable(r, 0, {{0x06, 1500, 20000}});
    addGrid(r, 2000, 4, {10, 20, 30});
    addPlainRun(r, 1990, 1, 5);
    CreateFSCollectionParameters p(r, *d, 0);
    RecordingProgress progress;
    progress.cancelAtPoll(3);
    p.setInterfaceCallback(&progress);
    FsCandidateList out;
    EXPECT_THROW(CreateFSCollection(out, p), InterruptedException);
    // Entries, boot sectors and grids are in; the root directories are not.
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].hasSubDirs);
    EXPECT_FALSE(out[0].hasRootDir);
}

TEST(FsCollectionTest, TheResultIsLoggedBetweenMarkers) {
    SharedPtr<Driver> d = zeroDriver(5000);
    ScanResults r;
    addTable(r, 0, {{0x07, 100, 1000}});
    const std::size_t mark = logMemoryText().size();
    collect(r, *d);
    const std::string log = logMemoryText().substr(mark);
    EXPECT_NE(log.find("Analyzer(241): *** CreateFSCollection ***\nAnalyzer(242)\n(not selected) "
                       "Index:0 LBA: 100\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Analyzer(243): *** End of CreateFSCollection ***\n"), std::string::npos);
}

// ---- Hostile scan results ----

TEST(FsCollectionTest, AbsurdValuesNeitherThrowNorWrap) {
    SharedPtr<Driver> d = zeroDriver(4096);
    ScanResults r;
    const u32 M = 0xFFFFFFFFu;
    addTable(r, M, {{0x06, M, M}, {0x07, 0, M}, {0x0C, M - 1, 1}, {0x01, 1, M}});
    addTable(r, 0, {{0x06, 0, 4000}, {0x01, 10, 4000}});
    BootParams fat = fatBoot(M, 128, M, M, M);
    fat.fat.dataLbaOffset = M;
    fat.fat.rootDirectoryLbaOffset = M;
    addBoot(r, 0, fat);
    addBoot(r, 6, fatBoot(0, 0, 0x200000, 0, 0));
    addBoot(r, 7, ntfsBoot(~0ull, 255, ~0ull, ~0ull, 255));
    addBoot(r, M, ntfsBoot(M, 0, 0, 0, 0));
    addBoot(r, M - 1, fatBoot(1, 1, 600, 0, 0));
    addFat(r, 0);
    addFat(r, M);
    addSubdir(r, 1, 2, 0, M);
    addSubdir(r, 2, 3, 0, M);
    addSubdir(r, M - 1, M - 1, 0, M);
    addSubdir(r, M, M, M, M);
    r.directoryRuns.insert(FoundDirectoryRun{3, M, false, true, 0, 0, M});
    addPlainRun(r, M - 2, M, M);
    addSystemRecord(r, 0, NTFS_MFT_RECORD, 0, ~0ull);
    addSystemRecord(r, 1, NTFS_MFT_MIRROR_RECORD, ~0ull - 1, ~0ull);
    addSystemRecord(r, 2, NTFS_BITMAP_RECORD, ~0ull, ~0ull);
    addSystemRecord(r, 10, NTFS_MFT_RECORD, 1, 8);
    addSystemRecord(r, 11, NTFS_MFT_MIRROR_RECORD, 2, 8);
    addSystemRecord(r, 12, NTFS_BITMAP_RECORD, 2, ~0ull);
    addSystemRecord(r, 12 + 1, NTFS_MFT_RECORD, 1, 8);
    addSystemRecord(r, 14, NTFS_MFT_MIRROR_RECORD, 2, 8);
    for (u32 slack : {0u, M}) {
        for (bool floppy : {false, true}) {
            SharedPtr<Driver> drive = zeroDriver(4096, floppy);
            FsCandidateList out = collect(r, *drive, slack);
            for (const FsCandidate& c : out) {
                EXPECT_GE(c.maxSectors, c.minSectors) << listing(out, *drive);
                EXPECT_GE(c.minSectors, 1u);
            }
            FsCandidateList kept;
            filterFsCollection(kept, out, *drive);
        }
    }
}

TEST(FsCollectionTest, HugeCountsStayNearLinear) {
    // Numbers of finds that a quadratic walk (or a volume for every pair of MFT
    // copies) would not get through: this must take seconds at most.
    SharedPtr<Driver> d = zeroDriver(1u << 22);
    ScanResults r;
    const u32 N = 40000;
    for (u32 i = 0; i < N; ++i) {
        // Every table names the same partitions.
        addTable(r, 100000 + i, {{0x83, 5000, 1000}, {0x06, 6000, 1000}, {0x07, 7000, 100}});
        // NTFS boot sectors whose backup readings all point at 5000.
        addBoot(r, 200000 + i, ntfsBoot(195000 + i, 8, 4, 100, 2));
        addFat(r, 300000 + i);
        // Directory runs: subdirectories on every grid, plain runs between.
        addSubdir(r, 400000 + 3 * i, 2 + i % 5000, 0, 70000);
        addPlainRun(r, 400001 + 3 * i, 1, 70000);
        // $MFT, $MFTMirr, $Bitmap triples that all name the same clusters.
        addSystemRecord(r, 600000 + 4 * i, NTFS_MFT_RECORD, 4, 65536);
        addSystemRecord(r, 600001 + 4 * i, NTFS_MFT_MIRROR_RECORD, 5, 4096);
        addSystemRecord(r, 600002 + 4 * i, NTFS_BITMAP_RECORD, 6, 640);
    }
    // Many FAT32 grids without a root directory, each scoring the many plain
    // runs behind it: every run is read once, not once a grid.
    for (u32 j = 0; j < 500; ++j)
        addGrid(r, 1000000 + 1000 * j, 1, {3, 4}, 70000);
    for (u32 i = 0; i < N; ++i)
        addPlainRun(r, 2000000 + i, 1, 3);
    FsCandidateList out = collect(r, *d, 0);
    EXPECT_GT(out.size(), 3 * N);
    FsCandidateList kept;
    filterFsByEvidence(kept, out, *d);
}

// ---- Real volumes through the sector scan ----

TEST(FsCollectionImageTest, Fat12FloppyWithoutPartitionTable) {
    TempDir dir;
    FatImageOptions o;
    o.fatBits = 12;
    o.sizeKiB = 1440;
    FatImage image(dir.file("floppy.img"), o);
    fillFat(image, 3);
    SharedPtr<Driver> d = openImageDriver(image.path());
    d->getProperties().setUInt8(PROP_IS_FLOPPY, 1);
    Collected c = collectImage(*d);
    ASSERT_EQ(c.kept.size(), 1u) << c.text;
    const FsCandidate& v = c.kept[0];
    EXPECT_EQ(v.startLBA, 0u);
    EXPECT_TRUE(v.hasBootSector);
    EXPECT_EQ(v.fscode(), 0x01);
    EXPECT_EQ(v.fatType, FAT12);
    EXPECT_EQ(v.fatLBA, 1u);
    EXPECT_TRUE(v.fatFound && v.fatMirrorFound);
    EXPECT_TRUE(v.hasRootDir);
    EXPECT_EQ(v.rootDirLBA, 19u);
    EXPECT_EQ(v.minSectors, 2880u);

    // The same volume is no FAT12 candidate on a drive that is no floppy.
    SharedPtr<Driver> disk = openImageDriver(image.path());
    Collected onDisk = collectImage(*disk);
    EXPECT_TRUE(onDisk.kept.empty()) << onDisk.text;
}

TEST(FsCollectionImageTest, Fat16AndFat32BehindPartitionTables) {
    TempDir dir;
    struct Case {
        int bits;
        u32 sizeKiB;
        u32 lba;
        u8 type;
    };
    for (Case k : {Case{16, 20000, 2048, 0x04}, Case{32, 40000, 63, 0x0C}}) {
        FatImageOptions o;
        o.fatBits = k.bits;
        o.sizeKiB = k.sizeKiB;
        o.partitionLba = k.lba;
        FatImage image(dir.file("disk.img"), o);
        fillFat(image, 4);
        SharedPtr<Driver> d = openImageDriver(image.path());
        Collected c = collectImage(*d);
        ASSERT_EQ(c.kept.size(), 1u) << k.bits << '\n' << c.text;
        const FsCandidate& v = c.kept[0];
        EXPECT_EQ(v.startLBA, k.lba);
        EXPECT_TRUE(v.hasPartitionEntry);
        EXPECT_EQ(v.partitionType, k.type);
        EXPECT_TRUE(v.hasBootSector);
        EXPECT_EQ(v.hasBootBackup, k.bits == 32);
        EXPECT_EQ(v.fatType, k.bits == 32 ? FAT32 : FAT16);
        EXPECT_TRUE(v.fatFound && v.fatMirrorFound);
        EXPECT_TRUE(v.hasRootDir);
        EXPECT_TRUE(v.hasSubDirs) << c.text;
        EXPECT_EQ(v.minSectors, image.volumeSectors());
        EXPECT_EQ(v.maxSectors, image.volumeSectors());
        // The parameters formed from the candidate are those of the boot sector.
        FAT_FS_PARAMS formed;
        FAT_FS_PARAMS expected;
        const std::string boot = image.bootSector();
        ASSERT_TRUE(form_fat_fs_params(v, formed, *d));
        ASSERT_TRUE(fatFsParamsFromBootSector(k.lba, reinterpret_cast<const u8*>(boot.data()),
                                              expected, d->getSectorCount()));
        EXPECT_TRUE(formed == expected);
    }
}

TEST(FsCollectionImageTest, NtfsBehindAPartitionTable) {
    TempDir dir;
    NtfsImageOptions o;
    o.partitionLba = 2048;
    NtfsImage image(dir.file("ntfs.img"), o);
    SharedPtr<Driver> d = openImageDriver(image.path());
    Collected c = collectImage(*d);
    ASSERT_EQ(c.kept.size(), 1u) << c.text;
    const FsCandidate& v = c.kept[0];
    EXPECT_EQ(v.startLBA, 2048u);
    EXPECT_TRUE(v.hasPartitionEntry && v.hasBootSector && v.hasBootBackup && v.hasNtfsVolume)
        << c.text;
    EXPECT_EQ(v.fscode(), 0x07);
    EXPECT_EQ(v.ntfsSectorsPerCluster, 8u);
    EXPECT_EQ(v.sectorsPerFileRecord, 2u);
    EXPECT_EQ(v.minSectors, image.volumeSectors());
}

TEST(FsCollectionImageTest, DeletedPartitionTableAndBootSector) {
    TempDir dir;
    FatImageOptions o;
    o.fatBits = 16;
    o.sizeKiB = 20000;
    o.partitionLba = 2048;
    FatImage image(dir.file("disk.img"), o);
    fillFat(image, 4);
    const FatBootParams boot = [&] {
        FatBootParams b;
        EXPECT_TRUE(readFatBootParams(reinterpret_cast<const u8*>(image.bootSector().data()), b));
        return b;
    }();
    // The table gone: the boot sector alone places the volume.
    writeAt(image.path(), 0, std::string(512, '\0'));
    {
        SharedPtr<Driver> d = openImageDriver(image.path());
        Collected c = collectImage(*d);
        ASSERT_EQ(c.kept.size(), 1u) << c.text;
        EXPECT_EQ(c.kept[0].startLBA, 2048u);
        EXPECT_FALSE(c.kept[0].hasPartitionEntry);
        EXPECT_TRUE(c.kept[0].hasBootSector);
    }
    // The boot sector gone too: the FATs, the root directory and the
    // subdirectories still place it.
    writeAt(image.path(), 2048 * 512ull, std::string(512, '\0'));
    SharedPtr<Driver> d = openImageDriver(image.path());
    Collected c = collectImage(*d);
    ASSERT_EQ(c.kept.size(), 1u) << c.text;
    const FsCandidate& v = c.kept[0];
    EXPECT_FALSE(v.hasBootSector || v.hasBootBackup);
    // With the boot sector gone the reserved sectors are unknown: the guess
    // takes the fewest, one, and puts the volume just before its FAT.
    EXPECT_EQ(v.startLBA, 2048u + boot.reservedSectors - 1) << c.text;
    EXPECT_EQ(v.fatType, FAT16);
    EXPECT_EQ(v.fatLBA, 2048u + boot.reservedSectors);
    EXPECT_EQ(v.fatSectors, boot.sectorsPerFAT);
    EXPECT_EQ(v.sectorsPerCluster, boot.sectorsPerCluster);
    EXPECT_EQ(v.cluster2LBA, 2048u + boot.dataLbaOffset);
    EXPECT_EQ(v.rootDirLBA, 2048u + boot.rootDirectoryLbaOffset);
    EXPECT_EQ(v.fscode(), 0x04);
}

TEST(FsCollectionImageTest, TwoVolumesOnOneDisk) {
    TempDir dir;
    FatImageOptions a;
    a.fatBits = 16;
    a.sizeKiB = 20000;
    FatImage first(dir.file("a.img"), a);
    fillFat(first, 3);
    FatImageOptions b;
    b.fatBits = 32;
    b.sizeKiB = 40000;
    FatImage second(dir.file("b.img"), b);
    fillFat(second, 3);
    const u32 startA = 2048;
    const u32 startB = startA + 40000 + 2048;
    std::string disk = makeMbr({{startA, 40000, 0x06}, {startB, 80000, 0x0C}});
    disk.resize(startA * 512ull, '\0');
    disk += readAll(first.path());
    disk.resize(startB * 512ull, '\0');
    disk += readAll(second.path());
    disk.resize(disk.size() + 2048 * 512, '\0');
    writeAll(dir.file("disk.img"), disk);
    // The volumes were made without hidden sectors; the candidates do not care.
    SharedPtr<Driver> d = openImageDriver(dir.file("disk.img"));
    Collected c = collectImage(*d);
    ASSERT_EQ(c.kept.size(), 2u) << c.text;
    EXPECT_EQ(c.kept[0].startLBA, startA);
    EXPECT_EQ(c.kept[0].fatType, FAT16);
    EXPECT_EQ(c.kept[0].partitionType, 0x06);
    EXPECT_EQ(c.kept[0].fscode(), 0x04);
    EXPECT_EQ(c.kept[1].startLBA, startB);
    EXPECT_EQ(c.kept[1].fatType, FAT32);
    EXPECT_TRUE(c.kept[1].hasBootBackup);
}

TEST(FsCollectionImageTest, OnlyBackupBootSectorsLeft) {
    TempDir dir;
    {
        FatImageOptions o;
        o.fatBits = 32;
        o.sizeKiB = 40000;
        o.partitionLba = 63;
        FatImage image(dir.file("fat32.img"), o);
        fillFat(image, 3);
        writeAt(image.path(), 0, std::string(512, '\0'));
        writeAt(image.path(), 63 * 512ull, std::string(512, '\0'));
        SharedPtr<Driver> d = openImageDriver(image.path());
        Collected c = collectImage(*d);
        ASSERT_EQ(c.kept.size(), 1u) << c.text;
        const FsCandidate& v = c.kept[0];
        EXPECT_EQ(v.startLBA, 63u);
        EXPECT_FALSE(v.hasBootSector);
        EXPECT_TRUE(v.hasBootBackup);
        EXPECT_EQ(v.bootBackupLBA, 69u);
        EXPECT_EQ(v.fatType, FAT32);
        EXPECT_TRUE(v.fatFound && v.fatMirrorFound);
        EXPECT_EQ(v.minSectors, 80000u);
    }
    {
        NtfsImageOptions o;
        o.partitionLba = 2048;
        NtfsImage image(dir.file("ntfs.img"), o);
        const std::string path = image.path();
        writeAt(path, 0, std::string(512, '\0'));
        writeAt(path, 2048 * 512ull, std::string(512, '\0'));
        SharedPtr<Driver> d = openImageDriver(path);
        Collected c = collectImage(*d);
        ASSERT_EQ(c.kept.size(), 1u) << c.text;
        const FsCandidate& v = c.kept[0];
        EXPECT_EQ(v.startLBA, 2048u);
        EXPECT_FALSE(v.hasBootSector);
        EXPECT_TRUE(v.hasBootBackup && v.hasNtfsVolume);
        EXPECT_EQ(v.bootBackupLBA, 2048u + image.volumeSectors() - 1);
        NTFS_FS_PARAMS params;
        EXPECT_TRUE(form_ntfs_fs_params(v, params, *d));
        EXPECT_EQ(params.startingLBA, 2048u);
    }
}
