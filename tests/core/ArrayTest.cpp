#include "core/Array.h"

#include <gtest/gtest.h>

#include <string>

namespace {

template <typename F> std::string thrownText(F f) {
    try {
        f();
    } catch (const std::out_of_range& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

TEST(ArrayTest, ConstViewChecksEveryAccess) {
    const u8 bytes[] = {1, 2, 3, 4};
    ConstArray a(bytes, 4);
    EXPECT_EQ(a.getLE32(0), 0x04030201u);
    EXPECT_EQ(thrownText([&] { a.getLE32(1); }), "Array(392)");
    EXPECT_EQ(thrownText([&] { a.getU8(4); }), "Array(392)");
    EXPECT_EQ(a.getBE32(0), 0x01020304u);
    EXPECT_EQ(a.getBE16(2), 0x0304u);
    EXPECT_NO_THROW(a.check(4, 0));
    EXPECT_EQ(thrownText([&] { a.check(5, 0); }), "Array(392)");
}

TEST(ArrayTest, WritableViewHasItsOwnTexts) {
    u8 bytes[4] = {};
    Array a(bytes, 4);
    EXPECT_EQ(thrownText([&] { a.setLE32(1, 0); }), "Array(47)");
    EXPECT_EQ(thrownText([&] { Array(a, 2, 3); }), "Array(23)");
    EXPECT_EQ(thrownText([&] { Array(a, 4); }), "Array(15)");
    // A failed check touches nothing.
    EXPECT_EQ(bytes[1], 0);
}

TEST(ArrayTest, SubAndTailViews) {
    const u8 bytes[] = {10, 11, 12, 13, 14};
    ConstArray a(bytes, 5);
    ConstArray sub(a, 2, 3);
    EXPECT_EQ(sub.length(), 3u);
    EXPECT_EQ(sub.getU8(0), 12);
    EXPECT_EQ(thrownText([&] { ConstArray(a, 2, 4); }), "Array(283)");
    ConstArray tail(a, 4);
    EXPECT_EQ(tail.length(), 1u);
    EXPECT_EQ(tail.getU8(0), 14);
    EXPECT_EQ(thrownText([&] { ConstArray(a, 5); }), "Array(275)");
}

TEST(ArrayTest, OffsetsThatWrapAreRefused) {
    const u8 bytes[8] = {};
    ConstArray a(bytes, 8);
    EXPECT_EQ(thrownText([&] { a.check(0xFFFFFFFFu, 2); }), "Array(392)");
    EXPECT_EQ(thrownText([&] { a.getLE16(0xFFFFFFFFu); }), "Array(392)");
    EXPECT_EQ(thrownText([&] { ConstArray(a, 0xFFFFFFF0u, 0x20); }), "Array(283)");
    EXPECT_EQ(thrownText([&] { a.check(0xFFFFFFFFFFFFFFFFull, 1); }), "Array(392)");
}

TEST(ArrayTest, BigEndianOfAnyWidth) {
    u8 bytes[8] = {1, 2, 3};
    Array a(bytes, 8);
    EXPECT_EQ(a.getBE(3, 0), 66051u);
    a.setBE(3, 4, 66051);
    EXPECT_EQ(bytes[4], 1);
    EXPECT_EQ(bytes[5], 2);
    EXPECT_EQ(bytes[6], 3);
    a.setBE64(0, 0x0102030405060708ull);
    EXPECT_EQ(a.getBE64(0), 0x0102030405060708ull);
    EXPECT_EQ(a.getLE64(0), 0x0807060504030201ull);
    EXPECT_THROW(a.getBE(0, 0), std::out_of_range);
    EXPECT_THROW(a.getBE(9, 0), std::out_of_range);
    EXPECT_THROW(a.setBE(9, 0, 1), std::out_of_range);
}

TEST(ArrayTest, WritesAreLittleEndianAndChecked) {
    u8 bytes[10] = {};
    Array a(bytes, 10);
    a.setLE16(0, 0x1234);
    a.setLE32(2, 0xAABBCCDD);
    EXPECT_EQ(bytes[0], 0x34);
    EXPECT_EQ(bytes[5], 0xAA);
    ConstArray c = a;
    EXPECT_EQ(c.getLE32(2), 0xAABBCCDDu);
    const char src[] = "xyz";
    a.write(7, src, 3);
    EXPECT_EQ(bytes[9], 'z');
    EXPECT_THROW(a.write(8, src, 3), std::out_of_range);
}

TEST(ArrayTest, RawByteOrder) {
    u8 b[8];
    setLE64(b, 0, 0x1122334455667788ull);
    EXPECT_EQ(getLE64(b, 0), 0x1122334455667788ull);
    EXPECT_EQ(getBE16(b, 0), 0x8877);
    EXPECT_EQ(getBE32(b, 4), 0x44332211u);
    setLE16(b, 2, 0xBEEF);
    EXPECT_EQ(getLE16(b, 2), 0xBEEF);
}

TEST(HexTest, Decode) {
    u8 out[2] = {};
    EXPECT_TRUE(hexDecode(out, 2, "0a0B"));
    EXPECT_EQ(out[0], 0x0A);
    EXPECT_EQ(out[1], 0x0B);
    EXPECT_FALSE(hexDecode(out, 2, "0a0B0"));
    EXPECT_FALSE(hexDecode(out, 1, "0g"));
    EXPECT_FALSE(hexDecode(out, 2, "0a"));
    u8 v = 7;
    EXPECT_FALSE(hexDigitValue(v, 'x'));
    EXPECT_EQ(v, 7);
}

TEST(HexTest, Encode) {
    const u8 bytes[] = {0x0A, 0xFF};
    EXPECT_EQ(toHexList(bytes, 2), "0x0A, 0xFF");
    EXPECT_EQ(toHexList(bytes, 0), "");
    EXPECT_EQ(toHex(bytes, 2), "0AFF");
    EXPECT_EQ(toHex(0x5c), "5C");
    char buf[5];
    EXPECT_EQ(hexEncode(buf, bytes, 2), buf + 4);
    EXPECT_STREQ(buf, "0AFF");
    char c;
    hexNibbleChar(c, 11);
    EXPECT_EQ(c, 'B');
}

} // namespace
