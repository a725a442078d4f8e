// The NTFS half of building the tree of a chosen file system: the MFT's run list
// rebuilt first, the map on it, the stages shown in the progress box, and the
// one message when no run list can be made.

#include "analysis/MapInterface.h"

#include "core/Log.h"
#include "devices/DtReaderFile.h"
#include "fs/ntfs/NTFSMapImpl.h"
#include "tests/support/FsImages.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

using testutil::NtfsBuilder;
using testutil::NtfsImage;
using testutil::NtfsImageOptions;
using testutil::ScriptedInterface;
using testutil::TempDir;

// A small volume with a few files, opened as the source page opens a source.
class MapInterfaceNtfsTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_.reset(new NtfsImage(dir_.file("v.img"), NtfsImageOptions()));
        NtfsBuilder b(*image_);
        b.mkdir("/d").write("/d/a.txt", "alpha").write("/b.txt", "beta");
        ASSERT_TRUE(b.run());
    }

    void open() {
        auto* file = new dt::ReaderFile;
        SharedPtr<dt::Reader> reader(file);
        ASSERT_TRUE(file->open(image_->path().c_str()));
        driver_.reset(new Driver(reader, 512));
        u8 boot[512];
        ASSERT_TRUE(driver_->readSectors(0, 1, boot));
        ASSERT_TRUE(ntfsFsParamsFromBootSector(0, boot, fs_.ntfs, driver_->getSectorCount()));
        fs_.kind = FS_NTFS;
    }

    TempDir dir_;
    std::unique_ptr<NtfsImage> image_;
    SharedPtr<Driver> driver_;
    FsParams fs_;
    ScanResults results_;
};

TEST_F(MapInterfaceNtfsTest, TheTreeIsBuiltOnTheRebuiltMftRunList) {
    open();
    ScriptedInterface ui;
    SharedPtr<tree::Map> map;
    const std::size_t mark = logMemoryText().size();
    MapInterface::buildMap(map, driver_, fs_, results_, true, &ui);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->getKind(), tree::MAP_NTFS);
    EXPECT_TRUE(ui.asked().empty());
    const std::string log = logMemoryText().substr(mark);
    const std::size_t params = log.find("MapInterface(45): Starting LBA");
    const std::size_t runs = log.find("MapInterface(61): {");
    ASSERT_NE(params, std::string::npos) << log;
    ASSERT_NE(runs, std::string::npos) << log;
    EXPECT_LT(params, runs);
    EXPECT_NE(log.find("MftRunlist(142): "), std::string::npos);

    // One box, its stages in order, and no box left behind on the map.
    ASSERT_EQ(ui.boxes().size(), 1u);
    std::vector<std::string> titles;
    for (const auto& t : ui.boxes()[0]->texts)
        if (t.kind == InterfaceCallback::TEXT_TITLE)
            titles.push_back(t.text);
    EXPECT_EQ(titles, (std::vector<std::string>{"Building Tree", "Analyzing Found Files",
                                                "Finishing Tree"}));
    EXPECT_FALSE(map->hasInterfaceCallback());
    auto* ntfs = dynamic_cast<tree::NTFSMapImpl*>(map.get());
    ASSERT_NE(ntfs, nullptr);
    EXPECT_FALSE(ntfs->getDrive()->hasInterfaceCallback());
    tree::Folder* root = map->getFolder(tree::NTFSMapImpl::ROOT_RECORD);
    bool found = false;
    for (const tree::Node& n : root->getNodes())
        found = found || n.getName() == "b.txt";
    EXPECT_TRUE(found);
}

TEST_F(MapInterfaceNtfsTest, WithoutAnMftRunListTheUserIsToldOnceAndGetsNoTree) {
    NtfsBuilder b(*image_);
    b.zeroMftRecord0().zeroMirrorRecord0();
    ASSERT_TRUE(b.run());
    open();
    ScriptedInterface ui;
    SharedPtr<tree::Map> map;
    MapInterface::buildMap(map, driver_, fs_, results_, true, &ui);
    EXPECT_FALSE(map);
    ASSERT_EQ(ui.asked().size(), 1u);
    EXPECT_EQ(ui.asked()[0].kind, 0); // an error box, no question
    EXPECT_EQ(ui.asked()[0].text, "Cannot recreate MFT runlist.\nInput valid MFT (or MFT Mirror) "
                                  "location\nor try to find more NTFS File Records");
}

TEST_F(MapInterfaceNtfsTest, ACancelLeavesNoTree) {
    open();
    ScriptedInterface ui;
    ui.cancelBoxesAtPoll(3);
    SharedPtr<tree::Map> map;
    EXPECT_THROW(MapInterface::buildMap(map, driver_, fs_, results_, true, &ui),
                 InterruptedException);
    EXPECT_FALSE(map);
}

} // namespace
