#include "cbr/ByteSource.h"

#include "tests/support/FailingReader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using cbr::ByteSource;

SharedPtr<dt::Reader> memory(const std::string& bytes) {
    return SharedPtr<dt::Reader>(new testutil::MemoryReader(bytes));
}

TEST(ByteSourceTest, FieldsAcrossBlockEdgesAndNothingPastTheEnd) {
    std::string bytes(100, '\0');
    bytes[14] = 0x34;
    bytes[15] = 0x12;
    bytes[16] = 0x00;
    bytes[17] = 0x00;
    auto reader = memory(bytes);
    ByteSource src(*reader, 16);
    u32 v = 0;
    ASSERT_TRUE(src.le32(14, v));
    EXPECT_EQ(v, 0x1234u);
    u16 b = 0;
    ASSERT_TRUE(src.be16(14, b));
    EXPECT_EQ(b, 0x3412);
    EXPECT_TRUE(src.le32(96, v));
    EXPECT_FALSE(src.le32(97, v));
    EXPECT_FALSE(src.read(~u64(0), &v, 2));
}

TEST(ByteSourceTest, FindsANeedleCrossingBlocksWithinTheLimit) {
    std::string bytes(1000, 'x');
    bytes.replace(62, 4, "\xFF\xD9zz");
    bytes.replace(900, 2, "\xFF\xD9");
    auto reader = memory(bytes);
    ByteSource src(*reader, 64);
    EXPECT_EQ(src.find(0, "\xFF\xD9", 2), 62u);
    EXPECT_EQ(src.find(63, "\xFF\xD9", 2), 900u);
    EXPECT_EQ(src.find(63, "\xFF\xD9", 2, 901), ByteSource::NOT_FOUND);
    EXPECT_EQ(src.find(63, "\xFF\xD9", 2, 902), 900u);
    EXPECT_EQ(src.find(999, "\xFF\xD9", 2), ByteSource::NOT_FOUND);
    EXPECT_TRUE(src.matches(62, "\xFF\xD9zz", 4));
    EXPECT_FALSE(src.matches(998, "xxx", 3));
}

} // namespace
