#include "platform/AlignedBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>

// Direct transfers demand a buffer aligned to the device's sector; a window of
// 64 sectors of 4096 bytes must get one as well as one of 512.
TEST(AlignedBufferTest, AlignedForDirectTransfers) {
    platform::AlignedBuffer b;
    EXPECT_FALSE(b.allocate(0));
    ASSERT_TRUE(b.allocate(64 * 4096));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.data()) % 4096, 0u);
    b.data()[b.size() - 1] = 7; // all of it is there
}
