#include "fs/ntfs/NtfsRecord.h"

#include "core/Log.h"
#include "core/Ownership.h"
#include "fs/ntfs/Runlist.h"
#include "tests/fs/ntfs/NtfsTestImage.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testutil::hexDump;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

Array arrayOf(std::vector<u8>& b) {
    return Array(b.data(), static_cast<u32>(b.size()));
}
ConstArray viewOf(const std::vector<u8>& b) {
    return ConstArray(b.data(), static_cast<u32>(b.size()));
}

void put16(std::vector<u8>& b, u32 at, u32 v) {
    arrayOf(b).setLE16(at, static_cast<u16>(v));
}
void put32(std::vector<u8>& b, u32 at, u32 v) {
    arrayOf(b).setLE32(at, v);
}
void put64(std::vector<u8>& b, u32 at, u64 v) {
    arrayOf(b).setLE64(at, v);
}

u32 align8(u32 n) {
    return (n + 7) & ~7u;
}

// A FILE record laid out as a formatter writes one: update sequence array at 48
// with the record number at 44, attributes from 56, the end marker, and then the
// sector tails swapped for the update sequence number.
class RecordBuilder {
public:
    explicit RecordBuilder(u32 sectors = 2, u32 number = 42) : bytes_(sectors * 512, 0) {
        put32(bytes_, 0, NTFS_MAGIC_FILE);
        put16(bytes_, 4, 48);
        put16(bytes_, 6, sectors + 1);
        put16(bytes_, 0x10, 7);  // sequence number
        put16(bytes_, 0x14, 56); // first attribute
        put16(bytes_, 0x16, NTFS_RECORD_IN_USE);
        put32(bytes_, 0x1C, sectors * 512);
        put32(bytes_, 44, number);
        // Recognisable true sector tails, to be saved in the array.
        for (u32 i = 0; i < sectors; ++i)
            put16(bytes_, 510 + 512 * i, 0xA0B0 + i);
        end_ = 56;
    }

    RecordBuilder& resident(u32 type, const std::vector<u8>& value, u32 nameUnits = 0) {
        const u32 nameOffset = 24;
        const u32 valueOffset = align8(nameOffset + 2 * nameUnits);
        const u32 length = align8(valueOffset + static_cast<u32>(value.size()));
        const u32 a = begin(type, length, 0, nameUnits, nameOffset);
        put32(bytes_, a + 16, static_cast<u32>(value.size()));
        put16(bytes_, a + 20, valueOffset);
        std::copy(value.begin(), value.end(), bytes_.begin() + a + valueOffset);
        return *this;
    }

    RecordBuilder& nonResident(u32 type, const std::vector<u8>& pairs, u8 unit = 0,
                               u64 dataSize = 4096, u32 nameUnits = 0) {
        const u32 fixed = unit ? 72 : 64;
        const u32 pairsOffset = align8(fixed + 2 * nameUnits);
        const u32 length = align8(pairsOffset + static_cast<u32>(pairs.size()));
        const u32 a = begin(type, length, 1, nameUnits, fixed);
        put64(bytes_, a + 16, 0);
        put64(bytes_, a + 24, 0);
        put16(bytes_, a + 32, pairsOffset);
        bytes_[a + 34] = unit;
        put64(bytes_, a + 40, 8192);
        put64(bytes_, a + 48, dataSize);
        put64(bytes_, a + 56, dataSize / 2);
        std::copy(pairs.begin(), pairs.end(), bytes_.begin() + a + pairsOffset);
        return *this;
    }

    // The record before protection (as read after the fix-ups).
    std::vector<u8> corrected() {
        std::vector<u8> b = bytes_;
        put32(b, end_, NTFS_ATTR_END);
        put32(b, 0x18, end_ + 8);
        return b;
    }
    // As on disk: each sector tail saved in the array and replaced by `number`.
    std::vector<u8> raw(u16 number = 0x0005) {
        std::vector<u8> b = corrected();
        const u32 sectors = static_cast<u32>(b.size() / 512);
        put16(b, 48, number);
        for (u32 i = 0; i < sectors; ++i) {
            put16(b, 50 + 2 * i, arrayOf(b).getLE16(510 + 512 * i));
            put16(b, 510 + 512 * i, number);
        }
        return b;
    }
    u32 end() const { return end_; }

private:
    u32 begin(u32 type, u32 length, u8 nonResident, u32 nameUnits, u32 nameOffset) {
        const u32 a = end_;
        put32(bytes_, a, type);
        put32(bytes_, a + 4, length);
        bytes_[a + 8] = nonResident;
        bytes_[a + 9] = static_cast<u8>(nameUnits);
        put16(bytes_, a + 10, nameOffset);
        for (u32 i = 0; i < nameUnits; ++i)
            put16(bytes_, a + nameOffset + 2 * i, 'A' + i);
        end_ += length;
        return a;
    }

    std::vector<u8> bytes_;
    u32 end_;
};

// A one-attribute area for the header rules: the attribute at 0, the end marker
// after it unless the area is cut.
struct Area {
    std::vector<u8> bytes;
    explicit Area(u32 size) : bytes(size, 0) {}
    NtfsAttributeParser parser() const { return NtfsAttributeParser(viewOf(bytes)); }
};

Area residentArea(u32 length, u32 valueLength, u32 valueOffset) {
    Area area(std::max(length, 24u) + 8);
    put32(area.bytes, 0, NTFS_ATTR_FILE_NAME);
    put32(area.bytes, 4, length);
    put32(area.bytes, 16, valueLength);
    put16(area.bytes, 20, valueOffset);
    put32(area.bytes, std::max(length, 24u), NTFS_ATTR_END);
    return area;
}

Area nonResidentArea(u32 length, u32 pairsOffset, u8 unit) {
    Area area(length + 8);
    put32(area.bytes, 0, NTFS_ATTR_DATA);
    put32(area.bytes, 4, length);
    area.bytes[8] = 1;
    put16(area.bytes, 32, pairsOffset);
    area.bytes[34] = unit;
    put32(area.bytes, length, NTFS_ATTR_END);
    return area;
}

// Parses the header at 0 and returns the log lines it wrote.
std::string headerLog(const Area& area, bool expectOk, AttributeHeader* out = nullptr) {
    AttributeHeader h;
    const std::size_t mark = logMemoryText().size();
    EXPECT_EQ(area.parser().parseHeader(h), expectOk);
    if (out)
        *out = h;
    return logSince(mark);
}

bool parseValue(const NtfsAttributeParser& p, ResidentValue& v, const AttributeHeader& h) {
    return p.parseResidentValue(v, h);
}
bool parseValue(const NtfsAttributeParser& p, NonResidentValue& v, const AttributeHeader& h) {
    return p.parseNonResidentValue(v, h);
}

// Parses the header at 0 and then its value; returns the log lines of the value.
template <typename Value> std::string valueLog(const Area& area, Value& v, bool expectOk) {
    AttributeHeader h;
    EXPECT_TRUE(area.parser().parseHeader(h));
    const std::size_t mark = logMemoryText().size();
    EXPECT_EQ(parseValue(area.parser(), v, h), expectOk);
    return logSince(mark);
}

TEST(NtfsRecordTest, ARecordShorterThanOneSectorIsABrokenInvariant) {
    std::vector<u8> b(511);
    try {
        NtfsRecordParser p(viewOf(b));
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "NtfsRecordParser(41)");
    }
    b.resize(512);
    EXPECT_NO_THROW(NtfsRecordParser p(viewOf(b)));
}

TEST(NtfsRecordTest, OnlyOneTwoFourOrEightSectorsPassTheHeaderCheck) {
    std::vector<u8> b = RecordBuilder().raw();
    for (u32 count : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 17u, 0xFFFFu}) {
        put16(b, 6, count);
        NtfsRecordParser p(viewOf(b));
        const std::size_t mark = logMemoryText().size();
        const bool valid = count == 2 || count == 3 || count == 5 || count == 9;
        EXPECT_EQ(p.checkHeader(NTFS_MAGIC_FILE), valid) << count;
        EXPECT_EQ(p.sectorCount(), valid ? count - 1 : 0u) << count;
        EXPECT_EQ(logSince(mark), valid ? "" : "NtfsRecordParser(53)\n") << count;
    }
}

TEST(NtfsRecordTest, AWrongMagicIsLoggedByEachParserItPasses) {
    std::vector<u8> b = RecordBuilder().raw();
    std::memcpy(b.data(), "BAAD", 4);
    NtfsFileRecordParser file(viewOf(b));
    FileRecordHeader fh;
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(file.checkFileHeader(fh));
    EXPECT_EQ(logSince(mark), "NtfsRecordParser(47)\nNtfsFileRecordParser(49)\n");

    const std::vector<u8> notIndex = RecordBuilder().raw();
    NtfsIndexRecordParser index(viewOf(notIndex));
    u64 vcn = 99;
    mark = logMemoryText().size();
    EXPECT_FALSE(index.checkIndexHeader(vcn));
    EXPECT_EQ(logSince(mark), "NtfsRecordParser(47)\nNtfsIndexRecordParser(41)\n");
    EXPECT_EQ(vcn, 99u);
}

TEST(NtfsRecordTest, FixupsApplyAndUndoEachOther) {
    RecordBuilder builder;
    builder.resident(NTFS_ATTR_STANDARD_INFORMATION, std::vector<u8>(48, 0x11));
    const std::vector<u8> raw = builder.raw(0x0005);
    const std::vector<u8> corrected = builder.corrected();
    std::vector<u8> b = raw;

    NtfsFileRecordParser p(viewOf(b));
    FileRecordHeader fh;
    ASSERT_TRUE(p.checkFileHeader(fh));
    EXPECT_EQ(p.sectorCount(), 2u);
    EXPECT_EQ(p.storedRecordNumber(), 42u);
    ASSERT_TRUE(NtfsRecordParser::applyFixups(arrayOf(b)));
    // The tails are back; the array still holds them and the number.
    std::vector<u8> expected = corrected;
    std::copy(raw.begin() + 48, raw.begin() + 54, expected.begin() + 48);
    EXPECT_EQ(hexDump(b.data(), b.size()), hexDump(expected.data(), expected.size()));

    ASSERT_TRUE(NtfsRecordParser::undoFixups(arrayOf(b)));
    EXPECT_EQ(hexDump(b.data(), b.size()), hexDump(raw.data(), raw.size()));
}

TEST(NtfsRecordTest, UndoingProtectsACorrectedRecordWithItsOwnNumber) {
    RecordBuilder builder;
    std::vector<u8> b = builder.corrected();
    put16(b, 48, 0x0102);
    ASSERT_TRUE(NtfsRecordParser::undoFixups(arrayOf(b)));
    EXPECT_EQ(arrayOf(b).getLE16(510), 0x0102);
    EXPECT_EQ(arrayOf(b).getLE16(1022), 0x0102);
    EXPECT_EQ(arrayOf(b).getLE16(50), 0xA0B0);
    EXPECT_EQ(arrayOf(b).getLE16(52), 0xA0B1);
}

TEST(NtfsRecordTest, ATwoSectorRecordInAOneSectorBufferFailsUntouched) {
    std::vector<u8> whole = RecordBuilder().raw();
    std::vector<u8> b(whole.begin(), whole.begin() + 512);
    const std::vector<u8> before = b;
    NtfsFileRecordParser p(viewOf(b));
    FileRecordHeader fh;
    EXPECT_TRUE(p.checkFileHeader(fh));
    for (bool apply : {true, false}) {
        const std::size_t mark = logMemoryText().size();
        EXPECT_FALSE(NtfsRecordParser::fixups(arrayOf(b), apply));
        EXPECT_EQ(logSince(mark), "NtfsRecordParser(72)\n");
        EXPECT_EQ(b, before);
    }
}

TEST(NtfsRecordTest, ATornRecordIsRefusedBeforeAnyByteChanges) {
    std::vector<u8> b = RecordBuilder(4).raw(0x0005);
    put16(b, 510 + 512 * 2, 0x0004); // sector 2 was written with an older number
    const std::vector<u8> before = b;
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(NtfsRecordParser::applyFixups(arrayOf(b)));
    EXPECT_NE(logSince(mark).find(": sector 2 tail 4 number 5\n"), std::string::npos);
    EXPECT_EQ(b, before);
}

TEST(NtfsRecordTest, AnUpdateSequenceArrayInTheWrongPlaceIsRefused) {
    struct Case {
        u32 offset;
        u32 count;
    };
    // Over the count field; over sector 0's tail; no sectors; a zero count.
    for (Case c : {Case{4, 3}, Case{502, 5}, Case{48, 1}, Case{48, 0}}) {
        std::vector<u8> b = RecordBuilder(4).raw();
        put16(b, 4, c.offset);
        put16(b, 6, c.count);
        const std::vector<u8> before = b;
        for (bool apply : {true, false}) {
            const std::size_t mark = logMemoryText().size();
            EXPECT_FALSE(NtfsRecordParser::fixups(arrayOf(b), apply)) << c.offset << ' ' << c.count;
            EXPECT_NE(logSince(mark), "");
            EXPECT_EQ(b, before);
        }
    }
    // The array may end right before sector 0's tail.
    std::vector<u8> b = RecordBuilder(4).raw();
    const std::vector<u8> array(b.begin() + 48, b.begin() + 58);
    std::copy(array.begin(), array.end(), b.begin() + 500);
    put16(b, 4, 500);
    EXPECT_TRUE(NtfsRecordParser::applyFixups(arrayOf(b)));
    EXPECT_EQ(arrayOf(b).getLE16(510 + 512 * 3), 0xA0B3);
}

TEST(NtfsRecordTest, TheFileHeaderGivesItsFieldsOrTheFirstBrokenRule) {
    RecordBuilder builder;
    builder.resident(NTFS_ATTR_STANDARD_INFORMATION, std::vector<u8>(48));
    std::vector<u8> good = builder.raw();
    put64(good, 0x20, 0x0003000000000017ull); // base reference with sequence 3
    put16(good, 0x16, NTFS_RECORD_IN_USE | NTFS_RECORD_DIRECTORY);

    NtfsFileRecordParser p(viewOf(good));
    FileRecordHeader fh;
    ASSERT_TRUE(p.checkFileHeader(fh));
    EXPECT_TRUE(fh.inUse);
    EXPECT_EQ(fh.flags, NTFS_RECORD_IN_USE | NTFS_RECORD_DIRECTORY);
    EXPECT_EQ(fh.baseRecord, 0x17u);
    EXPECT_EQ(fh.bytesInUse, builder.end() + 8u);
    EXPECT_EQ(fh.firstAttributeOffset, 56u);
    EXPECT_EQ(fh.sequenceNumber, 7u);

    struct Case {
        u32 offset;
        u32 value;
        bool wide;
        const char* log;
    };
    const Case cases[] = {
        {0x1C, 512, true, "NtfsFileRecordParser(52)\n"},  // allocated is not 2 sectors
        {0x18, 1025, true, "NtfsFileRecordParser(55)\n"}, // in use beyond allocated
        {0x14, builder.end() + 8, false, "NtfsFileRecordParser(58)\n"}, // first at in-use end
        {0x16, 0, false, ""},                                           // not in use is no error
    };
    for (const Case& c : cases) {
        std::vector<u8> b = good;
        if (c.wide)
            put32(b, c.offset, c.value);
        else
            put16(b, c.offset, c.value);
        NtfsFileRecordParser bad(viewOf(b));
        const std::size_t mark = logMemoryText().size();
        EXPECT_EQ(bad.checkFileHeader(fh), *c.log == '\0') << c.offset;
        EXPECT_EQ(logSince(mark), c.log);
    }
    EXPECT_FALSE(fh.inUse);

    // The record number is only there when the array sits at 48.
    std::vector<u8> old = good;
    put16(old, 4, 0x2A);
    EXPECT_EQ(NtfsFileRecordParser(viewOf(old)).storedRecordNumber(), ~u64{0});
    EXPECT_EQ(ntfsRecordNumber(0xFFFF123456789ABCull), 0x123456789ABCull);
}

TEST(NtfsRecordTest, TheWalkVisitsEachAttributeThenEndsAtTheMarker) {
    const std::vector<u8> pairs = {0x21, 0x10, 0x00, 0x01, 0x00};
    RecordBuilder builder;
    builder.resident(NTFS_ATTR_STANDARD_INFORMATION, std::vector<u8>(72, 0x5A))
        .resident(NTFS_ATTR_INDEX_ROOT, std::vector<u8>(32, 0x33), 4)
        .nonResident(NTFS_ATTR_DATA, pairs, 4, 70000)
        .nonResident(NTFS_ATTR_DATA, pairs, 0, 100, 3);
    std::vector<u8> b = builder.raw();

    std::vector<AttributeHeader> seen;
    ASSERT_TRUE(ntfstest::walkRecord(
        b, [&](const NtfsAttributeParser& p, const AttributeHeader& h, const FileRecordHeader&) {
            seen.push_back(h);
            if (h.resident) {
                ResidentValue v;
                ASSERT_TRUE(p.parseResidentValue(v, h));
                EXPECT_EQ(p.value(h, v).getU8(0), h.type == NTFS_ATTR_INDEX_ROOT ? 0x33 : 0x5A);
                NonResidentValue nv;
                EXPECT_FALSE(p.parseNonResidentValue(nv, h));
            } else {
                NonResidentValue v;
                ASSERT_TRUE(p.parseNonResidentValue(v, h));
                const ConstArray run = p.mappingPairs(h, v);
                EXPECT_EQ(hexDump(run.data(), pairs.size()), hexDump(pairs.data(), pairs.size()));
                EXPECT_EQ(v.runlistLength, h.length - v.runlistOffset);
                EXPECT_EQ(v.initializedSize, v.dataSize / 2);
                EXPECT_EQ(v.allocatedSize, 8192u);
            }
        }));
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].offset, 56u);
    EXPECT_EQ(seen[0].headerSize, 24u);
    EXPECT_EQ(seen[1].nameLength, 4u);
    EXPECT_EQ(seen[1].headerSize, 24u + 8u);
    // A compression unit makes the non-resident header 72 bytes long.
    EXPECT_FALSE(seen[2].resident);
    EXPECT_EQ(seen[2].headerSize, 72u);
    EXPECT_EQ(seen[3].headerSize, 64u + 6u);
    EXPECT_EQ(seen[1].offset, seen[0].offset + seen[0].length);
}

TEST(NtfsRecordTest, CompressionIsTheFlagOrAUnitSizeOnAFileThatIsNotSparse) {
    for (u8 unit : {0, 4}) {
        for (u16 flags : {0x0000, 0x0001, 0x0002, 0x8000, 0x8001}) {
            Area area = nonResidentArea(80, 72, unit);
            put16(area.bytes, 12, flags);
            AttributeHeader h;
            ASSERT_TRUE(area.parser().parseHeader(h));
            NonResidentValue v;
            ASSERT_TRUE(area.parser().parseNonResidentValue(v, h));
            const bool sparseOnly = flags == 0x8000;
            EXPECT_EQ(v.compressed, (flags & 0xFF) != 0 || (unit != 0 && !sparseOnly))
                << int(unit) << ' ' << flags;
            EXPECT_EQ(v.compressionUnit, unit);
            EXPECT_EQ(h.flags, flags);
        }
    }
}

TEST(NtfsRecordTest, TheMarkerInTheLastFourBytesEndsTheWalkAndNoMarkerFailsIt) {
    RecordBuilder builder;
    builder.resident(NTFS_ATTR_STANDARD_INFORMATION, std::vector<u8>(48));
    std::vector<u8> b = builder.corrected();
    const u32 marker = builder.end();

    NtfsAttributeWalk exact(ConstArray(b.data(), marker + 4), 56);
    AttributeHeader h;
    EXPECT_EQ(exact.next(h), NtfsAttributeWalk::ATTRIBUTE);
    EXPECT_EQ(exact.next(h), NtfsAttributeWalk::END);
    EXPECT_EQ(exact.next(h), NtfsAttributeWalk::END);

    // The area ends where the marker would begin.
    NtfsAttributeWalk cut(ConstArray(b.data(), marker), 56);
    EXPECT_EQ(cut.next(h), NtfsAttributeWalk::ATTRIBUTE);
    const std::size_t mark = logMemoryText().size();
    EXPECT_EQ(cut.next(h), NtfsAttributeWalk::INVALID);
    EXPECT_EQ(logSince(mark), "NtfsFileRecordParser(75)\n");
    EXPECT_EQ(cut.next(h), NtfsAttributeWalk::INVALID);
}

TEST(NtfsRecordTest, HostileAttributeHeadersFailWithTheirRule) {
    // Fewer than 24 bytes for a header that is not the marker.
    Area shortArea(20);
    put32(shortArea.bytes, 0, NTFS_ATTR_DATA);
    EXPECT_EQ(headerLog(shortArea, false), "NtfsFileRecordParser(80)\n");

    // Length 0 would never move the walk on.
    EXPECT_EQ(headerLog(residentArea(0, 0, 0), false), "NtfsFileRecordParser(106)\n");
    // Length 23: shorter than the resident header.
    EXPECT_EQ(headerLog(residentArea(23, 0, 0), false), "NtfsFileRecordParser(106)\n");

    Area past = residentArea(32, 0, 0);
    put32(past.bytes, 4, 41); // area is 40 bytes
    EXPECT_EQ(headerLog(past, false), "NtfsFileRecordParser(82)\n");
    put32(past.bytes, 4, 0xFFFFFFF8u); // would wrap a 32-bit sum
    EXPECT_EQ(headerLog(past, false), "NtfsFileRecordParser(82)\n");

    Area flag = residentArea(32, 0, 0);
    flag.bytes[8] = 2;
    EXPECT_EQ(headerLog(flag, false), "NtfsFileRecordParser(96)\n");

    // Non-resident in 48 bytes: no room for its header.
    EXPECT_EQ(headerLog(nonResidentArea(48, 40, 0), false), "NtfsFileRecordParser(91)\n");
    // 64 bytes hold the plain header but not the compressed one.
    EXPECT_EQ(headerLog(nonResidentArea(64, 64, 4), false), "NtfsFileRecordParser(106)\n");

    // A name inside the fixed header, and a name running past the attribute.
    Area name = residentArea(40, 0, 0);
    name.bytes[9] = 2;
    put16(name.bytes, 10, 16);
    EXPECT_EQ(headerLog(name, false), "NtfsFileRecordParser(103)\n");
    put16(name.bytes, 10, 40);
    EXPECT_EQ(headerLog(name, false), "NtfsFileRecordParser(106)\n");
    put16(name.bytes, 10, 36);
    AttributeHeader h;
    EXPECT_EQ(headerLog(name, true, &h), "");
    EXPECT_EQ(h.headerSize, 40u);
    EXPECT_EQ(hexDump(name.parser().name(h).data(), 4), hexDump(name.bytes.data() + 36, 4));
}

// Found by the damage sweep: without a name the name offset is never checked,
// so the name's view must not be taken from it.
TEST(NtfsRecordTest, AnAttributeWithoutANameMayCarryAnyNameOffset) {
    Area area = residentArea(32, 0, 0);
    put16(area.bytes, 10, 0xFFFF);
    AttributeHeader h;
    ASSERT_TRUE(area.parser().parseHeader(h));
    EXPECT_EQ(area.parser().name(h).length(), 0u);
}

TEST(NtfsRecordTest, ResidentValuesMustLieBehindTheHeaderInsideTheAttribute) {
    AttributeHeader h;
    ResidentValue v;
    // An empty value is not looked for: its offset may be anything.
    Area empty = residentArea(24, 0, 0xFFFF);
    ASSERT_TRUE(empty.parser().parseHeader(h));
    EXPECT_TRUE(empty.parser().parseResidentValue(v, h));
    EXPECT_EQ(v.valueLength, 0u);
    EXPECT_EQ(empty.parser().value(h, v).length(), 0u);

    struct Case {
        u32 length;
        u32 valueOffset;
        const char* log;
    };
    const Case cases[] = {
        {8, 16, "NtfsFileRecordParser(116)\n"},
        {17, 24, "NtfsFileRecordParser(117)\n"},
        {0xFFFFFFFFu, 24, "NtfsFileRecordParser(117)\n"},
        {16, 24, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(valueLog(residentArea(40, c.length, c.valueOffset), v, *c.log == '\0'), c.log)
            << c.length;
}

TEST(NtfsRecordTest, MappingPairsMustLieBehindTheHeaderInsideTheAttribute) {
    NonResidentValue v;
    const struct {
        u32 pairsOffset;
        u8 unit;
        const char* log;
    } cases[] = {
        {64, 4, "NtfsFileRecordParser(126)\n"}, // inside the 72-byte header
        {80, 0, "NtfsFileRecordParser(127)\n"}, // not one byte left
        {79, 0, ""},
        {72, 4, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(valueLog(nonResidentArea(80, c.pairsOffset, c.unit), v, *c.log == '\0'), c.log)
            << c.pairsOffset;
    EXPECT_EQ(v.runlistLength, 8u);
    // A value of the other kind is refused.
    ResidentValue rv;
    EXPECT_NE(valueLog(nonResidentArea(80, 72, 0), rv, false), "");
}

TEST(NtfsRecordTest, TheSwitchesSilenceTheRecordParsersButNotTheIndexLine) {
    {
        ByteOverride quietRecords(&logNtfsRecordParser, false);
        ByteOverride quietFiles(&logNtfsFileRecordParser, false);
        std::vector<u8> b = RecordBuilder().raw();
        std::memcpy(b.data(), "XXXX", 4);
        const std::size_t mark = logMemoryText().size();
        FileRecordHeader fh;
        EXPECT_FALSE(NtfsFileRecordParser(viewOf(b)).checkFileHeader(fh));
        EXPECT_FALSE(NtfsRecordParser::applyFixups(Array(b.data(), 100)));
        EXPECT_EQ(headerLog(residentArea(0, 0, 0), false), "");
        u64 vcn;
        EXPECT_FALSE(NtfsIndexRecordParser(viewOf(b)).checkIndexHeader(vcn));
        EXPECT_EQ(logSince(mark), "NtfsIndexRecordParser(41)\n");
    }
    EXPECT_TRUE(logNtfsRecordParser);
    EXPECT_TRUE(logNtfsFileRecordParser);
}

// A 4096-byte index block that claims `vcn` and takes its fix-ups.
void expectIndexBlock(std::vector<u8>& block, u64 vcn) {
    NtfsIndexRecordParser p(viewOf(block));
    u64 claimed = ~vcn;
    ASSERT_TRUE(p.checkIndexHeader(claimed));
    EXPECT_EQ(claimed, vcn);
    EXPECT_EQ(p.sectorCount(), 8u);
    EXPECT_TRUE(NtfsRecordParser::applyFixups(arrayOf(block)));
}

TEST(NtfsRecordTest, AnIndexBlockGivesTheVcnItClaims) {
    std::vector<u8> b(4096, 0);
    put32(b, 0, NTFS_MAGIC_INDX);
    put16(b, 4, 40);
    put16(b, 6, 9);
    put64(b, 16, 0x123456789ull);
    expectIndexBlock(b, 0x123456789ull);
}

// Every step of the parse on a damaged record: one byte of a real record set to
// a hostile value at a time. Nothing may throw, and every walk ends.
void damageSweep(const std::vector<u8>& raw) {
    ByteOverride quietRecords(&logNtfsRecordParser, false);
    ByteOverride quietFiles(&logNtfsFileRecordParser, false);
    for (u32 at = 0; at < raw.size(); ++at) {
        for (int value : {0x00, 0xFF, 0x80, raw[at] ^ 0x01}) {
            std::vector<u8> b = raw;
            b[at] = static_cast<u8>(value);
            std::size_t steps = 0;
            EXPECT_NO_THROW(ntfstest::walkRecord(b, [&](const NtfsAttributeParser& p,
                                                        const AttributeHeader& h,
                                                        const FileRecordHeader&) {
                ++steps;
                ResidentValue rv;
                NonResidentValue nv;
                if (h.resident && p.parseResidentValue(rv, h))
                    p.value(h, rv);
                if (!h.resident && p.parseNonResidentValue(nv, h)) {
                    RunlistParser runs(nv.compressed, 1000);
                    if (runs.parse(p.mappingPairs(h, nv)))
                        runs.finish();
                }
                p.name(h);
                p.attribute(h);
            })) << at;
            EXPECT_LE(steps, raw.size() / 24) << at;
        }
    }
}

class NtfsRealRecordTest : public ::testing::TestWithParam<u32> {};

TEST_P(NtfsRealRecordTest, MkntfsRecordsParseAndKeepTheirBytes) {
    testutil::TempDir dir;
    const std::string image = dir.file("v.img");
    ASSERT_TRUE(ntfstest::makeVolume(image, 24u << 20, GetParam(), false));
    ntfstest::Image volume(image);

    // Our run list of the MFT agrees with ntfsinfo's.
    std::vector<ntfstest::InfoRun> info;
    ASSERT_TRUE(ntfstest::infoRunlist(image, "$MFT", info));
    EXPECT_EQ(ntfstest::vcnMapOf(volume.mftRunlist()), ntfstest::vcnMapOf(info));

    const char* names[] = {"$MFT",    "$MFTMirr", "$LogFile", "$Volume", "$AttrDef", ".",
                           "$Bitmap", "$Boot",    "$BadClus", "$Secure", "$UpCase",  "$Extend"};
    for (u64 n = 0; n < 12; ++n) {
        SCOPED_TRACE(n);
        const std::vector<u8> raw = volume.rawRecord(n);
        std::vector<u8> b = raw;
        NtfsFileRecordParser p(viewOf(b));
        FileRecordHeader fh;
        ASSERT_TRUE(p.checkFileHeader(fh));
        EXPECT_TRUE(fh.inUse);
        EXPECT_EQ(fh.baseRecord, 0u);
        EXPECT_EQ(p.storedRecordNumber(), n);
        ASSERT_TRUE(NtfsRecordParser::applyFixups(arrayOf(b)));
        ASSERT_TRUE(NtfsRecordParser::undoFixups(arrayOf(b)));
        EXPECT_EQ(b, raw);

        std::string name;
        ASSERT_TRUE(ntfstest::walkRecord(b, [&](const NtfsAttributeParser& ap,
                                                const AttributeHeader& h, const FileRecordHeader&) {
            ResidentValue v;
            if (h.type == NTFS_ATTR_FILE_NAME && ap.parseResidentValue(v, h)) {
                const ConstArray value = ap.value(h, v);
                for (u32 i = 0; i < value.getU8(64); ++i)
                    name += static_cast<char>(value.getLE16(66 + 2 * i));
            }
        }));
        EXPECT_EQ(name, names[n]);
    }
    damageSweep(volume.rawRecord(0));
}

TEST_P(NtfsRealRecordTest, TheRootFolderIndexBlockPassesTheIndexCheck) {
    testutil::TempDir dir;
    const std::string image = dir.file("v.img");
    ASSERT_TRUE(ntfstest::makeVolume(image, 24u << 20, GetParam(), false));
    ntfstest::Image volume(image);

    std::vector<u8> root = volume.rawRecord(5);
    Runlist runs;
    ASSERT_TRUE(ntfstest::walkRecord(
        root, [&](const NtfsAttributeParser& p, const AttributeHeader& h, const FileRecordHeader&) {
            NonResidentValue v;
            if (h.type == NTFS_ATTR_INDEX_ALLOCATION && p.parseNonResidentValue(v, h)) {
                RunlistParser parser(v.compressed, volume.bytes().size() / volume.clusterSize());
                ASSERT_TRUE(parser.parse(p.mappingPairs(h, v)));
                ASSERT_TRUE(parser.finish());
                runs = parser.getRunlist();
            }
        }));
    ASSERT_FALSE(runs.empty());
    std::vector<u8> block = volume.readMapped(ntfstest::vcnMapOf(runs), 0, 4096);
    expectIndexBlock(block, 0);
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, NtfsRealRecordTest, ::testing::Values(512u, 4096u, 65536u));

} // namespace
