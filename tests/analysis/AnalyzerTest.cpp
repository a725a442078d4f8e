// The analyzer after a scan: the state a reset keeps, the layout rebuilt with
// the chosen entry set again, the tree of the chosen entry or of the carved
// files; and the tree build itself (MapInterface): its stages in one box, the
// folders only the scan knows, the FAT analysis on demand.

#include "analysis/Analyzer.h"
#include "analysis/MapInterface.h"
#include "core/AppDirectory.h"
#include "core/Preferences.h"
#include "devices/DtReaderFile.h"
#include "fs/DirectoryEntry.h"
#include "fs/fat/FATMapImpl.h"
#include "tests/analysis/AnalysisDisk.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

TEST(DriveDescrTest, AResetKeepsTheSourceAndTheRangeAndANewLayoutKeepsTheChoice) {
    DriveDescr d;
    EXPECT_THROW(
        try { d.getDrive(); } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "DriveDescr(17)");
            throw;
        },
        std::runtime_error);
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

// A floppy whose folder "orphan" only the scan still knows (its root entry is
// wiped; the scan's directory run names its cluster).
class MapInterfaceFatTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_.reset(new FatImage(dir_.file("f.img"), FatImageOptions()));
        image_->makeFolder("docs");
        image_->makeFolder("orphan");
        image_->addFile("orphan/kept.txt", "only the scan knows me");
        image_->addFile("big.bin", std::string(5000, 'b'));
        const std::string boot = image_->bootSector();
        ASSERT_TRUE(fatFsParamsFromBootSector(0, reinterpret_cast<const u8*>(boot.data()), fs_.fat,
                                              image_->volumeSectors()));
        fs_.kind = FS_FAT;
        const u64 root = u64{fs_.fat.rootDirectoryLBA} * 512;
        const std::string block = readAt(image_->path(), root, 512);
        for (u64 at = 0; at < block.size(); at += DIR_ENTRY_BYTES) {
            const u32 cluster = dirEntryStartCluster(reinterpret_cast<const u8*>(&block[at]));
            if (block.compare(at, 11, "BIG     BIN") == 0)
                big_ = cluster;
            if (block.compare(at, 11, "ORPHAN     ") == 0) {
                orphan_ = cluster;
                writeAt(image_->path(), root + at, std::string(DIR_ENTRY_BYTES, '\0'));
            }
        }
        results_.directoryRuns.insert(FoundDirectoryRun{
            static_cast<u32>(fs_.fat.get_cluster_LBA(orphan_)), 1, true, false, orphan_, 0, 0});
    }
    SharedPtr<tree::Map> build(bool analyzeFats, ScriptedInterface& ui) {
        SharedPtr<tree::Map> map;
        MapInterface::buildMap(map, openImageDriver(image_->path()), fs_, results_, analyzeFats,
                               &ui);
        return map;
    }
    static std::vector<std::string> titles(const ScriptedInterface& ui) {
        std::vector<std::string> out;
        for (const auto& t : ui.boxes().at(0)->texts)
            if (t.kind == InterfaceCallback::TEXT_TITLE)
                out.push_back(t.text);
        return out;
    }

    TempDir dir_;
    std::unique_ptr<FatImage> image_;
    FsParams fs_;
    ScanResults results_;
    u32 big_ = 0;
    u32 orphan_ = 0;
};

TEST_F(MapInterfaceFatTest, StagesInOneBoxTheScannedFolderAndTheFatAnalysisOnDemand) {
    ScriptedInterface ui;
    SharedPtr<tree::Map> map = build(true, ui);
    ASSERT_TRUE(map);
    EXPECT_EQ(titles(ui),
              (std::vector<std::string>{"Building Tree", "Analyzing FATs", "Building Tree",
                                        "Analyzing Found Files", "Finishing Tree"}));
    EXPECT_FALSE(map->hasInterfaceCallback());
    std::vector<std::string> found;
    for (const tree::Node& n : map->getFolder(orphan_)->getNodes())
        found.push_back(n.getName());
    EXPECT_EQ(found, std::vector<std::string>{"kept.txt"});

    // Without the first FAT, only the analysis reads the chain from the mirror.
    writeAt(image_->path(), u64{fs_.fat.fatLBA} * 512,
            std::string(u64{fs_.fat.sectorsPerFAT} * 512, '\0'));
    for (bool analyze : {false, true}) {
        ScriptedInterface quiet;
        map = build(analyze, quiet);
        auto* fat = dynamic_cast<tree::FATMapImpl*>(map.get());
        ASSERT_NE(fat, nullptr);
        EXPECT_EQ(fat->getFatDrive().getFatsReader().getEntry(big_) != 0, analyze);
        EXPECT_EQ(titles(quiet).size(), analyze ? 5u : 4u);
    }
}

} // namespace
