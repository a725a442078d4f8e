#include "analysis/FsFilters.h"

#include "core/Log.h"
#include "core/Preferences.h"
#include "devices/Driver.h"
#include "fs/StructureChecks.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace testutil;

namespace {

SharedPtr<Driver> zeroDriver(u64 sectors, bool floppy = false) {
    SharedPtr<dt::Reader> reader(new MemoryReader(std::string(sectors * 512, '\0')));
    SharedPtr<Driver> driver(new Driver(reader, 512));
    if (floppy)
        driver->getProperties().setUInt8(PROP_IS_FLOPPY, 1);
    return driver;
}

BootParams fat16Boot() {
    BootParams b;
    b.kind = FS_FAT;
    b.fat = {40000, 4, 100, 1, 512, 0, 233, 201};
    return b;
}

// A FAT16 volume at 63 with every piece of evidence, FATs found at both copies.
FsCandidate fullFat16() {
    FsCandidate c;
    c.startLBA = 63;
    c.hasPartitionEntry = true;
    c.partitionType = 0x06;
    c.partitionSectors = 40000;
    c.hasBootSector = true;
    c.bootSector = fat16Boot();
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

FsCandidate gridOnly(u32 pairs) {
    FsCandidate c;
    c.startLBA = 296;
    c.hasSubDirs = true;
    c.sectorsPerCluster = 4;
    c.cluster2LBA = 296;
    c.lastCluster = 50;
    c.maxThisCluster = 40;
    c.subDirCount = pairs;
    return c;
}

bool evident(const FsCandidate& c, const Driver& d) {
    return hasSufficientEvidence(c, d);
}

std::string dumpOf(const FsCandidate& c, Driver& d, u32 index = 0) {
    std::ostringstream os;
    dumpFsCandidate(os, index, c, d);
    return os.str();
}

} // namespace

TEST(FsFiltersTest, EvidenceOfOnePieceIsNotEnoughButAnNtfsVolume) {
    SharedPtr<Driver> d = zeroDriver(16);
    FsCandidate c;
    EXPECT_FALSE(evident(c, *d));
    c.hasPartitionEntry = true;
    c.partitionType = 0x07;
    EXPECT_FALSE(evident(c, *d));
    c = FsCandidate();
    c.hasNtfsVolume = true;
    EXPECT_TRUE(evident(c, *d));
    for (bool FsCandidate::*piece :
         {&FsCandidate::hasBootSector, &FsCandidate::hasBootBackup, &FsCandidate::hasFats,
          &FsCandidate::hasRootDir, &FsCandidate::hasSubDirs}) {
        FsCandidate one;
        one.*piece = true;
        EXPECT_FALSE(evident(one, *d));
    }
    // Two NTFS pieces are enough.
    c.hasPartitionEntry = true;
    c.partitionType = 0x07;
    EXPECT_TRUE(evident(c, *d));
}

TEST(FsFiltersTest, FatCandidatesNeedFoundFatsOrAConfirmedGrid) {
    SharedPtr<Driver> d = zeroDriver(16);
    FsCandidate c = fullFat16();
    EXPECT_TRUE(evident(c, *d));
    EXPECT_TRUE(isPlausibleCandidate(c, 1, *d));

    // Without the mirror found or a boot sector, ten subdirectory pairs have to
    // confirm the grid.
    c.fatMirrorFound = false;
    c.hasBootSector = false;
    EXPECT_FALSE(evident(c, *d));
    FsCandidate grid = gridOnly(9);
    c.hasSubDirs = true;
    c.sectorsPerCluster = grid.sectorsPerCluster;
    c.cluster2LBA = grid.cluster2LBA;
    c.subDirCount = 9;
    EXPECT_FALSE(evident(c, *d));
    c.subDirCount = 10;
    EXPECT_TRUE(evident(c, *d));
    // Neither root directory nor grid: only a boot sector whose FATs were both
    // found (a fresh format) is enough.
    c = fullFat16();
    c.hasRootDir = false;
    EXPECT_TRUE(evident(c, *d));
    c.hasBootSector = false;
    EXPECT_FALSE(evident(c, *d));

    // A grid of ten pairs with a partition entry stands without found FATs.
    FsCandidate g = gridOnly(10);
    g.hasPartitionEntry = true;
    g.partitionType = 0x06;
    EXPECT_TRUE(evident(g, *d));
}

TEST(FsFiltersTest, Fat12OutsideAPartitionOnlyOnFloppies) {
    SharedPtr<Driver> disk = zeroDriver(16);
    SharedPtr<Driver> floppy = zeroDriver(16, true);
    FsCandidate c;
    c.hasBootSector = true;
    c.bootSector.kind = FS_FAT;
    c.bootSector.fat = {2880, 1, 9, 1, 224, 0, 33, 19};
    c.hasFats = true;
    c.fatType = FAT12;
    c.fatFound = c.fatMirrorFound = true;
    c.hasRootDir = true;
    EXPECT_EQ(c.fscode(), 0x01);
    EXPECT_FALSE(evident(c, *disk));
    EXPECT_TRUE(evident(c, *floppy));
    c.hasPartitionEntry = true;
    c.partitionType = 0x01;
    EXPECT_TRUE(evident(c, *disk));
}

TEST(FsFiltersTest, InferredFatsNeedMoreThanOneOtherPiece) {
    SharedPtr<Driver> d = zeroDriver(16);
    FsCandidate base;
    base.hasFats = true;
    base.fatType = FAT16;
    for (bool FsCandidate::*piece :
         {&FsCandidate::hasPartitionEntry, &FsCandidate::hasBootSector, &FsCandidate::hasRootDir}) {
        FsCandidate c = base;
        c.*piece = true;
        c.partitionType = 0x06;
        c.bootSector = fat16Boot();
        EXPECT_FALSE(isPlausibleCandidate(c, 1, *d));
        // Any other mode accepts everything.
        EXPECT_TRUE(isPlausibleCandidate(c, 0, *d));
        // One FAT copy found is enough, and so is a second piece.
        c.fatMirrorFound = true;
        EXPECT_TRUE(isPlausibleCandidate(c, 1, *d));
        c.fatMirrorFound = false;
        c.hasSubDirs = true;
        EXPECT_TRUE(isPlausibleCandidate(c, 1, *d));
    }
    // A grid alone beside inferred FATs passes (the grid is evidence of its own).
    FsCandidate grid = gridOnly(3);
    grid.hasFats = true;
    grid.fatType = FAT16;
    EXPECT_TRUE(isPlausibleCandidate(grid, 1, *d));

    // A candidate of no kind is rejected, with a log line.
    FsCandidate none;
    none.hasPartitionEntry = true;
    none.partitionType = 0x83;
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(isPlausibleCandidate(none, 1, *d));
    EXPECT_NE(logMemoryText().find("FSs(1475)\n", mark), std::string::npos);
}

TEST(FsFiltersTest, NtfsCandidatesMustGiveParameters) {
    TempDir dir;
    NtfsImageOptions o;
    o.partitionLba = 63;
    NtfsImage image(dir.file("ntfs.img"), o);
    SharedPtr<Driver> d = openImageDriver(image.path());
    FsCandidate c;
    c.startLBA = 63;
    c.hasBootSector = true;
    const std::string boot = image.bootSector();
    ASSERT_TRUE(readBootParams(reinterpret_cast<const u8*>(boot.data()), c.bootSector));
    c.hasPartitionEntry = true;
    c.partitionType = 0x07;
    EXPECT_TRUE(isPlausibleCandidate(c, 1, *d));
    // The boot sector no longer reads as one (wiped since the scan), and there
    // is no backup: no parameters.
    writeAt(image.path(), 63 * 512ull, std::string(512, '\0'));
    SharedPtr<Driver> wiped = openImageDriver(image.path());
    EXPECT_FALSE(isPlausibleCandidate(c, 1, *wiped));
    EXPECT_TRUE(isPlausibleCandidate(c, 2, *wiped));
}

TEST(FsFiltersTest, TheLayoutCopyIsFilteredOnlyWhenThePreferenceSaysSo) {
    SharedPtr<Driver> d = zeroDriver(16);
    FsCandidate entryOnly;
    entryOnly.hasPartitionEntry = true;
    entryOnly.partitionType = 0x06;
    const FsCandidateList collection{entryOnly, fullFat16()};
    Preferences& prefs = Preferences::instance();
    prefs.setFilterInvalidFileSystems(false);
    FsCandidateList out;
    std::size_t mark = logMemoryText().size();
    filterFsCollection(out, collection, *d);
    EXPECT_EQ(out.size(), 2u);
    EXPECT_EQ(logMemoryText().find("after filters", mark), std::string::npos);

    prefs.setFilterInvalidFileSystems(true);
    mark = logMemoryText().size();
    filterFsCollection(out, collection, *d);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].startLBA, 63u);
    const std::string log = logMemoryText().substr(mark);
    EXPECT_EQ(log.find("Analyzer(262): *** CreateFSCollection after filters ***\n"
                       "Analyzer(263)\n(not selected) Index:0 LBA: 63\n"),
              0u)
        << log;
    EXPECT_NE(log.find("Analyzer(264): *** End of CreateFSCollection after filters ***\n"),
              std::string::npos);
    prefs.resetToDefaults();
}

TEST(FsFiltersTest, DumpOfEveryPiece) {
    SharedPtr<Driver> d = zeroDriver(300);
    FsCandidate c = fullFat16();
    c.hasBootBackup = true;
    c.bootBackup = fat16Boot();
    c.bootBackupLBA = 69;
    c.fatMirrorFound = false;
    c.hasSubDirs = true;
    c.sectorsPerCluster = 4;
    c.cluster2LBA = 296;
    c.lastCluster = 50;
    c.maxThisCluster = 40;
    c.subDirCount = 12;
    c.hasNtfsVolume = true;
    c.mftLBA = 1000;
    c.mftMirrLBA = 2000;
    c.ntfsSectorsPerCluster = 8;
    c.sectorsPerFileRecord = 2;
    c.bitmapSize = 640;
    c.minSectors = c.maxSectors = 40000;
    const std::string boot = "  FAT\n"
                             "  totalSectors: 40000\n"
                             "  sectorsPerCluster: 4\n"
                             "  sectorsPerFAT: 100\n"
                             "  reservedSectors: 1\n"
                             "  rootCluster: 0\n"
                             "  rootEntries: 512\n"
                             "  dataLbaOffset: 233\n"
                             "  rootDirectoryLbaOffset: 201\n";
    const std::string expected = "Index:3 LBA: 63\n"
                                 "Part+ " +
                                 partitionTypeName(0x06) +
                                 " Sects:40000 PTableLBA:0 PTableEntry:0\n"
                                 "Boot+\n" +
                                 boot + "BootBackup+ LBA: 69\n" + boot +
                                 "FATs+ FAT16 FAT Sects:100 FATLBA:64 (+-)\n"
                                 "RootDir+ Root LBA:264 \n"
                                 "        Last Cl:33\n"
                                 "SubDir+ Cl.Sect:4 Cl2.LBA:296 \n"
                                 "        Last Cl:50 max_this_cl:40 Num:12 Ss:[[429:102625]\n"
                                 "NTFS_volume+ MFTLBA:1000 MFTMirrLBA:2000\n"
                                 " S/C=8 S/FR=2 BitmapSize=640\n"
                                 "Ss:[[40456:40961]\n"
                                 "\n"
                                 "MinSs:40000 MaxSs:40000\n";
    // The root directory sector holds zeros: no listing follows.
    EXPECT_EQ(dumpOf(c, *d, 3), expected);

    const std::string none = "Index:0 LBA: 0\nPart-\nBoot-\nBootBackup-\nFATs-\nRootDir-\n"
                             "SubDir-\nNTFS_volume-\n\nMinSs:0 MaxSs:0\n";
    EXPECT_EQ(dumpOf(FsCandidate(), *d), none);
}

TEST(FsFiltersTest, DumpListsTheRootDirectoryItFinds) {
    TempDir dir;
    FatImageOptions o;
    o.fatBits = 12;
    FatImage image(dir.file("f.img"), o);
    image.addFile("hello.txt", "hi");
    SharedPtr<Driver> d = openImageDriver(image.path());
    FsCandidate c;
    c.hasBootSector = true;
    const std::string boot = image.bootSector();
    ASSERT_TRUE(readBootParams(reinterpret_cast<const u8*>(boot.data()), c.bootSector));
    // Placed by the boot sector alone, then by the root directory found.
    EXPECT_NE(dumpOf(c, *d).find("hello.txt"), std::string::npos) << dumpOf(c, *d);
    c.hasRootDir = true;
    c.rootDirLBA = 19;
    EXPECT_NE(dumpOf(c, *d).find("hello.txt"), std::string::npos);
    // An unreadable root directory says so and the dump goes on no further.
    SharedPtr<dt::Reader> failing(new FailingReader(d->getReader(), {19}));
    Driver bad(failing, 512);
    EXPECT_NE(dumpOf(c, bad).find("Cannot read LBA 19"), std::string::npos);
}

TEST(FsFiltersTest, CollectionListingMarksTheSelection) {
    SharedPtr<Driver> d = zeroDriver(16);
    std::ostringstream empty;
    printFsCollection(empty, FsCandidateList(), *d);
    EXPECT_EQ(empty.str(), "");

    FsCandidate a;
    a.selected = true;
    FsCandidate b;
    b.startLBA = 5;
    std::ostringstream os;
    printFsCollection(os, {a, b}, *d);
    const std::string text = os.str();
    EXPECT_EQ(text.find("(selected) Index:0 LBA: 0\n"), 0u) << text;
    EXPECT_NE(text.find("MaxSs:0\n\n(not selected) Index:1 LBA: 5\n"), std::string::npos);
}

TEST(FsFiltersTest, NtfsVolumeSummary) {
    FsCandidate c;
    c.mftLBA = 2080;
    c.mftMirrLBA = 22520;
    c.ntfsSectorsPerCluster = 8;
    c.sectorsPerFileRecord = 2;
    c.bitmapSize = 640;
    std::ostringstream os;
    printNtfsVolume(os, c);
    EXPECT_EQ(os.str(), "NTFS Volume\n$MFT LBA: 2080\n$MFT Mirror LBA: 22520\n"
                        "Sectors Per Cluster: 8\nSectors Per File Record: 2\n"
                        "$Bitmap File Size: 640");
}
