// The analyzer: one deep scan runs the sector scan and the carver over the same
// sectors (to the end of the range, also after a cancel); a quick scan reads
// exactly the key structures of one volume; the candidates become a layout
// with its rebuilt sectors; and the tree is built for the chosen entry or the
// carved files.

#include "analysis/Analyzer.h"

#include "cbr/CbrMapImpl.h"
#include "core/AppDirectory.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "devices/Driver.h"
#include "fs/Params.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using testutil::FailingReader;
using testutil::FatImage;
using testutil::FatImageOptions;
using testutil::MemoryReader;
using testutil::NtfsImage;
using testutil::NtfsImageOptions;
using testutil::RecordingProgress;
using testutil::ScriptedInterface;
using testutil::TempDir;

constexpr u64 SECTOR = 512;

// One signature without a module: its file ends where the next file starts or
// the scan ends.
const char* MARK_PATTERNS = "Type: mark\nPattern: HBMARK!\nMax Size: 10000000\n";

std::string withSectorAt(std::string disk, u64 lba, const std::string& bytes) {
    disk.replace(lba * SECTOR, bytes.size(), bytes);
    return disk;
}

cbr::FileInfo carvedAt(u64 start) {
    cbr::FileInfo f;
    f.setStart(start);
    f.setSize(SECTOR);
    f.setType("mark");
    return f;
}

class AnalyzerTest : public ::testing::Test {
protected:
    AnalyzerTest() : analyzer(&ui) {
        savedLib_ = appDirectory();
        setAppDirectory(HB_SOURCE_DIR "/lib");
        testutil::writeAll(dir.file("mark.files"), MARK_PATTERNS);
    }
    ~AnalyzerTest() override {
        setAppDirectory(savedLib_);
        Preferences::instance().resetToDefaults();
    }

    // The bytes as the source, read through a reader that logs every request.
    void useSource(const std::string& bytes) {
        failing = new FailingReader(SharedPtr<dt::Reader>(new MemoryReader(bytes)), {});
        analyzer.getDriveHolder() =
            SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(failing), SECTOR));
    }
    void useImage(const std::string& path) { useSource(testutil::readAll(path)); }

    // Every read asked of the source since `from`, as {LBA, sectors}.
    std::vector<std::pair<u64, u64>> readsSince(std::size_t from) const {
        std::vector<std::pair<u64, u64>> out;
        for (std::size_t i = from; i < failing->requests().size(); ++i)
            out.push_back({static_cast<u64>(failing->requests()[i].offset) / SECTOR,
                           static_cast<u64>(failing->requests()[i].size) / SECTOR});
        return out;
    }

    // What the scanner page does before a quick scan: the boot sector at lba
    // read into parameters.
    struct Volume {
        bool found = false;
        bool isFat = false;
        FAT_FS_PARAMS fat;
        NTFS_FS_PARAMS ntfs;
    };
    Volume volumeAt(u64 lba) {
        Volume v;
        v.found = analyzer.readBootSectorParams(lba, &v.isFat, &v.fat, &v.ntfs);
        return v;
    }
    // The quick scan of that volume; the reads it asked of the source.
    std::vector<std::pair<u64, u64>> quickScan(u64 lba, const Volume& v,
                                               RecordingProgress& progress) {
        const std::size_t before = failing->requests().size();
        analyzer.quickScan(lba, v.isFat, &v.fat, &v.ntfs, &progress);
        return readsSince(before);
    }

    std::vector<u64> carvedStarts() const {
        std::vector<u64> out;
        for (const cbr::FileInfo& f : analyzer.getCarvedFiles())
            out.push_back(f.getStart());
        return out;
    }

    TempDir dir;
    ScriptedInterface ui;
    Analyzer analyzer;
    FailingReader* failing = nullptr;

private:
    std::string savedLib_;
};

TEST_F(AnalyzerTest, AFullScanReadsItsRangeAndDropsTheCarvedFilesFromItsStart) {
    useSource(std::string(4096 * SECTOR, '\0'));
    analyzer.getCarvedFiles() = {carvedAt(100 * SECTOR), carvedAt(2047 * SECTOR),
                                 carvedAt(2048 * SECTOR), carvedAt(3000 * SECTOR)};
    RecordingProgress progress;
    EXPECT_EQ(analyzer.scan(2048, 1000, &progress), 1000u);
    EXPECT_EQ(carvedStarts(), (std::vector<u64>{100 * SECTOR, 2047 * SECTOR}));
    // The counters start from what was left, and the position follows the blocks.
    EXPECT_EQ(progress.record()->lastValue(InterfaceCallback::FOUND_CBR_FILES), 2u);
    EXPECT_EQ(progress.record()->position(), 2048u + 768);
    // Only the range was read, in blocks of the window.
    const auto reads = readsSince(0);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.front(), (std::pair<u64, u64>{2048, 256}));
    EXPECT_EQ(reads.back(), (std::pair<u64, u64>{2048 + 768, 232}));
    // The scan does not note its own range: that is the caller's.
    EXPECT_EQ(analyzer.getScanRange().getSecond(), 0u);
}

TEST_F(AnalyzerTest, ARangePastTheSourceIsCutAtItsEnd) {
    useSource(std::string(600 * SECTOR, '\0'));
    RecordingProgress progress;
    EXPECT_EQ(analyzer.scan(500, 1000, &progress), 100u);
    EXPECT_EQ(analyzer.scan(700, 10, &progress), 0u);
    EXPECT_EQ(ui.asked().size(), 0u) << "no read error is asked about past the end";
}

TEST_F(AnalyzerTest, FilesAreCarvedInTheSamePassAndTheLastSectorsOfTheRangeAreCarvedToo) {
    std::string disk(1200 * SECTOR, '\0');
    for (u64 lba : {10, 300, 997, 999})
        disk = withSectorAt(disk, lba, "HBMARK!");
    useSource(disk);
    analyzer.setPatternsPath(dir.file("mark.files"));
    RecordingProgress progress;
    EXPECT_EQ(analyzer.scan(0, 1000, &progress), 1000u);
    // 997 and 999 lie in the look-ahead of the last block; the pending file ends
    // at the end of the range.
    ASSERT_EQ(carvedStarts(),
              (std::vector<u64>{10 * SECTOR, 300 * SECTOR, 997 * SECTOR, 999 * SECTOR}));
    const auto& files = analyzer.getCarvedFiles();
    EXPECT_EQ(files[0].getSize(), 290 * SECTOR);
    EXPECT_EQ(files[2].getSize(), 2 * SECTOR);
    EXPECT_EQ(files[3].getSize(), SECTOR);
    EXPECT_EQ(files[3].getType(), "mark");
    EXPECT_EQ(progress.record()->lastValue(InterfaceCallback::FOUND_CBR_FILES), 4u);
}

TEST_F(AnalyzerTest, ACancelKeepsWhatWasFoundAndStillFinishesTheCarver) {
    FatImageOptions fat;
    fat.sizeKiB = 1440;
    FatImage image(dir.file("f.img"), fat);
    std::string disk = testutil::readAll(image.path());
    disk.resize(1000 * SECTOR + SECTOR, '\0');
    disk = withSectorAt(disk, 400, "HBMARK!");
    disk = withSectorAt(disk, 510, "HBMARK!");
    disk = withSectorAt(disk, 700, "HBMARK!");
    useSource(disk);
    analyzer.setPatternsPath(dir.file("mark.files"));

    // The reader polls before each block: the third poll comes before sector 512.
    RecordingProgress progress;
    progress.cancelAtPoll(3);
    EXPECT_EQ(analyzer.scan(0, 1000, &progress), 512u);
    EXPECT_TRUE(progress.record()->cancelled);

    // The boot sector and the FATs of the first blocks are kept.
    EXPECT_EQ(analyzer.getScanResults().bootSectors.count(0u), 1u);
    EXPECT_FALSE(analyzer.getScanResults().fatSectors.empty());
    // Sector 510 was read but waited in the look-ahead; the last file ends at
    // the end of the requested range, 700 was never read.
    ASSERT_EQ(carvedStarts(), (std::vector<u64>{400 * SECTOR, 510 * SECTOR}));
    EXPECT_EQ(analyzer.getCarvedFiles()[0].getSize(), 110 * SECTOR);
    EXPECT_EQ(analyzer.getCarvedFiles()[1].getSize(), 490 * SECTOR);
}

TEST_F(AnalyzerTest, AMissingSignatureTableFailsTheScanBeforeAnythingIsDropped) {
    useSource(std::string(100 * SECTOR, '\0'));
    analyzer.getCarvedFiles() = {carvedAt(50 * SECTOR)};
    analyzer.setPatternsPath(dir.file("none.files"));
    RecordingProgress progress;
    EXPECT_THROW(analyzer.scan(0, 100, &progress), std::runtime_error);
    EXPECT_EQ(carvedStarts(), std::vector<u64>{50 * SECTOR});
}

TEST_F(AnalyzerTest, ASourceOfOtherSectorsOrNoneIsRefused) {
    RecordingProgress progress;
    EXPECT_THROW(analyzer.scan(0, 1, &progress), std::runtime_error);
    analyzer.getDriveHolder() = SharedPtr<Driver>(
        new Driver(SharedPtr<dt::Reader>(new MemoryReader(std::string(8192, '\0'))), 4096));
    EXPECT_THROW(analyzer.scan(0, 1, &progress), std::runtime_error);
}

TEST_F(AnalyzerTest, AQuickScanOfFat32ReadsBothBootSectorsBothFatsAndTheRootCluster) {
    FatImageOptions options;
    options.sizeKiB = 40000;
    options.fatBits = 32;
    options.partitionLba = 63;
    FatImage image(dir.file("f32.img"), options);
    image.addFile("A.TXT", "hello");
    useImage(image.path());

    const Volume v = volumeAt(63);
    ASSERT_TRUE(v.found && v.isFat);
    const FAT_FS_PARAMS& fat = v.fat;
    ASSERT_EQ(fat.rootEntries, 0u);
    RecordingProgress progress;
    EXPECT_EQ(quickScan(63, v, progress),
              (std::vector<std::pair<u64, u64>>{
                  {63, 1},
                  {69, 1},
                  {fat.fatLBA, 1},
                  {fat.fatMirrLBA, 1},
                  {fat.get_cluster_LBA(fat.rootCluster), fat.sectorsPerCluster}}));
    const ScanResults& r = analyzer.getScanResults();
    EXPECT_EQ(r.bootSectors.count(63u), 1u);
    EXPECT_EQ(r.bootSectors.count(69u), 1u);
    EXPECT_EQ(r.fatSectors.count(fat.fatLBA), 1u);
    EXPECT_EQ(r.fatSectors.count(fat.fatMirrLBA), 1u);
    EXPECT_EQ(progress.record()->lastValue(InterfaceCallback::FOUND_BOOT_SECTORS), 2u);
}

TEST_F(AnalyzerTest, AQuickScanOfFat16ReadsTheWholeRootDirectoryInOneRequest) {
    FatImageOptions options;
    options.sizeKiB = 16000;
    options.fatBits = 16;
    FatImage image(dir.file("f16.img"), options);
    image.addFile("A.TXT", "alpha");
    useImage(image.path());
    const Volume v = volumeAt(0);
    ASSERT_TRUE(v.found && v.isFat);
    const FAT_FS_PARAMS& fat = v.fat;
    RecordingProgress progress;
    EXPECT_EQ(quickScan(0, v, progress),
              (std::vector<std::pair<u64, u64>>{
                  {0, 1},
                  {fat.fatLBA, 1},
                  {fat.fatMirrLBA, 1},
                  {fat.rootDirectoryLBA, fat.dataClusterLBA - fat.rootDirectoryLBA}}));
    EXPECT_EQ(analyzer.getScanResults().directoryRuns.begin()->lba, fat.rootDirectoryLBA);
}

TEST_F(AnalyzerTest, AQuickScanOfNtfsReadsTheBackupOnlyWhenItLiesOnTheSource) {
    NtfsImageOptions options;
    options.sizeMiB = 8;
    NtfsImage image(dir.file("n.img"), options);
    std::string volume = testutil::readAll(image.path());
    for (bool cut : {false, true}) {
        SCOPED_TRACE(cut);
        // Without its last sector the volume ends exactly at the end of the source.
        useSource(cut ? volume.substr(0, volume.size() - SECTOR) : volume);
        const Volume v = volumeAt(0);
        ASSERT_TRUE(v.found && !v.isFat);
        const NTFS_FS_PARAMS& ntfs = v.ntfs;
        RecordingProgress progress;
        // The boot sector is read as the scan's start and again as the volume's.
        std::vector<std::pair<u64, u64>> expected{{0, 1}, {0, 1}};
        if (!cut)
            expected.push_back({ntfs.totalSectors, 1});
        expected.push_back({ntfs.clusterLBA(ntfs.mftLCN), 7 * ntfs.sectorsPerFileRecord});
        expected.push_back({ntfs.clusterLBA(ntfs.mftMirrLCN), 4 * ntfs.sectorsPerFileRecord});
        EXPECT_EQ(quickScan(0, v, progress), expected);
        EXPECT_FALSE(analyzer.getScanResults().ntfsSystemRecords.empty());
    }
}

TEST_F(AnalyzerTest, AQuickScanDropsTheCarvedFilesAndFindsFromItsBootSectorOn) {
    FatImageOptions options;
    FatImage image(dir.file("f.img"), options);
    std::string disk = std::string(100 * SECTOR, '\0') + testutil::readAll(image.path());
    useSource(disk);
    analyzer.getCarvedFiles() = {carvedAt(10 * SECTOR), carvedAt(150 * SECTOR)};
    FoundBootSector stale;
    stale.lba = 120;
    stale.params.kind = FS_NTFS;
    analyzer.getScanResults().bootSectors.insert(stale);

    const Volume v = volumeAt(100);
    ASSERT_TRUE(v.found);
    RecordingProgress progress;
    quickScan(100, v, progress);
    EXPECT_EQ(carvedStarts(), std::vector<u64>{10 * SECTOR});
    EXPECT_EQ(analyzer.getScanResults().bootSectors.count(120u), 0u);
    EXPECT_EQ(analyzer.getScanResults().bootSectors.count(100u), 1u);

    EXPECT_FALSE(volumeAt(50).found);
    EXPECT_FALSE(volumeAt(u64{1} << 33).found);
}

// A disk with a FAT16 partition whose MBR is gone.
class AnalyzerLayoutTest : public AnalyzerTest {
protected:
    void SetUp() override {
        FatImageOptions options;
        options.sizeKiB = 20000;
        options.fatBits = 16;
        options.partitionLba = 2048;
        options.trailingSectors = 64;
        FatImage image(dir.file("d.img"), options);
        image.makeFolder("SUB");
        image.addFile("SUB/B.TXT", std::string(3000, 'b'));
        image.addFile("A.TXT", "alpha");
        testutil::writeAt(image.path(), 0, std::string(SECTOR, '\0'));
        useImage(image.path());
        RecordingProgress progress;
        const u64 sectors = analyzer.getDrive()->getSectorCount();
        ASSERT_EQ(analyzer.scan(0, sectors, &progress), sectors);
    }
};

TEST_F(AnalyzerLayoutTest, TheCandidatesBecomeALayoutWithTheTableRebuiltInMemory) {
    analyzer.createFSCollection();
    EXPECT_FALSE(analyzer.getFsCollection().empty());
    FsCandidate* fs = getSelectedFileSystem(analyzer.getLayout(), 0);
    ASSERT_NE(fs, nullptr);
    EXPECT_EQ(fs->startLBA, 2048u);
    EXPECT_EQ(getSelectedFileSystem(analyzer.getLayout(), 1), nullptr);
    ASSERT_FALSE(analyzer.getChanges().empty());
    EXPECT_EQ(analyzer.getChanges()[0].lba, 0u);
    EXPECT_EQ(analyzer.getChanges()[0].description, "Partition Table (LBA:0)");
    // The layout is built again, not added to: one change per sector.
    const std::size_t changes = analyzer.getChanges().size();
    analyzer.applyDLayout();
    EXPECT_EQ(analyzer.getChanges().size(), changes);
    EXPECT_NE(logMemoryText().find("Analyzer(280): *** ApplyDLayout ***"), std::string::npos);

    // The progress box of the collection.
    ASSERT_FALSE(ui.boxes().empty());
    EXPECT_EQ(ui.boxes()[0]->lastText(InterfaceCallback::TEXT_MAIN), "Analyzing Drive");
}

TEST_F(AnalyzerLayoutTest, WithoutTheFiltersEveryFatAndNtfsCandidateIsSelected) {
    analyzer.createFSCollection();
    const std::size_t filtered = analyzer.getLayout().size();
    Preferences::instance().setFilterInvalidFileSystems(false);
    analyzer.applyDLayout();
    std::size_t fatOrNtfs = 0;
    for (const FsCandidate& c : analyzer.getFsCollection()) {
        FsKind kind = FS_NONE;
        FatType type = FAT_NONE;
        partitionTypeToFs(c.fscode(), kind, type);
        fatOrNtfs += kind == FS_FAT || kind == FS_NTFS;
    }
    std::size_t fileSystems = 0;
    for (const FsCandidate& c : analyzer.getLayout()) {
        EXPECT_TRUE(c.valid);
        fileSystems += !c.isPartitionTable;
    }
    EXPECT_EQ(fileSystems, fatOrNtfs);
    EXPECT_GE(analyzer.getLayout().size(), filtered);
}

TEST_F(AnalyzerLayoutTest, TheTreeIsBuiltForTheChosenEntryOrTheCarvedFiles) {
    analyzer.createFSCollection();
    analyzer.setSelectedEntry(getSelectedFileSystem(analyzer.getLayout(), 0));
    analyzer.buildMap();
    ASSERT_TRUE(analyzer.getMapHolder());
    EXPECT_EQ(analyzer.getMapHolder()->getKind(), tree::MAP_FAT);

    analyzer.setSelectedEntry(nullptr);
    analyzer.buildMap();
    ASSERT_TRUE(analyzer.getMapHolder());
    EXPECT_EQ(analyzer.getMapHolder()->getKind(), tree::MAP_CBR);
}

TEST_F(AnalyzerTest, AnEntryWhoseParametersCannotBeFormedLeavesTheMapAsItWas) {
    useSource(std::string(4096 * SECTOR, '\0'));
    analyzer.buildMap();
    const SharedPtr<tree::Map> carved = analyzer.getMapHolder();
    ASSERT_TRUE(carved);

    // Volumes that would lie past the end of the source.
    FsCandidate fat;
    fat.startLBA = 5000;
    fat.hasPartitionEntry = true;
    fat.partitionType = 0x04;
    fat.layoutSectors = 1000;
    FsCandidate ntfs = fat;
    ntfs.partitionType = 0x07;
    FsCandidate other = fat;
    other.partitionType = 0x83;
    analyzer.setLayout({fat, ntfs, other});
    for (FsCandidate& entry : analyzer.getLayout()) {
        analyzer.setSelectedEntry(&entry);
        analyzer.buildMap();
        EXPECT_EQ(analyzer.getMapHolder().get(), carved.get());
    }
    const std::string log = logMemoryText();
    EXPECT_NE(log.find("Analyzer(314): "), std::string::npos);
    EXPECT_NE(log.find("Analyzer(324): "), std::string::npos);
}

} // namespace
