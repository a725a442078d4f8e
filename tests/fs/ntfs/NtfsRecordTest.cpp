// FILE records as bytes: their headers, fix-ups and attributes, the dirty-flag
// repair and the dump.

#include "fs/ntfs/NtfsRecord.h"

#include "core/Log.h"
#include "fs/ntfs/NtfsDumps.h"
#include "fs/ntfs/VolumeHelpers.h"
#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

using ntfstest::RecordBuilder;
using ::testing::HasSubstr;
using ::testing::Not;
using testutil::LogCapture;
namespace L = ntfslayout;
using Bytes = std::vector<u8>;

Array arrayOf(Bytes& b) {
    return Array(b.data(), static_cast<u32>(b.size()));
}
ConstArray viewOf(const Bytes& b) {
    return ConstArray(b.data(), static_cast<u32>(b.size()));
}

// One attribute at offset 0 of an area, the end marker after it.
struct Area {
    Bytes bytes;
    Area(u32 length, bool nonResident, u32 field20, u32 field16 = 0, u8 unit = 0)
        : bytes(std::max(length, 24u) + 8, 0) {
        Array a = arrayOf(bytes);
        a.setLE32(L::ATTR_TYPE, nonResident ? NTFS_ATTR_DATA : NTFS_ATTR_FILE_NAME);
        a.setLE32(L::ATTR_LENGTH, length);
        a.setU8(L::ATTR_NON_RESIDENT, nonResident ? 1 : 0);
        if (nonResident) {
            a.setLE16(L::ATTR_RUNLIST_OFFSET, static_cast<u16>(field20));
            a.setU8(L::ATTR_COMPRESSION_UNIT, unit);
        } else {
            a.setLE32(L::ATTR_VALUE_LENGTH, field16);
            a.setLE16(L::ATTR_VALUE_OFFSET, static_cast<u16>(field20));
        }
        a.setLE32(std::max(length, 24u), NTFS_ATTR_END);
    }
    explicit Area(Bytes b) : bytes(std::move(b)) {}
    NtfsAttributeParser parser() const { return NtfsAttributeParser(viewOf(bytes)); }
};

TEST(NtfsRecordTest, OnlyRecordsOfOneTwoFourOrEightSectorsPass) {
    Bytes b = RecordBuilder().raw();
    for (u32 count : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 17u, 0xFFFFu}) {
        arrayOf(b).setLE16(L::REC_USA_COUNT, static_cast<u16>(count));
        NtfsRecordParser p(viewOf(b));
        const bool valid = count == 2 || count == 3 || count == 5 || count == 9;
        EXPECT_EQ(p.checkHeader(NTFS_MAGIC_FILE), valid) << count;
        EXPECT_EQ(p.sectorCount(), valid ? count - 1 : 0u) << count;
    }
}

// Every sector is checked before a byte changes: a torn record keeps its bytes.
TEST(NtfsRecordTest, ATornOrMisplacedUpdateSequenceLeavesTheRecordUntouched) {
    Bytes torn = RecordBuilder(4).raw();
    arrayOf(torn).setLE16(510 + 512 * 2, 0x0004);
    const Bytes before = torn;
    LogCapture log;
    EXPECT_FALSE(NtfsRecordParser::applyFixups(arrayOf(torn)));
    EXPECT_TRUE(log.has("NtfsRecordParser(75): sector 2 tail 4 number 257\n")) << log.text();
    EXPECT_EQ(torn, before);
    // Over the count field; over sector 0's tail; no sectors; a zero count; a
    // record longer than its buffer.
    const std::pair<u16, u16> cases[] = {{4, 5}, {502, 5}, {48, 1}, {48, 0}, {48, 9}};
    for (const auto& c : cases) {
        Bytes b = RecordBuilder(4).raw();
        arrayOf(b).setLE16(L::REC_USA_OFFSET, c.first);
        arrayOf(b).setLE16(L::REC_USA_COUNT, c.second);
        const Bytes unchanged = b;
        u32 count = 0;
        EXPECT_FALSE(NtfsRecordParser::applyFixupsOfTorn(arrayOf(b), count)) << c.first;
        for (bool apply : {true, false}) {
            EXPECT_FALSE(NtfsRecordParser::fixups(arrayOf(b), apply)) << c.first << ' ' << c.second;
            EXPECT_EQ(b, unchanged);
        }
    }
}

// Taken as torn, a record whose sectors do not all end with the update
// sequence number gets every fix-up, the torn sectors are counted, and the
// scan's probe takes it for a FILE record.
TEST(NtfsRecordTest, ATornRecordIsFixedWholeWhenTakenAsTorn) {
    const Bytes whole = RecordBuilder(4).resident(0x80, std::string(1800, 'd')).raw();
    Bytes fixed = whole;
    ASSERT_TRUE(NtfsRecordParser::applyFixups(arrayOf(fixed)));
    for (const std::vector<u32>& sectors : {std::vector<u32>{}, {1}, {0}, {0, 1, 2, 3}}) {
        Bytes torn = whole;
        for (u32 sector : sectors)
            arrayOf(torn).setLE16(510 + 512 * sector, 0x0004);
        NtfsSystemRecordInfo info;
        u16 recordSectors = 0;
        EXPECT_TRUE(probeNtfsFileRecord(torn.data(), 2048, info, recordSectors));
        u32 count = 99;
        ASSERT_TRUE(NtfsRecordParser::applyFixupsOfTorn(arrayOf(torn), count));
        EXPECT_EQ(count, sectors.size());
        EXPECT_EQ(torn, fixed);
    }
}

TEST(NtfsRecordTest, TheFileHeaderFailsWithTheFirstBrokenRule) {
    const std::pair<u32, const char*> cases[] = {
        {L::REC_MAGIC, "NtfsRecordParser(47)\nNtfsFileRecordParser(49)\n"}, // "BAAD"
        {L::FILE_BYTES_ALLOCATED, "NtfsFileRecordParser(52)\n"},            // 512
        {L::FILE_BYTES_IN_USE, "NtfsFileRecordParser(55)\n"},               // 1025
        {L::FILE_FIRST_ATTRIBUTE, "NtfsFileRecordParser(58)\n"},            // the bytes in use
        {L::FILE_FLAGS, ""}, // not in use is no error
    };
    const u16 values[] = {0x4142, 512, 1025, 64, 0};
    for (u32 i = 0; i < 5; ++i) {
        Bytes b = RecordBuilder().raw();
        arrayOf(b).setLE16(cases[i].first, values[i]);
        FileRecordHeader fh;
        LogCapture log;
        EXPECT_EQ(NtfsFileRecordParser(viewOf(b)).checkFileHeader(fh), *cases[i].second == '\0');
        EXPECT_EQ(log.text(), cases[i].second);
        EXPECT_TRUE(i != 4 || !fh.inUse);
    }
}

TEST(NtfsRecordTest, HostileAttributeHeadersAndValuesFailWithTheirRule) {
    Area past(32, false, 0);
    arrayOf(past.bytes).setLE32(L::ATTR_LENGTH, 0xFFFFFFF8u); // would wrap a 32-bit sum
    Area flag(32, false, 0);
    flag.bytes[L::ATTR_NON_RESIDENT] = 2;
    Area nameInHeader(40, false, 0);
    nameInHeader.bytes[L::ATTR_NAME_LENGTH] = 2;
    nameInHeader.bytes[L::ATTR_NAME_OFFSET] = 16;
    Area namePast = nameInHeader;
    namePast.bytes[L::ATTR_NAME_OFFSET] = 40;
    const std::pair<Area, const char*> cases[] = {
        {Area(0, false, 0), "NtfsFileRecordParser(106)\n"}, // would never move the walk on
        {past, "NtfsFileRecordParser(82)\n"},
        {flag, "NtfsFileRecordParser(96)\n"},
        {Area(48, true, 40), "NtfsFileRecordParser(91)\n"},
        {Area(64, true, 64, 0, 4), "NtfsFileRecordParser(106)\n"}, // no room for 72 bytes
        {nameInHeader, "NtfsFileRecordParser(103)\n"},
        {namePast, "NtfsFileRecordParser(106)\n"},
        {Area(40, false, 16, 8), "NtfsFileRecordParser(116)\n"},
        {Area(40, false, 24, 17), "NtfsFileRecordParser(117)\n"},
        {Area(40, false, 24, 0xFFFFFFFF), "NtfsFileRecordParser(117)\n"},
        {Area(40, false, 24, 16), ""},
        {Area(80, true, 64, 0, 4), "NtfsFileRecordParser(126)\n"},
        {Area(80, true, 80), "NtfsFileRecordParser(127)\n"},
        {Area(80, true, 79), ""},
        // Regression, found by the damage sweep: without a name the name offset
        // (0xFFFF here) is never checked, so the name's view must not be taken
        // from it.
        {Area(Bytes{0x30, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0,    0,    0,    0,
                    0,    0, 0, 0, 0,    0, 0, 0, 0, 0, 0,    0,    0, 0, 0xFF, 0xFF, 0xFF, 0xFF}),
         ""},
    };
    for (const auto& c : cases) {
        const NtfsAttributeParser p = c.first.parser();
        AttributeHeader h;
        ResidentValue rv;
        NonResidentValue nv;
        LogCapture log;
        const bool ok = p.parseHeader(h) &&
                        (h.resident ? p.parseResidentValue(rv, h) : p.parseNonResidentValue(nv, h));
        EXPECT_EQ(ok, *c.second == '\0') << c.second;
        EXPECT_EQ(log.text(), c.second);
        EXPECT_TRUE(!ok || p.name(h).length() == 2u * h.nameLength);
    }
}

// Data is in compression units when flagged so, or when a unit is given on
// data not flagged sparse (libntfs-3g gives plain sparse files a unit too).
TEST(NtfsRecordTest, TheFlagsAndTheUnitTellCompressedData) {
    const struct {
        u16 flags;
        u8 unit;
        bool compressed;
    } rows[] = {
        {0, 0, false},
        {0, 4, true},
        {NTFS_ATTR_FLAG_SPARSE, 4, false},
        {NTFS_ATTR_FLAG_COMPRESSED | NTFS_ATTR_FLAG_SPARSE, 4, true},
    };
    for (const auto& r : rows) {
        Area area(80, true, 72, 0, r.unit);
        arrayOf(area.bytes).setLE16(L::ATTR_FLAGS, r.flags);
        const NtfsAttributeParser p = area.parser();
        AttributeHeader h;
        NonResidentValue v;
        ASSERT_TRUE(p.parseHeader(h) && p.parseNonResidentValue(v, h));
        EXPECT_EQ(v.compressed, r.compressed) << r.flags << ' ' << int(r.unit);
    }
}

Bytes volumeRecord(u16 flags) {
    std::string information(12, '\0');
    information[10] = static_cast<char>(flags);
    information[11] = static_cast<char>(flags >> 8);
    return RecordBuilder()
        .resident(NTFS_ATTR_VOLUME_NAME, std::string("v\0", 2))
        .resident(NTFS_ATTR_VOLUME_INFORMATION, information)
        .raw();
}

bool clear(Bytes& record) {
    return clear_NTFS_chkdsk_flag(record.data(), static_cast<u32>(record.size()));
}

// The record goes back to the disk: cleared and protected again, or as it was.
TEST(VolumeHelpersTest, TheDirtyFlagIsClearedAndTheRecordKeepsItsOnDiskForm) {
    Bytes record = volumeRecord(0x8001);
    EXPECT_TRUE(clear(record));
    EXPECT_EQ(record, volumeRecord(0x8000));
    Bytes torn = volumeRecord(1);
    torn[1022] = 0x77;
    Bytes notFile = volumeRecord(1);
    notFile[0] = 'B';
    for (Bytes b : {volumeRecord(0x8000), torn, notFile,
                    RecordBuilder().resident(NTFS_ATTR_VOLUME_INFORMATION, "short").raw()}) {
        const Bytes before = b;
        EXPECT_FALSE(clear(b));
        EXPECT_EQ(b, before);
    }
}

std::string dump(Bytes record) {
    std::ostringstream os;
    dumpNtfsFileRecord(os, record.data(), static_cast<u32>(record.size()));
    return os.str();
}

const Bytes RECORD =
    RecordBuilder()
        .resident(NTFS_ATTR_STANDARD_INFORMATION, std::string(72, '\0'))
        .resident(NTFS_ATTR_ATTRIBUTE_LIST, ntfstest::listEntry(0x10, 0, 0x0002000000000009) +
                                                ntfstest::listEntry(0x80, 0, 11, 20))
        .nonResident(NTFS_ATTR_DATA, {0x21, 0x03, 0x34, 0x12, 0x01, 0x0D, 0x00}, 65536, 0, 4,
                     NTFS_ATTR_FLAG_COMPRESSED)
        .raw();

// The runs of a compressed attribute as a reader meets them, the attribute list
// as the parser found it, up to its bad entry.
TEST(NtfsDumpTest, ARecordShowsWhatTheParsersDecoded) {
    const std::string out = dump(RECORD);
    EXPECT_THAT(out, HasSubstr("--- Entry Offset: 32 ---\n\t\tError: Entry Size\n"));
    EXPECT_THAT(out, HasSubstr("Runlist Offset:\t72\t{4660, 16 (compressed to 3)} 16 clusters\n"));
    EXPECT_THAT(out, Not(HasSubstr("Out Of Range")));
    Bytes torn = RECORD;
    torn[1022] = 0;
    torn[0] = 'B';
    EXPECT_EQ(dump(torn).rfind("Invalid NTFS File Record\nInvalid Update Sequence\n", 0), 0u);
    EXPECT_THAT(dump(Bytes{'F', 0, 0, 0}), HasSubstr("Out Of Range\n"));
}

} // namespace
