// The analyzer after a scan: the state a reset keeps, the layout rebuilt with
// the chosen entry set again, the tree of the chosen entry or of the carved
// files (the trees' contents: DiskAnalysisTest); floods of candidates rebuilt
// whole but logged and reported only up to the dump limit.

#include "analysis/Analyzer.h"
#include "analysis/DumpLimit.h"
#include "core/AppDirectory.h"
#include "core/Preferences.h"
#include "tests/analysis/AnalysisDisk.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/HostileImages.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using namespace testutil;

namespace {

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(DriveDescrTest, AResetKeepsTheSourceAndTheRangeAndANewLayoutKeepsTheChoice) {
    DriveDescr d;
    EXPECT_THAT([&] { d.getDrive(); },
                testing::ThrowsMessage<std::runtime_error>(testing::StrEq("DriveDescr(17)")));
    d.setDrive(new Driver(SharedPtr<dt::Reader>(new MemoryReader(std::string(2048, '\0'))), 512));
    d.getScanRange().setSecond(1000);
    d.setHasScan(true);
    d.setScanSaved(false);
    std::vector<FsCandidate> layout(3);
    layout[1].startLBA = 63;
    layout[1].hasPartitionEntry = true;
    layout[1].partitionType = 0x07;
    d.setLayout(layout);
    d.setSelectedEntry(&d.getLayout()[1]);
    // Rebuilt, the layout has the chosen volume elsewhere: the choice follows it.
    layout.insert(layout.begin(), FsCandidate());
    d.setLayout(layout);
    EXPECT_EQ(d.getSelectedEntry(), &d.getLayout()[2]);
    layout[2].startLBA = 64;
    d.setLayout(layout);
    EXPECT_EQ(d.getSelectedEntry(), nullptr);

    d.getCarvedFiles().resize(2);
    d.reset();
    EXPECT_TRUE(!d.hasScan() && d.isScanSaved() && d.getCarvedFiles().empty());
    EXPECT_TRUE(d.getLayout().empty());
    EXPECT_EQ(d.getDrive()->getSectorCount(), 4u);
    EXPECT_EQ(d.getScanRange().getSecond(), 1000u);
}

TEST(AnalyzerTest, TheLayoutIsRebuiltNotAddedToAndTheTreeIsOfTheChosenEntry) {
    using namespace analysistest;
    setAppDirectory(HB_SOURCE_DIR "/lib");
    Analyzer analyzer(nullptr);
    analyzer.getDriveHolder() = openImageDriver(cachedDisk());
    analyzer.scan(0, DISK_SECTORS, nullptr);
    analyzer.createFSCollection();
    FsCandidate* ntfs = getSelectedFileSystem(analyzer.getLayout(), 2);
    ASSERT_NE(ntfs, nullptr);
    analyzer.setSelectedEntry(ntfs);
    const std::size_t changes = analyzer.getChanges().size();
    analyzer.applyDLayout();
    EXPECT_EQ(analyzer.getChanges().size(), changes);
    ASSERT_NE(analyzer.getSelectedEntry(), nullptr);
    EXPECT_EQ(analyzer.getSelectedEntry()->startLBA, NTFS_LBA);
    analyzer.buildMap();
    ASSERT_TRUE(analyzer.getMapHolder());
    EXPECT_EQ(analyzer.getMapHolder()->getKind(), tree::MAP_NTFS);
    analyzer.setSelectedEntry(nullptr);
    analyzer.buildMap();
    EXPECT_EQ(analyzer.getMapHolder()->getKind(), tree::MAP_CBR);

    // Unfiltered, every FAT and NTFS candidate is in the layout.
    Preferences::instance().setFilterInvalidFileSystems(false);
    analyzer.applyDLayout();
    Preferences::instance().resetToDefaults();
    EXPECT_GT(analyzer.getLayout().size(), 5u);

    // Volumes past the source's end give no parameters: the map stays.
    const SharedPtr<tree::Map> carved = analyzer.getMapHolder();
    FsCandidate beyond;
    beyond.startLBA = DISK_SECTORS + 10;
    beyond.hasPartitionEntry = true;
    beyond.layoutSectors = 1000;
    LogCapture log;
    for (u8 type : {0x04, 0x07}) {
        beyond.partitionType = type;
        analyzer.setLayout({beyond});
        analyzer.setSelectedEntry(&analyzer.getLayout()[0]);
        analyzer.buildMap();
        EXPECT_EQ(analyzer.getMapHolder().get(), carved.get());
    }
    EXPECT_TRUE(log.has("Analyzer(314): ") && log.has("Analyzer(324): "));
}

// An image file is read as a disk or as a volume by what its scan found, one
// row per rule; a table past sector 0 stands for the volumes found there.
TEST(AnalyzerTest, AnImageIsReadAsTheDiskOrTheVolumeItsScanShows) {
    auto fat = [](ScanResults& r, u32 lba, FatType width) {
        r.fatSectors.insert(FoundFatSector{lba, width});
    };
    const struct {
        const char* name;
        std::function<void(ScanResults&)> finds;
        bool disk;
    } rows[] = {
        {"a table whose volumes all lost their boot sectors",
         [&](ScanResults& r) {
             r.partitionTables.insert({0, {{{6, 2048, 40000}}}});
             fat(r, 2049, FAT16);
         },
         true},
        {"boot code that reads as a table, the volume's FATs before its entries",
         [&](ScanResults& r) {
             r.partitionTables.insert({0, {{{6, 63, 24576}, {5, 24639, 1000}}}});
             fat(r, 4, FAT16);
         },
         false},
        {"boot code that reads as a table, the volume's second FAT just behind its entry",
         [&](ScanResults& r) {
             r.partitionTables.insert({0, {{{6, 63, 20000}, {5, 20063, 2048}}}});
             fat(r, 4, FAT16);
             fat(r, 64, FAT16);
         },
         false},
        {"a FAT32's FAT behind 64 reserved sectors, then a disk image",
         [&](ScanResults& r) {
             fat(r, 64, FAT32);
             r.partitionTables.insert({5000, {{{6, 7048, 1000}}}});
         },
         false},
        {"the FAT of a partition at 63 whose boot sector is lost",
         [&](ScanResults& r) {
             fat(r, 64, FAT16_32);
             fat(r, 112, FAT16_32);
             r.partitionTables.insert({20000, {{{6, 20063, 1000}}}});
         },
         true},
    };
    for (const auto& row : rows) {
        Analyzer analyzer(nullptr);
        analyzer.getDriveHolder() = openMemoryDriver(std::string(60000 * 512, '\0'));
        setSourceKind(analyzer.getDrive()->getProperties(), "file");
        row.finds(analyzer.getScanResults());
        analyzer.createFSCollection();
        EXPECT_EQ(analyzer.getDrive()->getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 9),
                  row.disk ? 1 : 0)
            << row.name;
    }
}

// Disks of copied structures, from the scan to the rebuilt sectors: every
// volume is rebuilt, but the log and the report dump the first elements only
// and count the rest in one line, so that what they hold stays bounded however
// many candidates come.
TEST(AnalyzerTest, FloodsAreRebuiltWholeAndDumpedUpToTheLimit) {
    constexpr u32 PAST_LIMIT = DumpLimit::FULL_DUMPS + 201;
    const struct {
        std::string image;
        bool disk;
        std::size_t candidates, fileSystems, tables;
        // In layout order the dumps go to the MBR, then to a record and its
        // partition by turns.
        std::size_t reported;
    } floods[] = {
        // Each sector a volume and the backup of the one before; the last has
        // no backup on the source.
        {ntfsBootSectorFlood(PAST_LIMIT), false, PAST_LIMIT, PAST_LIMIT - 1, 0,
         DumpLimit::FULL_DUMPS},
        // Each partition, and each of its sectors read as a volume of its own.
        {ebrChain(600), true, 1800, 600, 601, (DumpLimit::FULL_DUMPS - 1) / 2},
    };
    setAppDirectory(HB_SOURCE_DIR "/lib");
    for (const auto& f : floods) {
        Analyzer analyzer(nullptr);
        analyzer.getDriveHolder() = openMemoryDriver(f.image);
        setSourceKind(analyzer.getDrive()->getProperties(), f.disk ? "drive" : "file");
        analyzer.scan(0, analyzer.getDrive()->getSectorCount(), nullptr);
        LogCapture log;
        analyzer.createFSCollection();
        ASSERT_EQ(analyzer.getFsCollection().size(), f.candidates);
        std::size_t tables = 0;
        std::size_t rebuilt = 0; // with its boot sector and its backup
        for (const FsCandidate& e : analyzer.getLayout()) {
            tables += e.isPartitionTable;
            rebuilt += !e.isPartitionTable && e.bootStatus == 1 && e.backupStatus != 0;
        }
        EXPECT_EQ(tables, f.tables);
        EXPECT_EQ(rebuilt, f.fileSystems);
        const std::size_t leftOut = f.fileSystems + (f.disk ? tables : 0) - DumpLimit::FULL_DUMPS;
        const std::string& report = analyzer.getLayoutReport();
        EXPECT_EQ(occurrences(report, "NTFS File System:"), f.reported);
        EXPECT_THAT(report, testing::EndsWith(std::to_string(leftOut) +
                                              " more elements of the layout were left out of "
                                              "this report.\n"));
        EXPECT_EQ(occurrences(log.text(), "DL(1032)"), f.reported);
        EXPECT_TRUE(log.has("DriveLayoutApply(5): " + std::to_string(leftOut) + " more"));
        EXPECT_TRUE(log.has("(" + std::to_string(f.candidates - DumpLimit::FULL_DUMPS) + " of " +
                            std::to_string(f.candidates) +
                            " candidates left out of this listing)"));
    }
}

} // namespace
