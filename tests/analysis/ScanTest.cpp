// The sector scan: blocks in, single sectors out with their look-ahead; what
// each detector records on hand-made sectors; what a new scan keeps of an
// earlier one; the hand-off to the carver (the last sectors of a range too,
// none twice); real volumes scanned as a deep scan reads them; and the
// analyzer's deep and quick scans.

#include "analysis/Analyzer.h"
#include "analysis/ScScanner.h"
#include "analysis/ScScannerReaderListener.h"
#include "core/Array.h"
#include "devices/Reader.h"
#include "fs/DirectoryEntry.h"
#include "fs/StructureChecks.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/VolumeHelpers.h"
#include "tests/analysis/AnalysisDisk.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FatBytes.h"
#include "tests/support/FsImages.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

using namespace testutil;
using analysistest::describe;
using testing::HasSubstr;

namespace {

constexpr u32 SECTOR = 512;
using Sector = std::vector<u8>;
using Reads = std::vector<std::pair<u64, u64>>;

// ---- Hand-made sectors ----

Sector mbr(const std::vector<std::array<u32, 3>>& entries) {
    Sector s(SECTOR, 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        u8* e = s.data() + PARTITION_TABLE_OFFSET + i * PARTITION_ENTRY_BYTES;
        e[PE_TYPE] = static_cast<u8>(entries[i][0]);
        setLE32(e, PE_START_LBA, entries[i][1]);
        setLE32(e, PE_SECTOR_COUNT, entries[i][2]);
    }
    setLE16(s.data(), SECTOR_SIGNATURE_OFFSET, SECTOR_SIGNATURE);
    return s;
}

// FAT16: 4 sectors a cluster, 1 reserved, 20 a FAT, 512 root entries.
Sector fatBoot(u16 total) {
    const testutil::Sector s = fatBootSector(1, 20, 512, total, 4);
    return Sector(s.begin(), s.end());
}

Sector fatStart(bool fat32) {
    Sector s(SECTOR, 0);
    const char* head = fat32 ? "\xF8\xFF\xFF\x0F\xFF\xFF\xFF\x0F\xFF\xFF\xFF\x0F"
                             : "\xF8\xFF\xFF\xFF\x03\x00\xFF\xFF\x00\x00\x00\x00";
    std::memcpy(s.data(), head, 12);
    return s;
}

// `files` file entries from cluster `first` on (16 fill the sector); with a
// `self` cluster, "." and ".." (of `parent`) come first.
Sector directory(u32 files, u32 first, u32 self = 0, u32 parent = 0) {
    std::string s;
    if (self != 0)
        s = shortEntry(".          ", ATTR_DIRECTORY, self, 0) +
            shortEntry("..         ", ATTR_DIRECTORY, parent, 0);
    for (u32 i = 0; i < files; ++i)
        s += shortEntry("FILE" + std::to_string(10 + i) + "  TXT", ATTR_ARCHIVE, first + i, 0);
    s.resize(SECTOR);
    return Sector(s.begin(), s.end());
}

// An NTFS FILE record of `sectors` sectors and no attributes, fixed up as on
// disk.
Sector fileRecord(u32 sectors) {
    Sector s(static_cast<std::size_t>(sectors) * SECTOR, 0);
    u8* r = s.data();
    setLE32(r, 0, NTFS_MAGIC_FILE);
    setLE16(r, 0x04, 0x30);
    setLE16(r, 0x06, static_cast<u16>(sectors + 1));
    setLE16(r, 0x14, 0x38);
    setLE16(r, 0x16, NTFS_RECORD_IN_USE);
    setLE32(r, 0x18, 0x40);
    setLE32(r, 0x1C, sectors * SECTOR);
    setLE32(r, 0x38, NTFS_ATTR_END);
    setLE16(r, 0x30, 7);
    for (u32 i = 0; i < sectors; ++i)
        setLE16(r, static_cast<i32>(i * SECTOR + 510), 7);
    return s;
}

Sector unreadable() {
    const std::string s = unreadableSector();
    return Sector(s.begin(), s.end());
}

const Sector ZERO(SECTOR, 0);

// Places the sectors at the scanner's buffer end and adds them as one block.
void feed(ScScanner& scanner, u64 lba, const std::vector<Sector>& sectors) {
    u64 at = 0;
    for (const Sector& s : sectors) {
        std::memcpy(scanner.bufferEnd() + at, s.data(), s.size());
        at += s.size();
    }
    scanner.addSectors(lba, static_cast<u32>(at / SECTOR));
}

// Records each sector handed over: its LBA, its look-ahead and its first byte
// (the sectors are labelled with their own LBA).
class Recorder : public SectorsCollector, public ScScanner::ContentScanner {
public:
    Recorder() : SectorsCollector(8, 3, SECTOR) {}
    void processSector(const u8* sector, u64 lba, u32 available) override {
        seen << lba << '/' << available << (sector[0] == static_cast<u8>(lba) ? "" : "!") << ' ';
    }
    void processSector(u64 offset, const u8* sector, u32 size) override {
        processSector(sector, offset / SECTOR, size / SECTOR);
    }
    void add(u64 lba, u32 count) {
        for (u32 i = 0; i < count; ++i)
            std::memset(bufferEnd() + i * SECTOR, static_cast<u8>(lba + i), SECTOR);
        addSectors(lba, count);
    }
    std::string take() {
        std::string s = seen.str();
        seen.str("");
        return s;
    }
    std::ostringstream seen;
};

TEST(SectorsCollectorTest, TheLastSectorsOfABlockWaitForTheNextAndGoOnlyOnce) {
    Recorder r;
    r.add(0, 8);
    EXPECT_EQ(r.take(), "0/8 1/7 2/6 3/5 4/4 ");
    // The next block continues them: they see it after them.
    r.add(8, 4);
    EXPECT_EQ(r.take(), "5/7 6/6 7/5 8/4 ");
    // A block elsewhere: the waiting sectors go first, with what they have.
    r.add(100, 5);
    EXPECT_EQ(r.take(), "9/3 10/2 11/1 100/5 101/4 ");
    r.flush();
    EXPECT_EQ(r.take(), "102/3 103/2 104/1 ");
    r.flush();
    r.add(105, 1);
    EXPECT_EQ(r.take(), "");
    // A block larger than the window is refused.
    EXPECT_THROW(r.addSectors(0, 9), std::runtime_error);
}

TEST(ScScannerTest, WhatEachDetectorRecords) {
    ScanResults results;
    RecordingProgress progress;
    {
        ScScanner scanner(&results, 16, SECTOR, 0, 3);
        scanner.setInterfaceCallback(&progress);
        // Type 5 keeps its start, type 7 becomes absolute, a slot of no sectors
        // fails the entry test; a table near 2^32 whose start would wrap drops it.
        feed(scanner, 63, {mbr({{7, 2048, 1000}, {5, 2048, 500}, {0x83, 9, 0}})});
        feed(scanner, 0xFFFFF000u, {mbr({{7, 0x2000, 10}, {0x0B, 0x10, 10}})});
        // The first find at an LBA stays.
        feed(scanner, 100, {fatBoot(20000), fatStart(false), fatStart(true)});
        feed(scanner, 100, {fatBoot(30000)});
        // A full sector goes on into a plain one; "." and ".." open their own run.
        feed(scanner, 200,
             {directory(16, 40), directory(3, 100), directory(1, 9, 7, 2), directory(2, 50), ZERO,
              directory(16, 5), directory(0, 3, 8, 0)});
        // Records at 300 and 302 make a run, 305 and 307 (of one sector) more.
        const Sector two = fileRecord(2);
        feed(scanner, 300, {two, two, ZERO, two, fileRecord(1), ZERO, ZERO});
        // Half a record at the end of what was read is none.
        feed(scanner, 400, {Sector(two.begin(), two.begin() + SECTOR)});
        // Unreadable sectors, also out of order (a quick scan); one byte off is
        // a sector that was read.
        feed(scanner, 500, {unreadable(), unreadable(), ZERO, unreadable()});
        feed(scanner, 450, {unreadable()});
        Sector almost = unreadable();
        almost[511] ^= 1;
        feed(scanner, 600, {almost});
        scanner.finish();
    }
    EXPECT_EQ(describe(results), "T63 7:2111+1000 5:2048+500 0:0+0 0:0+0\n"
                                 "T4294963200 0:0+0 b:4294963216+10 0:0+0 0:0+0\n"
                                 "B100 1 20000\nF101 2\nF102 3\nD102+1 0/0 h0\n"
                                 "D200+2 0/0 h102\nD202+1 dots 7/2 h9\nD203+1 0/0 h51\n"
                                 "D205+1 full 0/0 h20\nD206+1 dots 8/0 h0\n"
                                 "R300 2x2\nR305 2x1\nR307 1x1\n"
                                 "U450+1\nU500+2\nU503+1\n");
    const auto& seen = *progress.record();
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_PARTITION_TABLES), 2u);
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_BOOT_SECTORS), 1u);
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_DIRECTORIES), 6u);
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_NTFS_FILES), 4u);
}

TEST(ScScannerTest, ANewScanDropsWhatLiesAtAndBeyondItsStartAndCutsTheLastRuns) {
    ScanResults r;
    r.partitionTables.insert(FoundPartitionTable{0, {}});
    r.partitionTables.insert(FoundPartitionTable{100, {}});
    r.bootSectors.insert(FoundBootSector{150, {}});
    r.directoryRuns.insert(FoundDirectoryRun{50, 5, false, true, 0, 0, 7});
    r.directoryRuns.insert(FoundDirectoryRun{90, 20, false, true, 0, 0, 7});
    r.ntfsRecordRuns.insert(FoundRecordRun{10, 2, 4});
    r.ntfsRecordRuns.insert(FoundRecordRun{96, 2, 3});
    r.unreadable.runs() = {{50, 60}, {120, 1}};
    ScanResults other = r;
    {
        ScScanner scanner(&r, 16, SECTOR, 100, 3);
        EXPECT_EQ(ScScanner::reportTotals(&r, nullptr), 6u) << "the records of the runs kept";
    }
    EXPECT_EQ(describe(r), "T0 0:0+0 0:0+0 0:0+0 0:0+0\nD50+5 full 0/0 h7\nD90+10 full 0/0 h7\n"
                           "R10 2x4\nR96 2x2\nU50+50\n");
    // A last record run that keeps no whole record goes; one of records of no
    // size (only a damaged saved scan has it) divides nothing.
    other.ntfsRecordRuns = {FoundRecordRun{10, 2, 1}, FoundRecordRun{99, 2, 5}};
    { ScScanner scanner(&other, 16, SECTOR, 100, 3); }
    EXPECT_THAT(describe(other), HasSubstr("R10 2x1\nU50+50\n"));
    other.ntfsRecordRuns = {FoundRecordRun{99, 0, 5}};
    { ScScanner scanner(&other, 16, SECTOR, 100, 3); }
    EXPECT_THAT(describe(other), HasSubstr("R99 0x5\n"));
}

TEST(ScScannerTest, EverySectorGoesToTheCarverOnceAndPast2Pow32NothingIsListed) {
    ScanResults results;
    Recorder carver;
    {
        ScScanner scanner(&results, 16, SECTOR, 0, 3);
        scanner.setContentScanner(&carver);
        std::vector<Sector> block;
        for (u32 i = 0; i < 6; ++i)
            block.push_back(Sector(SECTOR, static_cast<u8>(10 + i)));
        feed(scanner, 10, block);
        EXPECT_EQ(carver.take(), "10/6 11/5 12/4 ");
        // finish() hands over the look-ahead; the destructor hands nothing twice.
        scanner.finish();
        EXPECT_EQ(carver.take(), "13/3 14/2 15/1 ");
    }
    EXPECT_EQ(carver.take(), "");

    const u64 high = 0x100000005ull;
    LogCapture log;
    {
        ScScanner scanner(&results, 16, SECTOR, high, 3);
        scanner.setContentScanner(&carver);
        feed(scanner, high, {fatBoot(100), unreadable(), fileRecord(1), mbr({{7, 1, 1}})});
        scanner.finish();
    }
    EXPECT_EQ(describe(results), "");
    EXPECT_EQ(carver.take(), "4294967301/4! 4294967302/3! 4294967303/2! 4294967304/1! ");
    EXPECT_EQ(log.text(), "ScScanner(140): 4 structures at or beyond sector 2^32 were not "
                          "recorded\n");
}

// ---- Real volumes, read as a deep scan reads them ----

ScanResults scanDisk(const SharedPtr<dt::Reader>& source, u64 first, u64 count,
                     ScanResults results = {}) {
    Driver driver(source, SECTOR);
    RecordingProgress found;
    ScScanner scanner(&results, 256, SECTOR, first, 3);
    scanner.setInterfaceCallback(&found);
    ScScannerReaderListener listener(&scanner);
    Reader reader(&driver, &listener, nullptr, "");
    reader.readSectors(first, count);
    scanner.finish();
    EXPECT_EQ(listener.getDelivered(), count);
    // The live counters end at the sizes of the lists.
    const auto& seen = *found.record();
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_BOOT_SECTORS), results.bootSectors.size());
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_FATS), results.fatSectors.size());
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_DIRECTORIES), results.directoryRuns.size());
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_NTFS_RECORDS),
              results.ntfsSystemRecords.size());
    scanner.setInterfaceCallback(nullptr);
    return results;
}

BootParams bootOf(const std::string& disk, u64 lba) {
    BootParams b;
    EXPECT_TRUE(
        readBootParams(reinterpret_cast<const u8*>(readAt(disk, lba * SECTOR, SECTOR).data()), b));
    return b;
}

TEST(ScanImageTest, EveryStructureOfTheDiskIsFoundWhereTheToolsPutIt) {
    using namespace analysistest;
    const std::string& disk = cachedDisk();
    SharedPtr<dt::Reader> source(new MemoryReader(readAll(disk)));
    const ScanResults r = scanDisk(source, 0, DISK_SECTORS);
    SCOPED_TRACE(describe(r));
    EXPECT_EQ(r.partitionTables.size(), 2u) << "the MBR and the extended record";
    // Boot sectors: each volume's, the FAT32 backup 6 in, the NTFS backup last.
    std::set<u32> boots;
    for (const auto& b : r.bootSectors)
        boots.insert(b.lba);
    EXPECT_EQ(boots, (std::set<u32>{FAT16_LBA, FAT32_LBA, FAT32_LBA + 6, NTFS_LBA,
                                    NTFS_LBA + NTFS_SECTORS - 1}));
    // Both FAT copies of both FAT volumes, and each root directory's run.
    for (u32 start : {FAT16_LBA, FAT32_LBA}) {
        const FatBootParams f = bootOf(disk, start).fat;
        EXPECT_EQ(r.fatSectors.count(start + f.reservedSectors), 1u) << start;
        EXPECT_EQ(r.fatSectors.count(start + f.reservedSectors + f.sectorsPerFAT), 1u) << start;
        EXPECT_EQ(r.directoryRuns.count(start + f.rootDirectoryLbaOffset), 1u) << start;
    }
    // Each FAT volume's three folders start with "." and "..".
    std::size_t folders = 0;
    for (const auto& d : r.directoryRuns)
        folders += d.startsWithDotEntries;
    EXPECT_EQ(folders, 6u);
    // NTFS: $MFT, $MFTMirr, $Bitmap and the mirror's copy of the first two; the
    // MFT as one run of 2-sector records, the mirror's four.
    const NtfsBootParams n = bootOf(disk, NTFS_LBA).ntfs;
    const u32 mft = NTFS_LBA + static_cast<u32>(n.MFTCluster * n.sectorsPerCluster);
    const u32 mirror = NTFS_LBA + static_cast<u32>(n.MFTMirrCluster * n.sectorsPerCluster);
    EXPECT_EQ(r.ntfsSystemRecords.size(), 5u);
    ASSERT_EQ(r.ntfsRecordRuns.count(mft), 1u);
    EXPECT_EQ(r.ntfsRecordRuns.find(mft)->recordSectors, 2u);
    EXPECT_GE(r.ntfsRecordRuns.find(mft)->recordCount, 16u);
    ASSERT_EQ(r.ntfsRecordRuns.count(mirror), 1u);
    EXPECT_EQ(r.ntfsRecordRuns.find(mirror)->recordCount, 4u);

    // A second scan from inside the FAT32 volume leaves what one scan finds.
    ScanResults twice = scanDisk(source, 0, FAT32_LBA + 100);
    twice = scanDisk(source, FAT32_LBA + 3, DISK_SECTORS - FAT32_LBA - 3, twice);
    EXPECT_EQ(describe(twice), describe(r));

    // A FAT12 floppy: its boot sector, both FATs, its root directory.
    TempDir dir;
    FatImage floppy(dir.file("f.img"), FatImageOptions{});
    floppy.addFile("a.txt", "floppy");
    const ScanResults f =
        scanDisk(SharedPtr<dt::Reader>(new MemoryReader(readAll(floppy.path()))), 0, 2880);
    EXPECT_EQ(describe(f), "B0 1 2880\nF1 1\nF10 1\nD19+1 0/0 h2\n");
}

// ---- The analyzer's scans ----

class AnalyzerScanTest : public ::testing::Test {
protected:
    AnalyzerScanTest() : analyzer(nullptr) {
        writeAll(dir.file("mark.files"), "Type: mark\nPattern: HBMARK!\nMax Size: 10000000\n");
        analyzer.setPatternsPath(dir.file("mark.files"));
    }
    // The bytes as the source, through a reader that notes every request.
    void useSource(const std::string& bytes) {
        source = new FailingReader(SharedPtr<dt::Reader>(new MemoryReader(bytes)), {});
        analyzer.getDriveHolder() =
            SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(source), SECTOR));
    }
    Reads readsSince(std::size_t from) const {
        Reads out;
        for (std::size_t i = from; i < source->requests().size(); ++i)
            out.push_back({static_cast<u64>(source->requests()[i].offset) / SECTOR,
                           static_cast<u64>(source->requests()[i].size) / SECTOR});
        return out;
    }
    std::vector<u64> carved() const {
        std::vector<u64> out;
        for (const cbr::FileInfo& f : analyzer.getCarvedFiles())
            out.push_back(f.getStart() / SECTOR);
        return out;
    }
    // The boot sector at lba read into parameters, then the quick scan of that
    // volume; the reads it asked.
    Reads quickScan(u64 lba, FAT_FS_PARAMS& fat, NTFS_FS_PARAMS& ntfs) {
        bool isFat = false;
        EXPECT_TRUE(analyzer.readBootSectorParams(lba, &isFat, &fat, &ntfs));
        const std::size_t before = source->requests().size();
        RecordingProgress progress;
        analyzer.quickScan(lba, isFat, &fat, &ntfs, &progress);
        return readsSince(before);
    }

    TempDir dir;
    Analyzer analyzer;
    FailingReader* source = nullptr;
};

TEST_F(AnalyzerScanTest, TheLastSectorsOfARangeAreCarvedAndACancelKeepsWhatWasRead) {
    std::string disk(1200 * SECTOR, '\0');
    for (u64 lba : {10, 300, 510, 700, 997, 999})
        disk.replace(lba * SECTOR, 7, "HBMARK!");
    useSource(disk);
    cbr::FileInfo earlier;
    earlier.setStart(1100 * SECTOR);
    analyzer.getCarvedFiles() = {earlier};
    RecordingProgress progress;
    EXPECT_EQ(analyzer.scan(0, 1000, &progress), 1000u);
    // 997 and 999 waited in the look-ahead of the last block; the file being
    // measured ends at the end of the range; the file at 1100 lay in the range
    // of the new scan and went.
    EXPECT_EQ(carved(), (std::vector<u64>{10, 300, 510, 700, 997, 999}));
    EXPECT_EQ(analyzer.getCarvedFiles()[4].getSize(), 2 * SECTOR);
    EXPECT_EQ(analyzer.getCarvedFiles()[5].getSize(), SECTOR);
    EXPECT_EQ(readsSince(0).back(), (std::pair<u64, u64>{768, 232}));

    // The reader polls before each block: the third poll comes before sector
    // 512. Sector 510 was read but waited in the look-ahead; the last file ends
    // at the end of the requested range.
    analyzer.getCarvedFiles().clear();
    RecordingProgress cancel;
    cancel.cancelAtPoll(3);
    EXPECT_EQ(analyzer.scan(0, 1000, &cancel), 512u);
    EXPECT_EQ(carved(), (std::vector<u64>{10, 300, 510}));
    EXPECT_EQ(analyzer.getCarvedFiles()[2].getSize(), 490 * SECTOR);
    // Past the source's end nothing is read or asked.
    EXPECT_EQ(analyzer.scan(1190, 1000, &progress), 10u);
    EXPECT_EQ(analyzer.scan(5000, 10, &progress), 0u);
}

// Going Back on the wizard and scanning again from an earlier start: the list
// holds this scan's files with the sizes it found, among them movies back to
// back on sector boundaries, each cut back where the next one starts.
TEST_F(AnalyzerScanTest, ASecondScanFromAnEarlierStartKeepsItsOwnFilesAtTheirSizes) {
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                  "testsrc=size=64x48:rate=10:duration=1 -c:v mpeg4 " +
                  shellQuote(dir.file("m.mp4"))),
              0);
    // A free atom fills the movie's last sector.
    std::string movie = readAll(dir.file("m.mp4"));
    std::string free(2 * SECTOR - movie.size() % SECTOR, '\0');
    free.replace(0, 8,
                 {0, 0, static_cast<char>(free.size() >> 8), static_cast<char>(free.size()), 'f',
                  'r', 'e', 'e'});
    movie += free;
    const u64 lbas = movie.size() / SECTOR;
    useSource(std::string(10 * SECTOR, '\0') + movie + movie + movie +
              std::string(10 * SECTOR, '\0'));
    analyzer.setPatternsPath(HB_SOURCE_DIR "/lib/cbr.files");
    const u64 sectors = 20 + 3 * lbas;
    analyzer.scan(10 + lbas, sectors - 10 - lbas, nullptr);
    EXPECT_EQ(carved(), (std::vector<u64>{10 + lbas, 10 + 2 * lbas}));
    EXPECT_NO_THROW(analyzer.scan(0, sectors, nullptr));
    EXPECT_EQ(carved(), (std::vector<u64>{10, 10 + lbas, 10 + 2 * lbas}));
    for (const cbr::FileInfo& f : analyzer.getCarvedFiles())
        EXPECT_EQ(f.getSize(), movie.size()) << f.getStart();
}

TEST_F(AnalyzerScanTest, AQuickScanReadsTheKeyStructuresOfOneVolume) {
    FatImageOptions o32;
    o32.sizeKiB = 40000;
    o32.fatBits = 32;
    o32.partitionLba = 63;
    FatImage f32(dir.file("f32.img"), o32);
    f32.addFile("A.TXT", "hello");
    useSource(readAll(f32.path()));
    FAT_FS_PARAMS fat;
    NTFS_FS_PARAMS ntfs;
    Reads reads = quickScan(63, fat, ntfs);
    EXPECT_EQ(reads, (Reads{{63, 1},
                            {69, 1},
                            {fat.fatLBA, 1},
                            {fat.fatMirrLBA, 1},
                            {fat.get_cluster_LBA(fat.rootCluster), fat.sectorsPerCluster}}));
    EXPECT_EQ(analyzer.getScanResults().bootSectors.size(), 2u);
    EXPECT_EQ(analyzer.getScanResults().fatSectors.size(), 2u);

    // An NTFS volume that ends with the source has no backup to read.
    NtfsImage n(dir.file("n.img"), NtfsImageOptions{});
    const std::string volume = readAll(n.path());
    useSource(volume.substr(0, volume.size() - SECTOR));
    reads = quickScan(0, fat, ntfs);
    EXPECT_EQ(reads, (Reads{{0, 1},
                            {0, 1},
                            {ntfs.clusterLBA(ntfs.mftLCN), 7 * 2},
                            {ntfs.clusterLBA(ntfs.mftMirrLCN), 4 * 2}}));
    EXPECT_FALSE(analyzer.getScanResults().ntfsSystemRecords.empty());
}

// A sector that cannot be read inside a carved picture: the file keeps its
// length, the sector comes back as the unreadable fill and the file is marked.
TEST(ProbeScanTest, AFailingSectorInsideAJpeg) {
    using namespace analysistest;
    TempDir dir;
    const std::string disk = fileDescriptor(cachedDisk());
    const std::string range = " " + std::to_string(FAT16_LBA) + " 32768";
    const ProbeResult clean = runProbe("scan " + disk + range);
    ASSERT_EQ(clean.status, 0) << clean.err;
    const std::size_t at = clean.out.find("carved: ");
    ASSERT_NE(at, std::string::npos) << clean.out;
    std::istringstream line(clean.out.substr(at + 8));
    u64 start = 0;
    u64 size = 0;
    line >> start >> size;
    // In the middle of the picture's coded data.
    const u64 bad = (start + size / 2) / SECTOR;

    const ProbeResult r = runProbe("scan --fail " + std::to_string(bad) + " " + disk + range +
                                   " --recover " + shellQuote(dir.file("out")) + " --answer all");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("\nunreadable: " + std::to_string(bad) + "+1\n"));
    EXPECT_THAT(r.out, HasSubstr("carved: " + std::to_string(start) + " " + std::to_string(size)));
    const std::string name = std::to_string(start / SECTOR) + ".jpeg";
    EXPECT_THAT(r.out, testing::ContainsRegex(name + " +" + std::to_string(size) +
                                              " Invalid Time \\(recovered with errors\\)"));
    EXPECT_THAT(r.out, HasSubstr("files with errors: 1\n"));
    const std::string photo = readAll(cacheDir() + "/photo.jpg");
    const std::string got = readAll(dir.file("out/Pictures/JPEG/" + name));
    ASSERT_EQ(got.size(), photo.size());
    const u64 off = bad * SECTOR - start;
    EXPECT_EQ(got.substr(off, SECTOR), unreadableSector());
    EXPECT_EQ(got.substr(0, off), photo.substr(0, off));
}

} // namespace
