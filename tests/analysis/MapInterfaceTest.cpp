// The FAT half of building the tree of a chosen file system: the stages shown in
// the progress box, the parameter block in the log before any analysis, a cancel
// from any poll leaving no tree, and the FAT analysis only when asked for.

#include "analysis/MapInterface.h"

#include "core/Log.h"
#include "devices/DtReaderFile.h"
#include "fs/DirectoryEntry.h"
#include "fs/fat/FATMapImpl.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace {

using testutil::FatImage;
using testutil::FatImageOptions;
using testutil::readAt;
using testutil::ScriptedInterface;
using testutil::TempDir;
using testutil::writeAt;

// The window titles a box was given, in order.
std::vector<std::string> titlesOf(const testutil::RecordingProgress::Record& box) {
    std::vector<std::string> titles;
    for (const auto& t : box.texts)
        if (t.kind == InterfaceCallback::TEXT_TITLE)
            titles.push_back(t.text);
    return titles;
}

// A floppy with a few files and folders, a folder that only the scan knows (its
// entry in the root is wiped, the scan's directory run names its cluster, and a
// folder in it is read when the tree is finished) and the parameters of its boot
// sector.
class MapInterfaceFatTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_.reset(new FatImage(dir_.file("f.img"), FatImageOptions()));
        image_->makeFolder("docs");
        image_->addFile("docs/a.txt", "in a folder");
        image_->makeFolder("orphan");
        image_->addFile("orphan/kept.txt", "only the scan knows me");
        image_->makeFolder("orphan/inner");
        image_->addFile("orphan/inner/deep.txt", "deeper");
        image_->addFile("big.bin", std::string(5000, 'b'));
        image_->addFile("small.txt", "small");
        const std::string boot = image_->bootSector();
        ASSERT_TRUE(fatFsParamsFromBootSector(0, reinterpret_cast<const u8*>(boot.data()), fs_.fat,
                                              image_->volumeSectors()));
        fs_.kind = FS_FAT;
        bigCluster_ = rootEntryCluster("BIG     BIN", false);
        orphan_ = rootEntryCluster("ORPHAN     ", true);
        const u32 orphan = orphan_;
        FoundDirectoryRun run;
        run.lba = static_cast<u32>(fs_.fat.get_cluster_LBA(orphan));
        run.sectorCount = fs_.fat.sectorsPerCluster;
        run.startsWithDotEntries = true;
        run.dotCluster = orphan;
        results_.directoryRuns.insert(run);
    }

    // The first cluster of a root entry; `wipe` zeroes the entry.
    u32 rootEntryCluster(const std::string& name11, bool wipe) {
        const u64 root = static_cast<u64>(fs_.fat.rootDirectoryLBA) * 512;
        const std::string block = readAt(image_->path(), root, 512);
        for (u64 at = 0; at < block.size(); at += DIR_ENTRY_BYTES) {
            if (block.compare(at, 11, name11) != 0)
                continue;
            const u32 cluster = dirEntryStartCluster(reinterpret_cast<const u8*>(&block[at]));
            if (wipe)
                writeAt(image_->path(), root + at, std::string(DIR_ENTRY_BYTES, '\0'));
            return cluster;
        }
        ADD_FAILURE() << name11 << " is not in the root:\n" << image_->listing();
        return 0;
    }

    SharedPtr<Driver> open(const std::vector<u64>& badSectors = {}) {
        auto* file = new dt::ReaderFile;
        SharedPtr<dt::Reader> reader(file);
        EXPECT_TRUE(file->open(image_->path().c_str()));
        if (!badSectors.empty())
            reader.reset(new testutil::FailingReader(SharedPtr<dt::Reader>(reader), badSectors));
        return SharedPtr<Driver>(new Driver(reader, 512));
    }

    // The names in the folder at `address` of a built map.
    static std::vector<std::string> namesIn(tree::Map& map, u64 address) {
        std::vector<std::string> names;
        if (tree::Folder* folder = map.getFolder(address))
            for (const tree::Node& n : folder->getNodes())
                names.push_back(n.getName());
        return names;
    }

    TempDir dir_;
    std::unique_ptr<FatImage> image_;
    FsParams fs_;
    ScanResults results_;
    u32 bigCluster_ = 0;
    u32 orphan_ = 0;
};

TEST_F(MapInterfaceFatTest, EveryStageIsShownInOneBoxAndTheMapKeepsNoBox) {
    ScriptedInterface ui;
    SharedPtr<tree::Map> map;
    MapInterface::buildMap(map, open(), fs_, results_, true, &ui);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->getKind(), tree::MAP_FAT);
    EXPECT_TRUE(ui.asked().empty());
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(titlesOf(*ui.boxes()[0]),
              (std::vector<std::string>{"Building Tree", "Analyzing FATs", "Building Tree",
                                        "Analyzing Found Files", "Finishing Tree"}));
    // The analysis reported its count; the found-files pass named the folder it
    // attached (nameless, as only its cluster is known).
    const std::string orphanName = "Found." + std::to_string(orphan_);
    bool counted = false;
    bool reportedOrphan = false;
    for (const auto& t : ui.boxes()[0]->texts) {
        counted = counted || t.text == "0 sectors differ in FAT and FAT Mirror";
        reportedOrphan = reportedOrphan || t.text.find(orphanName) != std::string::npos;
    }
    EXPECT_TRUE(counted);
    EXPECT_TRUE(reportedOrphan);

    EXPECT_FALSE(map->hasInterfaceCallback());
    auto* fat = dynamic_cast<tree::FATMapImpl*>(map.get());
    ASSERT_NE(fat, nullptr);
    EXPECT_FALSE(fat->getFatDrive().hasInterfaceCallback());

    // The folder the root no longer names comes back through the scan, in the
    // "Found" folder, since no entry of the root claims it.
    EXPECT_EQ(namesIn(*map, tree::FATMapImpl::FIXED_ROOT_ADDRESS),
              (std::vector<std::string>{"docs", "Found", "big.bin", "small.txt"}));
    EXPECT_EQ(namesIn(*map, tree::FOUND_FOLDER), std::vector<std::string>{orphanName});
    EXPECT_EQ(namesIn(*map, orphan_), (std::vector<std::string>{"inner", "kept.txt"}));
}

TEST_F(MapInterfaceFatTest, WithoutTheAnalysisTheFirstFatAloneIsRead) {
    // The first FAT is gone; only the mirror still names the chains.
    writeAt(image_->path(), static_cast<u64>(fs_.fat.fatLBA) * 512,
            std::string(static_cast<std::size_t>(fs_.fat.sectorsPerFAT) * 512, '\0'));
    const u32 mirrorEntry = [&] {
        // FAT12: the entry of an even cluster is its low byte and the low nibble
        // of the next.
        const std::string fat =
            readAt(image_->path(), static_cast<u64>(fs_.fat.fatMirrLBA) * 512, 4096);
        const u32 at = bigCluster_ * 3 / 2;
        const u32 pair = static_cast<u8>(fat[at]) | static_cast<u8>(fat[at + 1]) << 8;
        return bigCluster_ & 1 ? pair >> 4 : pair & 0xFFF;
    }();
    ASSERT_NE(mirrorEntry, 0u);

    for (bool analyze : {false, true}) {
        SCOPED_TRACE(analyze ? "with the analysis" : "without the analysis");
        ScriptedInterface ui;
        SharedPtr<tree::Map> map;
        MapInterface::buildMap(map, open(), fs_, results_, analyze, &ui);
        ASSERT_TRUE(map);
        auto* fat = dynamic_cast<tree::FATMapImpl*>(map.get());
        ASSERT_NE(fat, nullptr);
        EXPECT_EQ(fat->getFatDrive().getFatsReader().getEntry(bigCluster_),
                  analyze ? mirrorEntry : 0u);
        const std::vector<std::string> titles = titlesOf(*ui.boxes().at(0));
        EXPECT_EQ(std::count(titles.begin(), titles.end(), "Analyzing FATs"), analyze ? 1 : 0);
        EXPECT_EQ(titles.size(), analyze ? 5u : 4u);
        for (const tree::Node& n :
             map->getFolder(tree::FATMapImpl::FIXED_ROOT_ADDRESS)->getNodes()) {
            if (n.getName() == "big.bin") {
                EXPECT_EQ(n.getStatus(), analyze ? tree::GOOD_IN_FAT : tree::BAD_IN_FAT);
            }
        }
    }
}

TEST_F(MapInterfaceFatTest, TheParametersAreLoggedBeforeAnyAnalysis) {
    std::ostringstream text;
    text << "MapInterface(24): " << fs_.fat << '\n';
    // The analysis logs the FAT sector it cannot read.
    const std::size_t mark = logMemoryText().size();
    ScriptedInterface ui;
    SharedPtr<tree::Map> map;
    MapInterface::buildMap(map, open({fs_.fat.fatLBA}), fs_, results_, true, &ui);
    ASSERT_TRUE(map);
    std::string log = logMemoryText().substr(mark);
    const std::size_t params = log.find(text.str());
    const std::size_t analysis = log.find("FatsAnalyzer(61): ");
    ASSERT_NE(params, std::string::npos) << log;
    ASSERT_NE(analysis, std::string::npos) << log;
    EXPECT_LT(params, analysis);

    // A build cancelled at its first poll still leaves them.
    const std::size_t again = logMemoryText().size();
    ui.cancelBoxesAtPoll(1);
    EXPECT_THROW(MapInterface::buildMap(map, open(), fs_, results_, true, &ui),
                 InterruptedException);
    log = logMemoryText().substr(again);
    EXPECT_NE(log.find(text.str()), std::string::npos) << log;
}

TEST_F(MapInterfaceFatTest, ACancelAtAnyPollLeavesNoTreeAndNothingPollsAfterIt) {
    // How many polls a whole build takes.
    ScriptedInterface counting;
    SharedPtr<tree::Map> map;
    MapInterface::buildMap(map, open(), fs_, results_, true, &counting);
    ASSERT_TRUE(map);
    const u64 polls = counting.boxes().at(0)->polls;
    ASSERT_GT(polls, 3u);

    // The holder starts with the tree of an earlier build, which a cancelled one
    // must not leave behind either.
    std::set<std::string> cancelledStages;
    for (u64 n = 1; n <= polls; ++n) {
        SCOPED_TRACE("cancel at poll " + std::to_string(n));
        ScriptedInterface ui;
        ui.cancelBoxesAtPoll(n);
        SharedPtr<tree::Map> out = map;
        EXPECT_THROW(MapInterface::buildMap(out, open(), fs_, results_, true, &ui),
                     InterruptedException);
        EXPECT_FALSE(out);
        ASSERT_EQ(ui.boxes().size(), 1u);
        EXPECT_TRUE(ui.boxes()[0]->cancelled);
        EXPECT_EQ(ui.boxes()[0]->polls, n);
        cancelledStages.insert(titlesOf(*ui.boxes()[0]).back());
    }
    // The sweep reached every stage that polls.
    EXPECT_EQ(cancelledStages, (std::set<std::string>{"Analyzing FATs", "Building Tree",
                                                      "Analyzing Found Files", "Finishing Tree"}));
    // One poll more is never reached.
    ScriptedInterface ui;
    ui.cancelBoxesAtPoll(polls + 1);
    SharedPtr<tree::Map> out;
    MapInterface::buildMap(out, open(), fs_, results_, true, &ui);
    EXPECT_TRUE(out);
    EXPECT_FALSE(ui.boxes()[0]->cancelled);
}

TEST_F(MapInterfaceFatTest, AChoiceOfNoFileSystemBuildsNothing) {
    FsParams none;
    ScriptedInterface ui;
    SharedPtr<tree::Map> map;
    MapInterface::buildMap(map, open(), fs_, results_, false, &ui);
    ASSERT_TRUE(map);
    MapInterface::buildMap(map, open(), none, results_, false, &ui);
    EXPECT_FALSE(map);
    EXPECT_TRUE(ui.asked().empty());
}

} // namespace
