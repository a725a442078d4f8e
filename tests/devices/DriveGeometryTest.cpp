#include "devices/DriveGeometry.h"

#include "tests/support/FailingReader.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

std::vector<u32> chsOf(u32 lba, const DriveGeometry& g) {
    ChsAddress a;
    a.lba = lba;
    lbaToChs(a, g);
    std::vector<u32> chs{a.cylinder, a.head, a.sector};
    a.lba = 0;
    chsToLba(a, g);
    if (a.sector != 0) {
        EXPECT_EQ(a.lba, lba); // and back
    }
    return chs;
}

TEST(DriveGeometryTest, LbaAndChsConvertBothWays) {
    Driver driver = testutil::sizedDriver(1000000);
    const DriveGeometry g = driveGeometry(driver);
    EXPECT_EQ(std::vector<u32>({g.heads, g.sectorsPerTrack, g.cylinders, g.chsSectors}),
              std::vector<u32>({255, 63, 62, 996030}));
    EXPECT_EQ(chsOf(0, g), std::vector<u32>({0, 0, 1}));
    EXPECT_EQ(chsOf(63, g), std::vector<u32>({0, 1, 1}));
    EXPECT_EQ(chsOf(16064, g), std::vector<u32>({0, 254, 63}));
    EXPECT_EQ(chsOf(1000000, g), std::vector<u32>({62, 63, 2}));
    EXPECT_EQ(chsOf(1024u * 16065u, g), std::vector<u32>({1024, 0, 1})); // past an entry's 1023
}

// A geometry of 0 (a driver editor or a damaged saved scan can set one) must
// never divide by zero: the property falls back to its default, and a geometry
// whose 32-bit product wraps to 0 addresses nothing.
TEST(DriveGeometryTest, ZeroNeverDivides) {
    Driver driver = testutil::sizedDriver(1000);
    driver.getProperties().setUInt64(PROP_HEADS, 0);
    driver.getProperties().setUInt64(PROP_REPAIR_SECTORS, 0x100000000ull);
    testutil::LogCapture log;
    EXPECT_EQ(driveGeometry(driver).heads, 255u);
    EXPECT_EQ(repairGeometry(driver).sectorsPerTrack, 63u);
    EXPECT_TRUE(log.has("DriveGeometry(12): HEADS 0 using 255\n")) << log.text();
    DriveGeometry g(driver, 0x10000, 0x10000);
    EXPECT_EQ(g.cylinders, 0u);
    EXPECT_EQ(chsOf(100, g), std::vector<u32>({0, 0, 0}));
}

} // namespace
