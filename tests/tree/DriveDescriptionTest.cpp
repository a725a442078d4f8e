#include "tree/DriveDescription.h"

#include "core/Text.h"
#include "devices/DtReaderFile.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace {

// A sparse image of that many sectors, read through the image-file reader.
class ImageDriver {
public:
    explicit ImageDriver(u64 sectors, u64 sectorSize = 512) {
        std::string path = dir_.file("disk.img");
        testutil::writeAll(path, "");
        std::filesystem::resize_file(path, sectors * sectorSize);
        auto* reader = new dt::ReaderFile();
        SharedPtr<dt::Reader> holder(reader);
        if (!reader->open(path.c_str()))
            throw std::runtime_error("cannot open " + path);
        driver_.reset(new Driver(holder, sectorSize));
    }
    Driver& operator*() { return *driver_; }
    Attributes& properties() { return driver_->getProperties(); }

private:
    testutil::TempDir dir_;
    std::unique_ptr<Driver> driver_;
};

std::string describe(const Driver& driver) {
    std::ostringstream out;
    printDriverDescription(out, driver);
    return out.str();
}

} // namespace

TEST(DriveDescriptionTest, WholeText) {
    // 16065 sectors per cylinder: 63 cylinders hold 1,012,095 sectors.
    ImageDriver driver(1012095);
    driver.properties().set(PROP_ID, "0");
    driver.properties().set(PROP_DESCRIPTION, "Disk");
    EXPECT_EQ(describe(*driver), "ID: 0\nDescription: Disk\nTotal Sectors: 1012095 (Size: " +
                                     formatSize(1012095ull * 512) + ")\n\n");
    EXPECT_EQ(formatSize(1012095ull * 512), "518.2MB");
}

TEST(DriveDescriptionTest, MissingPropertiesLeaveLabelsEmpty) {
    EXPECT_EQ(describe(*ImageDriver(100)), "ID: \nDescription: \nTotal Sectors: 0 (Size: 0)\n\n");
}

TEST(DriveDescriptionTest, CountsWholeCylindersOnly) {
    ImageDriver driver(1000000, 4096);
    EXPECT_EQ(describe(*driver), "ID: \nDescription: \nTotal Sectors: 996030 (Size: " +
                                     formatSize(996030ull * 4096) + ")\n\n");

    // A geometry the user gave, and one whose zero heads fall back to the defaults.
    driver.properties().setUInt64(PROP_HEADS, 16);
    driver.properties().setUInt64(PROP_SECTORS, 32);
    EXPECT_NE(describe(*driver).find("Total Sectors: 999936 ("), std::string::npos);
    driver.properties().setUInt64(PROP_HEADS, 0);
    EXPECT_NE(describe(*driver).find("Total Sectors: 995520 ("), std::string::npos);
}
