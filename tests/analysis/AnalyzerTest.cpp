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

// A disk of copied structures: the whole road from the scan to the rebuilt
// sectors. Every volume is rebuilt, but the log and the report keep a dump of
// the first elements only and count the rest in one line, so that what they
// hold stays bounded however many candidates come.
struct Flood {
    const char* name;
    std::string (*image)();
    bool disk;
    std::size_t candidates;
    std::size_t fileSystems;
    std::size_t tables;
    // In layout order the dumps go to the MBR, then to a record and its
    // partition by turns.
    std::size_t reported;
};

constexpr u32 PAST_LIMIT = DumpLimit::FULL_DUMPS + 201;

const Flood FLOODS[] = {
    // Each sector a volume and the backup of the one before; the last has no
    // backup on the source.
    {"NtfsBootSectors", [] { return ntfsBootSectorFlood(PAST_LIMIT); }, false, PAST_LIMIT,
     PAST_LIMIT - 1, 0, DumpLimit::FULL_DUMPS},
    // Each partition, and each of its sectors read as a volume of its own.
    {"ExtendedBootRecords", [] { return ebrChain(600); }, true, 1800, 600, 601,
     (DumpLimit::FULL_DUMPS - 1) / 2},
};

class FloodTest : public ::testing::TestWithParam<Flood> {};

TEST_P(FloodTest, EveryVolumeIsRebuiltAndTheDumpsStopAtTheLimit) {
    const Flood& f = GetParam();
    setAppDirectory(HB_SOURCE_DIR "/lib");
    Analyzer analyzer(nullptr);
    analyzer.getDriveHolder() = openMemoryDriver(f.image());
    setSourceKind(analyzer.getDrive()->getProperties(), f.disk ? "drive" : "file");
    analyzer.scan(0, analyzer.getDrive()->getSectorCount(), nullptr);
    LogCapture log;
    analyzer.createFSCollection();

    ASSERT_EQ(analyzer.getFsCollection().size(), f.candidates);
    std::size_t fileSystems = 0;
    std::size_t tables = 0;
    for (const FsCandidate& e : analyzer.getLayout()) {
        if (e.isPartitionTable) {
            ++tables;
            continue;
        }
        ++fileSystems;
        EXPECT_EQ(e.bootStatus, 1u) << e.startLBA;
        EXPECT_NE(e.backupStatus, 0u) << e.startLBA;
    }
    EXPECT_EQ(fileSystems, f.fileSystems);
    EXPECT_EQ(tables, f.tables);

    const std::size_t elements = fileSystems + (f.disk ? tables : 0);
    const std::size_t leftOut = elements - DumpLimit::FULL_DUMPS;
    const std::string& report = analyzer.getLayoutReport();
    EXPECT_EQ(occurrences(report, "NTFS File System:"), f.reported);
    EXPECT_EQ(occurrences(report, std::string(72, '-')), f.reported + 1);
    EXPECT_THAT(report, testing::EndsWith(std::to_string(leftOut) +
                                          " more elements of the layout were left out of this "
                                          "report.\n"));
    const std::string text = log.text();
    EXPECT_EQ(occurrences(text, "DL(1032)"), f.reported);
    EXPECT_EQ(occurrences(text, "DriveLayoutApply(5): " + std::to_string(leftOut) + " more"), 1u);
    EXPECT_EQ(occurrences(text, "(" + std::to_string(f.candidates - DumpLimit::FULL_DUMPS) +
                                    " of " + std::to_string(f.candidates) +
                                    " candidates left out of this listing)"),
              1u);
}

INSTANTIATE_TEST_SUITE_P(Floods, FloodTest, ::testing::ValuesIn(FLOODS),
                         [](const ::testing::TestParamInfo<Flood>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
