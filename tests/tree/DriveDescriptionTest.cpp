#include "tree/DriveDescription.h"

#include "tests/support/FailingReader.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// Whole cylinders of 255 x 63 would give a floppy none, and cut others.
TEST(DriveDescriptionTest, TheSourcesOwnSectorCountAndSize) {
    const struct {
        u64 sectors;
        const char* line;
    } rows[] = {
        {2880, "Total Sectors: 2880 (Size: 1.475MB)"},
        {1000000, "Total Sectors: 1000000 (Size: 512.0MB)"},
    };
    for (const auto& row : rows) {
        Driver driver = testutil::sizedDriver(row.sectors);
        driver.getProperties().set(PROP_ID, "0");
        std::ostringstream out;
        printDriverDescription(out, driver);
        EXPECT_EQ(out.str(), "ID: 0\nDescription: \n" + std::string(row.line) + "\n\n");
    }
}

} // namespace
