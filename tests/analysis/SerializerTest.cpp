// The saved scan: the stream's exact bytes, escaped integers, a round trip of
// every list, and a loader that takes any damaged or hostile file without
// crashing, without sizing anything by it, and without touching the current
// scan.

#include "analysis/Serializer.h"
#include "analysis/Unserializer.h"

#include "analysis/DriveDescr.h"
#include "core/CompressedFile.h"
#include "core/Log.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testing::HasSubstr;
using testutil::hexDump;
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

bool read(const std::string& stream, DriveDescr& d, FrTreeInterface* ui) {
    return readScan(reinterpret_cast<const u8*>(stream.data()), static_cast<u32>(stream.size()), d,
                    ui);
}

// Every find, run, carved file and the range, one line each.
std::string dump(const DriveDescr& d) {
    std::ostringstream os;
    const ScanRange& range = d.getScanRange();
    os << "range " << range.getDriveId() << ' ' << range.getFirst() << ' ' << range.getSecond()
       << '\n';
    const ScanResults& r = d.getScanResults();
    for (const auto& t : r.partitionTables) {
        os << "table " << t.lba;
        for (const auto& e : t.entries)
            os << ' ' << int(e.type) << '/' << e.startLba << '/' << e.sectorCount;
        os << '\n';
    }
    for (const auto& b : r.bootSectors)
        os << "boot " << b.lba << ' ' << b.params.kind << '\n' << b.params << '\n';
    for (const auto& f : r.fatSectors)
        os << "fat " << f.lba << ' ' << f.fatType << '\n';
    for (const auto& x : r.directoryRuns)
        os << "dir " << x.lba << ' ' << x.sectorCount << ' ' << x.startsWithDotEntries << ' '
           << x.lastSlotInUse << ' ' << x.dotCluster << ' ' << x.dotDotCluster << ' '
           << x.highestCluster << '\n';
    for (const auto& s : r.ntfsSystemRecords)
        os << "system " << s.lba << ' ' << s.info.which << ' ' << s.info.lcn << ' ' << s.info.size
           << '\n';
    for (const auto& run : r.ntfsRecordRuns)
        os << "records " << run.lba << ' ' << run.recordSectors << ' ' << run.recordCount << '\n';
    for (const auto& u : r.unreadable.runs())
        os << "unreadable " << u.start << ' ' << u.count << '\n';
    for (const auto& f : d.getCarvedFiles())
        os << "carved " << f.getStart() << ' ' << f.getSize() << ' '
           << hexDump(f.getAttributes().bytes().data(), f.getAttributes().bytes().size());
    return os.str();
}

// A scan with something in every list.
void fill(DriveDescr& d) {
    d.getScanRange().setDriveId("disk-1");
    d.getScanRange().setFirst(0);
    d.getScanRange().setSecond(123456);
    ScanResults& r = d.getScanResults();
    FoundPartitionTable table;
    table.lba = 0;
    table.entries[0] = {0x07, 2048, 40000};
    table.entries[2] = {0x05, 90000, 7};
    r.partitionTables.insert(table);
    FoundBootSector fat;
    fat.lba = 2048;
    fat.params.kind = FS_FAT;
    fat.params.fat = {40000, 4, 40, 4, 512, 0, 116, 84};
    r.bootSectors.insert(fat);
    FoundBootSector ntfs;
    ntfs.lba = 50000;
    ntfs.params.kind = FS_NTFS;
    ntfs.params.ntfs = {32767, 8, 4, 2048, 2};
    r.bootSectors.insert(ntfs);
    r.fatSectors.insert(FoundFatSector{2052, FAT16});
    r.fatSectors.insert(FoundFatSector{2092, FAT16_32});
    r.directoryRuns.insert(FoundDirectoryRun{2132, 32, false, true, 0, 0, 77});
    r.directoryRuns.insert(FoundDirectoryRun{3000, 4, true, false, 9, 0, 12});
    r.ntfsSystemRecords.insert(FoundNtfsSystemRecord{50032, {NTFS_MFT_RECORD, 4, 262144}});
    r.ntfsSystemRecords.insert(FoundNtfsSystemRecord{50034, {NTFS_BITMAP_RECORD, ~0ull, ~0ull}});
    r.ntfsRecordRuns.insert(FoundRecordRun{50032, 2, 64});
    r.unreadable.runs() = {{100, 2}, {0x01020304, 5}};
    cbr::FileInfo jpeg;
    jpeg.setStart(4096 * 512);
    jpeg.setSize(20000);
    jpeg.setType("jpeg");
    jpeg.getAttributes().setUInt32("time", 1600000000);
    cbr::FileInfo big;
    big.setStart(9000 * 512);
    big.setSize(5000000000ull);
    big.setType("mov");
    d.getCarvedFiles() = {jpeg, big};
}

TEST(SerializerTest, AnEmptyScanIsFortySevenBytes) {
    DriveDescr d;
    d.getScanRange().setDriveId("abc");
    const std::string expected = bytesOf({4, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'}) +
                                 std::string(6 * 4 + 4 + 4, '\0');
    const std::string got = streamOf(d);
    EXPECT_EQ(got.size(), 47u);
    EXPECT_EQ(got, expected) << hexDump(got.data(), got.size());
}

TEST(SerializerTest, EscapedIntegersUseTheirShortFieldBelowItsAllOnesValue) {
    std::string out;
    Serializer s(&out);
    s.writeEscapedU16(65535);
    EXPECT_EQ(out, bytesOf({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
    out.clear();
    s.writeEscapedU32(0xFFFFFFFE);
    EXPECT_EQ(out, bytesOf({0xFE, 0xFF, 0xFF, 0xFF}));
    out.clear();
    s.writeEscapedU8(254);
    s.writeEscapedU8(255);
    EXPECT_EQ(out, bytesOf({0xFE, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0}));

    Unserializer u(reinterpret_cast<const u8*>(out.data()), static_cast<u32>(out.size()));
    EXPECT_EQ(u.readEscapedU8(), 254u);
    EXPECT_EQ(u.readEscapedU8(), 255u);
    EXPECT_EQ(u.remaining(), 0u);
    EXPECT_THROW(u.readU8(), std::runtime_error);
}

TEST(SerializerTest, ALargeFileAndALongAttributeTextAreEscaped) {
    DriveDescr d;
    cbr::FileInfo f;
    f.setStart(512);
    f.setSize(5000000000ull);
    f.getAttributes().setBytes(std::string(300, 'x'));
    d.getCarvedFiles() = {f};
    const std::string got = streamOf(d);
    const std::string tail = bytesOf({1, 0, 0, 0}) + bytesOf({0, 2, 0, 0, 0, 0, 0, 0}) +
                             bytesOf({0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xF2, 0x05, 0x2A, 1, 0, 0, 0}) +
                             bytesOf({0xFF, 0x2C, 1, 0, 0, 0, 0, 0, 0}) + std::string(300, 'x');
    ASSERT_GE(got.size(), tail.size());
    EXPECT_EQ(got.substr(got.size() - tail.size()), tail)
        << hexDump(got.data() + got.size() - tail.size(), tail.size());
}

TEST(SerializerTest, ASavedScanLoadsBackEqualAndCountsAsSaved) {
    TempDir dir;
    DriveDescr saved;
    fill(saved);
    saved.setScanSaved(false);
    ScriptedInterface ui;
    ASSERT_TRUE(saveScan(dir.file("Scan.bin").c_str(), saved, &ui));
    EXPECT_TRUE(saved.isScanSaved());

    DriveDescr loaded;
    loaded.getScanRange().setDriveId("disk-1");
    loaded.setScanSaved(false);
    ASSERT_TRUE(loadScan(dir.file("Scan.bin").c_str(), loaded, &ui));
    EXPECT_EQ(dump(loaded), dump(saved));
    EXPECT_TRUE(loaded.isScanSaved());
    EXPECT_FALSE(loaded.hasScan()) << "the caller notes the scan as the source's";
    EXPECT_EQ(loaded.getScanResults().bootSectors.rbegin()->params.ntfs.sectorsPerCluster, 8);
    EXPECT_EQ(loaded.getCarvedFiles()[0].getAttributes().getUInt32("time", 0), 1600000000u);
    EXPECT_TRUE(ui.asked().empty());
}

TEST(SerializerTest, AScanOfAnotherSourceIsLoadedOnlyWhenTheUserSaysYes) {
    DriveDescr saved;
    fill(saved);
    const std::string stream = streamOf(saved);

    DriveDescr current;
    current.getScanRange().setDriveId("disk-2");
    current.getScanRange().setSecond(77);
    current.getCarvedFiles().resize(1);
    const std::string before = dump(current);
    ScriptedInterface ui;
    EXPECT_FALSE(read(stream, current, &ui));
    ASSERT_EQ(ui.asked().size(), 1u);
    EXPECT_EQ(ui.asked()[0].text, "This saved scan is from a different drive.\n(disk-1)\nDo you "
                                  "want to Load the Scan anyway?");
    EXPECT_TRUE(ui.asked()[0].defaultNo);
    EXPECT_EQ(dump(current), before);

    ui.then(0);
    EXPECT_TRUE(read(stream, current, &ui));
    EXPECT_EQ(dump(current), dump(saved));
}

TEST(SerializerTest, TheDriveIdOfAFileIsShownAsTextNotMarkup) {
    DriveDescr saved;
    saved.getScanRange().setDriveId("<b>A & B</b>\xFF");
    DriveDescr current;
    ScriptedInterface ui;
    EXPECT_FALSE(read(streamOf(saved), current, &ui));
    ASSERT_EQ(ui.asked().size(), 1u);
    EXPECT_THAT(ui.asked()[0].text, HasSubstr("\n(<b>A & B</b>\xEF\xBF\xBD)\n"));
}

TEST(SerializerTest, AnotherVersionIsRefusedWithNothingChanged) {
    DriveDescr saved;
    fill(saved);
    std::string stream = streamOf(saved);
    stream[0] = 5;
    DriveDescr current;
    ScriptedInterface ui;
    EXPECT_FALSE(read(stream, current, &ui));
    EXPECT_THAT(logMemoryText(), HasSubstr("DriveDescrFile(190): 5\n"));
    ASSERT_EQ(ui.asked().size(), 1u);
    EXPECT_EQ(ui.asked()[0].text, "Cannot Load Scan");
    EXPECT_EQ(dump(current), dump(DriveDescr()));
}

TEST(SerializerTest, ABlobOfTwelveBytesGivesOneRunAndDisorderedRunsAreSorted) {
    DriveDescr d;
    ASSERT_TRUE(read(streamWithBlob(runsBlob({{9, 3}}) + bytesOf({1, 2, 3, 4})), d, nullptr));
    EXPECT_EQ(d.getScanResults().unreadable.runs(), (SectorRuns{{9, 3}}));

    ASSERT_TRUE(read(streamWithBlob(runsBlob({{50, 5}, {9, 3}, {10, 2}})), d, nullptr));
    EXPECT_EQ(d.getScanResults().unreadable.runs(), (SectorRuns{{9, 3}, {50, 5}}));
}

// Found by the fuzzer: runs said to reach past sector 2^32 came back wrapped
// around to low sectors, out of order and overlapping.
TEST(SerializerTest, RunsReachingPastTheLastScanAddressEndThere) {
    DriveDescr d;
    ASSERT_TRUE(read(streamWithBlob(runsBlob({{0, 1}, {1024, 0xFFFFFFFFu}, {1023, 0xFFFFFFFFu}})),
                     d, nullptr));
    EXPECT_EQ(d.getScanResults().unreadable.runs(),
              (SectorRuns{{0, 1}, {1023, 0xFFFFFFFFu - 1022}}));
}

TEST(SerializerTest, EveryCutOfTheStreamFailsAndChangesNothing) {
    DriveDescr saved;
    fill(saved);
    const std::string stream = streamOf(saved);
    DriveDescr current;
    current.getScanRange().setDriveId("disk-1");
    current.getScanRange().setSecond(5);
    current.getScanResults().fatSectors.insert(FoundFatSector{7, FAT12});
    current.getScanResults().unreadable.runs() = {{1, 1}};
    current.getCarvedFiles().resize(2);
    const std::string before = dump(current);
    for (std::size_t n = 0; n < stream.size(); ++n) {
        ScriptedInterface ui;
        ASSERT_FALSE(read(stream.substr(0, n), current, &ui)) << n;
        ASSERT_EQ(dump(current), before) << n;
        ASSERT_EQ(ui.asked().size(), 1u);
        EXPECT_EQ(ui.asked()[0].text, "Cannot Load Scan");
    }
    EXPECT_THAT(logMemoryText(), HasSubstr("DriveDescrFile(241)\n"));
    EXPECT_TRUE(read(stream, current, nullptr));
}

TEST(SerializerTest, HostileLengthsAndCountsFailWithoutSizingAnything) {
    const std::string& head = HEAD;
    const std::string& lists = EMPTY_LISTS;
    const std::string& noRuns = NOTHING;
    const std::string huge = bytesOf({0, 0, 0, 0, 0, 0, 0, 0x40});
    std::vector<std::string> streams = {
        // A drive id of 2^62 bytes.
        bytesOf({4, 0, 0xFF, 0xFF}) + huge + std::string(8, '\0'),
        // Four billion partition tables.
        head + bytesOf({0xFF, 0xFF, 0xFF, 0xFF}) + std::string(40, '\0'),
        // An unreadable blob of 4 GiB.
        head + lists + bytesOf({0xFF, 0xFF, 0xFF, 0xFF}) + std::string(16, '\0'),
        // 2^62 carved files.
        head + lists + noRuns + bytesOf({0xFF, 0xFF, 0xFF, 0xFF}) + huge + std::string(13, '\0'),
        // A carved file with an attribute text of 2^62 bytes.
        head + lists + noRuns + bytesOf({1, 0, 0, 0}) + std::string(8, '\0') +
            bytesOf({5, 0, 0, 0, 0xFF}) + huge,
        // A carved file that would end past 2^64 bytes.
        head + lists + noRuns + bytesOf({1, 0, 0, 0}) + std::string(8, '\xFF') +
            bytesOf({5, 0, 0, 0, 0}),
        // A run of NTFS records of no sectors, and one of no records.
        head + std::string(5 * 4, '\0') + bytesOf({1, 0, 0, 0, 9, 0, 0, 0, 0, 0, 1, 0, 0, 0}) +
            noRuns + noRuns,
        head + std::string(5 * 4, '\0') + bytesOf({1, 0, 0, 0, 9, 0, 0, 0, 2, 0, 0, 0, 0, 0}) +
            noRuns + noRuns,
        // A directory run of no sectors.
        head + std::string(3 * 4, '\0') + bytesOf({1, 0, 0, 0}) + std::string(22, '\0') +
            std::string(2 * 4, '\0') + noRuns + noRuns,
    };
    for (std::size_t i = 0; i < streams.size(); ++i) {
        DriveDescr d;
        EXPECT_FALSE(read(streams[i], d, nullptr)) << i;
        EXPECT_EQ(dump(d), dump(DriveDescr())) << i;
    }
}

TEST(SerializerTest, RandomDamageNeverCrashes) {
    DriveDescr saved;
    fill(saved);
    const std::string stream = streamOf(saved);
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string damaged = stream;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < flips; ++f)
            damaged[random() % damaged.size()] = static_cast<char>(random());
        DriveDescr d;
        d.getScanRange().setDriveId("disk-1");
        if (read(damaged, d, nullptr)) {
            // What loads is what the lists promise: in order, runs sorted and apart.
            const SectorRuns& runs = d.getScanResults().unreadable.runs();
            for (std::size_t i = 1; i < runs.size(); ++i)
                EXPECT_LE(runs[i - 1].end(), runs[i].start);
            const auto& files = d.getCarvedFiles();
            for (std::size_t i = 1; i < files.size(); ++i)
                EXPECT_LE(files[i - 1].getStart(), files[i].getStart());
        }
    }
}

TEST(SerializerTest, AFileThatCannotBeReadOrWrittenFailsWithItsBox) {
    TempDir dir;
    DriveDescr d;
    ScriptedInterface ui;
    EXPECT_FALSE(loadScan(dir.file("missing.bin").c_str(), d, &ui));
    testutil::writeAll(dir.file("garbage.bin"), "not a compressed file at all");
    EXPECT_FALSE(loadScan(dir.file("garbage.bin").c_str(), d, &ui));
    EXPECT_THAT(logMemoryText(), HasSubstr("DriveDescrFile(256)\n"));

    d.setScanSaved(false);
    EXPECT_FALSE(saveScan(dir.file("no/such/folder/Scan.bin").c_str(), d, &ui));
    EXPECT_FALSE(d.isScanSaved());
    ASSERT_EQ(ui.asked().size(), 3u);
    EXPECT_EQ(ui.asked()[0].text, "Cannot Load Scan");
    EXPECT_EQ(ui.asked()[1].text, "Cannot Load Scan");
    EXPECT_EQ(ui.asked()[2].text, "Cannot Save Scan");
}

TEST(SerializerTest, AStreamThatFailsInsideTheFileLogsTheLoadFailure) {
    TempDir dir;
    const std::string stream = bytesOf({4, 0, 0, 0});
    ASSERT_TRUE(saveCompressedFile(dir.file("cut.bin").c_str(),
                                   reinterpret_cast<const u8*>(stream.data()), stream.size()));
    DriveDescr d;
    ScriptedInterface ui;
    EXPECT_FALSE(loadScan(dir.file("cut.bin").c_str(), d, &ui));
    EXPECT_THAT(logMemoryText(), HasSubstr("DriveDescrFile(261)\n"));
}

} // namespace
