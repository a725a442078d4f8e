// The saved scan: the stream's exact bytes, escaped integers, a round trip of
// every list, and a loader that takes any damaged or hostile file without
// crashing, without sizing anything by it, and without touching the current
// scan, also when memory runs out; records that no scan makes are dropped and
// counted. A file's load takes memory by what the file holds, never by what it
// claims, nor by what it drops.

#include "analysis/Serializer.h"
#include "analysis/Unserializer.h"

#include "analysis/DriveDescr.h"
#include "core/CompressedFile.h"
#include "core/Log.h"
#include "core/Text.h"
#include "tests/analysis/AnalysisDisk.h"
#include "tests/support/FailingReader.h"
#include "tests/support/HostileScans.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Allocation failure on demand, on this thread only: while it is not negative,
// it counts the allocations down, and the one it finds at 0 fails.
thread_local long allocationsBeforeFailure = -1;

void* allocate(std::size_t n) {
    if (allocationsBeforeFailure >= 0 && allocationsBeforeFailure-- == 0)
        throw std::bad_alloc();
    if (void* p = std::malloc(n != 0 ? n : 1))
        return p;
    throw std::bad_alloc();
}

void* allocateOrNull(std::size_t n) noexcept {
    try {
        return allocate(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

// Every plain allocation of this test program goes through allocate().
void* operator new(std::size_t n) {
    return allocate(n);
}
void* operator new[](std::size_t n) {
    return allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return allocateOrNull(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return allocateOrNull(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

using testing::HasSubstr;
using testutil::hexDump;
using testutil::LogCapture;
using testutil::ScriptedInterface;
using testutil::TempDir;

std::string bytesOf(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

// Pieces of hand-made streams: the head of version 4 with no drive id and an
// empty range, six empty lists, and an empty blob (or no carved files).
const std::string HEAD = bytesOf({4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
const std::string EMPTY_LISTS(6 * 4, '\0');
const std::string NOTHING(4, '\0');

// The unreadable blob of these {start, count} entries, big-endian.
std::string runsBlob(const std::vector<std::pair<u32, u32>>& runs) {
    std::string blob;
    for (const auto& r : runs)
        for (u32 v : {r.first, r.second})
            blob += bytesOf({int(v >> 24), int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)});
    return blob;
}

// An empty scan with that blob.
std::string streamWithBlob(const std::string& blob) {
    const u32 n = static_cast<u32>(blob.size());
    return HEAD + EMPTY_LISTS + bytesOf({int(n & 0xFF), int(n >> 8 & 0xFF), 0, 0}) + blob + NOTHING;
}

std::string streamOf(const DriveDescr& d) {
    std::string out;
    Serializer s(&out);
    serializeScan(s, d);
    return out;
}

// A source of `sectors` sectors whose bytes nobody reads.
void giveSource(DriveDescr& d, u64 sectors) {
    auto* reader = new testutil::MemoryReader("");
    reader->setSize(static_cast<i64>(sectors * 512));
    d.setDrive(new Driver(SharedPtr<dt::Reader>(reader), 512));
}

// What the peak of this process's resident memory rose by while `work` ran.
long long residentRise(const std::function<void()>& work) {
    auto kib = [](const std::string& field) {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.compare(0, field.size(), field) == 0)
                return std::stoll(line.substr(field.size()));
        return 0ll;
    };
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
    const long long before = kib("VmRSS:");
    work();
    return (kib("VmHWM:") - before) << 10;
}

bool read(const std::string& stream, DriveDescr& d, FrTreeInterface* ui) {
    return readScan(reinterpret_cast<const u8*>(stream.data()), static_cast<u32>(stream.size()), d,
                    ui);
}

// The range, every find and run with its payload, and the carved files.
std::string dump(const DriveDescr& d) {
    std::ostringstream os;
    const ScanRange& range = d.getScanRange();
    os << "range " << range.getDriveId() << ' ' << range.getFirst() << ' ' << range.getSecond()
       << '\n'
       << analysistest::describe(d.getScanResults());
    for (const auto& b : d.getScanResults().bootSectors)
        os << b.params << "bytes per sector " << b.params.fat.bytesPerSector << '\n';
    for (const auto& f : d.getCarvedFiles())
        os << "carved " << f.getStart() << ' ' << f.getSize() << ' '
           << hexDump(f.getAttributes().bytes().data(), f.getAttributes().bytes().size());
    return os.str();
}

// A scan with something in every list.
void fill(DriveDescr& d) {
    d.getScanRange().setDriveId("disk-1");
    d.getScanRange().setSecond(123456);
    ScanResults& r = d.getScanResults();
    r.partitionTables.insert({0, {{{0x07, 2048, 40000}, {}, {0x05, 90000, 7}, {}}}});
    BootParams fat;
    fat.kind = FS_FAT;
    fat.fat = {40000, 4, 40, 4, 512, 0, 116, 84, 2048};
    BootParams ntfs;
    ntfs.kind = FS_NTFS;
    ntfs.ntfs = {32767, 8, 4, 2048, 2};
    r.bootSectors = {{2048, fat}, {50000, ntfs}};
    r.fatSectors = {{2052, FAT16}, {2092, FAT16_32}};
    r.directoryRuns = {{2132, 32, false, true, 0, 0, 77}, {3000, 4, true, false, 9, 0, 12}};
    r.ntfsSystemRecords = {{50032, {NTFS_MFT_RECORD, 4, 262144}},
                           {50034, {NTFS_BITMAP_RECORD, ~0ull, ~0ull}}};
    r.ntfsRecordRuns = {{50032, 2, 64}};
    r.unreadable.runs() = {{100, 2}, {0x01020304, 5}};
    d.getCarvedFiles().resize(2);
    d.getCarvedFiles()[0].setStart(4096 * 512);
    d.getCarvedFiles()[0].setSize(20000);
    d.getCarvedFiles()[0].getAttributes().setUInt32("time", 1600000000);
    d.getCarvedFiles()[1].setStart(9000 * 512);
    d.getCarvedFiles()[1].setSize(5000000000ull);
}

TEST(SavedScanTest, TheBytesOfTheStream) {
    DriveDescr d;
    d.getScanRange().setDriveId("abc");
    std::string got = streamOf(d);
    EXPECT_EQ(got, bytesOf({5, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'}) +
                       std::string(6 * 4 + 4 + 4, '\0'))
        << hexDump(got.data(), got.size());
    EXPECT_EQ(got.size(), 47u);
    // Version 4 keeps no sector size of a FAT boot sector: it loads as unknown.
    std::string fat4 = HEAD + bytesOf({0, 0, 0, 0, 1, 0, 0, 0, 0, 8, 0, 0, FS_FAT});
    for (u32 field : {40000, 4, 40, 4, 512, 0, 116, 84})
        fat4 += bytesOf({int(field & 0xFF), int(field >> 8 & 0xFF), int(field >> 16), 0});
    DriveDescr old;
    ASSERT_TRUE(read(fat4 + std::string(4 * 4, '\0') + NOTHING + NOTHING, old, nullptr));
    ASSERT_EQ(old.getScanResults().bootSectors.size(), 1u);
    EXPECT_EQ(old.getScanResults().bootSectors.begin()->params.fat.rootDirectoryLbaOffset, 84u);
    EXPECT_EQ(old.getScanResults().bootSectors.begin()->params.fat.bytesPerSector, 0u);

    std::string out;
    Serializer s(&out);
    s.writeEscapedU16(65535);
    s.writeEscapedU32(0xFFFFFFFE);
    s.writeEscapedU8(255);
    EXPECT_EQ(out, bytesOf({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0xFE, 0xFF,
                            0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0}));

    // A file of 5,000,000,000 bytes and an attribute text of 300 bytes.
    cbr::FileInfo f;
    f.setStart(512);
    f.setSize(5000000000ull);
    f.getAttributes().setBytes(std::string(300, 'x'));
    d.getCarvedFiles() = {f};
    got = streamOf(d);
    const std::string tail =
        bytesOf({1,    0,    0,    0, 0, 2, 0, 0,    0,    0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x00,
                 0xF2, 0x05, 0x2A, 1, 0, 0, 0, 0xFF, 0x2C, 1, 0, 0, 0,    0,    0,    0}) +
        std::string(300, 'x');
    EXPECT_EQ(got.substr(got.size() - tail.size()), tail);
}

// (A round trip through a file in a new process: DiskAnalysisSavedScanTest.)
TEST(SavedScanTest, AnotherSourcesScanLoadsOnlyOnYes) {
    DriveDescr saved;
    fill(saved);
    ScriptedInterface ui;
    // Another source's scan: the user is asked (the id handed over as plain
    // text, made valid UTF-8; the window escapes it); No keeps the current scan.
    saved.getScanRange().setDriveId("<b>A & B</b>\xFF");
    const std::string stream = streamOf(saved);
    DriveDescr current;
    current.getScanRange().setDriveId("disk-2");
    current.getCarvedFiles().resize(1);
    const std::string before = dump(current);
    EXPECT_FALSE(read(stream, current, &ui));
    ASSERT_EQ(ui.asked().size(), 1u);
    EXPECT_EQ(ui.asked()[0].text, "This saved scan is from a different drive.\n(<b>A & "
                                  "B</b>\xEF\xBF\xBD)\nDo you want to Load the Scan anyway?");
    EXPECT_TRUE(ui.asked()[0].defaultNo);
    EXPECT_EQ(dump(current), before);
    ui.then(0);
    EXPECT_TRUE(read(stream, current, &ui));
    EXPECT_EQ(dump(current), dump(saved));
}

// A source's identifying text holds its size as the session's language writes
// it ("177,2MB" in German): a scan saved in one language is of the same source
// in another, with no question, and one of another size still asks, as does a
// text that only looks like a number written in another language. Once every
// scan saved in German was "from a different drive" in English.
TEST(SavedScanTest, TheSameSourceInAnotherLanguageLoadsWithNoQuestion) {
    const std::string numbers = std::setlocale(LC_NUMERIC, nullptr);
    const auto idIn = [](const char* locale, u64 bytes) {
        if (!std::setlocale(LC_NUMERIC, locale))
            return std::string();
        return "WDC WD1600-WXA1E " + formatSize(bytes) + " Drive (0)";
    };
    const char* const GERMAN = "de_DE.UTF-8";
    const struct {
        const char* savedIn;
        u64 savedSize;
        const char* loadedIn;
        u64 size;
        bool asked;
        const char* savedId = nullptr; // as it stands, in place of a size
        const char* id = nullptr;
    } cases[] = {
        {GERMAN, 177200000, "C", 177200000, false},
        {"C", 177200000, GERMAN, 177200000, false},
        {GERMAN, 1000000, "C", 10000000, true}, // "1,000MB" is not "10.00MB"
        {GERMAN, 177200000, "C", 177300000, true},
        // No size: a number without a unit is a name's, whatever its comma.
        {"C", 0, "C", 0, true, "Array 1,5 Drive (0)", "Array 1.5 Drive (0)"},
    };
    for (const auto& c : cases) {
        DriveDescr saved;
        saved.getScanRange().setDriveId(c.savedId ? c.savedId : idIn(c.savedIn, c.savedSize));
        DriveDescr current;
        current.getScanRange().setDriveId(c.id ? c.id : idIn(c.loadedIn, c.size));
        std::setlocale(LC_NUMERIC, numbers.c_str());
        if (saved.getScanRange().getDriveId().empty() ||
            current.getScanRange().getDriveId().empty())
            GTEST_SKIP() << "the " << GERMAN << " locale is not installed";
        ASSERT_NE(saved.getScanRange().getDriveId(), current.getScanRange().getDriveId());
        ScriptedInterface ui;
        EXPECT_EQ(read(streamOf(saved), current, &ui), !c.asked) << c.savedIn << ' ' << c.size;
        EXPECT_EQ(ui.asked().size(), c.asked ? 1u : 0u) << c.savedIn << ' ' << c.size;
    }
}

TEST(SavedScanTest, ADamagedOrHostileFileChangesNothingAndSizesNothing) {
    DriveDescr saved;
    fill(saved);
    const std::string stream = streamOf(saved);
    DriveDescr current;
    current.getScanRange().setDriveId("disk-1");
    current.getScanResults().fatSectors.insert(FoundFatSector{7, FAT12});
    current.getScanResults().unreadable.runs() = {{1, 1}};
    current.getCarvedFiles().resize(2);
    const std::string before = dump(current);
    LogCapture log;
    for (std::size_t n = 0; n < stream.size(); ++n) {
        ScriptedInterface ui;
        ASSERT_FALSE(read(stream.substr(0, n), current, &ui)) << n;
        ASSERT_EQ(dump(current), before) << n;
        ASSERT_EQ(ui.asked().size(), 1u);
        EXPECT_EQ(ui.asked()[0].text,
                  "Cannot Load Scan\nThe file is not a saved scan, or it is damaged.");
    }
    EXPECT_TRUE(log.has("DriveDescrFile(241)\n"));
    std::string other = stream;
    other[0] = 6;
    EXPECT_FALSE(read(other, current, nullptr));
    EXPECT_TRUE(log.has("DriveDescrFile(190): 6\n"));

    const std::string huge = bytesOf({0, 0, 0, 0, 0, 0, 0, 0x40});
    const std::string streams[] = {
        // A drive id of 2^62 bytes; four billion tables; a blob of 4 GiB.
        bytesOf({4, 0, 0xFF, 0xFF}) + huge + std::string(8, '\0'),
        HEAD + bytesOf({0xFF, 0xFF, 0xFF, 0xFF}) + std::string(40, '\0'),
        HEAD + EMPTY_LISTS + bytesOf({0xFF, 0xFF, 0xFF, 0xFF}) + std::string(16, '\0'),
        // 2^62 carved files; an attribute text of 2^62 bytes; a file past 2^64.
        HEAD + EMPTY_LISTS + NOTHING + bytesOf({0xFF, 0xFF, 0xFF, 0xFF}) + huge +
            std::string(13, '\0'),
        HEAD + EMPTY_LISTS + NOTHING + bytesOf({1, 0, 0, 0}) + std::string(8, '\0') +
            bytesOf({5, 0, 0, 0, 0xFF}) + huge,
        HEAD + EMPTY_LISTS + NOTHING + bytesOf({1, 0, 0, 0}) + std::string(8, '\xFF') +
            bytesOf({5, 0, 0, 0, 0}),
    };
    for (const std::string& hostile : streams) {
        EXPECT_FALSE(read(hostile, current, nullptr)) << hexDump(hostile.data(), hostile.size());
        EXPECT_EQ(dump(current), before);
    }
}

// Records no scan of the source makes are dropped; the log gets one line per
// list and reason with their count.
TEST(SavedScanTest, RecordsNoScanOfTheSourceMakesAreDroppedAndCounted) {
    DriveDescr d;
    d.setDrive(new Driver(
        SharedPtr<dt::Reader>(new testutil::MemoryReader(std::string(4000 * 512, '\0'))), 512));
    ScanResults& r = d.getScanResults();
    BootParams fat;
    fat.kind = FS_FAT;
    fat.fat.sectorsPerCluster = 3;
    BootParams ntfs;
    ntfs.kind = FS_NTFS;
    ntfs.ntfs.sectorsPerCluster = 8;
    r.bootSectors = {{10, fat}, {11, ntfs}, {12, BootParams()}, {5000, ntfs}};
    ntfs.ntfs.sectorsPerFileRecord = 2;
    r.bootSectors.insert({13, ntfs});
    r.fatSectors = {{20, FAT_NONE}, {21, FAT16}};
    r.directoryRuns = {{30, 0, true, false, 3, 0, 0},
                       {3990, 20, false, false, 0, 0, 0},
                       {40, 2, false, false, 0, 0, 0}};
    r.ntfsSystemRecords = {{50, {9, 0, 0}}, {51, {NTFS_MFT_RECORD, 4, 8}}};
    r.ntfsRecordRuns = {{60, 0, 4}, {70, 2, 0}, {80, 3, 1}, {3000, 2, 1000}, {90, 2, 2}};
    r.unreadable.runs() = {{100, 1}, {3999, 5}, {5000, 2}};
    const std::string stream = streamOf(d);
    LogCapture log;
    ASSERT_TRUE(read(stream, d, nullptr));
    EXPECT_EQ(analysistest::describe(d.getScanResults()),
              "B13 2 0\nF21 2\nD40+2 0/0 h0\nS51 1\nR90 2x2\nU100+1\nU3999+1\n");
    EXPECT_EQ(log.text(),
              "DriveDescrFile(230): list 1, 1 records dropped: sectors per cluster, the first at "
              "LBA 10\n"
              "DriveDescrFile(230): list 1, 1 records dropped: sectors per record, the first at "
              "LBA 11\n"
              "DriveDescrFile(230): list 1, 1 records dropped: no FAT or NTFS kind, the first at "
              "LBA 12\n"
              "DriveDescrFile(230): list 1, 1 records dropped: LBA outside the source, the first "
              "at LBA 5000\n"
              "DriveDescrFile(230): list 2, 1 records dropped: no FAT type, the first at LBA 20\n"
              "DriveDescrFile(230): list 3, 2 records dropped: run length, the first at LBA 30\n"
              "DriveDescrFile(230): list 4, 1 records dropped: no system record, the first at LBA "
              "50\n"
              "DriveDescrFile(230): list 5, 2 records dropped: sectors per record, the first at "
              "LBA 60\n"
              "DriveDescrFile(230): list 5, 2 records dropped: run length, the first at LBA 70\n"
              "DriveDescrFile(231): 1 unreadable runs outside the source\n");
}

// Found by the fuzzer: runs said to reach past sector 2^32 came back wrapped
// around to low sectors, out of order and overlapping. Runs are sorted and
// joined; the bytes after the last whole run are ignored.
TEST(SavedScanTest, RunsReachingPastTheLastScanAddressEndThere) {
    DriveDescr d;
    ASSERT_TRUE(read(streamWithBlob(runsBlob({{0, 1}, {1024, 0xFFFFFFFFu}, {1023, 0xFFFFFFFFu}})),
                     d, nullptr));
    EXPECT_EQ(d.getScanResults().unreadable.runs(),
              (SectorRuns{{0, 1}, {1023, 0xFFFFFFFFu - 1022}}));
    ASSERT_TRUE(read(streamWithBlob(runsBlob({{50, 5}, {9, 3}, {10, 2}}) + bytesOf({1, 2, 3, 4})),
                     d, nullptr));
    EXPECT_EQ(d.getScanResults().unreadable.runs(), (SectorRuns{{9, 3}, {50, 5}}));
}

// The box says which file and why: the system's reason, or that it is no scan.
TEST(SavedScanTest, AFileThatCannotBeReadOrWrittenFailsWithItsBox) {
    TempDir dir;
    DriveDescr d;
    ScriptedInterface ui;
    LogCapture log;
    const std::string cut = bytesOf({4, 0, 0, 0});
    ASSERT_TRUE(saveCompressedFile(dir.file("cut.bin").c_str(),
                                   reinterpret_cast<const u8*>(cut.data()), cut.size()));
    testutil::writeAll(dir.file("image.img"), std::string(4096, '\0'));
    const struct {
        const char* name;
        const char* reason;
    } loads[] = {
        {"missing.bin", "No such file or directory"},
        {"", "Is a directory"},
        {"image.img", "The file is not a saved scan, or it is damaged."},
        {"cut.bin", "The file is not a saved scan, or it is damaged."},
    };
    for (const auto& load : loads) {
        ScriptedInterface box;
        EXPECT_FALSE(loadScan(dir.file(load.name).c_str(), d, &box)) << load.name;
        ASSERT_EQ(box.asked().size(), 1u) << load.name;
        EXPECT_EQ(box.asked()[0].text,
                  "Cannot Load Scan\n(" + dir.file(load.name) + ")\n" + load.reason);
    }
    EXPECT_TRUE(log.has("DriveDescrFile(256)\n") && log.has("DriveDescrFile(261)\n"));
    d.setScanSaved(false);
    EXPECT_FALSE(saveScan(dir.file("no/such/folder/Scan.bin").c_str(), d, &ui));
    EXPECT_FALSE(d.isScanSaved());
    ASSERT_EQ(ui.asked().size(), 1u);
    EXPECT_EQ(ui.asked()[0].text, "Cannot Save Scan\n(" + dir.file("no/such/folder/Scan.bin") +
                                      ")\nNo such file or directory");
}

// Files of a megabyte or so that claim gigabytes: once they took up to 5.6 GiB
// and 20 s to load, and one loaded "OK". On a source of 2^32 sectors, which
// holds any of their counts, the memory they would take refuses them, with the
// box of every damaged file and the scan left as it was.
TEST(SavedScanTest, FilesClaimingGigabytesAreRefusedWithLittleMemory) {
    TempDir dir;
    const std::string path = dir.file("Scan.bin");
    for (const testutil::HostileScan& scan : testutil::hostileScans()) {
        testutil::writeAll(path, scan.file);
        DriveDescr d;
        giveSource(d, u64(1) << 32);
        d.getCarvedFiles().resize(1);
        const std::string before = dump(d);
        ScriptedInterface ui;
        bool loaded = true;
        EXPECT_LT(residentRise([&] { loaded = loadScan(path.c_str(), d, &ui); }), 400ll << 20)
            << scan.name;
        EXPECT_FALSE(loaded) << scan.name;
        EXPECT_EQ(dump(d), before) << scan.name;
        ASSERT_EQ(ui.asked().size(), 1u) << scan.name;
        EXPECT_EQ(ui.asked()[0].text, "Cannot Load Scan\n(" + path +
                                          ")\nThe file is not a saved scan, or it is damaged.");
    }
}

// A file that the Load Scan dialog is pointed at by mistake, made from a saved
// scan: the scan itself loads; disk images of 2 GiB (a random head, all zeros,
// a partition table alone: holes after their heads), the scan followed by
// 64 MiB of zeros (which once loaded as the scan), the scan made larger than
// any scan can be, and the scan cut short are refused. Once a 2 GiB image took
// 10 s and 4 GB before "Cannot Load Scan", and a larger one all the memory
// there was; later one of zeros, or with no boot code before its partition
// table, was still read through before it was refused.
struct PickedFile {
    const char* name;
    std::string path;
    bool isScan;
};

// `head`, then holes up to `size` bytes.
void writeSparse(const std::string& path, const std::string& head, u64 size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    if (size > head.size()) {
        out.seekp(static_cast<std::streamoff>(size - 1));
        out.put('\0');
    }
    ASSERT_TRUE(out.flush()) << path;
}

std::vector<PickedFile> filesPickedForAScan(const TempDir& dir, const std::string& scan) {
    const u64 twoGiB = u64(2) << 30;
    std::string noise(1 << 20, '\0');
    std::mt19937 random(31);
    for (char& c : noise)
        c = static_cast<char>(random());
    // Two partitions and the signature, nothing before them.
    std::string table(512, '\0');
    const std::string entries =
        bytesOf({0x80, 0xFE, 0xFF, 0xFF, 0x07, 0xFE, 0xFF, 0xFF, 0x00, 0x08, 0x00,
                 0x00, 0x80, 0x84, 0x1E, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0x83, 0xFE,
                 0xFF, 0xFF, 0x80, 0x8C, 0x1E, 0x00, 0x80, 0x84, 0x1E, 0x00});
    table.replace(0x1BE, entries.size(), entries);
    table.replace(0x1FE, 2, "\x55\xAA");
    const std::vector<PickedFile> files = {
        {"the scan", dir.file("Scan.bin"), true},
        {"a disk image of 2 GiB", dir.file("disk.img"), false},
        {"2 GiB of zeros", dir.file("zeros.img"), false},
        {"a partition table alone", dir.file("table.img"), false},
        {"the scan and zeros", dir.file("padded.bin"), false},
        {"larger than any scan", dir.file("larger.bin"), false},
        {"the scan cut short", dir.file("cut.bin"), false},
    };
    const std::pair<std::string, u64> contents[] = {
        {scan, 0},
        {noise, twoGiB},
        {"", twoGiB},
        {table, twoGiB},
        {scan, u64(64) << 20},
        {scan, CompressedFile::maxFileSize() + 1},
        {scan.substr(0, scan.size() / 2), 0},
    };
    for (std::size_t i = 0; i < files.size(); ++i)
        writeSparse(files[i].path, contents[i].first, contents[i].second);
    return files;
}

// A file that is no scan is refused having read no more than a megabyte of it,
// and 64 MB beyond what the program holds anyway. (Bytes, not seconds: a loaded
// machine is slow to read the few it takes.)
constexpr long long REFUSAL_READ = 1ll << 20;
constexpr long long REFUSAL_BYTES = 64ll << 20;

TEST(SavedScanTest, AFileThatIsNoScanIsRefusedAtOnceAndTheScanStays) {
    TempDir dir;
    DriveDescr saved;
    fill(saved);
    ASSERT_TRUE(saveScan(dir.file("saved").c_str(), saved, nullptr));
    for (const PickedFile& file : filesPickedForAScan(dir, testutil::readAll(dir.file("saved")))) {
        DriveDescr d;
        d.getScanRange().setDriveId("disk-1");
        d.getScanResults().fatSectors.insert(FoundFatSector{7, FAT12});
        const std::string before = dump(d);
        ScriptedInterface ui;
        bool loaded = false;
        long long read = 0;
        const long long rise = residentRise([&] {
            read = testutil::bytesRead([&] { loaded = loadScan(file.path.c_str(), d, &ui); });
        });
        EXPECT_EQ(loaded, file.isScan) << file.name;
        EXPECT_EQ(dump(d), file.isScan ? dump(saved) : before) << file.name;
        EXPECT_EQ(ui.asked().size(), file.isScan ? 0u : 1u) << file.name;
        EXPECT_LT(read, file.isScan ? REFUSAL_BYTES : REFUSAL_READ) << file.name;
        EXPECT_LT(rise, REFUSAL_BYTES) << file.name;
    }
}

// The same files in a new process, as the probe loads them, set against the
// probe's own time and memory with the scan it saved.
TEST(SavedScanTest, AFileThatIsNoScanIsRefusedAtOnceByTheProbe) {
    TempDir dir;
    testutil::writeAll(dir.file("source.img"), std::string(1 << 20, '\0'));
    const std::string source = testutil::fileDescriptor(dir.file("source.img"));
    const testutil::ProbeResult made =
        testutil::runProbe("analyze " + source + " --save " + dir.file("saved"));
    ASSERT_EQ(made.status, 0) << made.err;
    long long ownKib = 0, ownRead = 0;
    for (const PickedFile& file : filesPickedForAScan(dir, testutil::readAll(dir.file("saved")))) {
        // GNU time reports the probe's peak memory; no memory limit is set, so
        // that a load that takes gigabytes shows as such. What the probe reads
        // is counted to this process once it has been waited for.
        std::string out, err;
        int status = -1;
        const long long read = testutil::bytesRead([&] {
            status = testutil::run("TZ=UTC /usr/bin/time -f 'probe: %M KiB' timeout 60 " +
                                       testutil::shellQuote(testutil::probePath()) + " analyze " +
                                       source + " --load " + testutil::shellQuote(file.path),
                                   &out, &err);
        });
        long long kib = 0;
        const std::size_t at = err.rfind("probe: ");
        ASSERT_NE(at, std::string::npos) << err;
        std::istringstream(err.substr(at + 7)) >> kib;
        if (file.isScan) {
            EXPECT_EQ(status, 0) << err;
            EXPECT_THAT(out, HasSubstr("loaded: 0 2048\n"));
            ownKib = kib;
            ownRead = read;
            continue;
        }
        EXPECT_EQ(status, 1) << file.name;
        EXPECT_THAT(err, HasSubstr("cannot load the scan")) << file.name;
        EXPECT_LT(read - ownRead, REFUSAL_READ) << file.name;
        EXPECT_LT((kib - ownKib) * 1024, REFUSAL_BYTES) << file.name;
    }
}

// A file whose every record is dropped loads within its allowance: once each
// dropped record wrote a log line, and 97 KB of them (20 million) took 2.1 GB
// of the in-memory log; 972 KB took 16.8 GB and two minutes.
TEST(SavedScanTest, MillionsOfDroppedRecordsLoadInLittleMemoryWithOneLine) {
    TempDir dir;
    const std::string path = dir.file("Scan.bin");
    testutil::writeAll(path, testutil::bootSectorsOfNoKind(20));
    DriveDescr d;
    giveSource(d, u64(1) << 32);
    d.getScanResults().fatSectors.insert(FoundFatSector{7, FAT12});
    LogCapture log;
    bool loaded = false;
    EXPECT_LT(residentRise([&] { loaded = loadScan(path.c_str(), d, nullptr); }), 400ll << 20);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(analysistest::describe(d.getScanResults()), "");
    const std::string lines = log.text();
    ASSERT_LT(lines.size(), 1000u);
    EXPECT_EQ(lines, "DriveDescrFile(230): list 1, 20000000 records dropped: no FAT or NTFS kind, "
                     "the first at LBA 0\n");
}

// Memory that the system does not give, at any allocation of a load, refuses
// the file as damage does: its box, nothing of it kept, no exception out.
TEST(SavedScanTest, MemoryRunningOutWhileLoadingRefusesTheFile) {
    TempDir dir;
    const std::string path = dir.file("Scan.bin");
    DriveDescr saved;
    fill(saved);
    ASSERT_TRUE(saveScan(path.c_str(), saved, nullptr));
    bool failedOnce = false;
    for (long n = 0; n < 10000; ++n) {
        DriveDescr d;
        d.getScanRange().setDriveId("disk-1");
        d.getScanResults().fatSectors.insert(FoundFatSector{7, FAT12});
        d.getCarvedFiles().resize(2);
        const std::string before = dump(d);
        ScriptedInterface ui;
        LogCapture log;
        bool loaded = false;
        bool failed = false;
        try {
            allocationsBeforeFailure = n;
            loaded = loadScan(path.c_str(), d, &ui);
            failed = allocationsBeforeFailure < 0;
            allocationsBeforeFailure = -1;
        } catch (const std::bad_alloc&) {
            allocationsBeforeFailure = -1;
            ADD_FAILURE() << "the allocation after " << n << " failed out of the load";
            continue;
        }
        if (!failed) {
            // The load got through all its allocations.
            EXPECT_TRUE(loaded);
            EXPECT_EQ(dump(d), dump(saved));
            EXPECT_TRUE(failedOnce);
            return;
        }
        failedOnce = true;
        if (loaded) {
            EXPECT_EQ(dump(d), dump(saved)) << n;
            continue;
        }
        EXPECT_EQ(dump(d), before) << n;
        ASSERT_EQ(ui.asked().size(), 1u) << n;
        EXPECT_EQ(ui.asked()[0].text, "Cannot Load Scan\n(" + path + ")\nCannot allocate memory")
            << n;
        EXPECT_TRUE(log.has("DriveDescrFile(236): out of memory\nDriveDescrFile(241)\n") ||
                    log.has("DriveDescrFile(256)\n"))
            << n << ' ' << log.text();
    }
    ADD_FAILURE() << "the load never got through";
}

// What a source cannot hold and what follows the last record make the stream
// damaged; a carved file that does not start at a sector start, or starts past
// the source, is dropped as the lists' records are: the tree would read it from
// its sector's start (one at byte 4,196 came back from byte 4,096).
TEST(SavedScanTest, CountsTheSourceCannotHoldAndBytesAfterTheEndAreRefused) {
    const auto carved = [](const std::vector<u64>& starts) {
        std::string out;
        Serializer s(&out);
        s.writeEscapedU32(starts.size());
        for (u64 start : starts) {
            s.writeU64(start);
            s.writeEscapedU32(100);
            s.writeEscapedU8(0);
        }
        return out;
    };
    const std::string runs = bytesOf({16, 0, 0, 0}) + runsBlob({{1, 1}, {5, 1}});
    const struct {
        const char* name;
        std::string tail; // from the unreadable runs' length on
        const char* kept; // the carved files' starts
        const char* log;
    } cases[] = {
        {"sound", runs + carved({0, 4096, 2047 * 512}), "0 4096 1048064 ", ""},
        {"a byte after the end", runs + carved({4096}) + "\x01", "refused",
         "DriveDescrFile(234): bytes after the last carved file\n"},
        {"more carved files than sectors", NOTHING + carved(std::vector<u64>(2049, 0)), "refused",
         "DriveDescrFile(233): 2049 carved files on a source of 2048 sectors\n"},
        // 2049 runs of 8 bytes: 0x4008.
        {"more runs than sectors",
         bytesOf({8, 0x40, 0, 0}) + std::string(2049 * 8, '\0') + carved({}), "refused",
         "DriveDescrFile(233): 2049 unreadable runs on a source of 2048 sectors\n"},
        {"a file inside a sector", NOTHING + carved({0, 4196, 8192}), "0 8192 ",
         "DriveDescrFile(232): 1 carved files dropped: not at a sector start, the first at byte "
         "4196\n"},
        {"files past the source", NOTHING + carved({0, 2048 * 512, 4096 * 512}), "0 ",
         "DriveDescrFile(232): 2 carved files dropped: outside the source, the first at byte "
         "1048576\n"},
    };
    for (const auto& c : cases) {
        DriveDescr d;
        giveSource(d, 2048);
        LogCapture log;
        ScriptedInterface ui;
        std::string kept = "refused";
        if (read(HEAD + EMPTY_LISTS + c.tail, d, &ui)) {
            kept.clear();
            for (const cbr::FileInfo& f : d.getCarvedFiles())
                kept += std::to_string(f.getStart()) + ' ';
        } else {
            EXPECT_EQ(ui.asked().size(), 1u) << c.name;
        }
        EXPECT_EQ(kept, c.kept) << c.name;
        EXPECT_THAT(log.text(), HasSubstr(c.log)) << c.name;
    }
}

} // namespace
