#include "platform/AlignedBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace {

using platform::AlignedBuffer;

TEST(AlignedBufferTest, AllocatesAlignedAndRefusesNothing) {
    AlignedBuffer b;
    EXPECT_EQ(b.data(), nullptr);
    EXPECT_FALSE(b.allocate(0));
    ASSERT_TRUE(b.allocate(64 * 512));
    EXPECT_EQ(b.size(), 64u * 512);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.data()) % AlignedBuffer::alignment(), 0u);
    EXPECT_EQ(AlignedBuffer::alignment() % 4096, 0u);
    b.data()[b.size() - 1] = 7;
}

TEST(AlignedBufferTest, MovesOwnership) {
    AlignedBuffer a;
    ASSERT_TRUE(a.allocate(4096));
    u8* p = a.data();
    AlignedBuffer b(std::move(a));
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(b.data(), p);
    AlignedBuffer c;
    c = std::move(b);
    EXPECT_EQ(c.data(), p);
    EXPECT_EQ(c.size(), 4096u);
}

} // namespace
