// The whole road on one disk made by the real tools: a FAT16 and a FAT32
// primary partition and an NTFS logical partition, each with folders, files and
// a deleted file. Each row damages a copy one way; the analysis must find all
// three volumes by itself, rebuild the partition table as it was (mmls reads
// the repaired copy), and `hbprobe analyze --choose N --recover` must bring back
// every file byte for byte with its name and time.

#include "analysis/Analyzer.h"
#include "fs/StructureChecks.h"
#include "tests/analysis/AnalysisDisk.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/FsImages.h"
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

using namespace analysistest;

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
        const ProbeResult r = runProbe("analyze " + fileDescriptor(disk) + " --choose " +
                                       (carved ? std::string("found") : std::to_string(v)) +
                                       " --recover " + shellQuote(out) + " --answer all");
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
    PlacedFiles files = {{"A/one.txt", textContent(3000, 1), IMAGE_EPOCH + 2},
                         {"B/two.txt", textContent(700, 2), IMAGE_EPOCH + 4},
                         {"three.bin", textContent(40000, 3), IMAGE_EPOCH + 6}};
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
    const ProbeResult scanned =
        runProbe("analyze --fail 3000 " + disk + " --save " + saved + " --answer all");
    ASSERT_EQ(scanned.status, 0) << scanned.err;
    EXPECT_THAT(scanned.out, HasSubstr("\nunreadable: 3000+1\n"));
    const ProbeResult loaded = runProbe("analyze " + disk + " --load " + saved);
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_THAT(loaded.out, HasSubstr("loaded: 0 " + std::to_string(DISK_SECTORS) + "\n"));
    const auto afterScan = [](const std::string& out) { return out.substr(out.find("\n") + 1); };
    EXPECT_EQ(afterScan(loaded.out), afterScan(scanned.out));
}

} // namespace
