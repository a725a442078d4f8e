#include "devices/Drive.h"

#include "tests/support/FailingReader.h"
#include "tests/support/RecordingProgress.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using testutil::FailingReader;
using testutil::MemoryReader;
using testutil::RecordingProgress;

class DriveTest : public ::testing::Test {
protected:
    DriveTest()
        : recorder_(new FailingReader(
              SharedPtr<dt::Reader>(new MemoryReader(testutil::numberedSectors(16))), {})),
          driver_(new Driver(SharedPtr<dt::Reader>(recorder_), 512)) {
        unreadable_.runs() = {{10, 2}, {0xFFFFFFF0u, 0x10}};
    }

    FailingReader* recorder_; // owned by the driver
    SharedPtr<Driver> driver_;
    UnreadableSectors unreadable_;
};

TEST_F(DriveTest, KeepsTheDriverAndItsSectorSize) {
    Driver* raw = driver_.get();
    Drive drive(driver_, &unreadable_);
    driver_.reset();
    EXPECT_EQ(drive.getDriver(), raw);
    EXPECT_EQ(drive.getSectorSize(), 512u);
    EXPECT_FALSE(drive.hasInterfaceCallback());
}

TEST_F(DriveTest, ReadsWithoutACallback) {
    Drive drive(driver_, &unreadable_);
    u8 buf[512];
    EXPECT_TRUE(drive.readSectors(2, 1, buf));
    EXPECT_EQ(buf[0], 2);
    EXPECT_EQ(recorder_->requests().size(), 1u);
}

TEST_F(DriveTest, PollsBeforeEveryReadAndACancelStopsIt) {
    Drive drive(driver_, &unreadable_);
    RecordingProgress box;
    box.cancelAtPoll(2);
    drive.setInterfaceCallback(&box);
    u8 buf[512];
    EXPECT_TRUE(drive.readSectors(1, 1, buf));
    EXPECT_EQ(box.record()->polls, 1u);
    EXPECT_THROW(drive.readSectors(1, 1, buf), InterruptedException);
    EXPECT_EQ(recorder_->requests().size(), 1u);
}

TEST_F(DriveTest, FailedReadsReturnFalse) {
    recorder_->addBadSector(3);
    Drive drive(driver_, &unreadable_);
    u8 buf[4 * 512];
    EXPECT_FALSE(drive.readSectors(0, 4, buf));
}

TEST_F(DriveTest, UnreadableOverlapTest) {
    Drive drive(driver_, &unreadable_);
    // A run touching only the last sector of the range counts.
    EXPECT_TRUE(drive.isUnreadable(5, 6));
    EXPECT_TRUE(drive.isUnreadable(11, 1));
    EXPECT_FALSE(drive.isUnreadable(5, 5));
    EXPECT_FALSE(drive.isUnreadable(12, 100));
    // A length of 0 overlaps nothing, even inside a run.
    EXPECT_FALSE(drive.isUnreadable(10, 0));
    // Scan addresses are 32-bit: nothing at 2^32 or beyond was found unreadable,
    // though the last run reaches there and a truncated address would hit it.
    EXPECT_TRUE(drive.isUnreadable(0xFFFFFFFFu, 1));
    EXPECT_FALSE(drive.isUnreadable(0x100000000ull, 1));
    EXPECT_FALSE(drive.isUnreadable(0x10000000Aull, 1));
    EXPECT_TRUE(drive.isUnreadable(0xFFFFFFFEu, 0x100000000ull));

    Drive noScan(driver_, nullptr);
    EXPECT_FALSE(noScan.isUnreadable(10, 1));
}

TEST_F(DriveTest, ADriveWithoutDriverRefusesToRead) {
    Drive drive(SharedPtr<Driver>(), &unreadable_);
    u8 buf[512];
    EXPECT_THROW(drive.readSectors(0, 1, buf), std::runtime_error);
}

} // namespace
