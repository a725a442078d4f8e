#include "platform/BlockDeviceList.h"

#include "tests/support/FakeSystemTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using namespace platform;
using testutil::FakeSystemTree;
using Names = std::vector<std::string>;

Names namesOf(const std::vector<BlockDeviceEntry>& list) {
    Names names;
    for (const auto& e : list)
        names.push_back(e.name);
    return names;
}

TEST(BlockDeviceListTest, NaturalOrder) {
    Names names{"loop1", "dm-0",    "md127",   "sdaa", "nvme10n1", "sdb",
                "loop0", "mmcblk0", "nvme2n1", "sda",  "vda",      "nbd0",
                "md0",   "loop10",  "dm-11",   "dm-2", "sdz"};
    std::sort(names.begin(), names.end(), naturalDeviceLess);
    EXPECT_EQ(names,
              (Names{"sda", "sdb", "sdz", "sdaa", "vda", "nvme2n1", "nvme10n1", "mmcblk0", "nbd0",
                     "md0", "md127", "dm-0", "dm-2", "dm-11", "loop0", "loop1", "loop10"}));
    EXPECT_FALSE(naturalDeviceLess("sda", "sda"));
    EXPECT_TRUE(naturalDeviceLess("sda2", "sda10"));
}

TEST(BlockDeviceListTest, WholeDevicesAndPartitionsWithKindsSizesAndNumbers) {
    FakeSystemTree tree;
    tree.addDisk("sdb", 2048, "8:16");
    tree.addDisk("sda", 1 << 20, "8:0");
    tree.addDisk("fd0", 1474560, "2:0");
    for (const char* other : {"zram0", "ram0", "sr0"})
        tree.addDisk(other, 4096, "1:0");
    tree.addDisk("nvme0n1", 1 << 24, "259:0");
    tree.addPartition("nvme0n1", "nvme0n1p10", 10, 4096, "259:10");
    tree.addPartition("nvme0n1", "nvme0n1p2", 2, 8192, "259:2");
    tree.addPartition("nvme0n1", "nvme0n1p1", 1, 4096, "259:1");
    // Neither is a partition.
    tree.write("sys/block/nvme0n1/queue/logical_block_size", "512\n");
    tree.write("sys/block/nvme0n1/holders/.keep", "");
    const auto whole = listWholeDevices(tree.roots());
    EXPECT_EQ(namesOf(whole), (Names{"sda", "sdb", "nvme0n1", "fd0", "ram0", "sr0", "zram0"}));
    const BlockDeviceEntry& sda = whole[0];
    EXPECT_EQ(std::vector<std::string>({sda.path, sda.disk, std::to_string(sda.partition),
                                        std::to_string(sda.size), sda.devNumber}),
              std::vector<std::string>({tree.dev("sda"), "sda", "0", "1048576", "8:0"}));
    EXPECT_EQ(sda.kind, BlockDeviceKind::DISK);
    EXPECT_EQ(whole[3].kind, BlockDeviceKind::FLOPPY);
    for (std::size_t i : {4, 5, 6})
        EXPECT_EQ(whole[i].kind, BlockDeviceKind::OTHER) << whole[i].name;

    const auto parts = listPartitions(tree.roots(), "nvme0n1");
    EXPECT_EQ(namesOf(parts), (Names{"nvme0n1p1", "nvme0n1p2", "nvme0n1p10"}));
    EXPECT_EQ(std::vector<std::string>({parts[1].disk, std::to_string(parts[1].partition),
                                        std::to_string(parts[1].size), parts[1].devNumber}),
              std::vector<std::string>({"nvme0n1", "2", "8192", "259:2"}));
    for (const char* none : {"sdx", "..", ""})
        EXPECT_TRUE(listPartitions(tree.roots(), none).empty()) << none;
    BlockDeviceEntry e;
    ASSERT_TRUE(findBlockDevice(tree.roots(), "nvme0n1p10", e));
    EXPECT_EQ(e.partition, 10u);
    EXPECT_FALSE(findBlockDevice(tree.roots(), "queue", e));
}

TEST(BlockDeviceListTest, TheDeviceAPathNames) {
    FakeSystemTree tree;
    tree.addDisk("sda", 1 << 20, "8:0");
    tree.addPartition("sda", "sda1", 1, 4096, "8:1");
    std::filesystem::create_directories(tree.path("dev/mapper"));
    std::filesystem::create_symlink("../sda1", tree.path("dev/mapper/data"));
    tree.write("dev/shm/x", "");
    const SystemRoots roots = tree.roots();
    EXPECT_EQ(blockDeviceNameOfPath(roots, tree.dev("sda")), "sda");
    EXPECT_EQ(blockDeviceNameOfPath(roots, tree.path("dev/mapper/data")), "sda1");
    // A folder, a name sysfs does not know, a path elsewhere.
    for (const std::string& none :
         {tree.dev("shm"), tree.dev("sdq"), tree.path("mountinfo"), std::string("/dev/null")})
        EXPECT_EQ(blockDeviceNameOfPath(roots, none), "") << none;
}

// Whatever this machine has: every entry is named, and its partitions belong to it.
TEST(BlockDeviceListTest, ThisMachine) {
    for (const BlockDeviceEntry& whole : listWholeDevices(SystemRoots())) {
        EXPECT_EQ(whole.path, "/dev/" + whole.name);
        for (const BlockDeviceEntry& part : listPartitions(SystemRoots(), whole.name)) {
            EXPECT_EQ(part.disk, whole.name);
            EXPECT_GT(part.partition, 0u);
        }
    }
}

} // namespace
