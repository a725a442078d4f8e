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

// A volume may run past the end of a copy that stopped early: its sectors
// there count as unreadable as a failed sector does.
TEST(DriveTest, SectorsPastTheSourcesEndAreUnreadable) {
    UnreadableSectors unreadable;
    unreadable.runs().push_back(SectorRun{5, 1});
    Drive drive(SharedPtr<Driver>(new Driver(
                    SharedPtr<dt::Reader>(new MemoryReader(testutil::numberedSectors(16))), 512)),
                &unreadable);
    const struct {
        u64 first;
        u64 count;
        bool unreadable;
    } rows[] = {
        {0, 5, false}, {4, 2, true},     {15, 1, false},   {15, 2, true},
        {16, 1, true}, {~0ull, 1, true}, {0, ~0ull, true}, {20, 0, false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(drive.isUnreadable(r.first, r.count), r.unreadable) << r.first << '+' << r.count;
}

} // namespace
