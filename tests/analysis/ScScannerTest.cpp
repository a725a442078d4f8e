// The sector scan on hand-made sectors: what each detector records, how runs of
// directory sectors and file records grow and close, what an earlier scan keeps
// when a new one starts, the counters, the unreadable sectors, the hand-off to
// the content scanner, and that the quick byte tests in front of the detectors
// never change a result.

#include "analysis/ScScanner.h"

#include "core/Array.h"
#include "devices/UnreadableSectors.h"
#include "fs/DirectoryEntry.h"
#include "fs/Params.h"
#include "fs/StructureChecks.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/VolumeHelpers.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr u32 SECTOR = 512;
using Sector = std::vector<u8>;
using testutil::RecordingProgress;

Sector zeroSector() {
    return Sector(SECTOR, 0);
}

// --- Hand-made structures -----------------------------------------------------

struct Entry {
    u8 boot;
    u8 type;
    u32 start;
    u32 count;
};

Sector mbr(const std::vector<Entry>& entries) {
    Sector s = zeroSector();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        u8* e = s.data() + PARTITION_TABLE_OFFSET + i * PARTITION_ENTRY_BYTES;
        e[PE_BOOT_INDICATOR] = entries[i].boot;
        e[PE_TYPE] = entries[i].type;
        setLE32(e, PE_START_LBA, entries[i].start);
        setLE32(e, PE_SECTOR_COUNT, entries[i].count);
    }
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

// A FAT16 boot sector: 4 sectors per cluster, 1 reserved, 20 per FAT, 512 root
// entries, `total` sectors.
Sector fatBootSector(u16 total = 20000) {
    Sector s = zeroSector();
    const u8 jump[] = {0xEB, 0x3C, 0x90};
    std::memcpy(s.data(), jump, 3);
    std::memcpy(s.data() + 3, "MSWIN4.1", 8);
    setLE16(s.data(), 11, 512);
    s[13] = 4;
    setLE16(s.data(), 14, 1);
    s[16] = 2;
    setLE16(s.data(), 17, 512);
    setLE16(s.data(), 19, total);
    s[21] = 0xF8;
    setLE16(s.data(), 22, 20);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

Sector fat16Start() {
    Sector s = zeroSector();
    const u8 head[] = {0xF8, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0xFF, 0xFF};
    std::memcpy(s.data(), head, sizeof head);
    return s;
}

Sector fat32Start() {
    Sector s = zeroSector();
    const u8 head[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
    std::memcpy(s.data(), head, sizeof head);
    return s;
}

void putEntry(u8* e, const char* name11, u8 attributes, u32 cluster, u32 size) {
    std::memcpy(e, name11, 11);
    e[DE_ATTRIBUTES] = attributes;
    setLE16(e, DE_WRITE_TIME, 12 << 11);
    setLE16(e, DE_WRITE_DATE, (40 << 9) | (6 << 5) | 15);
    setLE16(e, DE_CLUSTER_HIGH, static_cast<u16>(cluster >> 16));
    setLE16(e, DE_CLUSTER_LOW, static_cast<u16>(cluster));
    setLE32(e, DE_SIZE, size);
}

// `files` plain file entries from cluster `firstCluster` on; 16 fill the sector.
Sector plainDirectory(u32 files, u32 firstCluster) {
    Sector s = zeroSector();
    for (u32 i = 0; i < files; ++i) {
        std::string name = "FILE00  TXT";
        name[4] = static_cast<char>('0' + i / 10);
        name[5] = static_cast<char>('0' + i % 10);
        putEntry(s.data() + i * DIR_ENTRY_BYTES, name.c_str(), ATTR_ARCHIVE, firstCluster + i, 100);
    }
    return s;
}

// "." at `self` and ".." at `parent`, then one file at cluster `file`.
Sector dotDirectory(u32 self, u32 parent, u32 file) {
    Sector s = zeroSector();
    putEntry(s.data(), ".          ", ATTR_DIRECTORY, self, 0);
    putEntry(s.data() + 32, "..         ", ATTR_DIRECTORY, parent, 0);
    putEntry(s.data() + 64, "INNER   TXT", ATTR_ARCHIVE, file, 10);
    return s;
}

// An NTFS FILE record of `sectors` sectors with no attributes, its update
// sequence applied as on disk.
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
    setLE16(r, 0x30, 0x0007);
    for (u32 i = 0; i < sectors; ++i)
        setLE16(r, i * SECTOR + 510, 0x0007);
    return s;
}

Sector unreadableSector() {
    Sector s = zeroSector();
    fillUnreadablePattern(s.data(), SECTOR);
    return s;
}

// --- Feeding a scanner ----------------------------------------------------------

// Places the sectors (a record of two sectors counts as two) at the scanner's
// buffer end and adds them as one block.
void feed(ScScanner& scanner, u64 lba, const std::vector<Sector>& sectors) {
    u64 at = 0;
    for (const Sector& s : sectors) {
        std::memcpy(scanner.bufferEnd() + at, s.data(), s.size());
        at += s.size();
    }
    scanner.addSectors(lba, static_cast<u32>(at / SECTOR));
}

// A scanner with a recording progress box, window 16, look-ahead 3.
struct Scan {
    explicit Scan(ScanResults& results, u64 firstLba = 0)
        : scanner(&results, 16, SECTOR, firstLba, 3) {
        scanner.setInterfaceCallback(&progress);
    }
    u64 last(u64 kind) const { return progress.record()->lastValue(kind); }

    RecordingProgress progress;
    ScScanner scanner;
};

// --- The detectors --------------------------------------------------------------

TEST(ScScannerTest, PartitionTableStartsBecomeAbsoluteButForEmptySlotsAndExtendedLinks) {
    ScanResults results;
    {
        Scan scan(results);
        feed(scan.scanner, 63,
             {mbr({{0x80, 0x07, 2048, 1000}, {0, 0x05, 2048, 500}, {0x12, 0x83, 9, 0}, {}})});
        // Near the end of the 32-bit range a start that would wrap is dropped.
        feed(scan.scanner, 0xFFFFF000u, {mbr({{0, 0x07, 0x2000, 10}, {0, 0x0B, 0x10, 10}})});
        scan.scanner.finish();
        EXPECT_EQ(scan.last(InterfaceCallback::FOUND_PARTITION_TABLES), 2u);
    }
    ASSERT_EQ(results.partitionTables.size(), 2u);
    const FoundPartitionTable& t = *results.partitionTables.begin();
    EXPECT_EQ(t.lba, 63u);
    EXPECT_EQ(t.entries[0].type, 0x07);
    EXPECT_EQ(t.entries[0].startLba, 2111u);
    EXPECT_EQ(t.entries[0].sectorCount, 1000u);
    EXPECT_EQ(t.entries[1].type, 0x05);
    EXPECT_EQ(t.entries[1].startLba, 2048u);
    // A slot that fails the entry test, and an empty one.
    EXPECT_EQ(t.entries[2].type, 0);
    EXPECT_EQ(t.entries[2].startLba, 0u);
    EXPECT_EQ(t.entries[2].sectorCount, 0u);
    EXPECT_EQ(t.entries[3].type, 0);

    const FoundPartitionTable& high = *results.partitionTables.rbegin();
    EXPECT_EQ(high.entries[0].type, 0);
    EXPECT_EQ(high.entries[0].startLba, 0u);
    EXPECT_EQ(high.entries[1].type, 0x0B);
    EXPECT_EQ(high.entries[1].startLba, 0xFFFFF010u);
}

TEST(ScScannerTest, BootAndFatSectorsAndTheFirstFindAtAnLbaStays) {
    ScanResults results;
    {
        Scan scan(results);
        feed(scan.scanner, 100, {fatBootSector(20000)});
        // The same LBA again in a later block, with other contents.
        feed(scan.scanner, 100, {fatBootSector(30000)});
        feed(scan.scanner, 101, {fat16Start(), fat32Start()});
        scan.scanner.finish();
        EXPECT_EQ(scan.last(InterfaceCallback::FOUND_BOOT_SECTORS), 1u);
        EXPECT_EQ(scan.last(InterfaceCallback::FOUND_FATS), 2u);
    }
    ASSERT_EQ(results.bootSectors.size(), 1u);
    EXPECT_EQ(results.bootSectors.begin()->params.kind, FS_FAT);
    EXPECT_EQ(results.bootSectors.begin()->params.fat.totalSectors, 20000u);
    ASSERT_EQ(results.fatSectors.size(), 2u);
    EXPECT_EQ(results.fatSectors.find(101u)->fatType, FAT16);
    EXPECT_EQ(results.fatSectors.find(102u)->fatType, FAT32);
    // A boot sector is no partition table (its entries are code and zeros).
    EXPECT_TRUE(results.partitionTables.empty());
}

TEST(ScScannerTest, DirectoryRunsGrowOnlyFromAFullSectorAndDotEntriesOpenTheirOwn) {
    ScanResults results;
    {
        Scan scan(results);
        feed(scan.scanner, 20,
             {plainDirectory(16, 40), plainDirectory(3, 100), dotDirectory(7, 2, 9),
              plainDirectory(2, 50), zeroSector(), plainDirectory(16, 5), dotDirectory(8, 0, 3)});
        // While a run has just been opened it is counted before it is listed.
        EXPECT_EQ(scan.last(InterfaceCallback::FOUND_DIRECTORIES), 3u);
        scan.scanner.finish();
        EXPECT_EQ(scan.last(InterfaceCallback::FOUND_DIRECTORIES), 5u);
    }
    std::vector<FoundDirectoryRun> runs(results.directoryRuns.begin(), results.directoryRuns.end());
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[0].lba, 20u);
    EXPECT_EQ(runs[0].sectorCount, 2u);
    EXPECT_FALSE(runs[0].startsWithDotEntries);
    EXPECT_FALSE(runs[0].lastSlotInUse);
    EXPECT_EQ(runs[0].highestCluster, 102u);
    EXPECT_EQ(runs[0].dotCluster, 0u);

    EXPECT_EQ(runs[1].lba, 22u);
    EXPECT_EQ(runs[1].sectorCount, 1u);
    EXPECT_TRUE(runs[1].startsWithDotEntries);
    EXPECT_EQ(runs[1].dotCluster, 7u);
    EXPECT_EQ(runs[1].dotDotCluster, 2u);
    EXPECT_EQ(runs[1].highestCluster, 9u);

    // The dot sector's last slot is free: the next sector starts a run.
    EXPECT_EQ(runs[2].lba, 23u);
    EXPECT_EQ(runs[2].sectorCount, 1u);
    // A full sector followed by a sector with dot entries: two runs.
    EXPECT_EQ(runs[3].lba, 25u);
    EXPECT_TRUE(runs[3].lastSlotInUse);
    EXPECT_EQ(runs[3].sectorCount, 1u);
    EXPECT_EQ(runs[4].lba, 26u);
    EXPECT_TRUE(runs[4].startsWithDotEntries);
}

TEST(ScScannerTest, ConsecutiveFileRecordsOfOneSizeMakeARun) {
    ScanResults results;
    {
        Scan scan(results);
        const Sector two = fileRecord(2);
        const Sector one = fileRecord(1);
        // Records at 10, 12 (2 sectors each), 15 (2), 17 (1 sector).
        feed(scan.scanner, 10, {two, two, zeroSector(), two, one, zeroSector(), zeroSector()});
        scan.scanner.finish();
        EXPECT_EQ(scan.last(InterfaceCallback::FOUND_NTFS_FILES), 4u);
    }
    std::vector<FoundRecordRun> runs(results.ntfsRecordRuns.begin(), results.ntfsRecordRuns.end());
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].lba, 10u);
    EXPECT_EQ(runs[0].recordSectors, 2u);
    EXPECT_EQ(runs[0].recordCount, 2u);
    EXPECT_EQ(runs[1].lba, 15u);
    EXPECT_EQ(runs[1].recordCount, 1u);
    EXPECT_EQ(runs[2].lba, 17u);
    EXPECT_EQ(runs[2].recordSectors, 1u);
    // Ordinary records are no system records.
    EXPECT_TRUE(results.ntfsSystemRecords.empty());
    EXPECT_EQ(ScScanner::reportTotals(&results, nullptr), 4u);
}

TEST(ScScannerTest, ARecordNeedsAllItsSectorsInTheWindow) {
    ScanResults results;
    {
        Scan scan(results);
        const Sector two = fileRecord(2);
        // The first half alone at the end of what was read: no record.
        feed(scan.scanner, 40, {Sector(two.begin(), two.begin() + SECTOR)});
        scan.scanner.finish();
    }
    EXPECT_TRUE(results.ntfsRecordRuns.empty());
}

TEST(ScScannerTest, UnreadableSectorsBecomeRunsAlsoWhenReadOutOfOrder) {
    ScanResults results;
    const Sector bad = unreadableSector();
    {
        Scan scan(results);
        feed(scan.scanner, 5, {bad, bad, bad, zeroSector(), bad});
        // Nothing reaches the runs before the end of the scan.
        EXPECT_TRUE(results.unreadable.runs().empty());
        // A quick scan reads its places in any order.
        feed(scan.scanner, 50, {bad});
        feed(scan.scanner, 40, {bad});
        // A sector that is the pattern but for one byte was read.
        Sector almost = bad;
        almost[511] ^= 1;
        feed(scan.scanner, 60, {almost});
    }
    EXPECT_EQ(results.unreadable.runs(), (SectorRuns{{5, 3}, {9, 1}, {40, 1}, {50, 1}}));
    // A later scan from sector 8 drops the run at 9, then finds 8 and 9 again.
    {
        Scan scan(results, 8);
        feed(scan.scanner, 8, {bad, bad});
    }
    EXPECT_EQ(results.unreadable.runs(), (SectorRuns{{5, 5}}));
}

// --- A new scan over earlier finds ----------------------------------------------

TEST(ScScannerTest, ANewScanDropsWhatLiesAtAndBeyondItsStartAndCutsTheLastRuns) {
    ScanResults results;
    results.partitionTables.insert(FoundPartitionTable{0, {}});
    results.partitionTables.insert(FoundPartitionTable{100, {}});
    results.bootSectors.insert(FoundBootSector{99, {}});
    results.bootSectors.insert(FoundBootSector{150, {}});
    results.fatSectors.insert(FoundFatSector{120, FAT16});
    results.directoryRuns.insert(FoundDirectoryRun{50, 5, false, true, 0, 0, 7});
    results.directoryRuns.insert(FoundDirectoryRun{90, 20, false, true, 0, 0, 7});
    results.directoryRuns.insert(FoundDirectoryRun{200, 1, false, false, 0, 0, 7});
    results.ntfsSystemRecords.insert(FoundNtfsSystemRecord{100, {}});
    results.ntfsRecordRuns.insert(FoundRecordRun{10, 2, 4});
    results.ntfsRecordRuns.insert(FoundRecordRun{96, 2, 3});
    results.ntfsRecordRuns.insert(FoundRecordRun{300, 2, 3});
    results.unreadable.runs() = {{50, 60}, {120, 1}};
    {
        Scan scan(results, 100);
        // The totals left over count the records of the runs kept.
        EXPECT_EQ(ScScanner::reportTotals(&results, nullptr), 6u);
    }
    EXPECT_EQ(results.partitionTables.size(), 1u);
    EXPECT_EQ(results.bootSectors.size(), 1u);
    EXPECT_TRUE(results.fatSectors.empty());
    ASSERT_EQ(results.directoryRuns.size(), 2u);
    EXPECT_EQ(results.directoryRuns.rbegin()->lba, 90u);
    EXPECT_EQ(results.directoryRuns.rbegin()->sectorCount, 10u);
    EXPECT_EQ(results.directoryRuns.begin()->sectorCount, 5u);
    EXPECT_TRUE(results.ntfsSystemRecords.empty());
    ASSERT_EQ(results.ntfsRecordRuns.size(), 2u);
    EXPECT_EQ(results.ntfsRecordRuns.rbegin()->lba, 96u);
    EXPECT_EQ(results.ntfsRecordRuns.rbegin()->recordCount, 2u);
    EXPECT_EQ(results.unreadable.runs(), (SectorRuns{{50, 50}}));

    // A last record run that keeps no whole record goes.
    ScanResults other;
    other.ntfsRecordRuns.insert(FoundRecordRun{99, 2, 5});
    other.ntfsRecordRuns.insert(FoundRecordRun{10, 2, 1});
    other.unreadable.runs() = {{100, 5}, {200, 1}};
    { Scan scan(other, 100); }
    ASSERT_EQ(other.ntfsRecordRuns.size(), 1u);
    EXPECT_EQ(other.ntfsRecordRuns.begin()->lba, 10u);
    EXPECT_TRUE(other.unreadable.runs().empty());
}

TEST(ScScannerTest, AScanStartingPastTheListsKeepsEverything) {
    ScanResults results;
    results.directoryRuns.insert(FoundDirectoryRun{0xFFFFFFF0u, 15, false, true, 0, 0, 7});
    results.unreadable.runs() = {{0xFFFFFFF0u, 15}};
    { Scan scan(results, 0x100000000ull); }
    EXPECT_EQ(results.directoryRuns.begin()->sectorCount, 15u);
    EXPECT_EQ(results.unreadable.runs(), (SectorRuns{{0xFFFFFFF0u, 15}}));
}

TEST(ScScannerTest, TotalsGoToTheCallbackAndRecordCountsGoOn) {
    ScanResults results;
    results.partitionTables.insert(FoundPartitionTable{0, {}});
    results.bootSectors.insert(FoundBootSector{63, {}});
    results.bootSectors.insert(FoundBootSector{69, {}});
    results.ntfsRecordRuns.insert(FoundRecordRun{10, 2, 4});
    RecordingProgress progress;
    UsesInterfaceCallback to;
    to.setInterfaceCallback(&progress);
    EXPECT_EQ(ScScanner::reportTotals(&results, &to), 4u);
    const auto& seen = progress.record()->positions;
    ASSERT_EQ(seen.size(), 6u);
    for (u64 i = 0; i < 6; ++i)
        EXPECT_EQ(seen[i].mode, InterfaceCallback::FOUND_PARTITION_TABLES + i);
    EXPECT_EQ(seen[0].value, 1u);
    EXPECT_EQ(seen[1].value, 2u);
    EXPECT_EQ(seen[5].value, 4u);

    // A scan from LBA 50 counts its records after the 4 kept.
    Scan scan(results, 50);
    feed(scan.scanner, 60, {fileRecord(1), zeroSector(), zeroSector(), zeroSector()});
    EXPECT_EQ(scan.last(InterfaceCallback::FOUND_NTFS_FILES), 5u);
}

TEST(ScScannerTest, TheRecordParsersAreQuietWhileTheScannerLives) {
    logNtfsRecordParser = true;
    logNtfsFileRecordParser = true;
    ScanResults results;
    {
        ScScanner scanner(&results, 16, SECTOR, 0, 3);
        EXPECT_FALSE(logNtfsRecordParser);
        EXPECT_FALSE(logNtfsFileRecordParser);
    }
    EXPECT_TRUE(logNtfsRecordParser);
    EXPECT_TRUE(logNtfsFileRecordParser);
}

TEST(ScScannerTest, SectorsSmallerThanTheStructuresAreRefused) {
    ScanResults results;
    EXPECT_THROW(ScScanner(&results, 16, 256, 0, 3), std::runtime_error);
    EXPECT_THROW(ScScanner(nullptr, 16, SECTOR, 0, 3), std::runtime_error);
}

// --- The content scanner --------------------------------------------------------

struct Handed {
    u64 offset;
    u32 size;
    u8 first;
};

class RecordingContent : public ScScanner::ContentScanner {
public:
    void processSector(u64 byteOffset, const u8* sector, u32 size) override {
        handed.push_back({byteOffset, size, sector[0]});
    }
    std::vector<Handed> handed;
};

std::vector<Sector> labelled(u32 count, u8 firstLabel) {
    std::vector<Sector> out;
    for (u32 i = 0; i < count; ++i)
        out.push_back(Sector(SECTOR, static_cast<u8>(firstLabel + i)));
    return out;
}

TEST(ScScannerTest, EverySectorGoesOnToTheContentScannerWithItsLookAhead) {
    ScanResults results;
    RecordingContent content;
    {
        ScScanner scanner(&results, 16, SECTOR, 0, 3);
        scanner.setContentScanner(&content);
        feed(scanner, 1000, labelled(16, 1));
        ASSERT_EQ(content.handed.size(), 13u);
        EXPECT_EQ(content.handed[0].offset, 1000u * SECTOR);
        EXPECT_EQ(content.handed[0].size, 16u * SECTOR);
        EXPECT_EQ(content.handed[12].first, 13);
        EXPECT_EQ(content.handed[12].size, 4u * SECTOR);
        // finish() hands over the last three too.
        scanner.finish();
        ASSERT_EQ(content.handed.size(), 16u);
        EXPECT_EQ(content.handed[15].offset, 1015u * SECTOR);
        EXPECT_EQ(content.handed[15].size, 1u * SECTOR);
        EXPECT_EQ(content.handed[15].first, 16);
    }
    // Left to the destructor, the waiting sectors are classified only: the
    // content scanner may have finished its own scan by then.
    RecordingContent late;
    {
        ScScanner scanner(&results, 16, SECTOR, 0, 3);
        scanner.setContentScanner(&late);
        feed(scanner, 0, labelled(8, 1));
    }
    EXPECT_EQ(late.handed.size(), 5u);
}

TEST(ScScannerTest, PastSector2Pow32NothingIsListedButTheContentsAreCarved) {
    ScanResults results;
    RecordingContent content;
    const u64 lba = 0x100000005ull;
    {
        ScScanner scanner(&results, 16, SECTOR, lba, 3);
        scanner.setContentScanner(&content);
        feed(scanner, lba, {fatBootSector(), unreadableSector(), fileRecord(1)});
        scanner.finish();
    }
    EXPECT_TRUE(results.bootSectors.empty());
    EXPECT_TRUE(results.unreadable.runs().empty());
    EXPECT_TRUE(results.ntfsRecordRuns.empty());
    ASSERT_EQ(content.handed.size(), 3u);
    EXPECT_EQ(content.handed[0].offset, lba * SECTOR);
}

// --- The quick tests change nothing ---------------------------------------------

// Finds by LBA and kind, from the scan results or from the full tests run on
// every sector.
using Finds = std::map<u32, std::set<std::string>>;

// Runs the full tests on every sector, as the scanner would without its quick
// tests, and records what each found.
class ReferenceCollector : public SectorsCollector {
public:
    ReferenceCollector() : SectorsCollector(16, 3, SECTOR) {}
    Finds finds;

protected:
    void processSector(const u8* s, u64 lba64, u32 available) override {
        const u32 lba = static_cast<u32>(lba64);
        BootParams boot;
        FatType fat = FAT_NONE;
        bool dot = false, last = false;
        u32 c1 = 0, c2 = 0, high = 0;
        NtfsSystemRecordInfo info;
        u16 sectors = 0;
        if (isValidMbr(s))
            finds[lba].insert("table");
        if (readBootParams(s, boot))
            finds[lba].insert("boot");
        if (guessFatTypeOfSector(s, fat))
            finds[lba].insert("fat" + std::to_string(fat));
        if (analyzeDirectoryStart(s, dot, last, c1, c2, high))
            finds[lba].insert("dir");
        if (probeNtfsFileRecord(s, available * SECTOR, info, sectors))
            finds[lba].insert("record" + std::to_string(sectors));
        if (isUnreadablePattern(s, SECTOR))
            finds[lba].insert("unreadable");
    }
};

Finds findsOf(const ScanResults& r) {
    Finds finds;
    for (const auto& t : r.partitionTables)
        finds[t.lba].insert("table");
    for (const auto& b : r.bootSectors)
        finds[b.lba].insert("boot");
    for (const auto& f : r.fatSectors)
        finds[f.lba].insert("fat" + std::to_string(f.fatType));
    for (const auto& d : r.directoryRuns)
        for (u32 i = 0; i < d.sectorCount; ++i)
            finds[d.lba + i].insert("dir");
    for (const auto& run : r.ntfsRecordRuns)
        for (u32 i = 0; i < run.recordCount; ++i)
            finds[run.lba + i * run.recordSectors].insert("record" +
                                                          std::to_string(run.recordSectors));
    for (const auto& u : r.unreadable.runs())
        for (u32 i = 0; i < u.count; ++i)
            finds[u.start + i].insert("unreadable");
    return finds;
}

TEST(ScScannerTest, TheQuickTestsNeverHideAStructure) {
    // Each structure, then copies of it with a few bytes changed, more often the
    // bytes that the quick tests look at; random and text sectors in between.
    std::vector<Sector> bases = {mbr({{0x80, 0x07, 63, 1000}}),
                                 fatBootSector(),
                                 fat16Start(),
                                 fat32Start(),
                                 plainDirectory(16, 3),
                                 plainDirectory(2, 3),
                                 dotDirectory(5, 0, 6),
                                 fileRecord(1),
                                 unreadableSector()};
    Sector longName = plainDirectory(3, 9);
    longName[DE_ATTRIBUTES] = ATTR_LONG_NAME;
    longName[0] = 0x41;
    setLE16(longName.data(), DE_CLUSTER_LOW, 0);
    longName[12] = 0;
    bases.push_back(longName);
    Sector deleted = plainDirectory(4, 9);
    deleted[0] = ENTRY_DELETED;
    bases.push_back(deleted);

    std::mt19937 random(1234);
    const u32 hot[] = {0, 1, 2, 3, 11, 12, 510, 511};
    std::vector<Sector> stream;
    for (const Sector& base : bases) {
        stream.push_back(base);
        for (int n = 0; n < 400; ++n) {
            Sector s = base;
            const int changes = 1 + static_cast<int>(random() % 3);
            for (int c = 0; c < changes; ++c) {
                const u32 at = random() % 2 == 0 ? hot[random() % 8] : random() % SECTOR;
                const u32 pick = random() % 4;
                s[at] = pick == 0 ? 0 : pick == 1 ? 0xFF : static_cast<u8>(random());
            }
            stream.push_back(s);
        }
    }
    for (int n = 0; n < 200; ++n) {
        Sector s(SECTOR);
        for (u8& b : s)
            b = n % 2 == 0 ? static_cast<u8>(random()) : static_cast<u8>(' ' + random() % 95);
        stream.push_back(s);
    }

    ScanResults results;
    ReferenceCollector reference;
    {
        ScScanner scanner(&results, 16, SECTOR, 0, 3);
        for (std::size_t at = 0; at < stream.size(); at += 16) {
            const std::size_t n = std::min<std::size_t>(16, stream.size() - at);
            for (std::size_t i = 0; i < n; ++i) {
                std::memcpy(scanner.bufferEnd() + i * SECTOR, stream[at + i].data(), SECTOR);
                std::memcpy(reference.bufferEnd() + i * SECTOR, stream[at + i].data(), SECTOR);
            }
            scanner.addSectors(at, static_cast<u32>(n));
            reference.addSectors(at, static_cast<u32>(n));
        }
        reference.flush();
    }
    const Finds expected = reference.finds;
    const Finds found = findsOf(results);
    // Every kind was met, so the comparison means something.
    std::set<std::string> kinds;
    for (const auto& f : expected)
        kinds.insert(f.second.begin(), f.second.end());
    EXPECT_GE(kinds.size(), 8u);
    for (const auto& f : expected) {
        auto it = found.find(f.first);
        ASSERT_NE(it, found.end()) << "sector " << f.first << '\n'
                                   << testutil::hexDump(stream[f.first].data(), SECTOR);
        EXPECT_EQ(it->second, f.second) << "sector " << f.first;
    }
    EXPECT_EQ(found.size(), expected.size());
}

} // namespace
