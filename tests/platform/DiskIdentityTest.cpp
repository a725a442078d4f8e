#include "platform/DiskIdentity.h"

#include "tests/support/FakeSystemTree.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

// Where each kind of disk keeps its texts, and udev filling what sysfs lacks.
TEST(DiskIdentityTest, EachKindOfDiskFromSysfsAndUdev) {
    const struct {
        const char* name;
        std::map<std::string, std::string> sysfs;
        const char* udev;
        std::vector<std::string> identity; // vendor, model, revision, serial, bus, removable
    } disks[] = {
        {"sda",
         {{"device/model", "Fake Disk 2000  "},
          {"device/rev", "R2"},
          {"device/vendor", "ATA     "},
          {"device/serial", "S1"},
          {"removable", "1"}},
         "",
         {"ATA", "Fake Disk 2000", "R2", "S1", "", "1"}},
        {"sdb",
         {{"device/model", "Own Model"}},
         "S:disk/by-id/ata-x\nE:ID_MODEL=Other_Model\nE:ID_REVISION=1.0\n"
         "E:ID_SERIAL_SHORT=WD-123\nE:ID_BUS=ata\nE:ID_ATA_SATA=1\n",
         {"", "Own Model", "1.0", "WD-123", "sata", "0"}},
        // udev alone: its escaped model is decoded.
        {"sdc",
         {},
         "E:ID_MODEL_ENC=USB\\x20Stick\\x20\\x20\nE:ID_MODEL=USB_Stick\nE:ID_BUS=usb\n",
         {"", "USB Stick  ", "", "", "usb", "0"}},
        {"nvme0n1",
         {{"device/model", "NV"}, {"device/firmware_rev", "FW1"}, {"device/serial", "N9"}},
         "",
         {"", "NV", "FW1", "N9", "nvme", "0"}},
        {"mmcblk0",
         {{"device/name", "SD32G"},
          {"device/fwrev", "0x3"},
          {"device/type", "SD"},
          {"device/serial", "0x1234abcd"}},
         "",
         {"", "SD32G", "0x3", "0x1234abcd", "sd", "0"}},
        {"vda",
         {{"device/vendor", "0x1af4"}, {"serial", "V-1"}},
         "",
         {"0x1af4", "", "", "V-1", "", "0"}},
    };
    testutil::FakeSystemTree tree;
    int minor = 0;
    for (const auto& d : disks) {
        const std::string number = "8:" + std::to_string(minor++);
        tree.addDisk(d.name, 1 << 20, number, d.sysfs);
        if (*d.udev)
            tree.addUdevRecord(number, d.udev);
        DiskIdentity id;
        ASSERT_TRUE(readDiskIdentity(tree.roots(), d.name, id)) << d.name;
        EXPECT_EQ(std::vector<std::string>({id.vendor, id.model, id.revision, id.serial, id.bus,
                                            id.removable ? "1" : "0"}),
                  d.identity)
            << d.name;
    }
}

// Loop, dm and md devices have no hardware behind them to describe.
TEST(DiskIdentityTest, NothingBehindAVirtualDeviceOrAStrangeName) {
    testutil::FakeSystemTree tree;
    tree.addDisk("loop0", 1 << 20, "7:0");
    DiskIdentity id;
    id.model = "stale";
    EXPECT_FALSE(readDiskIdentity(tree.roots(), "loop0", id));
    EXPECT_EQ(id.model, "");
    for (const char* name : {"missing", "../block", ""})
        EXPECT_FALSE(readDiskIdentity(tree.roots(), name, id)) << name;
}

TEST(DiskIdentityTest, UdevRecordsAndTexts) {
    auto props = parseUdevProperties("E:A=1\nS:link\nE:B=x=y\nE:=z\nE:C=\nbroken\nE:D=last");
    EXPECT_EQ(props, (std::map<std::string, std::string>{
                         {"A", "1"}, {"B", "x=y"}, {"C", ""}, {"D", "last"}}));
    EXPECT_EQ(decodeUdevText("A\\x20B\\x2f\\x2\\xZZ"), "A B/\\x2\\xZZ");
}

} // namespace
