// The state of the current source: what a fresh one holds, the driver that must
// be chosen before anything reads, and what a reset forgets and keeps.

#include "analysis/DriveDescr.h"

#include "tests/support/FailingReader.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

Driver* newDriver(u64 sectors) {
    SharedPtr<dt::Reader> reader(new testutil::MemoryReader(std::string(sectors * 512, '\0')));
    return new Driver(reader, 512);
}

TEST(DriveDescrTest, AFreshOneHasNoSourceAndNothingUnsaved) {
    DriveDescr d;
    EXPECT_FALSE(d.hasScan());
    EXPECT_TRUE(d.isScanSaved());
    EXPECT_FALSE(d.getDriveHolder());
    EXPECT_FALSE(d.getMapHolder());
    EXPECT_EQ(d.getSelectedEntry(), nullptr);
    EXPECT_TRUE(d.getCarvedFiles().empty());
    EXPECT_TRUE(d.getFsCollection().empty());
    EXPECT_TRUE(d.getLayout().empty());
    EXPECT_TRUE(d.getChanges().empty());
    EXPECT_EQ(d.getScanRange().getDriveId(), "");
    EXPECT_EQ(d.getScanRange().getFirst(), 0u);
    EXPECT_EQ(d.getScanRange().getSecond(), 0u);
    try {
        d.getDrive();
        FAIL() << "no driver was chosen";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "DriveDescr(17)");
    }
}

TEST(DriveDescrTest, ANewDriverReplacesAndReleasesTheOld) {
    DriveDescr d;
    d.setDrive(newDriver(4));
    SharedPtr<Driver> old = d.getDriveHolder();
    EXPECT_EQ(old.useCount(), 2);
    EXPECT_EQ(d.getDrive()->getSectorCount(), 4u);
    d.setDrive(newDriver(8));
    EXPECT_EQ(old.useCount(), 1);
    EXPECT_EQ(d.getDrive()->getSectorCount(), 8u);
}

TEST(DriveDescrTest, ResetForgetsTheScanButKeepsTheSourceAndItsRange) {
    DriveDescr d;
    d.setDrive(newDriver(4));
    Driver* driver = d.getDrive();
    d.getScanRange().setDriveId("disk 1");
    d.getScanRange().setFirst(63);
    d.getScanRange().setSecond(1000);
    d.setHasScan(true);
    d.setScanSaved(false);
    d.getScanResults().bootSectors.insert(FoundBootSector{63, {}});
    d.getScanResults().unreadable.runs().push_back({5, 1});
    d.getFsCollection().push_back(FsCandidate());
    d.setLayout(std::vector<FsCandidate>(2));
    d.setSelectedEntry(&d.getLayout()[1]);
    d.getChanges().push_back(SectorChange());
    d.getCarvedFiles().push_back(cbr::FileInfo());

    d.reset();
    EXPECT_FALSE(d.hasScan());
    // Quitting now needs no warning.
    EXPECT_TRUE(d.isScanSaved());
    EXPECT_TRUE(d.getScanResults().bootSectors.empty());
    EXPECT_TRUE(d.getScanResults().unreadable.runs().empty());
    EXPECT_TRUE(d.getFsCollection().empty());
    EXPECT_TRUE(d.getLayout().empty());
    EXPECT_EQ(d.getSelectedEntry(), nullptr);
    EXPECT_TRUE(d.getChanges().empty());
    EXPECT_TRUE(d.getCarvedFiles().empty());
    EXPECT_FALSE(d.getMapHolder());
    EXPECT_EQ(d.getDrive(), driver);
    EXPECT_EQ(d.getScanRange().getDriveId(), "disk 1");
    EXPECT_EQ(d.getScanRange().getFirst(), 63u);
    EXPECT_EQ(d.getScanRange().getSecond(), 1000u);
}

TEST(DriveDescrTest, ANewLayoutClearsTheEntryThatPointedIntoTheOld) {
    DriveDescr d;
    d.setLayout(std::vector<FsCandidate>(3));
    d.setSelectedEntry(&d.getLayout()[2]);
    EXPECT_EQ(d.getSelectedEntry(), &d.getLayout()[2]);
    d.getLayout()[2].startLBA = 7;
    d.setLayout(std::vector<FsCandidate>(1));
    EXPECT_EQ(d.getSelectedEntry(), nullptr);
}

} // namespace
