#include "tree/DriveDescription.h"

#include "tests/support/TestEngine.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// The description of the source of a test engine's tree; heads and sectors
// per track set when not 0.
std::string describe(const std::string& source, u64 heads = 0, u64 perTrack = 0) {
    auto map = testutil::TestEngine::build(source);
    if (perTrack != 0) {
        map->getDrive()->getDriver()->getProperties().setUInt64(PROP_HEADS, heads);
        map->getDrive()->getDriver()->getProperties().setUInt64(PROP_SECTORS, perTrack);
    }
    std::ostringstream out;
    map->printDriveInformation(out);
    return out.str();
}

TEST(DriveDescriptionTest, CountsWholeCylindersOfTheGeometry) {
    // 16065 sectors per cylinder: 63 cylinders hold 1,012,095 sectors.
    EXPECT_EQ(describe("source id=0 description=Disk sectors=1012095"),
              "ID: 0\nDescription: Disk\nTotal Sectors: 1012095 (Size: 518.2MB)\n\n");
    EXPECT_EQ(describe("source sectors=100"),
              "ID: \nDescription: \nTotal Sectors: 0 (Size: 0)\n\n");
    // A geometry the user gave, and one whose zero heads fall back to the default.
    EXPECT_EQ(describe("source sectors=1000000", 16, 32).substr(19, 22), "Total Sectors: 999936 ");
    EXPECT_EQ(describe("source sectors=1000000", 0, 32).substr(19, 22), "Total Sectors: 995520 ");
}

} // namespace
