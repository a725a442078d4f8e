#include "devices/SystemSources.h"

#include "tests/support/FakeSystemTree.h"
#include "tests/support/LoopDevice.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testutil::FakeSystemTree;
using testutil::LogCapture;
using List = std::vector<std::string>;

// The children of `parent`; `ok` says whether they could be listed.
List children(const platform::SystemRoots& roots, const std::string& parent, bool* ok = nullptr) {
    std::unique_ptr<DrivesVFS> vfs(createSystemSources(roots));
    List out{"kept"};
    const bool listed = vfs->listChildren(parent.c_str(), out);
    if (ok)
        *ok = listed;
    EXPECT_EQ(out.front(), "kept"); // appended, never cleared
    out.erase(out.begin());
    return out;
}

struct Machine {
    Machine() {
        tree.addDisk("sdb", 1 << 20, "8:16");
        tree.addDisk(
            "sda", 1 << 21, "8:0",
            {{"device/model", "Fake Disk"}, {"device/rev", "R2"}, {"device/serial", "S1"}});
        tree.addPartition("sda", "sda2", 2, 1 << 20, "8:2");
        tree.addPartition("sda", "sda1", 1, 1 << 19, "8:1");
        tree.addDisk("sdc", 4096, "8:32", {{"device/rev", "R2"}});
        tree.addDisk("sdd", 4096, "8:48", {{"device/serial", " S9 "}});
        tree.addDisk("sde", 4096, "8:64", {}, false); // no node
        tree.addDisk("nvme0n1", 1 << 20, "259:0", {{"device/model", "\tNV\x01Me\xC3\xA9  "}});
        tree.addDisk("loop0", 4096, "7:0");
        tree.addDisk("loop1", 0, "7:1"); // nothing attached
        for (const char* other : {"zram0", "ram0", "sr0"})
            tree.addDisk(other, 4096, std::string(other) == "sr0" ? "11:0" : "1:0");
        tree.addDisk("fd0", 1474560, "2:0");
        tree.write("dev/fd1/x", ""); // a floppy node that is no device
    }
    std::string dev(const std::string& name) const { return tree.dev(name); }
    FakeSystemTree tree;
};

// The root: the disks in natural order (what cannot be opened left out, with
// the reason), the floppies, then "/" and the mount points of block-backed file
// systems that are folders a descriptor can name.
TEST(SystemSourcesTest, TheRootListsDrivesFloppiesAndFolders) {
    Machine m;
    for (const char* d : {"mnt/data", "mnt/usb stick", "mnt/tmp", "mnt/b|ar"})
        std::filesystem::create_directories(m.tree.path(d));
    m.tree.write("mnt/hosts", "");
    const std::string mnt = m.tree.path("mnt");
    std::string table = "27 1 254:0 / / rw - ext4 /dev/vda rw\n";
    for (const char* line :
         {"8:1 / @/data rw - vfat /dev/sda1 rw", "8:1 / @/data rw - vfat /dev/sda1 rw",
          "0:44 / @/usb\\040stick rw - btrfs /dev/sdb1 rw", "0:45 / @/tmp rw - tmpfs tmpfs rw",
          "8:2 / @/gone rw - ext4 /dev/sda2 rw", "254:0 /etc/hosts @/hosts rw - ext4 /dev/vda rw",
          "8:3 / @/b|ar rw - ext4 /dev/sda3 rw"}) {
        std::string l = line;
        table += "30 27 " + l.replace(l.find('@'), 1, mnt) + "\n";
    }
    m.tree.setMountInfo(table);
    LogCapture log;
    bool ok = false;
    EXPECT_EQ(
        children(m.tree.roots(), "", &ok),
        (List{"type=drive|id=" + m.dev("sda") +
                  "|size=2097152|model=Fake Disk|serial=S1-R2|partitions=sda1,sda2"
                  "|comment=Logical Drives: " +
                  m.dev("sda1") + ", " + m.dev("sda2"),
              "type=drive|id=" + m.dev("sdb") + "|size=1048576",
              "type=drive|id=" + m.dev("sdc") + "|size=4096|serial=R2",
              "type=drive|id=" + m.dev("sdd") + "|size=4096|serial=S9",
              "type=drive|id=" + m.dev("nvme0n1") + "|size=1048576|model=NV.Me..",
              "type=drive|id=" + m.dev("loop0") + "|size=4096",
              "type=floppy|id=" + m.dev("fd0") + "|size=1474560|partitions=fd0",
              "type=directory|id=/|name=Logical Drive /",
              "type=directory|id=" + mnt + "/data|name=Logical Drive " + mnt + "/data",
              "type=directory|id=" + mnt + "/usb stick|name=Logical Drive " + mnt + "/usb stick"}));
    EXPECT_TRUE(ok);
    for (const std::string& line :
         {"SystemSources(80): " + m.dev("sde") + "\n", "SystemSources(131): " + m.dev("fd1") + "\n",
          "SystemSources(146): " + mnt + "/gone No such file or directory\n",
          "SystemSources(154): " + mnt + "/hosts\n", "SystemSources(37): " + mnt + "/b|ar\n"})
        EXPECT_TRUE(log.has(line)) << line << log.text();
}

TEST(SystemSourcesTest, OnlyADriveHasPartitionsAndOnlyWhenItOpens) {
    Machine m;
    bool ok = false;
    EXPECT_EQ(children(m.tree.roots(), m.dev("sda"), &ok),
              (List{"type=partition|id=" + m.dev("sda1") + "|size=524288|partitions=sda1",
                    "type=partition|id=" + m.dev("sda2") + "|size=1048576|partitions=sda2"}));
    EXPECT_TRUE(ok);
    for (const char* none : {"sdb", "sda1", "fd0"}) {
        EXPECT_EQ(children(m.tree.roots(), m.dev(none), &ok), List{});
        EXPECT_TRUE(ok) << none;
    }
    m.tree.makeNode("sdb", 1000); // there, but not whole sectors
    LogCapture log;
    EXPECT_EQ(children(m.tree.roots(), m.dev("sdb"), &ok), List{});
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.has("SystemSources(161): " + m.dev("sdb") + "\n"));
}

TEST(SystemSourcesTest, AFolderListsItsFilesAndFoldersSorted) {
    testutil::TempDir dir;
    testutil::writeAll(dir.file("b"), "12345");
    testutil::writeAll(dir.file("caf\xE9.img"), "xy"); // not UTF-8: shown converted, kept as is
    std::filesystem::create_directory(dir.file("c"));
    testutil::writeAll(dir.file("big"), "");
    std::filesystem::resize_file(dir.file("big"), 5368709120ull); // its whole 64-bit size
    // Left out: what a descriptor cannot name, cannot be stated, or is no file.
    testutil::writeAll(dir.file("a|b"), "x");
    std::filesystem::create_symlink(dir.file("nowhere"), dir.file("dangling"));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    LogCapture log;
    bool ok = false;
    EXPECT_EQ(
        children(platform::SystemRoots(), dir.path(), &ok),
        (List{"type=file|size=5|id=" + dir.file("b") + "|name=b",
              "type=file|size=5368709120|id=" + dir.file("big") + "|name=big",
              "type=directory|id=" + dir.file("c") + "|name=c",
              "type=file|size=2|id=" + dir.file("caf\xE9.img") + "|name=caf\xEF\xBF\xBD.img"}));
    EXPECT_TRUE(ok);
    for (const std::string& line : {"SystemSources(37): " + dir.file("a|b") + "\n",
                                    "SystemSources(204): " + dir.file("dangling") + "\n",
                                    "SystemSources(214): " + dir.file("fifo") + "\n"})
        EXPECT_TRUE(log.has(line)) << line;
    EXPECT_EQ(children(platform::SystemRoots(), dir.file("none"), &ok), List{});
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.has("SystemSources(190): " + dir.file("none") + "\n"));

    // The expander's question agrees: a folder holding only what is left out
    // has no children.
    std::unique_ptr<DrivesVFS> vfs(createSystemSources(platform::SystemRoots()));
    EXPECT_TRUE(vfs->hasChildren(dir.path().c_str()));
    std::filesystem::rename(dir.file("fifo"), dir.file("c/fifo"));
    std::filesystem::rename(dir.file("dangling"), dir.file("c/dangling"));
    EXPECT_FALSE(vfs->hasChildren(dir.file("c").c_str()));
    EXPECT_FALSE(vfs->hasChildren(dir.file("none").c_str()));
}

// A real disk with a partition table, where the machine lets us make one.
TEST(SystemSourcesTest, APartitionedLoopDevice) {
    testutil::TempDir dir;
    const std::string image = testutil::shellQuote(dir.file("disk.img"));
    ASSERT_EQ(testutil::run("truncate -s 16M " + image +
                            " && printf 'start=2048, size=8192, "
                            "type=c\\nstart=10240, size=22528, type=83\\n' | sfdisk -q " +
                            image),
              0);
    testutil::LoopDevice loop(dir.file("disk.img"), true);
    if (loop.path().empty())
        GTEST_SKIP() << "no loop device (needs root and losetup)";
    const std::string part1 = loop.path() + "p1", part2 = loop.path() + "p2";
    for (int i = 0; i < 50 && !std::filesystem::exists(part2); ++i)
        usleep(20000); // udev or devtmpfs makes the nodes a moment later
    if (!std::filesystem::exists(part2))
        GTEST_SKIP() << "this kernel made no partition nodes for the loop device";
    const std::string name = loop.path().substr(5);
    EXPECT_EQ(children(platform::SystemRoots(), loop.path()),
              (List{"type=partition|id=" + part1 + "|size=4194304|partitions=" + name + "p1",
                    "type=partition|id=" + part2 + "|size=11534336|partitions=" + name + "p2"}));
}

} // namespace
