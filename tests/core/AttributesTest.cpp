#include "core/Attributes.h"

#include "core/Log.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

using testutil::hexDump;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

TEST(AttributesTest, RecordLayoutIsLengthsKeyValue) {
    Attributes a;
    a.set("t", "abc");
    EXPECT_EQ(hexDump(a.bytes().data(), a.bytes().size()), hexDump("\x01\x03tabc", 6));
    EXPECT_EQ(a.find("t"), 0u);
    EXPECT_EQ(a.get("t", "none"), "abc");
}

TEST(AttributesTest, SettingAgainMovesTheRecordToTheEndOnce) {
    Attributes a;
    a.set("a", "1");
    a.set("b", "2");
    a.set("a", "33");
    EXPECT_EQ(a.bytes(), std::string("\x01\x01"
                                     "b2"
                                     "\x01\x02"
                                     "a33"));
    a.remove("b");
    EXPECT_EQ(a.bytes(), std::string("\x01\x02"
                                     "a33"));
    a.remove("missing");
    EXPECT_EQ(a.bytes(), std::string("\x01\x02"
                                     "a33"));
    a.clear();
    EXPECT_TRUE(a.bytes().empty());
    EXPECT_EQ(a.get("a", "def"), "def");
}

TEST(AttributesTest, KeysAreComparedByLengthAndBytes) {
    Attributes a;
    a.set("name", "x");
    a.set(std::string("na\0me", 5), "y");
    EXPECT_EQ(a.get("nam", "-"), "-");
    EXPECT_EQ(a.get("names", "-"), "-");
    EXPECT_EQ(a.get("name", "-"), "x");
    EXPECT_EQ(a.get(std::string("na\0me", 5), "-"), "y");
}

TEST(AttributesTest, OverlongKeyIsCutLoggedAndCannotBeFoundAgain) {
    Attributes a;
    std::string key(300, 'k');
    std::size_t mark = logMemoryText().size();
    a.set(key, "v");
    EXPECT_EQ(logSince(mark), "Attributes(51): 300\n");
    ASSERT_EQ(a.bytes().size(), 2u + 255u + 1u);
    EXPECT_EQ(static_cast<u8>(a.bytes()[0]), 255);
    EXPECT_EQ(a.find(key), Attributes::NOT_FOUND);
    EXPECT_EQ(a.get(key.substr(0, 255), "-"), "v");
    // The full key never matches the stored one, so setting it again adds a record.
    a.set(key, "w");
    EXPECT_EQ(a.bytes().size(), 2 * (2u + 255u + 1u));
}

TEST(AttributesTest, OverlongValueIsCutAndLogged) {
    Attributes a;
    std::size_t mark = logMemoryText().size();
    a.set("v", std::string(256, 'x'));
    EXPECT_EQ(logSince(mark), "Attributes(55): 256\n");
    EXPECT_EQ(a.get("v", ""), std::string(255, 'x'));
    mark = logMemoryText().size();
    a.set("v", std::string(255, 'y'));
    EXPECT_EQ(logSince(mark), "");
}

TEST(AttributesTest, TypedValuesAreLittleEndianOfFixedWidth) {
    Attributes a;
    a.setUInt8("b", 0xAB);
    a.setUInt32("w", 0x01020304);
    a.setUInt64("HEADS", 0x0102030405060708ull);
    EXPECT_EQ(a.bytes(), std::string("\x01\x01"
                                     "b\xAB"
                                     "\x01\x04"
                                     "w\x04\x03\x02\x01"
                                     "\x05\x08"
                                     "HEADS\x08\x07\x06\x05\x04\x03\x02\x01"));
    EXPECT_EQ(a.getUInt8("b", 0), 0xAB);
    EXPECT_EQ(a.getUInt32("w", 0), 0x01020304u);
    EXPECT_EQ(a.getUInt64("HEADS", 255), 0x0102030405060708ull);
    a.setTime("time", 0xFFFFFFFEu);
    EXPECT_EQ(a.getUInt32("time", 0), 0xFFFFFFFEu);
}

TEST(AttributesTest, TypedGettersTakeOnlyTheExactWidth) {
    Attributes a;
    a.setUInt8("b", 7);
    a.setUInt32("w", 9);
    a.setUInt64("q", 11);
    EXPECT_EQ(a.getUInt32("b", 99), 99u);
    EXPECT_EQ(a.getUInt64("b", 99), 99u);
    EXPECT_EQ(a.get("b", "-"), "\x07");
    EXPECT_EQ(a.getUInt8("w", 99), 99);
    EXPECT_EQ(a.getUInt64("w", 99), 99u);
    EXPECT_EQ(a.getUInt8("q", 99), 99);
    EXPECT_EQ(a.getUInt32("q", 99), 99u);
    EXPECT_EQ(a.getUInt64("missing", 63), 63u);
}

TEST(AttributesTest, EmptyValueIsPresentNotDefault) {
    Attributes a;
    a.set("e", "");
    EXPECT_EQ(a.get("e", "default"), "");
    EXPECT_EQ(a.getUInt8("e", 5), 5);
}

TEST(AttributesTest, DamagedBytesNeverReadPastTheEnd) {
    Attributes a;
    // A good record, then one whose value length runs past the end.
    a.setBytes(std::string("\x01\x01"
                           "a1"
                           "\x01\x09"
                           "bxy",
                           8));
    EXPECT_EQ(a.get("a", "-"), "1");
    EXPECT_EQ(a.get("b", "-"), "-");
    EXPECT_EQ(a.find("c"), Attributes::NOT_FOUND);
    // A lone length byte at the end.
    a.setBytes(std::string("\x01\x01"
                           "a1"
                           "\x05",
                           5));
    EXPECT_EQ(a.find("zzzzz"), Attributes::NOT_FOUND);
    EXPECT_EQ(a.get("a", "-"), "1");
}

TEST(AttributesTest, CopiesAreIndependent) {
    Attributes a;
    a.set("k", "v");
    Attributes b(a);
    b.set("k", "w");
    Attributes c;
    c = b;
    EXPECT_EQ(a.get("k", ""), "v");
    EXPECT_EQ(c.get("k", ""), "w");
}

} // namespace
