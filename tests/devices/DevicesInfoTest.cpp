#include "devices/DevicesInfo.h"

#include "tests/support/FakeSystemTree.h"

#include <gtest/gtest.h>

namespace {

using testutil::FakeSystemTree;
using testutil::LogCapture;

TEST(DevicesInfoTest, TheRecordsOfDisksAndPartitions) {
    FakeSystemTree tree;
    tree.addDisk("sda", 1 << 20, "8:0",
                 {{"device/model", "Fake Disk"}, {"device/rev", " R2 "}, {"device/serial", "S1"}});
    tree.addUdevRecord("8:0", "E:ID_BUS=usb\n");
    tree.addPartition("sda", "sda2", 2, 4096, "8:2");
    tree.addPartition("sda", "sda10", 10, 4096, "8:10");
    tree.addPartition("sda", "sda1", 1, 4096, "8:1");
    tree.addPartition("sda", "sda3", 3, 4096, "8:3", false); // no node: not listed
    tree.addDisk("loop0", 8192, "7:0");
    tree.addDisk("vda", 8192, "254:0", {{"device/vendor", "0x1af4"}});
    DeviceMapping mapping(tree.roots());
    PropertyMap record, part;
    LogCapture log;
    ASSERT_TRUE(DevicesInfo::addDevice(tree.dev("sda").c_str(), mapping, record));
    EXPECT_EQ(record.map(), (PropertyMap::Map{{"Bus Type", "USB"},
                                              {"File", tree.dev("sda")},
                                              {"Model", "Fake Disk"},
                                              {"Partitions", "sda1,sda2,sda10"},
                                              {"Revision", "R2"},
                                              {"Sector Size", "512"},
                                              {"Serial", "S1"},
                                              {"Size", "1048576"}}));
    EXPECT_TRUE(log.has("DevicesInfo(271): Partitions: sda1,sda2,sda10\n")) << log.text();
    ASSERT_TRUE(DevicesInfo::addDevice(tree.dev("sda2").c_str(), mapping, part));
    EXPECT_EQ(part.getString("Partitions", ""), "sda2");
    EXPECT_EQ(part.getString("Size", ""), "4096");
    // Loop devices have no hardware to describe, a virtio disk no bus we name.
    PropertyMap loop, vda;
    ASSERT_TRUE(DevicesInfo::addDevice(tree.dev("loop0").c_str(), mapping, loop));
    EXPECT_TRUE(log.has("DevicesInfo(154)\n"));
    EXPECT_EQ(loop.map(), (PropertyMap::Map{{"File", tree.dev("loop0")},
                                            {"Partitions", ""},
                                            {"Sector Size", "512"},
                                            {"Size", "8192"}}));
    ASSERT_TRUE(DevicesInfo::addDevice(tree.dev("vda").c_str(), mapping, vda));
    EXPECT_FALSE(vda.has("Bus Type"));
    EXPECT_TRUE(log.has("DevicesInfo(237): 0 "));
}

TEST(DevicesInfoTest, WhatCannotBeOpenedOrSizedHasNoRecord) {
    FakeSystemTree tree;
    tree.addDisk("sda", 1 << 20, "8:0", {}, false);
    tree.addDisk("sdb", 1 << 20, "8:16");
    tree.makeNode("sdb", 1000); // not whole sectors
    DeviceMapping mapping(tree.roots());
    LogCapture log;
    PropertyMap used, missing, odd;
    used.set("File", "x");
    EXPECT_FALSE(DevicesInfo::addDevice(tree.dev("sdb").c_str(), mapping, used));
    EXPECT_EQ(log.text(), "DevicesInfo(251)\n");
    EXPECT_FALSE(DevicesInfo::addDevice(tree.dev("sda").c_str(), mapping, missing));
    EXPECT_TRUE(log.has("DevicesInfo(263): " + tree.dev("sda") + " No such file or directory\n"));
    EXPECT_FALSE(DevicesInfo::addDevice(tree.dev("sdb").c_str(), mapping, odd));
    EXPECT_TRUE(log.has("BlockDeviceReader(57): 1000 512\nDevicesInfo(128)\nDevicesInfo(268)\n"));
    EXPECT_FALSE(odd.has("Size"));
}

} // namespace
