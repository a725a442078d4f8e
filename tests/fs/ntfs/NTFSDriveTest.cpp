#include "fs/ntfs/NTFSDrive.h"

#include "core/Log.h"
#include "tests/fs/ntfs/NtfsVolumeFixture.h"
#include "tests/support/FsImages.h"
#include "tests/support/RecordingProgress.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using ntfstest::MemoryVolume;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

NTFS_FS_PARAMS params(u32 start, u64 sectors, u64 spc) {
    NTFS_FS_PARAMS p;
    p.startingLBA = start;
    p.totalSectors = sectors;
    p.sectorsPerCluster = spc;
    p.mftLCN = 4;
    p.mftMirrLCN = 0;
    p.sectorsPerFileRecord = 2;
    return p;
}

TEST(NtfsDriveTest, ClustersMapToSectorsInsideTheVolumeOnly) {
    SharedPtr<Driver> driver(
        new Driver(SharedPtr<dt::Reader>(new testutil::MemoryReader(std::string(512, '\0'))), 512));
    NTFSDrive drive(driver, params(63, 8000, 8), nullptr);
    EXPECT_EQ(drive.getClusterCount(), 1000u);
    EXPECT_EQ(drive.getStartingLBA(), 63u);
    EXPECT_EQ(drive.getSectorsPerCluster(), 8u);
    EXPECT_EQ(drive.getSectorsPerFileRecord(), 2u);
    EXPECT_EQ(drive.getClusterBytes(), 4096u);
    EXPECT_EQ(drive.getClusterLBA(0), 63u);
    EXPECT_EQ(drive.getClusterLBA(999), 8055u);
    const std::size_t mark = logMemoryText().size();
    EXPECT_EQ(drive.getClusterLBA(1000), ~u64{0});
    EXPECT_EQ(logSince(mark), "NTFSDrive(65)\n");
    EXPECT_TRUE(drive.isClusterValid(999));
    EXPECT_FALSE(drive.isClusterValid(1000));
    EXPECT_TRUE(drive.areClustersValid(990, 10));
    EXPECT_FALSE(drive.areClustersValid(990, 11));
    EXPECT_FALSE(drive.areClustersValid(1, ~u64{0}));
    // The mirror's cluster comes back as it is, 0 included.
    EXPECT_EQ(drive.getMftStartCluster(false), 4u);
    EXPECT_EQ(drive.getMftStartCluster(true), 0u);
    EXPECT_EQ(drive.getParams(), params(63, 8000, 8));
}

TEST(NtfsDriveTest, ParametersNoVolumeHasAreRefused) {
    SharedPtr<Driver> driver(
        new Driver(SharedPtr<dt::Reader>(new testutil::MemoryReader(std::string(512, '\0'))), 512));
    EXPECT_THROW(NTFSDrive(driver, params(0, 8000, 0), nullptr), std::runtime_error);
    // Clusters above 2 MiB would size a compression unit from damage.
    EXPECT_FALSE(NTFSDrive::isUsable(params(0, 1u << 30, 8192)));
    EXPECT_THROW(NTFSDrive(driver, params(0, 1u << 30, 8192), nullptr), std::runtime_error);
    EXPECT_TRUE(NTFSDrive::isUsable(params(0, 1u << 30, 4096)));
}

TEST(NtfsDriveTest, ReadingClustersStaysInsideTheVolume) {
    const std::string bytes = testutil::numberedSectors(100);
    MemoryVolume v(bytes, 4, 10); // 22 clusters from LBA 10
    NTFSDrive& drive = *v.drive;
    u8 buffer[8 * 512];
    // A count of 0 reads one cluster.
    ASSERT_TRUE(drive.readClusters(3, buffer, 0));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2048), bytes.substr(22 * 512, 2048));
    ASSERT_EQ(v.reader->requests().size(), 1u);
    EXPECT_EQ(v.reader->requests()[0].size, 2048);
    ASSERT_TRUE(drive.readClusters(20, buffer, 8));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4096), bytes.substr(90 * 512, 4096));

    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(drive.readClusters(22, buffer, 0));
    EXPECT_EQ(logSince(mark), "NTFSDrive(44)\n");
    // A range that starts inside but runs past the end reads nothing.
    mark = logMemoryText().size();
    EXPECT_FALSE(drive.readClusters(21, buffer, 5));
    EXPECT_NE(logSince(mark).find("NTFSDrive("), std::string::npos);
    EXPECT_EQ(v.reader->requests().size(), 2u);
}

TEST(NtfsDriveTest, AReadPollsAndACancelStopsIt) {
    MemoryVolume v(testutil::numberedSectors(64), 1);
    testutil::RecordingProgress box;
    box.cancelAtPoll(2);
    v.drive->setInterfaceCallback(&box);
    u8 buffer[512];
    EXPECT_TRUE(v.drive->readClusters(1, buffer, 1));
    EXPECT_THROW(v.drive->readClusters(2, buffer, 1), InterruptedException);
    EXPECT_EQ(v.reader->requests().size(), 1u);
    v.drive->setInterfaceCallback(nullptr);
}

// On volumes made by mkntfs the MFT's first cluster holds record 0, and the
// figures agree with what ntfsinfo says of the volume.
TEST(NtfsDriveRealTest, TheMftLiesWhereTheBootSectorSays) {
    for (u32 cluster : {512u, 4096u, 65536u}) {
        SCOPED_TRACE(cluster);
        ntfstest::Volume v(32u << 20, cluster);
        NTFSDrive& drive = v.drive();
        std::string info;
        ASSERT_EQ(ntfstest::runTool("ntfsinfo -m " + testutil::shellQuote(v.image()), &info), 0);
        EXPECT_EQ(drive.getClusterBytes(), testutil::toolNumber(info, "Cluster Size"));
        EXPECT_EQ(drive.getClusterCount(), testutil::toolNumber(info, "Volume Size in Clusters"));
        EXPECT_EQ(drive.getMftStartCluster(false),
                  testutil::toolNumber(info, "LCN of Data Attribute for FILE_MFT"));
        EXPECT_EQ(drive.getMftStartCluster(true),
                  testutil::toolNumber(info, "LCN of Data Attribute for File_MFTMirr"));
        std::string buffer(cluster, '\0');
        ASSERT_TRUE(drive.readClusters(drive.getMftStartCluster(false),
                                       reinterpret_cast<u8*>(&buffer[0]), 0));
        EXPECT_EQ(buffer.substr(0, 4), "FILE");
        ASSERT_TRUE(drive.readClusters(drive.getMftStartCluster(true),
                                       reinterpret_cast<u8*>(&buffer[0]), 0));
        EXPECT_EQ(buffer.substr(0, 4), "FILE");
        // The last cluster reads; the one after it does not exist.
        EXPECT_TRUE(
            drive.readClusters(drive.getClusterCount() - 1, reinterpret_cast<u8*>(&buffer[0]), 0));
        EXPECT_FALSE(
            drive.readClusters(drive.getClusterCount(), reinterpret_cast<u8*>(&buffer[0]), 0));
    }
}

} // namespace
