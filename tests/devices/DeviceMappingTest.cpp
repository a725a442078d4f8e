#include "devices/DeviceMapping.h"

#include "tests/support/FakeSystemTree.h"

#include <gtest/gtest.h>

namespace {

using testutil::FakeSystemTree;
using testutil::LogCapture;

TEST(DeviceMappingTest, EveryPartitionMountedOrNot) {
    FakeSystemTree tree;
    tree.addDisk("sda", 1 << 24, "8:0");
    tree.addPartition("sda", "sda2", 2, 4096, "8:2");
    tree.addPartition("sda", "sda10", 10, 4096, "8:10");
    tree.addPartition("sda", "sda1", 1, 4096, "8:1");
    tree.addDisk("sdb", 1 << 24, "8:16");
    tree.addPartition("sdb", "sdb1", 1, 4096, "8:17");
    tree.addDisk("sdc", 1 << 24, "8:32");
    LogCapture log;
    tree.addPartition("sdc", "sdc1", 1, 4096, "8:33", false); // no node
    DeviceMapping mapping(tree.roots());
    ASSERT_EQ(mapping.entries().size(), 4u);
    EXPECT_EQ(log.text(), "DeviceMapping(17): " + tree.dev("sdc1") + "\n");

    EXPECT_EQ(mapping.partitionsOf(tree.dev("sda").c_str()), "sda1,sda2,sda10");
    EXPECT_EQ(mapping.partitionsOf(tree.dev("sda2").c_str()), "sda2");
    EXPECT_EQ(mapping.partitionsOf(tree.dev("sdb").c_str()), "sdb1");
    EXPECT_EQ(mapping.partitionsOf(tree.dev("sdc").c_str()), "");

    DeviceMapping::Entry e;
    ASSERT_TRUE(mapping.deviceNumber(tree.dev("sda10").c_str(), e));
    EXPECT_EQ(e.disk, "sda");
    EXPECT_EQ(e.partition, 10u);
    EXPECT_EQ(e.name, "sda10");
}

TEST(DeviceMappingTest, APathThatIsNoDeviceHasNoPartitions) {
    FakeSystemTree tree;
    tree.addDisk("sda", 1 << 24, "8:0");
    DeviceMapping mapping(tree.roots());
    LogCapture log;
    EXPECT_EQ(mapping.partitionsOf(tree.path("mountinfo").c_str()), "");
    EXPECT_EQ(log.text(), "DeviceMapping(72): " + tree.path("mountinfo") + "\nDeviceMapping(31)\n");
    DeviceMapping::Entry e;
    EXPECT_FALSE(mapping.deviceNumber(nullptr, e));
}

} // namespace
