// The whole road on one disk made by the real tools: a FAT16 and a FAT32
// primary partition and an NTFS logical partition, each with folders, files and
// a deleted file. Each row damages a copy one way; the analysis must find all
// three volumes by itself, rebuild the partition table as it was (mmls reads
// the repaired copy), and `hbprobe analyze --choose N --recover` must bring back
// every file byte for byte with its name and time.

#include "analysis/Analyzer.h"
#include "core/Array.h"
#include "fs/FatLayout.h"
#include "fs/StructureChecks.h"
#include "tests/analysis/AnalysisDisk.h"
#include "tests/support/FatCorpus.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/FsImages.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"
#include "tests/support/TreeListing.h"

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

template <class Row> std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Damages, DiskAnalysisTest, ::testing::ValuesIn(DAMAGES), rowName<Damage>);

// Each source as the source page hands it on ("drive": with partition tables;
// "file": an image, read as the disk or the volume it holds) and analysed as
// the scanner page analyses it, by a deep scan or by the quick scan of the boot
// sector at the volume's start. The volumes are found, and an undamaged source
// gets no sector changes at all.
struct Source {
    const char* name;
    // The image: a copy of the shared FAT volume of these bits (0: the disk),
    // from this sector on (a volume image), with these bytes zeroed (offset,
    // length).
    int corpusBits;
    u32 from;
    std::vector<std::pair<u64, u32>> zeroed;
    const char* type;
    bool quick;
    std::vector<u32> volumes;
    const char* changes; // descriptions, one a line
    // The sizes the volumes are listed with (none: not compared), and the
    // sector the copy ends at (0: where the source does).
    std::vector<u32> sizes = {};
    u64 to = 0;
};

// Hidden sectors that no table explains, in the boot sector and its backup.
const std::vector<std::pair<u64, u32>> FAT32_MOVED = {{2048 * 512 + BS_HIDDEN_SECTORS, 4},
                                                      {2054 * 512 + BS_HIDDEN_SECTORS, 4}};
constexpr const char* FAT32_REBUILT =
    "Boot Sector FAT32 (LBA:2048)\nBoot Sector Backup FAT32 (LBA:2054)\n";

const Source SOURCES[] = {
    {"Fat12Floppy", 12, 0, {}, "file", false, {0}, ""},
    {"Fat12FloppyQuick", 12, 0, {}, "file", true, {0}, ""},
    {"Fat16Volume", 16, 0, {}, "file", false, {0}, ""},
    // Its FATs are guessed from the folders; the volume starts in sector 0.
    {"Fat16BootGone", 16, 0, {{0, 512}}, "file", false, {0}, "Boot Sector FAT16 (LBA:0)\n"},
    {"Fat32Volume", 32, 2048, {}, "file", false, {0}, ""},
    {"NtfsVolume", 0, NTFS_LBA, {}, "file", false, {0}, ""},
    // Its MFT places it in sector 0, whatever its backup boot sector behind it.
    {"NtfsBootGone", 0, NTFS_LBA, {{0, 512}}, "file", false, {0}, "Boot Sector NTFS (LBA:0)\n"},
    {"ThreeVolumesBehindTables", 0, 0, {}, "drive", false, VOLUME_STARTS, ""},
    {"Fat32Moved", 32, 0, FAT32_MOVED, "drive", false, {2048}, FAT32_REBUILT},
    // An image file of a disk is read as the disk, by its table. The FAT32
    // volume without its entry and boot sectors is guessed from its FATs and
    // folders, its size up to the extended partition.
    {"Fat32GoneFromADiskImage",
     0,
     0,
     {{PARTITION_TABLE_OFFSET + PARTITION_ENTRY_BYTES, PARTITION_ENTRY_BYTES},
      {u64{FAT32_LBA} * 512, 512},
      {u64{FAT32_LBA + 6} * 512, 512}},
     "file",
     false,
     VOLUME_STARTS,
     "Partition Table (LBA:0)\nBoot Sector FAT32 (LBA:34816)\nBoot Sector Backup FAT32 "
     "(LBA:34822)\n",
     {32768, 81920, NTFS_SECTORS}},
    // ... or, its MBR lost, by the volumes past sector 0: here the disk moved
    // to the old alignment, its first volume at sector 63.
    {"SectorZeroLostFromADiskAt63",
     0,
     FAT16_LBA - 63,
     {},
     "file",
     false,
     {63, FAT32_LBA - FAT16_LBA + 63, NTFS_LBA - FAT16_LBA + 63},
     "Partition Table (LBA:0)\nBoot Sector FAT16 (LBA:63)\nBoot Sector FAT32 (LBA:32831)\nBoot "
     "Sector Backup FAT32 (LBA:32837)\nPartition Table (LBA:114751)\n"},
    // The copy ends halfway into the NTFS volume: listed with what it holds,
    // its tables describe the copy, and no backup boot sector is made on a
    // sector of its data.
    {"NtfsCutShort",
     0,
     0,
     {},
     "drive",
     false,
     VOLUME_STARTS,
     "Partition Table (LBA:0)\nPartition Table (LBA:116736)\n",
     {32768, 81920, NTFS_SECTORS / 2},
     NTFS_LBA + NTFS_SECTORS / 2},
};

class SourceAnalysisTest : public ::testing::TestWithParam<Source> {};

TEST_P(SourceAnalysisTest, TheVolumesAreFoundAndOnlyDamageIsChanged) {
    const Source& s = GetParam();
    ScopedTimeZone utc("UTC");
    TempDir dir;
    const std::string image = dir.file("source.img");
    const std::string whole = s.corpusBits ? fatCorpus(s.corpusBits).path : cachedDisk();
    const u64 from = u64{s.from} * 512;
    const u64 to = s.to != 0 ? s.to * 512 : std::filesystem::file_size(whole);
    writeAll(image, readAt(whole, from, to - from));
    for (auto [offset, n] : s.zeroed)
        writeAt(image, offset, std::string(n, '\0'));
    Analyzer analyzer(nullptr);
    analyzer.setPatternsPath(HB_SOURCE_DIR "/lib/cbr.files");
    analyzer.getDriveHolder() = openImageDriver(image);
    setSourceKind(analyzer.getDrive()->getProperties(), s.type);
    if (s.quick) {
        bool isFat = false;
        FAT_FS_PARAMS fat;
        NTFS_FS_PARAMS ntfs;
        ASSERT_TRUE(analyzer.readBootSectorParams(s.volumes[0], &isFat, &fat, &ntfs));
        analyzer.quickScan(s.volumes[0], isFat, &fat, &ntfs, nullptr);
    } else {
        const u64 sectors = analyzer.getDrive()->getSectorCount();
        ASSERT_EQ(analyzer.scan(0, sectors, nullptr), sectors);
    }
    analyzer.createFSCollection();
    std::vector<u32> starts;
    std::vector<u32> sizes;
    for (u32 i = 0; const FsCandidate* fs = getSelectedFileSystem(analyzer.getLayout(), i); ++i) {
        starts.push_back(fs->startLBA);
        sizes.push_back(fs->layoutSectors);
    }
    ASSERT_EQ(starts, s.volumes) << analyzer.getLayoutReport();
    if (!s.sizes.empty()) {
        EXPECT_EQ(sizes, s.sizes);
    }

    std::string changes;
    for (const SectorChange& c : analyzer.getChanges())
        changes += c.description + "\n";
    EXPECT_EQ(changes, s.changes) << analyzer.getLayoutReport();

    if (s.corpusBits == 0)
        return;
    analyzer.setSelectedEntry(getSelectedFileSystem(analyzer.getLayout(), 0));
    analyzer.buildMap();
    ASSERT_TRUE(analyzer.getMapHolder());
    EXPECT_EQ(recoverAll(*analyzer.getMapHolder(), dir.file("out")), 0u);
    const FatCorpus& corpus = fatCorpus(s.corpusBits);
    expectRecovered(dir.file("out"), corpus.all(), corpus.reused);
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceAnalysisTest, ::testing::ValuesIn(SOURCES),
                         rowName<Source>);

// Disks laid out by sfdisk (logicals chained in an extended partition of type
// 0x05 or 0x0F, at sector 63 or on a MiB), each FAT volume filled as the
// disk's are, then damaged. Read as a drive, every volume is listed where the
// disk holds it (its file-system page row begins as given), and the chosen one
// gives back every file.
// What a volume's boot sector counts in its hidden sectors: its partition's
// start, as mkfs.fat writes it, or the number given (none, as made into an
// image at an offset; 63 or 2048, as copied from elsewhere or counted from an
// extended boot record).
constexpr i64 AT_PARTITION = -1;

struct FatPart {
    u32 lba;
    u32 sizeKiB;
    int fatBits;
    u32 sectorsPerCluster = 0;
    u32 fats = 0;
    i64 hiddenSectors = AT_PARTITION;
};

struct PartitionedDisk {
    const char* name;
    std::string sfdisk;
    std::vector<FatPart> volumes;
    std::vector<u32> zeroed;
    std::vector<std::string> listed;
    u32 chosen;
    // The files whose chains lay in lost FAT sectors, marked; the rest whole.
    u32 filesWithErrors = 0;
};

// A FAT16 primary, and in an extended partition of that type a FAT16 logical
// and a FAT32 logical whose boot sector and backup are gone.
PartitionedDisk logicalFat32(const char* name, const char* extendedType) {
    return {name,
            std::string("2048,32768,6\\n34816,,") + extendedType +
                "\\n36864,32768,6\\n71680,73728,c",
            {{2048, 16384, 16}, {36864, 16384, 16}, {71680, 36864, 32, 1}},
            {71680, 71686},
            {"LBA 2048 sectors 32768 FAT 16", "LBA 36864 sectors 32768 FAT 16",
             "LBA 71680 sectors 73728 FAT32X"},
            2};
}

// One partition of the volume's size, of that type, its boot sector gone.
PartitionedDisk onePartition(const char* name, const char* type, const FatPart& v,
                             const std::string& listedType) {
    const std::string lba = std::to_string(v.lba);
    const std::string sectors = std::to_string(2 * v.sizeKiB);
    return {name,
            lba + "," + sectors + "," + type,
            {v},
            {v.lba},
            {"LBA " + lba + " sectors " + sectors + " " + listedType},
            0};
}

const PartitionedDisk PARTITIONED_DISKS[] = {
    onePartition("OneFatFat16In06", "6", {2048, 16384, 16, 0, 1}, "FAT 16"),
    onePartition("Fat12ClustersOf16SectorsIn01At63", "1", {63, 12288, 12, 16}, "FAT 12"),
    onePartition("Fat16In0E", "e", {2048, 16384, 16}, "FAT16X"),
    onePartition("Fat16InHidden16", "16", {2048, 16384, 16}, "FAT16h"),
    // The FAT, not the entry, decides the width.
    onePartition("Fat12In06", "6", {2048, 12288, 12}, "FAT 12"),
    onePartition("Fat12ClustersOf8SectorsIn0B", "b", {2048, 8192, 12, 8}, "FAT 12"),
    onePartition("OneFatFat12ClustersOf64SectorsIn1C", "1c", {63, 16384, 12, 64, 1}, "FAT 12"),
    // An old FAT12 outside the partitions, its boot sector lost: both FAT
    // copies found where its folders put them place it, at its width.
    {"OldFat12InUnpartitionedSpaceWithoutItsBootSector",
     "2048,40000,6",
     {{2048, 20000, 16}, {43008, 8192, 12, 8}},
     {43008},
     {"LBA 2048 sectors 40000 FAT 16", "LBA 43008 sectors 18432 FAT 12"},
     1},
    // The entry places a volume whose boot sectors and first FAT sectors are
    // lost: a FAT32 with neither FAT's first sector, a FAT16 with its first
    // FAT's (the second whole). The FAT32's files whose entries lay in the lost
    // sectors, which read as free, are marked with its four folders.
    {"Fat32In0CWithoutItsBootSectorsAndFirstFatSectors",
     "2048,73728,c",
     {{2048, 36864, 32, 1}},
     {2048, 2054, 2080, 2647},
     {"LBA 2048 sectors 73728 FAT32X"},
     0,
     6},
    {"Fat16In06WithoutItsBootSectorAndFirstFatSector",
     "2048,32768,6",
     {{2048, 16384, 16}},
     {2048, 2052},
     {"LBA 2048 sectors 32768 FAT 16"},
     0},
    // A FAT32 made in an entry of type 0x06, without its boot sectors, keeps
    // the entry's start and size; a FAT16 in an entry of type 0x0C is listed
    // once; a FAT12 whose table is lost is listed from its boot sector.
    {"Fat32In06WithoutItsBootSectors",
     "2048,81920,6",
     {{2048, 40960, 32, 1}},
     {2048, 2054},
     {"LBA 2048 sectors 81920 FAT 32"},
     0},
    {"Fat16In0C", "2048,32768,c", {{2048, 16384, 16}}, {}, {"LBA 2048 sectors 32768 FAT 16"}, 0},
    {"Fat12WithItsTableLost",
     "2048,24576,1",
     {{2048, 12288, 12}},
     {0},
     {"LBA 2048 sectors 24576 FAT 12"},
     0},
    // ... and when it counts no hidden sectors (made into the image at an
    // offset), as sector 0 holds nothing else.
    {"Fat12CountingNoHiddenSectorsWithItsTableLost",
     "2048,24576,1",
     {{2048, 12288, 12, 0, 0, 0}},
     {0},
     {"LBA 2048 sectors 24576 FAT 12"},
     0},
    logicalFat32("LogicalFat32BehindAFat16LogicalIn05", "5"),
    logicalFat32("LogicalFat32BehindAFat16LogicalIn0F", "f"),
    // Cylinders of 255 heads of 63 sectors. The first logical's extended record
    // and boot sector gone: no entry names it, and mkfs.fat reserved a cluster
    // of sectors in front of its FATs. (Its size is the guess's.)
    {"Fat16WithNeitherEntryNorBootSectorAt63",
     "63,32067,6\\n32130,,f\\n32193,32067,6\\n64323,80262,c",
     {{63, 16033, 16}, {32193, 16033, 16}, {64323, 40131, 32, 1}},
     {32130, 32193},
     {"LBA 63 sectors 32064 FAT 16", "LBA 32193 ", "LBA 64323 sectors 80256 FAT32X"},
     1},
    // A FAT12 logical whose extended boot record is gone, its hidden sectors
    // counted from that record.
    {"Fat12LogicalWithItsExtendedRecordZeroed",
     "2048,32768,6\\n34816,,5\\n36864,16384,1",
     {{2048, 16384, 16}, {36864, 8192, 12, 0, 0, 2048}},
     {34816},
     {"LBA 2048 sectors 32768 FAT 16", "LBA 36864 sectors 16372 FAT 12"},
     1},
    // FAT12 primaries made as an image file (no hidden sectors) and copied
    // from an old disk (63), their MBR gone.
    {"Fat12sCountingNoneAnd63WithTheMbrZeroed",
     "2048,16384,1\\n18432,16384,1",
     {{2048, 8192, 12, 0, 0, 0}, {18432, 8192, 12, 0, 0, 63}},
     {0},
     {"LBA 2048 sectors 16372 FAT 12", "LBA 18432 sectors 16372 FAT 12"},
     1},
    // An old FAT12 in the unpartitioned space of a healthy disk.
    {"OldFat12OutsideThePartitions",
     "2048,32768,6",
     {{2048, 16384, 16}, {40960, 4096, 12, 0, 0, 63}},
     {},
     {"LBA 2048 sectors 32768 FAT 16", "LBA 40960 sectors 8192 FAT 12"},
     1},
    // Hidden FAT types are listed by their width.
    onePartition("Fat32InHidden1B", "1b", {2048, 40960, 32, 1}, "FAT32h"),
    onePartition("Fat16InHidden1E", "1e", {2048, 16384, 16}, "FAT16h"),
};

class PartitionedDiskTest : public ::testing::TestWithParam<PartitionedDisk> {
protected:
    TempDir dir;
};

TEST_P(PartitionedDiskTest, EveryVolumeIsListedWhereItLiesAndTheChosenComesBack) {
    const PartitionedDisk& d = GetParam();
    const std::string disk = dir.file("disk.img");
    const FatPart& last = d.volumes.back();
    std::string err;
    ASSERT_EQ(run("truncate -s " + std::to_string((last.lba + 2 * last.sizeKiB + 2048) * 512ull) +
                      " " + shellQuote(disk) + " && printf 'label: dos\\n" + d.sfdisk +
                      "\\n' | sfdisk -q " + shellQuote(disk),
                  nullptr, &err),
              0)
        << err;
    for (const FatPart& v : d.volumes) {
        FatImageOptions o;
        o.sizeKiB = v.sizeKiB;
        o.fatBits = v.fatBits;
        o.sectorsPerCluster = v.sectorsPerCluster;
        o.fats = v.fats;
        o.partitionLba = v.lba;
        o.hiddenSectors = v.hiddenSectors == AT_PARTITION;
        FatImage image(dir.file("volume.img"), o);
        fillFat(image, static_cast<int>(v.lba % 97));
        writeAt(disk, image.volumeOffset(),
                readAt(image.path(), image.volumeOffset(), image.volumeSectors() * 512));
        if (v.hiddenSectors > 0) {
            u8 hidden[4];
            setLE32(hidden, 0, static_cast<u32>(v.hiddenSectors));
            writeAt(disk, image.volumeOffset() + BS_HIDDEN_SECTORS,
                    std::string(reinterpret_cast<const char*>(hidden), 4));
        }
    }
    for (u32 lba : d.zeroed)
        writeAt(disk, u64{lba} * 512, std::string(512, '\0'));

    const std::string out = dir.file("out");
    const ProbeResult r =
        runProbe("analyze " + shellQuote("id=" + disk + "|type=drive") + " --choose " +
                 std::to_string(d.chosen) + " --recover " + shellQuote(out) + " --answer all");
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream rows(r.out.substr(r.out.find("--- file systems ---\n")));
    std::string row;
    std::getline(rows, row);
    for (std::size_t i = 0; i < d.listed.size(); ++i) {
        ASSERT_TRUE(std::getline(rows, row)) << r.out;
        EXPECT_THAT(row, testing::StartsWith(std::to_string(i) + ": " + d.listed[i]));
    }
    ASSERT_TRUE(std::getline(rows, row));
    EXPECT_EQ(row, "--- changes ---");
    if (d.filesWithErrors == 0) {
        EXPECT_TRUE(filesCameBack(out, fatFiles(static_cast<int>(d.volumes[d.chosen].lba % 97))))
            << r.out;
    }
    EXPECT_THAT(r.out,
                HasSubstr("\nfiles with errors: " + std::to_string(d.filesWithErrors) + "\n"));
}

INSTANTIATE_TEST_SUITE_P(Disks, PartitionedDiskTest, ::testing::ValuesIn(PARTITIONED_DISKS),
                         rowName<PartitionedDisk>);

// A volume image that keeps a disk image as a file, its boot sector lost where
// mkfs.fat reserved 100 sectors before the FATs: the disk inside is the
// volume's contents, and the image is read as the volume, from sector 0 with
// its own size.
TEST(VolumeImageTest, ADiskImageKeptAsAFileIsTheVolumesContents) {
    TempDir dir;
    FatImageOptions in;
    in.sizeKiB = 4096;
    in.fatBits = 16;
    in.sectorsPerCluster = 1;
    in.partitionLba = 2048;
    FatImage inner(dir.file("inner.img"), in);
    fillFat(inner, 5);
    const PlacedFiles extra = {{"vm.img", readAt(inner.path(), 0, (2048 + 8192) * 512ull)}};
    FatImageOptions o;
    o.sizeKiB = 24576;
    o.fatBits = 16;
    o.reservedSectors = 100;
    FatImage outer(dir.file("outer.img"), o);
    fillFat(outer, 11, extra);
    writeAt(outer.path(), 0, std::string(512, '\0'));

    const std::string out = dir.file("out");
    const ProbeResult r = runProbe("analyze " + shellQuote("id=" + outer.path() + "|type=file") +
                                   " --choose 0 --recover " + shellQuote(out) + " --answer all");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("--- file systems ---\n0: LBA 0 sectors 49152 FAT 16\n"));
    PlacedFiles expected = fatFiles(11);
    expected.insert(expected.end(), extra.begin(), extra.end());
    EXPECT_TRUE(filesCameBack(out, expected)) << r.out;
    EXPECT_THAT(r.out, HasSubstr("\nfiles with errors: 0\n"));
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
