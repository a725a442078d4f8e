#include "platform/MountTable.h"

#include "tests/support/FakeSystemTree.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

TEST(MountTableTest, LinesWithOptionalFieldsAndEscapes) {
    MountEntry e;
    ASSERT_TRUE(parseMountInfoLine("36 35 98:0 /mnt1 /mnt/my\\040disk rw,noatime master:1 "
                                   "shared:7 - ext3 /dev/root rw,errors=continue",
                                   e));
    EXPECT_EQ(std::vector<std::string>({std::to_string(e.major) + ":" + std::to_string(e.minor),
                                        e.root, e.mountPoint, e.fsType, e.source}),
              std::vector<std::string>({"98:0", "/mnt1", "/mnt/my disk", "ext3", "/dev/root"}));
    ASSERT_TRUE(parseMountInfoLine("1 2 0:5 / /a\\134b\\011c\\9 rw - tmpfs tmpfs rw", e));
    EXPECT_EQ(e.mountPoint, "/a\\b\tc\\9");
    EXPECT_FALSE(isBlockBacked(e));
    e.source = "/dev/nvme0n1p2"; // btrfs: an anonymous device number
    EXPECT_TRUE(isBlockBacked(e));
}

TEST(MountTableTest, MalformedLinesAreSkipped) {
    MountEntry e;
    for (const char* bad :
         {"", "1 2 8:1 / /mnt rw ext4 /dev/sda1 rw", "1 2 8:1 / /mnt rw - ext4",
          "1 2 81 / /mnt rw - ext4 /dev/sda1 rw", "1 2 8:x / /mnt rw - ext4 /dev/sda1 rw",
          "1 2 99999999999:1 / /mnt rw - ext4 /dev/sda1 rw"})
        EXPECT_FALSE(parseMountInfoLine(bad, e)) << bad;
    const auto all = parseMountInfo("garbage\n1 2 8:1 / /mnt rw - ext4 /dev/sda1 rw\n\n");
    ASSERT_EQ(all.size(), 1u);
    EXPECT_TRUE(isBlockBacked(all[0]));
}

TEST(MountTableTest, ReadsTheTableItIsPointedAtOrThisMachines) {
    testutil::FakeSystemTree tree;
    tree.setMountInfo("27 1 254:0 / / rw - ext4 /dev/vda rw\n");
    std::vector<MountEntry> mounts;
    ASSERT_TRUE(readMountTable(tree.roots(), mounts));
    ASSERT_EQ(mounts.size(), 1u);
    SystemRoots missing = tree.roots();
    missing.mountInfo = tree.path("none");
    EXPECT_FALSE(readMountTable(missing, mounts));
    ASSERT_TRUE(readMountTable(SystemRoots(), mounts));
    bool root = false;
    for (const MountEntry& m : mounts)
        root = root || m.mountPoint == "/";
    EXPECT_TRUE(root);
}

} // namespace
