#include "devices/Drive.h"

#include "tests/support/FailingReader.h"
#include "tests/support/RecordingProgress.h"

#include <gtest/gtest.h>

namespace {

using testutil::FailingReader;
using testutil::MemoryReader;

// Every read polls first, so that a long walk over a file system can be
// cancelled between any two reads.
TEST(DriveTest, ACancelStopsTheNextRead) {
    auto* recorder = new FailingReader(
        SharedPtr<dt::Reader>(new MemoryReader(testutil::numberedSectors(16))), {});
    Drive drive(SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(recorder), 512)), nullptr);
    testutil::RecordingProgress box;
    box.cancelAtPoll(2);
    drive.setInterfaceCallback(&box);
    u8 buf[512];
    EXPECT_TRUE(drive.readSectors(1, 1, buf));
    EXPECT_THROW(drive.readSectors(1, 1, buf), InterruptedException);
    EXPECT_EQ(recorder->requests().size(), 1u);
    EXPECT_THROW(Drive(SharedPtr<Driver>(), nullptr).readSectors(0, 1, buf), std::runtime_error);
}

} // namespace
