// The whole road on one disk made by the real tools: a FAT16 and a FAT32
// primary partition and an NTFS logical partition, each with folders, files and
// a deleted file. Each row damages a copy one way; the analysis must find all
// three volumes by itself, rebuild the partition table as it was (mmls reads
// the repaired copy), and `hbprobe analyze --choose N --recover` must bring back
// every file byte for byte with its name and time.

#include "analysis/Analyzer.h"
#include "fs/StructureChecks.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/FsImages.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

using namespace testutil;
using testing::HasSubstr;

namespace {

constexpr u32 FAT16_LBA = 2048;
constexpr u32 FAT32_LBA = 34816;
constexpr u32 EXTENDED_LBA = 116736;
constexpr u32 NTFS_LBA = 118784;
constexpr u32 DISK_SECTORS = 153600;
const std::vector<u32> VOLUME_STARTS = {FAT16_LBA, FAT32_LBA, NTFS_LBA};

// Text whose lines tell where in the file they stand.
std::string textContent(std::size_t n, int seed) {
    std::string out;
    for (int line = 0; out.size() < n; ++line)
        out += "file " + std::to_string(seed) + " line " + std::to_string(line) + "\n";
    out.resize(n);
    return out;
}

std::time_t fileTime(int seed) {
    return IMAGE_EPOCH + 86400 * seed + 2 * seed;
}

// Three folders, so that the scan sees a grid of subdirectories.
PlacedFiles liveFiles(int seed) {
    PlacedFiles files;
    const char* paths[] = {"readme.txt", "Docs/report.txt", "Pics/photo data.bin",
                           "Music/song.bin", "big file.bin"};
    const std::size_t sizes[] = {12, 30000, 9000, 4100, 150000};
    for (int i = 0; i < 5; ++i)
        files.push_back({paths[i], textContent(sizes[i], seed * 10 + i), fileTime(seed + i)});
    return files;
}

PlacedFile deletedFile(int seed) {
    return {"gone long name.bin", textContent(20000, seed * 10 + 9), fileTime(seed + 9)};
}

// The images are built once per run and kept in the build folder (each test
// is its own process); a new layout of the disk needs a new name.
const std::string& cacheDir() {
    static const std::string dir = [] {
        const std::string d = HB_BINARY_DIR "/test-images/disk-analysis-v3";
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

PlacedFiles carvable() {
    return {{"photo.jpg", readAll(cacheDir() + "/photo.jpg"), fileTime(7)},
            {"archive.zip", readAll(cacheDir() + "/archive.zip"), fileTime(8)}};
}

void copySectors(const std::string& from, u64 skip, const std::string& to, u64 seek, u64 count) {
    std::string err;
    const std::string cmd = "dd if=" + shellQuote(from) + " of=" + shellQuote(to) +
                            " bs=512 skip=" + std::to_string(skip) + " seek=" +
                            std::to_string(seek) + " count=" + std::to_string(count) +
                            " conv=notrunc status=none";
    if (run(cmd, nullptr, &err) != 0)
        throw std::runtime_error(cmd + ": " + err);
}

// The deleted file goes last: nothing takes its clusters again.
void fillFat(FatImage& image, int seed, const PlacedFiles& extra = {}) {
    for (const char* folder : {"Docs", "Pics", "Music"})
        image.makeFolder(folder);
    PlacedFiles files = liveFiles(seed);
    files.insert(files.end(), extra.begin(), extra.end());
    for (const PlacedFile& f : files)
        image.addFile(f.path, f.data, f.mtime);
    const PlacedFile gone = deletedFile(seed);
    image.addFile(gone.path, gone.data, gone.mtime);
    image.deleteFile(gone.path);
}

void buildDisk(const std::string& disk, const std::string& scratch) {
    FatImageOptions o16;
    o16.sizeKiB = 16384;
    o16.fatBits = 16;
    o16.partitionLba = FAT16_LBA;
    FatImage f16(scratch + "/f16.img", o16);
    // A picture and an archive: what a reformat leaves to the carver.
    std::string err;
    if (run("cd " + shellQuote(cacheDir()) +
                " && convert -seed 1 -size 320x240 plasma: photo.jpg && seq 1 4000 > n.txt"
                " && zip -q -X archive.zip n.txt",
            nullptr, &err) != 0)
        throw std::runtime_error(err);
    fillFat(f16, 1, carvable());

    FatImageOptions o32;
    o32.sizeKiB = 40960;
    o32.fatBits = 32;
    o32.sectorsPerCluster = 1;
    o32.partitionLba = FAT32_LBA;
    FatImage f32(scratch + "/f32.img", o32);
    fillFat(f32, 2);

    // Hidden sectors of a logical partition count from its extended record.
    NtfsImageOptions on;
    on.partitionLba = NTFS_LBA - EXTENDED_LBA;
    NtfsImage ntfs(scratch + "/ntfs.img", on);
    NtfsBuilder build(ntfs);
    build.mkdir("/Docs").mkdir("/Pics").mkdir("/Music");
    for (const PlacedFile& f : liveFiles(3))
        build.write("/" + f.path, f.data).setMtime("/" + f.path, f.mtime);
    const PlacedFile gone = deletedFile(3);
    build.write("/gone.bin", gone.data).setMtime("/gone.bin", gone.mtime).rm("/gone.bin");
    if (!build.run())
        throw std::runtime_error("the NTFS builder failed");

    const std::string table = "label: dos\n2048,32768,4\n34816,81920,b\n116736,,f\n"
                              "118784,32768,7\n";
    if (run("truncate -s " + std::to_string(u64{DISK_SECTORS} * 512) + " " + shellQuote(disk) +
                " && printf '" + table + "' | sfdisk -q " + shellQuote(disk),
            nullptr, &err) != 0)
        throw std::runtime_error("sfdisk: " + err);
    copySectors(f16.path(), FAT16_LBA, disk, FAT16_LBA, f16.volumeSectors());
    copySectors(f32.path(), FAT32_LBA, disk, FAT32_LBA, f32.volumeSectors());
    copySectors(ntfs.volumePath(), 0, disk, NTFS_LBA, ntfs.volumeSectors());
}

const std::string& cachedDisk() {
    static const std::string path = [] {
        const std::string disk = cacheDir() + "/disk.img";
        if (!std::filesystem::exists(disk)) {
            // Built aside and renamed: tests running at once never see half a disk.
            TempDir scratch;
            buildDisk(scratch.file("disk.img"), scratch.path());
            std::filesystem::copy_file(scratch.file("disk.img"), disk + ".part",
                                       std::filesystem::copy_options::overwrite_existing);
            std::rename((disk + ".part").c_str(), disk.c_str());
        }
        return disk;
    }();
    return path;
}

// What each volume of the disk must give back: its live files and the deleted
// one (NTFS puts what lost its folder entry under "Found").
PlacedFiles expectedFiles(std::size_t volume) {
    PlacedFiles files = liveFiles(static_cast<int>(volume) + 1);
    PlacedFile gone = deletedFile(static_cast<int>(volume) + 1);
    if (volume == 2)
        gone.path = "Found/gone.bin";
    files.push_back(gone);
    if (volume == 0) {
        const PlacedFiles more = carvable();
        files.insert(files.end(), more.begin(), more.end());
    }
    return files;
}

std::string mmls(const std::string& image) {
    std::string out;
    std::string err;
    EXPECT_EQ(run("mmls " + shellQuote(image), &out, &err), 0) << err;
    return out;
}

// What fsstat says of the volume's layout.
std::string fsstat(const std::string& image, u32 lba) {
    std::string out;
    std::string err;
    EXPECT_EQ(run("fsstat -o " + std::to_string(lba) + " " + shellQuote(image), &out, &err), 0)
        << err;
    std::string layout;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.find("Range") != std::string::npos || line.find("Size:") != std::string::npos ||
            line.find("File System Type") != std::string::npos)
            layout += line + "\n";
    return layout;
}

void zeroSectors(const std::string& disk, u64 lba, u64 count) {
    writeAt(disk, lba * 512, std::string(count * 512, '\0'));
}

struct Damage {
    const char* name;
    std::function<void(const std::string& disk)> apply;
    // The partition table is rebuilt, and must be read as the original.
    bool tableRebuilt;
    // This volume was formatted again: what remains of it comes by carving.
    int reformatted;
    // The volume at this LBA gets its boot sector rebuilt: fsstat must read the
    // repaired copy as the original (0: none).
    u32 bootRebuilt = 0;
};

std::ostream& operator<<(std::ostream& os, const Damage& d) {
    return os << d.name;
}

const Damage DAMAGES[] = {
    {"Intact", [](const std::string&) {}, false, -1},
    {"MbrZeroed", [](const std::string& d) { zeroSectors(d, 0, 1); }, true, -1},
    {"EntryWiped",
     [](const std::string& d) {
         writeAt(d, PARTITION_TABLE_OFFSET + PARTITION_ENTRY_BYTES,
                 std::string(PARTITION_ENTRY_BYTES, '\0'));
     },
     true, -1},
    {"Fat32BootZeroed", [](const std::string& d) { zeroSectors(d, FAT32_LBA, 1); }, false, -1,
     FAT32_LBA},
    {"Fat16BootZeroed", [](const std::string& d) { zeroSectors(d, FAT16_LBA, 1); }, false, -1,
     FAT16_LBA},
    {"NtfsBootZeroed", [](const std::string& d) { zeroSectors(d, NTFS_LBA, 1); }, false, -1,
     NTFS_LBA},
    {"FirstFatPartlyZeroed",
     [](const std::string& d) {
         const u32 reserved = static_cast<u8>(readAt(d, FAT16_LBA * 512ull + 0x0E, 1)[0]);
         zeroSectors(d, FAT16_LBA + reserved, 8);
     },
     false, -1},
    {"Fat16Reformatted",
     [](const std::string& d) {
         std::string err;
         ASSERT_EQ(run("mkfs.fat -F 16 -s 8 -h 2048 --offset=2048 -i 5678abcd " + shellQuote(d) +
                           " 16384",
                       nullptr, &err),
                   0)
             << err;
     },
     false, 0},
};

class DiskAnalysisTest : public ::testing::TestWithParam<Damage> {
protected:
    TempDir dir;
};

TEST_P(DiskAnalysisTest, EveryVolumeIsFoundAndEveryFileComesBack) {
    const std::string disk = dir.file("disk.img");
    std::filesystem::copy_file(cachedDisk(), disk);
    GetParam().apply(disk);

    Analyzer analyzer(nullptr);
    analyzer.setPatternsPath(HB_SOURCE_DIR "/lib/cbr.files");
    analyzer.getDriveHolder() = openImageDriver(disk);
    ASSERT_EQ(analyzer.scan(0, DISK_SECTORS, nullptr), DISK_SECTORS);
    analyzer.createFSCollection();
    std::vector<u32> starts;
    for (u32 i = 0; const FsCandidate* fs = getSelectedFileSystem(analyzer.getLayout(), i); ++i)
        starts.push_back(fs->startLBA);
    ASSERT_EQ(starts, VOLUME_STARTS) << analyzer.getLayoutReport();

    // The repair written to a copy, read by the tools.
    const std::string repaired = dir.file("repaired.img");
    std::filesystem::copy_file(disk, repaired);
    for (const SectorChange& change : analyzer.getChanges())
        writeAt(repaired, u64{change.lba} * 512,
                std::string(reinterpret_cast<const char*>(change.newImage.data()), 512));
    if (GetParam().tableRebuilt) {
        EXPECT_EQ(mmls(repaired), mmls(cachedDisk()));
    }
    if (GetParam().bootRebuilt != 0) {
        EXPECT_EQ(fsstat(repaired, GetParam().bootRebuilt),
                  fsstat(cachedDisk(), GetParam().bootRebuilt));
    }

    for (std::size_t v = 0; v < VOLUME_STARTS.size(); ++v) {
        SCOPED_TRACE(v);
        const bool carved = GetParam().reformatted == static_cast<int>(v);
        const std::string out = dir.file("out" + std::to_string(v));
        const ProbeResult r =
            runProbe("analyze " + fileDescriptor(disk) + " --choose " +
                     (carved ? std::string("found") : std::to_string(v)) + " --recover " +
                     shellQuote(out) + " --answer all");
        ASSERT_EQ(r.status, 0) << r.err;
        if (!carved) {
            EXPECT_TRUE(filesCameBack(out, expectedFiles(v))) << r.out;
            continue;
        }
        // The carved files have names of their own: found by their bytes.
        std::set<std::string> contents;
        for (const auto& e : std::filesystem::recursive_directory_iterator(out))
            if (e.is_regular_file())
                contents.insert(readAll(e.path().string()));
        for (const char* name : {"photo.jpg", "archive.zip"})
            EXPECT_EQ(contents.count(readAll(cacheDir() + "/" + name)), 1u) << name << r.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Damages, DiskAnalysisTest, ::testing::ValuesIn(DAMAGES),
                         [](const ::testing::TestParamInfo<Damage>& info) {
                             return std::string(info.param.name);
                         });

// A floppy has its volume in sector 0, where a drive with partition tables
// keeps its MBR: no table is rebuilt over its boot sector.
TEST(DiskAnalysisFloppyTest, TheVolumeAtSectorZeroKeepsItsBootSector) {
    TempDir dir;
    FatImage floppy(dir.file("floppy.img"), FatImageOptions{});
    floppy.makeFolder("A");
    floppy.makeFolder("B");
    PlacedFiles files = {{"A/one.txt", textContent(3000, 1), fileTime(1)},
                         {"B/two.txt", textContent(700, 2), fileTime(2)},
                         {"three.bin", textContent(40000, 3), fileTime(3)}};
    for (const PlacedFile& f : files)
        floppy.addFile(f.path, f.data, f.mtime);
    const ProbeResult r = runProbe("analyze " + fileDescriptor(floppy.path()) +
                                   " --choose 0 --recover " + shellQuote(dir.file("out")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("--- file systems ---\n0: LBA 0 sectors 2880 FAT 12\n"));
    EXPECT_THAT(r.out, testing::Not(HasSubstr("Partition Table (LBA:0)"))) << r.out;
    EXPECT_TRUE(filesCameBack(dir.file("out"), files)) << r.out;
}

// A saved scan loaded in a new process gives what the scan gave: collection,
// layout, carved files, unreadable runs and range.
TEST(DiskAnalysisSavedScanTest, ALoadedScanGivesTheSameAnalysis) {
    TempDir dir;
    const std::string saved = dir.file("Scan.bin");
    const std::string disk = fileDescriptor(cachedDisk());
    const ProbeResult scanned = runProbe("analyze --fail 3000 " + disk + " --save " + saved + " --answer all");
    ASSERT_EQ(scanned.status, 0) << scanned.err;
    EXPECT_THAT(scanned.out, HasSubstr("\nunreadable: 3000+1\n"));
    const ProbeResult loaded = runProbe("analyze " + disk + " --load " + saved);
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_THAT(loaded.out, HasSubstr("loaded: 0 " + std::to_string(DISK_SECTORS) + "\n"));
    const auto afterScan = [](const std::string& out) { return out.substr(out.find("\n") + 1); };
    EXPECT_EQ(afterScan(loaded.out), afterScan(scanned.out));

    std::string bytes = readAll(saved);
    bytes.resize(bytes.size() / 2);
    writeAll(saved, bytes);
    const ProbeResult cut = runProbe("analyze " + disk + " --load " + saved);
    EXPECT_EQ(cut.status, 1);
    EXPECT_THAT(cut.err, HasSubstr("cannot load the scan"));
}

} // namespace
