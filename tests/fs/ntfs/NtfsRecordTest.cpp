#include "fs/ntfs/NtfsRecord.h"

#include "core/Log.h"
#include "fs/ntfs/NtfsFileParser.h"
#include "fs/ntfs/Runlist.h"
#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

using ntfstest::RecordBuilder;
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
    EXPECT_THROW(NtfsRecordParser(ConstArray(b.data(), 511)), std::runtime_error);
}

TEST(NtfsRecordTest, FixupsApplyAndUndoEachOther) {
    const Bytes raw = RecordBuilder(4).resident(NTFS_ATTR_VOLUME_NAME, std::string(900, 'v')).raw();
    Bytes b = raw;
    ASSERT_TRUE(NtfsRecordParser::applyFixups(arrayOf(b)));
    for (u32 i = 0; i < 4; ++i)
        EXPECT_EQ(arrayOf(b).getLE16(510 + 512 * i), i == 0 ? 0x7676 : 0) << i;
    ASSERT_TRUE(NtfsRecordParser::undoFixups(arrayOf(b)));
    EXPECT_EQ(b, raw);
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
        for (bool apply : {true, false}) {
            EXPECT_FALSE(NtfsRecordParser::fixups(arrayOf(b), apply)) << c.first << ' ' << c.second;
            EXPECT_EQ(b, unchanged);
        }
    }
}

TEST(NtfsRecordTest, TheFileHeaderGivesItsFieldsOrTheFirstBrokenRule) {
    RecordBuilder builder;
    builder.resident(NTFS_ATTR_STANDARD_INFORMATION, std::string(48, '\0'))
        .baseRecord(0x3000000000017);
    const Bytes good = builder.raw();
    FileRecordHeader fh;
    ASSERT_TRUE(NtfsFileRecordParser(viewOf(good)).checkFileHeader(fh));
    EXPECT_EQ(fh.baseRecord, 0x17u);
    EXPECT_EQ(fh.bytesInUse, builder.end() + 8u);
    EXPECT_EQ(NtfsFileRecordParser(viewOf(good)).storedRecordNumber(), 42u);

    struct Case {
        u32 offset, value, width;
        const char* log;
    };
    const Case cases[] = {
        {L::REC_MAGIC, 0x44414142, 4, "NtfsRecordParser(47)\nNtfsFileRecordParser(49)\n"},
        {L::FILE_BYTES_ALLOCATED, 512, 4, "NtfsFileRecordParser(52)\n"},
        {L::FILE_BYTES_IN_USE, 1025, 4, "NtfsFileRecordParser(55)\n"},
        {L::FILE_FIRST_ATTRIBUTE, builder.end() + 8, 2, "NtfsFileRecordParser(58)\n"},
        {L::FILE_FLAGS, 0, 2, ""}, // not in use is no error
    };
    for (const Case& c : cases) {
        Bytes b = good;
        if (c.width == 4)
            arrayOf(b).setLE32(c.offset, c.value);
        else
            arrayOf(b).setLE16(c.offset, static_cast<u16>(c.value));
        LogCapture log;
        EXPECT_EQ(NtfsFileRecordParser(viewOf(b)).checkFileHeader(fh), *c.log == '\0') << c.offset;
        EXPECT_EQ(log.text(), c.log);
    }
    EXPECT_FALSE(fh.inUse);
    Bytes old = good;
    arrayOf(old).setLE16(L::REC_USA_OFFSET, 0x2A);
    EXPECT_EQ(NtfsFileRecordParser(viewOf(old)).storedRecordNumber(), ~u64{0});
}

TEST(NtfsRecordTest, HostileAttributeHeadersAndValuesFailWithTheirRule) {
    struct Case {
        Area area;
        const char* log;
    };
    Area past(32, false, 0);
    arrayOf(past.bytes).setLE32(L::ATTR_LENGTH, 0xFFFFFFF8u); // would wrap a 32-bit sum
    Area flag(32, false, 0);
    flag.bytes[L::ATTR_NON_RESIDENT] = 2;
    Area nameInHeader(40, false, 0);
    nameInHeader.bytes[L::ATTR_NAME_LENGTH] = 2;
    nameInHeader.bytes[L::ATTR_NAME_OFFSET] = 16;
    Area namePast = nameInHeader;
    namePast.bytes[L::ATTR_NAME_OFFSET] = 40;
    const Case headers[] = {
        {Area(0, false, 0), "NtfsFileRecordParser(106)\n"}, // would never move the walk on
        {past, "NtfsFileRecordParser(82)\n"},
        {flag, "NtfsFileRecordParser(96)\n"},
        {Area(48, true, 40), "NtfsFileRecordParser(91)\n"},
        {Area(64, true, 64, 0, 4), "NtfsFileRecordParser(106)\n"}, // no room for 72 bytes
        {nameInHeader, "NtfsFileRecordParser(103)\n"},
        {namePast, "NtfsFileRecordParser(106)\n"},
    };
    for (const Case& c : headers) {
        AttributeHeader h;
        LogCapture log;
        EXPECT_FALSE(c.area.parser().parseHeader(h));
        EXPECT_EQ(log.text(), c.log);
    }
    const Case values[] = {
        {Area(40, false, 16, 8), "NtfsFileRecordParser(116)\n"},
        {Area(40, false, 24, 17), "NtfsFileRecordParser(117)\n"},
        {Area(40, false, 24, 0xFFFFFFFF), "NtfsFileRecordParser(117)\n"},
        {Area(40, false, 24, 16), ""},
        {Area(80, true, 64, 0, 4), "NtfsFileRecordParser(126)\n"},
        {Area(80, true, 80), "NtfsFileRecordParser(127)\n"},
        {Area(80, true, 79), ""},
    };
    for (const Case& c : values) {
        AttributeHeader h;
        ASSERT_TRUE(c.area.parser().parseHeader(h));
        LogCapture log;
        ResidentValue rv;
        NonResidentValue nv;
        EXPECT_EQ(h.resident ? c.area.parser().parseResidentValue(rv, h)
                             : c.area.parser().parseNonResidentValue(nv, h),
                  *c.log == '\0');
        EXPECT_EQ(log.text(), c.log);
    }
}

// libntfs-3g writes a compression unit of 4 on plain sparse files.
TEST(NtfsRecordTest, CompressionIsTheFlagOrAUnitSizeOnAFileThatIsNotSparse) {
    for (u8 unit : {0, 4}) {
        for (u16 flags : {0x0000, 0x0001, 0x0002, 0x8000, 0x8001}) {
            Area area(80, true, 72, 0, unit);
            arrayOf(area.bytes).setLE16(L::ATTR_FLAGS, flags);
            AttributeHeader h;
            NonResidentValue v;
            ASSERT_TRUE(area.parser().parseHeader(h) && area.parser().parseNonResidentValue(v, h));
            EXPECT_EQ(v.compressed, (flags & 0xFF) != 0 || (unit != 0 && flags != 0x8000))
                << int(unit) << ' ' << flags;
        }
    }
}

TEST(NtfsRecordTest, TheSwitchesSilenceTheRecordParsersButNotTheIndexLine) {
    ByteOverride quietRecords(&logNtfsRecordParser, false);
    ByteOverride quietFiles(&logNtfsFileRecordParser, false);
    Bytes b = RecordBuilder().raw();
    arrayOf(b).setLE32(L::REC_MAGIC, 0);
    LogCapture log;
    FileRecordHeader fh;
    EXPECT_FALSE(NtfsFileRecordParser(viewOf(b)).checkFileHeader(fh));
    EXPECT_FALSE(NtfsRecordParser::applyFixups(Array(b.data(), 100)));
    u64 vcn;
    EXPECT_FALSE(NtfsIndexRecordParser(viewOf(b)).checkIndexHeader(vcn));
    EXPECT_EQ(log.text(), "NtfsIndexRecordParser(41)\n");
}

// The system records of every corpus volume, through the engine's own MFT run
// list; then every byte of record 0 set to hostile values: nothing throws and
// every walk ends.
TEST(NtfsRecordTest, RealRecordsParseAndKeepTheirBytes) {
    const char* names[] = {"$MFT",    "$MFTMirr", "$LogFile", "$Volume", "$AttrDef", ".",
                           "$Bitmap", "$Boot",    "$BadClus", "$Secure", "$UpCase",  "$Extend"};
    for (u32 cluster : {512u, 4096u, 65536u}) {
        auto source = ntfstest::openSource(ntfstest::corpus(cluster).image);
        auto drive = source->drive();
        NtfsFileParser parser(*drive);
        ASSERT_TRUE(parser.readMftRunlist(false));
        for (u64 n = 0; n < 12; ++n) {
            Bytes raw(parser.getRecordsCache().getRecordSize());
            ASSERT_TRUE(parser.getRecordsCache().readRawRecord(n, raw.data()));
            Bytes b = raw;
            FileRecordHeader fh;
            ASSERT_TRUE(NtfsFileRecordParser(viewOf(b)).checkFileHeader(fh)) << n;
            EXPECT_EQ(NtfsFileRecordParser(viewOf(b)).storedRecordNumber(), n);
            ASSERT_TRUE(NtfsRecordParser::applyFixups(arrayOf(b)));
            ASSERT_TRUE(NtfsRecordParser::undoFixups(arrayOf(b)));
            EXPECT_EQ(b, raw);
            ASSERT_TRUE(parser.loadFile(n));
            tree::Node node;
            ASSERT_TRUE(parser.buildNode(node) || n == 9 || n == 11) << n;
            if (n != 9 && n != 11) {
                EXPECT_EQ(node.getName(), names[n]);
            }
        }
        if (cluster != 4096)
            continue;
        Bytes zero(parser.getRecordsCache().getRecordSize());
        ASSERT_TRUE(parser.getRecordsCache().readRawRecord(0, zero.data()));
        ByteOverride quietRecords(&logNtfsRecordParser, false);
        ByteOverride quietFiles(&logNtfsFileRecordParser, false);
        for (u32 at = 0; at < zero.size(); ++at) {
            for (int value : {0x00, 0xFF, 0x80, zero[at] ^ 0x01}) {
                Bytes b = zero;
                b[at] = static_cast<u8>(value);
                FileRecordHeader fh;
                NtfsFileRecordParser p(viewOf(b));
                if (!p.checkFileHeader(fh) || !NtfsRecordParser::applyFixups(arrayOf(b)) ||
                    fh.bytesInUse > b.size())
                    continue;
                NtfsAttributeWalk walk(p.attributeArea(fh),
                                       static_cast<u32>(fh.firstAttributeOffset));
                AttributeHeader h;
                u32 steps = 0;
                while (walk.next(h) == NtfsAttributeWalk::ATTRIBUTE && ++steps < 100) {
                    NonResidentValue nv;
                    if (!h.resident && walk.parser().parseNonResidentValue(nv, h)) {
                        RunlistParser runs(nv.compressed, 1000);
                        EXPECT_NO_THROW(runs.parse(walk.parser().mappingPairs(h, nv)));
                    }
                }
                EXPECT_LT(steps, 100u) << at;
            }
        }
    }
}

} // namespace
