#include "devices/Driver.h"

#include "tests/support/FailingReader.h"

#include <gtest/gtest.h>

namespace {

// Sector addresses are 64-bit; their byte addresses must fit in 63 bits, and a
// product or sum that does not is refused before the chain is asked.
TEST(DriverTest, ByteAddressesThatOverflowAreRefused) {
    const std::string image = testutil::numberedSectors(8);
    auto* chain =
        new testutil::FailingReader(SharedPtr<dt::Reader>(new testutil::MemoryReader(image)), {});
    Driver driver(SharedPtr<dt::Reader>(chain), 512);
    u8 buf[1024];
    ASSERT_TRUE(driver.readSectors(3, 2, buf));
    EXPECT_EQ(std::string(buf, buf + 1024), image.substr(3 * 512, 1024));
    for (const std::pair<u64, u64>& bad : {std::pair<u64, u64>(1ull << 55, 1),
                                           {1ull << 54, 0},
                                           {0, ~0ull},
                                           {(1ull << 53) + 1, 1ull << 53},
                                           {(1ull << 54) - 1, 1}})
        EXPECT_FALSE(driver.readSectors(bad.first, bad.second, buf)) << bad.first;
    EXPECT_EQ(chain->requests().size(), 1u);
    // The last sector below 2^63 still reaches the chain (which says no).
    EXPECT_FALSE(driver.readSectors((1ull << 54) - 2, 1, buf));
    EXPECT_EQ(chain->requests().back().offset, static_cast<i64>(((1ull << 54) - 2) * 512));
}

} // namespace
