// `hbprobe dump` end to end on a FAT32 volume that mkfs.fat made behind an MBR:
// every kind of dump through the reader chain of a descriptor, and the ways the
// command line or the source can fail.

#include "fs/Params.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <string>

using namespace testutil;

namespace {

int probeDump(const std::string& arguments, std::string* out, std::string* err = nullptr) {
    return run(shellQuote(probePath()) + " dump " + arguments, out, err);
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

class ProbeDumpTest : public ::testing::Test {
protected:
    void SetUp() override {
        FatImageOptions options;
        options.sizeKiB = 40960;
        options.fatBits = 32;
        options.partitionLba = 63;
        image_.reset(new FatImage(dir_.file("disk.img"), options));
        image_->makeFolder("Folder with a long name");
        image_->addFile("Folder with a long name/inner.txt", "inner");
        image_->addFile("gone.txt", "gone");
        image_->deleteFile("gone.txt");
        descriptor_ = shellQuote("id=" + image_->path() + "|type=file");
    }

    TempDir dir_;
    std::unique_ptr<FatImage> image_;
    std::string descriptor_;
};

TEST_F(ProbeDumpTest, DumpsEachStructureOfTheVolume) {
    std::string out;
    std::string err;
    ASSERT_EQ(probeDump(descriptor_ + " table 0", &out, &err), 0) << err;
    EXPECT_EQ(firstLine(out), "Partition Table (0;0;1;LBA=0)");
    EXPECT_NE(out.find("\n0  No FAT32X (   0;  1; 1)         63 (    5; 26;20)      81920 41.94MB"),
              std::string::npos)
        << out;

    ASSERT_EQ(probeDump(descriptor_ + " boot 63", &out, &err), 0) << err;
    EXPECT_EQ(firstLine(out), "FAT32 Boot Sector (0;1;1;LBA=63)");
    EXPECT_NE(out.find("\nHidden Sectors: 63\n"), std::string::npos) << out;

    // The first FAT sector: the width is guessed from its first entries.
    ASSERT_EQ(probeDump(descriptor_ + " fat 95", &out, &err), 0) << err;
    EXPECT_EQ(firstLine(out), "FAT32 (0;1;33;LBA=95)");
    EXPECT_EQ(out.substr(out.find('\n') + 1, 40), "EOF       EOF       EOF       EOF       ");

    // The second sector of the FAT is no FAT start: it needs the width given.
    ASSERT_EQ(probeDump(descriptor_ + " fat 96", &out, &err), 0) << err;
    EXPECT_EQ(out, "Not FAT\n");
    ASSERT_EQ(probeDump(descriptor_ + " fat 96 --type 32", &out, &err), 0) << err;
    EXPECT_EQ(firstLine(out), "FAT32 (0;1;34;LBA=96)");

    // The root folder, and the folder it names.
    FAT_FS_PARAMS params;
    const std::string boot = image_->bootSector();
    ASSERT_TRUE(fatFsParamsFromBootSector(63, reinterpret_cast<const u8*>(boot.data()), params,
                                          image_->volumeSectors() + 63));
    const u64 root = params.get_cluster_LBA(params.rootCluster);
    ASSERT_EQ(probeDump(descriptor_ + " dir " + std::to_string(root), &out, &err), 0) << err;
    EXPECT_NE(out.find("Root Directory ("), std::string::npos) << out;
    EXPECT_NE(out.find("\nFolder with a   LFN    Order:1     Last:0"), std::string::npos) << out;
    EXPECT_NE(out.find("\n#one.txt       -File"), std::string::npos) << out;
    const std::size_t folderRow = out.find("\nFOLDER~1        Dir ");
    ASSERT_NE(folderRow, std::string::npos) << out;
    const u32 cluster = static_cast<u32>(std::stoul(out.substr(folderRow + 57, 10)));
    const u64 folder = params.get_cluster_LBA(cluster);
    ASSERT_EQ(probeDump(descriptor_ + " dir " + std::to_string(folder), &out, &err), 0) << err;
    EXPECT_EQ(out.find("Directory ("), 0u) << out;
    EXPECT_NE(out.find("\ninner.txt       File"), std::string::npos) << out;
}

TEST_F(ProbeDumpTest, KnownDescriptorsBuildComposedSources) {
    // A range that starts at the partition: its LBA 0 is the boot sector.
    writeAll(dir_.file("known"), "id=part|type=range|components=" + image_->path() +
                                     "|rangeOffset=32256|rangeSize=41943040\n");
    std::string out;
    std::string err;
    ASSERT_EQ(probeDump("--known " + shellQuote(dir_.file("known")) +
                            " 'id=r|type=jbod|components=part' boot 0",
                        &out, &err),
              0)
        << err;
    EXPECT_EQ(firstLine(out), "FAT32 Boot Sector (0;0;1;LBA=0)");
}

TEST_F(ProbeDumpTest, Failures) {
    std::string out;
    std::string err;
    // Past the end of the source: the line of the dump, and exit 1.
    EXPECT_EQ(probeDump(descriptor_ + " boot 4000000", &out, &err), 1);
    EXPECT_EQ(out, "Cannot read LBA 4000000 (1 sector)\n");
    // A bad sector, as the test reader plays one.
    EXPECT_EQ(probeDump(descriptor_ + " boot 63 --fail 63", &out, &err), 1);
    EXPECT_EQ(out, "Cannot read LBA 63 (1 sector)\n");
    // A source that cannot be opened: the text of its error box.
    EXPECT_EQ(probeDump("'id=/nonexistent/x.img|type=file' boot 0", &out, &err), 1);
    EXPECT_EQ(err, "Cannot initialize /nonexistent/x.img\n(invalid file: /nonexistent/x.img)\n");
    // Wrong command lines.
    for (const char* tail : {" mft", " boot", " boot -1", " boot 4294967296x", " dir 0 --type 16",
                             " fat 0 --type 8"}) {
        EXPECT_EQ(probeDump(descriptor_ + tail, &out, &err), 2) << tail;
        EXPECT_EQ(err.find("usage: hbprobe dump"), 0u) << tail << err;
    }
    EXPECT_EQ(probeDump(descriptor_ + " boot 4294967296", &out, &err), 1);
}

} // namespace
