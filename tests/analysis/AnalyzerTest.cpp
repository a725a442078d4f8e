// The analyzer after a scan: the state a reset keeps, the layout rebuilt with
// the chosen entry set again, the tree of the chosen entry or of the carved
// files (the trees' contents: DiskAnalysisTest).

#include "analysis/Analyzer.h"
#include "core/AppDirectory.h"
#include "core/Preferences.h"
#include "tests/analysis/AnalysisDisk.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace testutil;

namespace {

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

} // namespace
