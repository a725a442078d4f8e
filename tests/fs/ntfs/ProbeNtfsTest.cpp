// `hbprobe tree`, `recover` and `dump ... mft` end to end on NTFS volumes made
// by mkntfs and filled by our builder: the tree of a whole volume, of one whose
// MFT record 0 or boot sector is gone, and the structure dump of MFT records.

#include "tests/fs/ntfs/NtfsVolumeFixture.h"
#include "tests/support/FsImages.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using ntfstest::randomContent;
using ntfstest::sameBytes;
using ntfstest::textContent;
using testutil::IMAGE_EPOCH;
using testutil::NtfsBuilder;
using testutil::NtfsImage;
using testutil::NtfsImageOptions;
using testutil::probePath;
using testutil::shellQuote;
using testutil::TempDir;

using Result = testutil::ProbeResult;
using testutil::mtimeOf;

Result probe(const std::string& arguments) {
    return testutil::runProbe(arguments);
}

std::string descriptorOf(const std::string& path) {
    return testutil::fileDescriptor(path);
}

// A filled 16 MiB volume of 4 KiB clusters.
class ProbeNtfsTest : public ::testing::Test {
protected:
    void SetUp() override {
        NtfsImageOptions options;
        options.clusterBytes = 4096;
        image_.reset(new NtfsImage(dir_.file("v.img"), options));
        NtfsBuilder b(*image_);
        files_["Docs/report.txt"] = textContent(70000, 1);
        files_["Docs/Ünïcödé.bin"] = randomContent(12345, 2);
        files_["small.txt"] = "resident";
        files_["packed.txt"] = textContent(100000, 3);
        b.mkdir("/Docs")
            .write("/Docs/report.txt", files_["Docs/report.txt"])
            .write("/Docs/Ünïcödé.bin", files_["Docs/Ünïcödé.bin"])
            .write("/small.txt", files_["small.txt"])
            .compress("/packed.txt", files_["packed.txt"])
            .setMtime("/small.txt", IMAGE_EPOCH - 3600)
            .write("/deleted.bin", randomContent(5000, 4))
            .rm("/deleted.bin");
        ASSERT_TRUE(b.run());
        path_ = image_->path();
        lastSector_ = image_->volumeSectors() - 1;
    }

    void damage(NtfsBuilder& b) { ASSERT_TRUE(b.run()); }

    // hbprobe tree on the image's volume: the boot sector and options given.
    Result treeOf(const std::string& arguments) {
        return probe("tree " + descriptorOf(path_) + " ntfs " + arguments);
    }

    // Recovers the volume and checks every file against what was written.
    void expectRecovered(const std::string& arguments) {
        TempDir out;
        const Result r = probe("recover " + descriptorOf(path_) + " ntfs " + arguments + " " +
                               shellQuote(out.path()));
        ASSERT_EQ(r.status, 0) << r.err;
        for (const auto& f : files_)
            EXPECT_TRUE(sameBytes(testutil::readAll(out.path() + "/" + f.first), f.second))
                << f.first;
        EXPECT_EQ(mtimeOf(out.file("small.txt")), IMAGE_EPOCH - 3600);
        EXPECT_EQ(mtimeOf(out.file("Docs/report.txt")), IMAGE_EPOCH);
        // The deleted file's record is not reused: it comes back from Found.
        EXPECT_TRUE(
            sameBytes(testutil::readAll(out.file("Found/deleted.bin")), randomContent(5000, 4)));
    }

    TempDir dir_;
    std::unique_ptr<NtfsImage> image_;
    std::map<std::string, std::string> files_;
    std::string path_;
    u64 lastSector_ = 0;
};

TEST_F(ProbeNtfsTest, TheTreeListsEveryFileAndRecoversIt) {
    const Result r = treeOf("0");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Directory of /Docs"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Ünïcödé.bin"), std::string::npos);
    EXPECT_NE(r.out.find("Directory of /Found"), std::string::npos);
    EXPECT_NE(r.out.find("deleted.bin"), std::string::npos);
    expectRecovered("0");
}

TEST_F(ProbeNtfsTest, WithRecordZeroGoneTheMirrorGivesTheWholeTree) {
    const Result before = treeOf("0");
    NtfsBuilder b(image_->volumePath());
    b.zeroMftRecord0();
    damage(b);
    const Result after = treeOf("0");
    ASSERT_EQ(after.status, 0) << after.err;
    // Only $MFT itself, whose record is gone, is known from its index entry alone.
    auto withoutMft = [](const std::string& report) {
        std::string out;
        std::istringstream lines(report);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.compare(0, 4, "$MFT") != 0 && line.find(" file(s) ") == std::string::npos)
                out += line + '\n';
        }
        return out;
    };
    EXPECT_EQ(withoutMft(after.out), withoutMft(before.out));
    expectRecovered("0");
}

TEST_F(ProbeNtfsTest, WithTheBootSectorGoneTheBackupAtTheVolumesEndServes) {
    const Result before = treeOf("0");
    NtfsBuilder b(image_->volumePath());
    b.zeroBootSector();
    damage(b);
    Result r = treeOf("0");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no NTFS boot sector"), std::string::npos) << r.err;
    r = treeOf(std::to_string(lastSector_) + " --backup");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, before.out);
    expectRecovered(std::to_string(lastSector_) + " --backup");
    // The backup option is NTFS's, and needs a boot sector where it points.
    EXPECT_EQ(probe("tree " + descriptorOf(path_) + " fat 0 --backup").status, 2);
    r = treeOf("5 --backup");
    EXPECT_EQ(r.status, 1);
}

TEST_F(ProbeNtfsTest, WithoutAnyRecordZeroTheUserIsToldOnce) {
    NtfsBuilder b(image_->volumePath());
    b.zeroMftRecord0().zeroMirrorRecord0();
    damage(b);
    const Result r = treeOf("0");
    EXPECT_EQ(r.status, 1);
    const std::string message = "message: Cannot recreate MFT runlist.\\nInput valid MFT (or MFT "
                                "Mirror) location\\nor try to find more NTFS File Records\n";
    ASSERT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(message, r.err.find(message) + 1), std::string::npos);
    EXPECT_NE(r.err.find("no tree was built"), std::string::npos);
}

TEST_F(ProbeNtfsTest, TheMftDumpShowsARecordAsTheNodeInformationDoes) {
    Result r = probe("dump " + descriptorOf(path_) + " mft 5");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("MFT Index: 5, LBA: "), 0u) << r.out;
    EXPECT_NE(r.out.find("Magic:\t'FILE'"), std::string::npos);
    EXPECT_NE(r.out.find("File Name:\t'.'"), std::string::npos);
    EXPECT_NE(r.out.find("Type:\tINDEX_ROOT"), std::string::npos);
    r = probe("dump " + descriptorOf(path_) + " mft 0 --boot 0");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("File Name:\t'$MFT'"), std::string::npos);
    // A record beyond the MFT's runs.
    r = probe("dump " + descriptorOf(path_) + " mft 100000");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Cannot read file record 100000"), std::string::npos) << r.out;
    // No NTFS boot sector there; no record number; --boot belongs to mft.
    EXPECT_EQ(probe("dump " + descriptorOf(path_) + " mft 5 --boot 1").status, 1);
    EXPECT_EQ(probe("dump " + descriptorOf(path_) + " mft").status, 2);
    EXPECT_EQ(probe("dump " + descriptorOf(path_) + " boot 0 --boot 0").status, 2);
}

TEST(ProbeNtfsPartitionTest, AVolumeBehindAPartitionTable) {
    TempDir dir;
    NtfsImageOptions options;
    options.partitionLba = 63;
    NtfsImage image(dir.file("disk.img"), options);
    NtfsBuilder b(image.volumePath());
    b.mkdir("/a").write("/a/b.txt", "behind a table");
    ASSERT_TRUE(b.run());
    const std::string disk = image.path();
    Result r = probe("tree " + descriptorOf(disk) + " ntfs 63");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("b.txt"), std::string::npos);
    r = probe("tree " + descriptorOf(disk) + " ntfs " +
              std::to_string(63 + image.volumeSectors() - 1) + " --backup");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("b.txt"), std::string::npos);
    r = probe("dump " + descriptorOf(disk) + " mft 5 --boot 63");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("File Name:\t'.'"), std::string::npos);
}

} // namespace
