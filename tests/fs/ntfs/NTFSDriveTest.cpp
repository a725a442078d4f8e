#include "fs/ntfs/NTFSDrive.h"

#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/RecordingProgress.h"

#include <gtest/gtest.h>

namespace {

TEST(NtfsDriveTest, ClustersAreReadInsideTheVolumeOnlyAndReadsPoll) {
    ntfstest::MemoryVolume image(4, 25);
    auto source = image.source();
    source->params.startingLBA = 10;
    source->params.totalSectors = 88; // 22 clusters from LBA 10
    EXPECT_THROW(NTFSDrive(source->driver, NTFS_FS_PARAMS(), nullptr), std::runtime_error);
    auto drive = source->drive();
    EXPECT_EQ(drive->getClusterLBA(21), 94u);
    EXPECT_EQ(drive->getClusterLBA(22), ~u64{0});
    EXPECT_FALSE(drive->areClustersValid(1, ~u64{0}));
    u8 buffer[8 * 512];
    EXPECT_TRUE(drive->readClusters(20, buffer, 8));
    EXPECT_FALSE(drive->readClusters(22, buffer, 0));
    EXPECT_FALSE(drive->readClusters(21, buffer, 5)); // starts inside, runs past
    EXPECT_EQ(source->reader->requests().size(), 1u);
    testutil::RecordingProgress box;
    box.cancelAtPoll(1);
    drive->setInterfaceCallback(&box);
    EXPECT_THROW(drive->readClusters(2, buffer, 1), InterruptedException);
}

} // namespace
