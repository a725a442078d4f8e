#include "fs/ntfs/ByteBuffer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ByteBufferTest, GrowsKeepingItsBytesAndNeverShrinks) {
    ByteBuffer empty;
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_EQ(empty.data(), nullptr);

    ByteBuffer buffer(4);
    ASSERT_EQ(buffer.size(), 4u);
    EXPECT_EQ(buffer.data()[3], 0);
    std::memcpy(buffer.data(), "abcd", 4);
    u8* before = buffer.data();
    buffer.reserve(2);
    EXPECT_EQ(buffer.size(), 4u);
    EXPECT_EQ(buffer.data(), before);
    buffer.reserve(10);
    ASSERT_EQ(buffer.size(), 10u);
    EXPECT_EQ(std::memcmp(buffer.data(), "abcd\0\0\0\0\0\0", 10), 0);
    EXPECT_EQ(buffer.array().length(), 10u);
    EXPECT_EQ(buffer.array().getU8(1), 'b');
}

} // namespace
