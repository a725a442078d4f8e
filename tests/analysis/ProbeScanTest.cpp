// `hbprobe scan` end to end: a disk with a FAT16 and an NTFS partition whose
// MBR was wiped is scanned deeply, both volumes come back as candidates, the
// layout rebuilds the partition table in memory, and each volume's tree
// recovers its files byte for byte; pictures and an archive on a reformatted
// FAT volume come back as carved files; and a saved scan loaded again gives the
// same analysis without a new scan.

#include "tests/support/FsImages.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using testing::HasSubstr;
using testutil::FatImage;
using testutil::FatImageOptions;
using testutil::NtfsImage;
using testutil::NtfsImageOptions;
using testutil::readAll;
using testutil::shellQuote;
using testutil::TempDir;
using testutil::writeAt;
using Result = testutil::ProbeResult;

constexpr u32 FAT_LBA = 2048;
constexpr u32 FAT_SECTORS = 40000;
constexpr u32 NTFS_LBA = 43008;
constexpr u32 NTFS_SECTORS = 32768;
constexpr u32 DISK_SECTORS = NTFS_LBA + NTFS_SECTORS + 64;

// Text whose lines tell where in the file they stand.
std::string textContent(std::size_t n, int seed) {
    std::string out;
    for (int line = 0; out.size() < n; ++line)
        out += "file " + std::to_string(seed) + " line " + std::to_string(line) + "\n";
    out.resize(n);
    return out;
}

std::map<std::string, std::string> filesUnder(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            files[std::filesystem::relative(e.path(), folder).string()] =
                readAll(e.path().string());
    return files;
}

// The part of the listing that a scan and a loaded scan share: from the
// candidates to the carved files.
std::string analysisOf(const std::string& out) {
    const std::size_t from = out.find("--- candidates ---");
    const std::size_t to = out.find("--- tree ");
    if (from == std::string::npos)
        return "";
    return out.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

class ProbeScanTest : public ::testing::Test {
protected:
    Result scan(const std::string& image, const std::string& arguments) {
        return testutil::runProbe("scan " + testutil::fileDescriptor(image) + " " + arguments);
    }

    TempDir dir;
};

TEST_F(ProbeScanTest, BothVolumesOfAWipedDiskAreFoundRebuiltAndRecovered) {
    const std::string disk = dir.file("disk.img");
    FatImageOptions fatOptions;
    fatOptions.sizeKiB = FAT_SECTORS / 2;
    fatOptions.fatBits = 16;
    fatOptions.partitionLba = FAT_LBA;
    fatOptions.trailingSectors = DISK_SECTORS - FAT_LBA - FAT_SECTORS;
    FatImage fat(disk, fatOptions);
    std::map<std::string, std::string> fatFiles = {{"A.TXT", "alpha"},
                                                   {"DOCS/REPORT.TXT", textContent(30000, 1)},
                                                   {"BIG.BIN", textContent(150000, 2)}};
    fat.makeFolder("DOCS");
    for (const auto& f : fatFiles)
        fat.addFile(f.first, f.second);

    NtfsImageOptions ntfsOptions;
    ntfsOptions.sizeMiB = NTFS_SECTORS / 2048;
    ntfsOptions.partitionLba = NTFS_LBA;
    NtfsImage ntfs(dir.file("ntfs.img"), ntfsOptions);
    std::map<std::string, std::string> ntfsFiles = {{"notes.txt", textContent(9000, 3)},
                                                    {"data.bin", textContent(70000, 4)}};
    for (const auto& f : ntfsFiles)
        ntfs.addFile(f.first, f.second);
    writeAt(disk, u64{NTFS_LBA} * 512, readAll(ntfs.volumePath()));
    writeAt(disk, 0, std::string(512, '\0'));

    const std::string count = std::to_string(DISK_SECTORS);
    const Result r = scan(disk, "0 " + count);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("scanned: " + count + "\n"));
    EXPECT_THAT(r.out, HasSubstr("--- file systems ---\n0: LBA 2048 sectors "));
    EXPECT_THAT(r.out, HasSubstr("\n1: LBA 43008 sectors "));
    EXPECT_THAT(r.out, HasSubstr("--- changes ---\n0 Partition Table (LBA:0)\n")) << r.out;

    const std::vector<std::map<std::string, std::string>*> expected = {&fatFiles, &ntfsFiles};
    for (std::size_t row = 0; row < expected.size(); ++row) {
        SCOPED_TRACE(row);
        const std::string out = dir.file("out" + std::to_string(row));
        const Result rec =
            scan(disk, "0 " + count + " --recover " + std::to_string(row) + " " + shellQuote(out));
        ASSERT_EQ(rec.status, 0) << rec.err;
        const auto got = filesUnder(out);
        for (const auto& f : *expected[row]) {
            auto it = got.find(f.first);
            ASSERT_NE(it, got.end()) << f.first << "\n" << rec.out;
            EXPECT_TRUE(it->second == f.second) << f.first;
        }
    }
}

TEST_F(ProbeScanTest, PicturesAndAnArchiveOfAReformattedVolumeComeBackAsFoundFiles) {
    const std::string made = dir.file("made");
    std::filesystem::create_directory(made);
    std::string err;
    ASSERT_EQ(testutil::run("cd " + shellQuote(made) +
                                " && convert -seed 1 -size 320x240 plasma: photo.jpg"
                                " && convert -seed 2 -size 200x150 plasma: picture.png"
                                " && seq 1 4000 > numbers.txt && seq 5 7 90000 > more.txt"
                                " && zip -q -X archive.zip numbers.txt more.txt",
                            nullptr, &err),
              0)
        << err;
    const std::map<std::string, std::string> originals = {{"jpeg", readAll(made + "/photo.jpg")},
                                                          {"png", readAll(made + "/picture.png")},
                                                          {"zip", readAll(made + "/archive.zip")}};

    FatImageOptions options;
    options.sizeKiB = 16000;
    options.fatBits = 16;
    FatImage volume(dir.file("v.img"), options);
    volume.addFile("PHOTO.JPG", originals.at("jpeg"));
    volume.addFile("PICTURE.PNG", originals.at("png"));
    volume.addFile("ARCHIVE.ZIP", originals.at("zip"));
    // Formatted again: new FATs and an empty root, the data left where it was.
    ASSERT_EQ(
        testutil::run("mkfs.fat -F 16 -i 5678abcd " + shellQuote(volume.path()), nullptr, &err), 0)
        << err;
    ASSERT_EQ(volume.listing().find("PHOTO"), std::string::npos);

    const std::string saved = dir.file("Scan.bin");
    const std::string out = dir.file("found");
    const Result r = scan(volume.path(), "0 32000 --save " + shellQuote(saved) +
                                             " --recover found " + shellQuote(out));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("cbr-files 3\n")) << r.out;
    EXPECT_THAT(r.out, HasSubstr("files with errors: 0\n"));
    std::map<std::string, std::string> byContent;
    for (const auto& f : filesUnder(out))
        byContent[f.second] = f.first;
    for (const auto& o : originals) {
        auto it = byContent.find(o.second);
        ASSERT_NE(it, byContent.end()) << o.first << " not recovered\n" << r.out;
        EXPECT_THAT(it->second, testing::EndsWith("." + o.first));
    }

    // Loaded again, the scan gives the same analysis and the same files without
    // reading the volume through.
    const std::string again = dir.file("again");
    const Result l = scan(volume.path(), "0 0 --load " + shellQuote(saved) + " --recover found " +
                                             shellQuote(again));
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_THAT(l.out, HasSubstr("scanned: 0\n"));
    EXPECT_EQ(analysisOf(l.out), analysisOf(r.out));
    EXPECT_EQ(filesUnder(again), filesUnder(out));
}

TEST_F(ProbeScanTest, ADamagedSavedScanIsRefusedAndAQuickScanReadsOneVolume) {
    FatImageOptions options;
    options.sizeKiB = 16000;
    options.fatBits = 16;
    FatImage volume(dir.file("q.img"), options);
    volume.addFile("NOTE.TXT", "quick");
    const std::string saved = dir.file("Scan.bin");
    ASSERT_EQ(scan(volume.path(), "0 32000 --save " + shellQuote(saved)).status, 0);

    std::string bytes = readAll(saved);
    bytes.resize(bytes.size() / 2);
    testutil::writeAll(saved, bytes);
    const Result damaged = scan(volume.path(), "0 0 --load " + shellQuote(saved));
    EXPECT_EQ(damaged.status, 1);
    EXPECT_THAT(damaged.err, HasSubstr("cannot load the scan"));

    const Result quick =
        scan(volume.path(), "0 0 --quick --recover 0 " + shellQuote(dir.file("q")));
    ASSERT_EQ(quick.status, 0) << quick.err;
    EXPECT_THAT(quick.out, HasSubstr("cbr-files 0\n"));
    EXPECT_EQ(readAll(dir.file("q/NOTE.TXT")), "quick");

    const Result none = scan(volume.path(), "5 0 --quick");
    EXPECT_EQ(none.status, 1);
    EXPECT_THAT(none.err, HasSubstr("no FAT or NTFS boot sector at 5"));
}

} // namespace
