#include "core/Array.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

template <typename F> std::string thrown(F f) {
    try {
        f();
    } catch (const std::out_of_range& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

// Every access outside the view throws before a byte is touched, with the text
// of its check; offsets near 2^32 and 2^64 must not wrap round into the view.
TEST(ArrayTest, EveryAccessOutsideTheViewThrows) {
    u8 bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const ConstArray c(bytes, 8);
    const Array a(bytes, 8);
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[&] { c.getLE32(5); }, "Array(392)"},
        {[&] { c.getU8(8); }, "Array(392)"},
        {[&] { c.check(9, 0); }, "Array(392)"},
        {[&] { c.check(0xFFFFFFFFu, 2); }, "Array(392)"},
        {[&] { c.check(~0ull, 1); }, "Array(392)"},
        {[&] { ConstArray(c, 6, 3); }, "Array(283)"},
        {[&] { ConstArray(c, 0xFFFFFFF0u, 0x20); }, "Array(283)"},
        {[&] { ConstArray(c, 8); }, "Array(275)"},
        {[&] { a.setLE32(5, 0); }, "Array(47)"},
        {[&] { a.write(6, "xyz", 3); }, "Array(47)"},
        {[&] { Array(a, 7, 2); }, "Array(23)"},
        {[&] { Array(a, 8); }, "Array(15)"},
    };
    for (const auto& k : cases)
        EXPECT_EQ(thrown(k.first), k.second);
    EXPECT_EQ(bytes[5], 6); // a failed write touched nothing
    EXPECT_THROW(c.getBE(9, 0), std::out_of_range);
}

TEST(ArrayTest, ByteOrderOfEveryWidth) {
    u8 bytes[10] = {};
    Array a(bytes, 10);
    a.setBE64(0, 0x0102030405060708ull);
    EXPECT_EQ(a.getLE64(0), 0x0807060504030201ull);
    EXPECT_EQ(a.getBE(3, 1), 0x020304u);
    a.setBE(3, 7, 66051);
    a.setLE16(4, 0x1234);
    EXPECT_EQ(std::vector<u8>(bytes, bytes + 10),
              (std::vector<u8>{1, 2, 3, 4, 0x34, 0x12, 7, 1, 2, 3}));
    EXPECT_EQ(ConstArray(ConstArray(a), 6).getBE32(0), 0x07010203u);
    // The raw helpers for buffers already checked.
    setLE32(bytes, 2, 0xAABBCCDD);
    EXPECT_EQ(getLE32(bytes, 2), 0xAABBCCDDu);
    EXPECT_EQ(getBE64(bytes, 0), 0x0102DDCCBBAA0701ull);
}

TEST(ArrayTest, HexTextBothWays) {
    u8 out[2] = {};
    EXPECT_TRUE(hexDecode(out, 2, "0a0B"));
    EXPECT_EQ(toHex(out, 2), "0A0B");
    for (const char* bad : {"0a0B0", "0g0b", "0a"})
        EXPECT_FALSE(hexDecode(out, 2, bad)) << bad;
    const u8 bytes[] = {0x0A, 0xFF};
    EXPECT_EQ(toHexList(bytes, 2), "0x0A, 0xFF");
    char buf[5];
    EXPECT_EQ(hexEncode(buf, bytes, 2), buf + 4);
    EXPECT_STREQ(buf, "0AFF");
}

} // namespace
