#include "platform/DiskIdentity.h"

#include "tests/support/FakeSystemTree.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;
using testutil::FakeSystemTree;

TEST(DiskIdentityTest, FromSysfs) {
    FakeSystemTree tree;
    tree.addDisk("sda", 1 << 20, "8:0",
                 {{"device/model", "Fake Disk 2000  "},
                  {"device/rev", "R2"},
                  {"device/vendor", "ATA     "},
                  {"device/serial", "S1"},
                  {"removable", "1"}});
    DiskIdentity id;
    ASSERT_TRUE(readDiskIdentity(tree.roots(), "sda", id));
    EXPECT_EQ(id.model, "Fake Disk 2000");
    EXPECT_EQ(id.revision, "R2");
    EXPECT_EQ(id.vendor, "ATA");
    EXPECT_EQ(id.serial, "S1");
    EXPECT_TRUE(id.removable);
}

TEST(DiskIdentityTest, UdevFillsWhatSysfsLacks) {
    FakeSystemTree tree;
    tree.addDisk("sdb", 1 << 20, "8:16", {{"device/model", "Own Model"}});
    tree.addUdevRecord("8:16", "S:disk/by-id/ata-x\n"
                               "E:ID_MODEL=Other_Model\n"
                               "E:ID_REVISION=1.0\n"
                               "E:ID_SERIAL_SHORT=WD-123\n"
                               "E:ID_BUS=ata\n"
                               "E:ID_ATA_SATA=1\n");
    DiskIdentity id;
    ASSERT_TRUE(readDiskIdentity(tree.roots(), "sdb", id));
    EXPECT_EQ(id.model, "Own Model");
    EXPECT_EQ(id.revision, "1.0");
    EXPECT_EQ(id.serial, "WD-123");
    EXPECT_EQ(id.bus, "sata");
    EXPECT_FALSE(id.removable);

    // udev alone (no device folder): its escaped model is decoded.
    tree.addDisk("sdc", 1 << 20, "8:32");
    tree.addUdevRecord("8:32", "E:ID_MODEL_ENC=USB\\x20Stick\\x20\\x20\nE:ID_MODEL=USB_Stick\n"
                               "E:ID_BUS=usb\n");
    ASSERT_TRUE(readDiskIdentity(tree.roots(), "sdc", id));
    EXPECT_EQ(id.model, "USB Stick  ");
    EXPECT_EQ(id.bus, "usb");
}

TEST(DiskIdentityTest, NvmeMmcAndVirtioKeepTheirTextsElsewhere) {
    FakeSystemTree tree;
    tree.addDisk("nvme0n1", 1 << 20, "259:0",
                 {{"device/model", "NV"}, {"device/firmware_rev", "FW1"}, {"device/serial", "N9"}});
    tree.addDisk("mmcblk0", 1 << 20, "179:0",
                 {{"device/name", "SD32G"},
                  {"device/fwrev", "0x3"},
                  {"device/type", "SD"},
                  {"device/serial", "0x1234abcd"}});
    tree.addDisk("vda", 1 << 20, "254:0", {{"device/vendor", "0x1af4"}, {"serial", "V-1"}});
    DiskIdentity id;
    ASSERT_TRUE(readDiskIdentity(tree.roots(), "nvme0n1", id));
    EXPECT_EQ(id.model, "NV");
    EXPECT_EQ(id.revision, "FW1");
    EXPECT_EQ(id.serial, "N9");
    EXPECT_EQ(id.bus, "nvme");
    ASSERT_TRUE(readDiskIdentity(tree.roots(), "mmcblk0", id));
    EXPECT_EQ(id.model, "SD32G");
    EXPECT_EQ(id.revision, "0x3");
    EXPECT_EQ(id.serial, "0x1234abcd");
    EXPECT_EQ(id.bus, "sd");
    ASSERT_TRUE(readDiskIdentity(tree.roots(), "vda", id));
    EXPECT_EQ(id.serial, "V-1");
    EXPECT_EQ(id.model, "");
}

TEST(DiskIdentityTest, NothingBehindAVirtualDevice) {
    FakeSystemTree tree;
    tree.addDisk("loop0", 1 << 20, "7:0");
    DiskIdentity id;
    id.model = "stale";
    EXPECT_FALSE(readDiskIdentity(tree.roots(), "loop0", id));
    EXPECT_EQ(id.model, "");
    EXPECT_FALSE(readDiskIdentity(tree.roots(), "missing", id));
    EXPECT_FALSE(readDiskIdentity(tree.roots(), "../block", id));
    EXPECT_FALSE(readDiskIdentity(tree.roots(), "", id));
}

TEST(DiskIdentityTest, UdevRecordsAndTexts) {
    auto props = parseUdevProperties("E:A=1\nS:link\nE:B=x=y\nE:=z\nE:C=\nbroken\nE:D=last");
    EXPECT_EQ(props.size(), 4u);
    EXPECT_EQ(props["A"], "1");
    EXPECT_EQ(props["B"], "x=y");
    EXPECT_EQ(props["C"], "");
    EXPECT_EQ(props["D"], "last");
    EXPECT_EQ(decodeUdevText("A\\x20B\\x2f"), "A B/");
    EXPECT_EQ(decodeUdevText("\\x2"), "\\x2");
    EXPECT_EQ(decodeUdevText("\\xZZ"), "\\xZZ");
}

} // namespace
