#include "tree/DriveDescription.h"

#include "devices/DtReaderFile.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

// The description of a sparse image of that many sectors; heads and sectors
// per track set when not 0.
std::string describe(u64 sectors, u64 sectorSize, u64 heads = 0, u64 perTrack = 0) {
    testutil::TempDir dir;
    testutil::writeAll(dir.file("disk.img"), "");
    std::filesystem::resize_file(dir.file("disk.img"), sectors * sectorSize);
    auto* reader = new dt::ReaderFile();
    SharedPtr<dt::Reader> holder(reader);
    EXPECT_TRUE(reader->open(dir.file("disk.img").c_str()));
    Driver driver(holder, sectorSize);
    driver.getProperties().set(PROP_ID, "0");
    if (perTrack != 0) {
        driver.getProperties().setUInt64(PROP_HEADS, heads);
        driver.getProperties().setUInt64(PROP_SECTORS, perTrack);
    }
    std::ostringstream out;
    printDriverDescription(out, driver);
    return out.str();
}

TEST(DriveDescriptionTest, CountsWholeCylindersOfTheGeometry) {
    // 16065 sectors per cylinder: 63 cylinders hold 1,012,095 sectors.
    EXPECT_EQ(describe(1012095, 512),
              "ID: 0\nDescription: \nTotal Sectors: 1012095 (Size: 518.2MB)\n\n");
    EXPECT_EQ(describe(100, 512), "ID: 0\nDescription: \nTotal Sectors: 0 (Size: 0)\n\n");
    // A geometry the user gave, and one whose zero heads fall back to the default.
    EXPECT_EQ(describe(1000000, 4096, 16, 32).substr(20, 22), "Total Sectors: 999936 ");
    EXPECT_EQ(describe(1000000, 4096, 0, 32).substr(20, 22), "Total Sectors: 995520 ");
}

} // namespace
