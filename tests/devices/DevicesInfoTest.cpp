#include "devices/DevicesInfo.h"

#include "tests/support/FakeSystemTree.h"

#include <gtest/gtest.h>

namespace {

using testutil::FakeSystemTree;
using testutil::LogCapture;

TEST(DevicesInfoTest, SerialNumberDecoder) {
    LogCapture log;
    EXPECT_EQ(decodeSerialNumber("31323334"), "2143");
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(decodeSerialNumber("3132333"), "21");
    EXPECT_EQ(log.text(), "DevicesInfo(95): 3132333\n");
    EXPECT_EQ(decodeSerialNumber("WD-WCC4N1234567"), "");
    EXPECT_EQ(decodeSerialNumber("2020414220202020"), "BA"); // blanks trimmed
    EXPECT_EQ(decodeSerialNumber("6a6B"), "kj");
    EXPECT_EQ(decodeSerialNumber(std::string("3132\0"
                                             "334",
                                             8)),
              "21");
    EXPECT_EQ(decodeSerialNumber(""), "");
}

TEST(DevicesInfoTest, BusNames) {
    EXPECT_EQ(busTypeName(0), nullptr);
    EXPECT_STREQ(busTypeName(1), "SCSI");
    EXPECT_STREQ(busTypeName(7), "USB");
    EXPECT_STREQ(busTypeName(11), "SATA");
    EXPECT_STREQ(busTypeName(13), "MMC");
    EXPECT_EQ(busTypeName(14), nullptr);
    EXPECT_EQ(busTypeName(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(busTypeOfLinuxBus("usb"), 7u);
    EXPECT_EQ(busTypeOfLinuxBus("ata"), 3u);
    EXPECT_EQ(busTypeOfLinuxBus("sata"), 11u);
    EXPECT_EQ(busTypeOfLinuxBus("sd"), 12u);
    EXPECT_EQ(busTypeOfLinuxBus("nvme"), 0u);
    EXPECT_EQ(busTypeOfLinuxBus(""), 0u);
}

TEST(DevicesInfoTest, RecordOfADisk) {
    FakeSystemTree tree;
    tree.addDisk("sda", 1 << 20, "8:0",
                 {{"device/model", "Fake Disk"}, {"device/rev", " R2 "}, {"device/serial", "S1"}});
    tree.addUdevRecord("8:0", "E:ID_BUS=usb\n");
    tree.addPartition("sda", "sda2", 2, 4096, "8:2");
    tree.addPartition("sda", "sda1", 1, 4096, "8:1");
    DeviceMapping mapping(tree.roots());
    PropertyMap record;
    LogCapture log;
    ASSERT_TRUE(DevicesInfo::addDevice(tree.dev("sda").c_str(), mapping, record));
    EXPECT_EQ(record.getString("File", ""), tree.dev("sda"));
    EXPECT_EQ(record.getString("Size", ""), "1048576");
    EXPECT_EQ(record.getString("Sector Size", ""), "512");
    EXPECT_EQ(record.getString("Model", ""), "Fake Disk");
    EXPECT_EQ(record.getString("Revision", ""), "R2");
    EXPECT_EQ(record.getString("Serial", ""), "S1");
    EXPECT_EQ(record.getString("Bus Type", ""), "USB");
    EXPECT_EQ(record.getString("Partitions", ""), "sda1,sda2");
    EXPECT_NE(log.text().find("DevicesInfo(131): Size: 1048576, Sector Size: 512\n"),
              std::string::npos);
    EXPECT_NE(log.text().find("DevicesInfo(185): STORAGE_DEVICE_DESCRIPTOR\n"), std::string::npos);
    EXPECT_NE(log.text().find("DevicesInfo(271): Partitions: sda1,sda2\n"), std::string::npos);

    // A partition's partitions are its own name.
    PropertyMap part;
    ASSERT_TRUE(DevicesInfo::addDevice(tree.dev("sda2").c_str(), mapping, part));
    EXPECT_EQ(part.getString("Partitions", ""), "sda2");
    EXPECT_EQ(part.getString("Size", ""), "4096");
}

TEST(DevicesInfoTest, AVirtualDeviceHasSizesOnlyAndAnUnnamedBusIsLogged) {
    FakeSystemTree tree;
    tree.addDisk("loop0", 8192, "7:0");
    tree.addDisk("vda", 8192, "254:0", {{"device/vendor", "0x1af4"}});
    DeviceMapping mapping(tree.roots());
    PropertyMap record;
    LogCapture log;
    ASSERT_TRUE(DevicesInfo::addDevice(tree.dev("loop0").c_str(), mapping, record));
    EXPECT_NE(log.text().find("DevicesInfo(154)\n"), std::string::npos);
    EXPECT_FALSE(record.has("Model"));
    EXPECT_FALSE(record.has("Bus Type"));
    EXPECT_EQ(record.getString("Partitions", "x"), "");

    PropertyMap vda;
    ASSERT_TRUE(DevicesInfo::addDevice(tree.dev("vda").c_str(), mapping, vda));
    EXPECT_TRUE(vda.has("Model"));
    EXPECT_EQ(vda.getString("Model", "x"), "");
    EXPECT_FALSE(vda.has("Bus Type"));
    EXPECT_NE(log.text().find("DevicesInfo(237): 0 "), std::string::npos);
}

TEST(DevicesInfoTest, Failures) {
    FakeSystemTree tree;
    tree.addDisk("sda", 1 << 20, "8:0", {}, false);
    tree.addDisk("sdb", 1 << 20, "8:16");
    tree.makeNode("sdb", 1000); // not whole sectors
    DeviceMapping mapping(tree.roots());
    LogCapture log;

    PropertyMap used;
    used.set("File", "x");
    EXPECT_FALSE(DevicesInfo::addDevice(tree.dev("sdb").c_str(), mapping, used));
    EXPECT_EQ(log.text(), "DevicesInfo(251)\n");

    PropertyMap missing;
    EXPECT_FALSE(DevicesInfo::addDevice(tree.dev("sda").c_str(), mapping, missing));
    EXPECT_NE(
        log.text().find("DevicesInfo(263): " + tree.dev("sda") + " No such file or directory\n"),
        std::string::npos);

    PropertyMap odd;
    EXPECT_FALSE(DevicesInfo::addDevice(tree.dev("sdb").c_str(), mapping, odd));
    EXPECT_NE(log.text().find("Utils(57): 1000 512\nDevicesInfo(128)\nDevicesInfo(268)\n"),
              std::string::npos);
    EXPECT_FALSE(odd.has("Size"));
}

} // namespace
