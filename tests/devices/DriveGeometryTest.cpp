#include "devices/DriveGeometry.h"

#include "core/Log.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// A source of a given size that nothing reads from.
class SizedReader : public dt::Reader {
public:
    explicit SizedReader(i64 size) { setSize(size); }
    bool read(i64, u8*, i64) override { return false; }
};

Driver makeDriver(u64 sectors, u64 sectorSize = 512) {
    return Driver(SharedPtr<dt::Reader>(new SizedReader(static_cast<i64>(sectors * sectorSize))),
                  sectorSize);
}

ChsAddress chsOf(u32 lba, const DriveGeometry& g) {
    ChsAddress a;
    a.lba = lba;
    lbaToChs(a, g);
    return a;
}

} // namespace

TEST(DriveGeometryTest, DefaultsGiveWholeCylinders) {
    Driver driver = makeDriver(1000000);
    DriveGeometry g = driveGeometry(driver);
    EXPECT_EQ(g.heads, 255u);
    EXPECT_EQ(g.sectorsPerTrack, 63u);
    EXPECT_EQ(g.sectorSize, 512u);
    EXPECT_EQ(g.cylinders, 62u);
    EXPECT_EQ(g.chsSectors, 996030u);

    DriveGeometry small = driveGeometry(makeDriver(16064));
    EXPECT_EQ(small.cylinders, 0u);
    EXPECT_EQ(small.chsSectors, 0u);
}

TEST(DriveGeometryTest, PropertiesChooseTheGeometry) {
    Driver driver = makeDriver(1000000, 4096);
    driver.getProperties().setUInt64(PROP_HEADS, 16);
    driver.getProperties().setUInt64(PROP_SECTORS, 32);
    driver.getProperties().setUInt64(PROP_REPAIR_HEADS, 128);
    driver.getProperties().setUInt64(PROP_REPAIR_SECTORS, 1);

    DriveGeometry g = driveGeometry(driver);
    EXPECT_EQ(g.heads, 16u);
    EXPECT_EQ(g.sectorsPerTrack, 32u);
    EXPECT_EQ(g.cylinders, 1953u);
    EXPECT_EQ(g.sectorSize, 4096u);

    DriveGeometry r = repairGeometry(driver);
    EXPECT_EQ(r.heads, 128u);
    EXPECT_EQ(r.sectorsPerTrack, 1u);
    EXPECT_EQ(r.cylinders, 7812u);
    EXPECT_EQ(r.chsSectors, 999936u);
}

TEST(DriveGeometryTest, ZeroPropertiesFallBackToDefaultsAndAreLogged) {
    Driver driver = makeDriver(1000000);
    driver.getProperties().setUInt64(PROP_HEADS, 0);
    driver.getProperties().setUInt64(PROP_REPAIR_SECTORS, 0);
    std::string before = logMemoryText();

    DriveGeometry g = driveGeometry(driver);
    EXPECT_EQ(g.heads, 255u);
    EXPECT_EQ(g.sectorsPerTrack, 63u);
    EXPECT_EQ(g.cylinders, 62u);
    DriveGeometry r = repairGeometry(driver);
    EXPECT_EQ(r.sectorsPerTrack, 63u);
    ChsAddress a = chsOf(16065, g);
    EXPECT_EQ(a.cylinder, 1u);

    std::string logged = logMemoryText().substr(before.size());
    EXPECT_NE(logged.find("HEADS 0"), std::string::npos) << logged;
    EXPECT_NE(logged.find("REPAIR_SECTORS 0"), std::string::npos) << logged;
}

TEST(DriveGeometryTest, LbaAndChsConvertBothWays) {
    DriveGeometry g = driveGeometry(makeDriver(1000000));
    struct Case {
        u32 lba, cylinder, head, sector;
    };
    for (Case c : {Case{0, 0, 0, 1}, Case{62, 0, 0, 63}, Case{63, 0, 1, 1}, Case{16065, 1, 0, 1},
                   Case{16064, 0, 254, 63}, Case{999999, 62, 63, 1}, Case{1000000, 62, 63, 2}}) {
        ChsAddress a = chsOf(c.lba, g);
        EXPECT_EQ(a.cylinder, c.cylinder) << c.lba;
        EXPECT_EQ(a.head, c.head) << c.lba;
        EXPECT_EQ(a.sector, c.sector) << c.lba;
        a.lba = 0;
        chsToLba(a, g);
        EXPECT_EQ(a.lba, c.lba);
    }
    // Cylinders beyond what a partition entry holds are kept.
    EXPECT_EQ(chsOf(1024u * 16065u, g).cylinder, 1024u);
}

TEST(DriveGeometryTest, GeometryWithoutHeadsAddressesNothing) {
    DriveGeometry g = driveGeometry(makeDriver(1000));
    g.heads = 0;
    ChsAddress a = chsOf(100, g);
    EXPECT_EQ(a.cylinder, 0u);
    EXPECT_EQ(a.sector, 0u);
    // A 32-bit product that wraps to 0 must not divide by zero either.
    g.heads = 0x10000;
    g.sectorsPerTrack = 0x10000;
    a = chsOf(100, g);
    EXPECT_EQ(a.sector, 0u);
    EXPECT_EQ(DriveGeometry(makeDriver(1000), 0x10000, 0x10000).cylinders, 0u);
}

TEST(DriveGeometryTest, LinePrefixSkipsEmptyLines) {
    std::ostringstream out;
    writeWithLinePrefix(out, "one\n\ntwo", "  ");
    EXPECT_EQ(out.str(), "  one\n\n  two");

    std::ostringstream trailing;
    writeWithLinePrefix(trailing, "a\n", "> ");
    EXPECT_EQ(trailing.str(), "> a\n");
    std::ostringstream none;
    writeWithLinePrefix(none, "", "> ");
    EXPECT_EQ(none.str(), "");
}
