#include "platform/MountTable.h"

#include "tests/support/FakeSystemTree.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

TEST(MountTableTest, ParsesLinesWithOptionalFieldsAndEscapes) {
    MountEntry e;
    ASSERT_TRUE(parseMountInfoLine("36 35 98:0 /mnt1 /mnt/my\\040disk rw,noatime master:1 "
                                   "shared:7 - ext3 /dev/root rw,errors=continue",
                                   e));
    EXPECT_EQ(e.major, 98u);
    EXPECT_EQ(e.minor, 0u);
    EXPECT_EQ(e.root, "/mnt1");
    EXPECT_EQ(e.mountPoint, "/mnt/my disk");
    EXPECT_EQ(e.fsType, "ext3");
    EXPECT_EQ(e.source, "/dev/root");

    ASSERT_TRUE(parseMountInfoLine("1 2 0:5 / /a\\134b\\011c rw - tmpfs tmpfs rw", e));
    EXPECT_EQ(e.mountPoint, "/a\\b\tc");
    ASSERT_TRUE(parseMountInfoLine("1 2 0:5 / /x\\9 rw - tmpfs none rw", e));
    EXPECT_EQ(e.mountPoint, "/x\\9");
}

TEST(MountTableTest, MalformedLinesAreSkipped) {
    MountEntry e;
    EXPECT_FALSE(parseMountInfoLine("", e));
    EXPECT_FALSE(parseMountInfoLine("1 2 8:1 / /mnt rw ext4 /dev/sda1 rw", e)); // no "-"
    EXPECT_FALSE(parseMountInfoLine("1 2 8:1 / /mnt rw - ext4", e));            // no source
    EXPECT_FALSE(parseMountInfoLine("1 2 81 / /mnt rw - ext4 /dev/sda1 rw", e));
    EXPECT_FALSE(parseMountInfoLine("1 2 8:x / /mnt rw - ext4 /dev/sda1 rw", e));
    EXPECT_FALSE(parseMountInfoLine("1 2 99999999999:1 / /mnt rw - ext4 /dev/sda1 rw", e));
    const auto all = parseMountInfo("garbage\n1 2 8:1 / /mnt rw - ext4 /dev/sda1 rw\n\n");
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].mountPoint, "/mnt");
}

TEST(MountTableTest, BlockBackedFileSystems) {
    auto entry = [](u32 major, const char* source) {
        MountEntry e;
        e.major = major;
        e.source = source;
        return e;
    };
    EXPECT_TRUE(isBlockBacked(entry(8, "/dev/sda1")));
    EXPECT_TRUE(isBlockBacked(entry(0, "/dev/nvme0n1p2"))); // btrfs
    EXPECT_FALSE(isBlockBacked(entry(0, "tmpfs")));
    EXPECT_FALSE(isBlockBacked(entry(0, "proc")));
}

TEST(MountTableTest, ReadsTheTableItIsPointedAt) {
    testutil::FakeSystemTree tree;
    tree.setMountInfo("27 1 254:0 / / rw - ext4 /dev/vda rw\n");
    std::vector<MountEntry> mounts;
    ASSERT_TRUE(readMountTable(tree.roots(), mounts));
    ASSERT_EQ(mounts.size(), 1u);
    EXPECT_EQ(mounts[0].mountPoint, "/");

    SystemRoots missing = tree.roots();
    missing.mountInfo = tree.path("none");
    EXPECT_FALSE(readMountTable(missing, mounts));

    // This machine's own table always holds the root.
    ASSERT_TRUE(readMountTable(SystemRoots(), mounts));
    bool root = false;
    for (const MountEntry& m : mounts)
        root = root || m.mountPoint == "/";
    EXPECT_TRUE(root);
}

} // namespace
