#include "core/Attributes.h"

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

std::string bytesOf(const Attributes& a) {
    return testutil::hexDump(a.bytes().data(), a.bytes().size());
}
std::string dump(const std::string& s) {
    return testutil::hexDump(s.data(), s.size());
}

// The layout is what saved scans hold: lengths, key, value; integers little-
// endian of fixed width; setting a key again moves its record to the end.
TEST(AttributesTest, RecordsAsSavedScansHoldThem) {
    Attributes a;
    a.set("a", "1");
    a.setUInt8("b", 0xAB);
    a.setUInt32("w", 0x01020304);
    a.setUInt64("HEADS", 0x0102030405060708ull);
    a.set("a", "33");
    a.remove("w");
    EXPECT_EQ(bytesOf(a), dump("\1\1b\253\5\10HEADS\10\7\6\5\4\3\2\1\1\2a33"));
    EXPECT_EQ(a.getUInt64("HEADS", 255), 0x0102030405060708ull);
    EXPECT_EQ(a.get("a", "-"), "33");
    // A typed read takes only its own width: no cut or widened numbers.
    EXPECT_EQ(a.getUInt32("b", 99), 99u);
    EXPECT_EQ(a.getUInt8("HEADS", 99), 99);
    EXPECT_EQ(a.get("b", "-"), "\xAB");
    a.set("e", "");
    EXPECT_EQ(a.get("e", "default"), ""); // present, not the default
}

TEST(AttributesTest, OverlongKeysAndValuesAreCutAndLogged) {
    Attributes a;
    const std::string key(300, 'k');
    testutil::LogCapture log;
    a.set(key, std::string(256, 'x'));
    EXPECT_EQ(log.text(), "Attributes(51): 300\nAttributes(55): 256\n");
    EXPECT_EQ(a.bytes().size(), 2u + 255u + 255u);
    EXPECT_EQ(a.get(key.substr(0, 255), "-"), std::string(255, 'x'));
    EXPECT_EQ(a.find(key), Attributes::NOT_FOUND); // the full key never matches
}

TEST(AttributesTest, DamagedBytesNeverReadPastTheEnd) {
    Attributes a;
    // A value length running past the end, a lone length byte at the end.
    for (const char* damaged : {"\1\1a1\1\11bxy", "\1\1a1\5"}) {
        a.setBytes(damaged);
        EXPECT_EQ(a.get("a", "-"), "1");
        EXPECT_EQ(a.get("b", "-"), "-");
        EXPECT_EQ(a.find("zzzzz"), Attributes::NOT_FOUND);
    }
}

} // namespace
