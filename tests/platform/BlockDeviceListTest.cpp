#include "platform/BlockDeviceList.h"

#include "tests/support/FakeSystemTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace {

using namespace platform;
using testutil::FakeSystemTree;

std::vector<std::string> namesOf(const std::vector<BlockDeviceEntry>& list) {
    std::vector<std::string> names;
    for (const auto& e : list)
        names.push_back(e.name);
    return names;
}

TEST(BlockDeviceListTest, NaturalOrder) {
    std::vector<std::string> names{"loop1", "dm-0",    "md127",   "sdaa", "nvme10n1", "sdb",
                                   "loop0", "mmcblk0", "nvme2n1", "sda",  "vda",      "nbd0",
                                   "md0",   "loop10",  "dm-11",   "dm-2", "sdz"};
    std::sort(names.begin(), names.end(), naturalDeviceLess);
    EXPECT_EQ(names,
              (std::vector<std::string>{"sda", "sdb", "sdz", "sdaa", "vda", "nvme2n1", "nvme10n1",
                                        "mmcblk0", "nbd0", "md0", "md127", "dm-0", "dm-2", "dm-11",
                                        "loop0", "loop1", "loop10"}));
    EXPECT_FALSE(naturalDeviceLess("sda", "sda"));
    EXPECT_TRUE(naturalDeviceLess("sda1", "sda10"));
    EXPECT_TRUE(naturalDeviceLess("sda2", "sda10"));
    EXPECT_TRUE(naturalDeviceLess("sda", "sda1"));
}

TEST(BlockDeviceListTest, WholeDevicesWithKindsSizesAndNumbers) {
    FakeSystemTree tree;
    tree.addDisk("sdb", 2048, "8:16");
    tree.addDisk("sda", 1 << 20, "8:0");
    tree.addDisk("fd0", 1474560, "2:0");
    tree.addDisk("zram0", 4096, "252:0");
    tree.addDisk("ram0", 4096, "1:0");
    tree.addDisk("sr0", 0, "11:0");
    tree.addDisk("loop0", 0, "7:0");
    const auto list = listWholeDevices(tree.roots());
    EXPECT_EQ(namesOf(list),
              (std::vector<std::string>{"sda", "sdb", "fd0", "ram0", "sr0", "zram0", "loop0"}));
    const BlockDeviceEntry& sda = list[0];
    EXPECT_EQ(sda.path, tree.dev("sda"));
    EXPECT_EQ(sda.disk, "sda");
    EXPECT_EQ(sda.partition, 0u);
    EXPECT_EQ(sda.size, 1u << 20);
    EXPECT_EQ(sda.devNumber, "8:0");
    EXPECT_EQ(sda.kind, BlockDeviceKind::DISK);
    EXPECT_EQ(list[2].kind, BlockDeviceKind::FLOPPY);
    for (std::size_t i : {3, 4, 5})
        EXPECT_EQ(list[i].kind, BlockDeviceKind::OTHER) << list[i].name;
    EXPECT_EQ(list[6].kind, BlockDeviceKind::DISK);
    EXPECT_EQ(list[6].size, 0u);
}

TEST(BlockDeviceListTest, PartitionsByNumberAndNothingElse) {
    FakeSystemTree tree;
    tree.addDisk("nvme0n1", 1 << 24, "259:0");
    tree.addPartition("nvme0n1", "nvme0n1p10", 10, 4096, "259:10");
    tree.addPartition("nvme0n1", "nvme0n1p2", 2, 8192, "259:2");
    tree.addPartition("nvme0n1", "nvme0n1p1", 1, 4096, "259:1");
    tree.write("sys/block/nvme0n1/queue/logical_block_size", "512\n");
    tree.write("sys/block/nvme0n1/holders/.keep", "");
    const auto parts = listPartitions(tree.roots(), "nvme0n1");
    EXPECT_EQ(namesOf(parts), (std::vector<std::string>{"nvme0n1p1", "nvme0n1p2", "nvme0n1p10"}));
    EXPECT_EQ(parts[1].partition, 2u);
    EXPECT_EQ(parts[1].disk, "nvme0n1");
    EXPECT_EQ(parts[1].size, 8192u);
    EXPECT_EQ(parts[1].devNumber, "259:2");
    EXPECT_TRUE(listPartitions(tree.roots(), "sdx").empty());
    EXPECT_TRUE(listPartitions(tree.roots(), "..").empty());
    EXPECT_TRUE(listPartitions(tree.roots(), "").empty());

    BlockDeviceEntry e;
    ASSERT_TRUE(findBlockDevice(tree.roots(), "nvme0n1p10", e));
    EXPECT_EQ(e.partition, 10u);
    ASSERT_TRUE(findBlockDevice(tree.roots(), "nvme0n1", e));
    EXPECT_EQ(e.partition, 0u);
    EXPECT_FALSE(findBlockDevice(tree.roots(), "queue", e));
    EXPECT_FALSE(findBlockDevice(tree.roots(), "", e));
}

TEST(BlockDeviceListTest, NameOfPath) {
    FakeSystemTree tree;
    tree.addDisk("sda", 1 << 20, "8:0");
    tree.addPartition("sda", "sda1", 1, 4096, "8:1");
    std::filesystem::create_directories(tree.path("dev/mapper"));
    std::filesystem::create_symlink("../sda1", tree.path("dev/mapper/data"));
    const SystemRoots roots = tree.roots();
    EXPECT_EQ(blockDeviceNameOfPath(roots, tree.dev("sda")), "sda");
    EXPECT_EQ(blockDeviceNameOfPath(roots, tree.dev("sda1")), "sda1");
    EXPECT_EQ(blockDeviceNameOfPath(roots, tree.path("dev/mapper/data")), "sda1");
    // A name sysfs does not know, a folder, a path elsewhere.
    tree.write("dev/shm/x", "");
    EXPECT_EQ(blockDeviceNameOfPath(roots, tree.dev("shm")), "");
    EXPECT_EQ(blockDeviceNameOfPath(roots, tree.dev("sdq")), "");
    EXPECT_EQ(blockDeviceNameOfPath(roots, tree.path("mountinfo")), "");
    EXPECT_EQ(blockDeviceNameOfPath(roots, "/dev/null"), "");
}

TEST(BlockDeviceListTest, SysfsTextLosesItsLineEnd) {
    FakeSystemTree tree;
    tree.write("a", "Model X  \n");
    std::string text;
    ASSERT_TRUE(readSysfsText(tree.path("a"), text));
    EXPECT_EQ(text, "Model X  ");
    EXPECT_FALSE(readSysfsText(tree.path("missing"), text));
}

TEST(BlockDeviceListTest, ThisMachine) {
    // Whatever the machine has: every entry is named, and its partitions belong
    // to it.
    for (const BlockDeviceEntry& whole : listWholeDevices(SystemRoots())) {
        EXPECT_FALSE(whole.name.empty());
        EXPECT_EQ(whole.path, "/dev/" + whole.name);
        for (const BlockDeviceEntry& part : listPartitions(SystemRoots(), whole.name)) {
            EXPECT_EQ(part.disk, whole.name);
            EXPECT_GT(part.partition, 0u);
        }
    }
}

} // namespace
