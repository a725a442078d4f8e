#include "devices/SystemSources.h"

#include "tests/support/FakeSystemTree.h"
#include "tests/support/LoopDevice.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testutil::FakeSystemTree;
using testutil::LogCapture;
using List = std::vector<std::string>;

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

// The devices of the fake machine, without the folders of the root.
List devicesOnly(const List& all) {
    List out;
    for (const std::string& d : all)
        if (d.compare(0, 15, "type=directory|") != 0)
            out.push_back(d);
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
        tree.addDisk("nvme0n1", 1 << 20, "259:0", {{"device/model", "\tNV\x01Me\xC3\xA9  "}});
        tree.addDisk("loop0", 4096, "7:0");
        tree.addDisk("loop1", 0, "7:1"); // nothing attached
        tree.addDisk("zram0", 4096, "252:0");
        tree.addDisk("ram0", 4096, "1:0");
        tree.addDisk("sr0", 4096, "11:0");
        tree.addDisk("fd0", 1474560, "2:0");
    }
    std::string dev(const std::string& name) const { return tree.dev(name); }
    FakeSystemTree tree;
};

TEST(SystemSourcesTest, RootListsDrivesInNaturalOrderThenFloppiesThenRoots) {
    Machine m;
    bool ok = false;
    const List all = children(m.tree.roots(), "", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(devicesOnly(all),
              (List{"type=drive|id=" + m.dev("sda") +
                        "|size=2097152|model=Fake Disk|serial=S1-R2|partitions=sda1,sda2"
                        "|comment=Logical Drives: " +
                        m.dev("sda1") + ", " + m.dev("sda2"),
                    "type=drive|id=" + m.dev("sdb") + "|size=1048576",
                    "type=drive|id=" + m.dev("nvme0n1") + "|size=1048576|model=NV.Me..",
                    "type=drive|id=" + m.dev("loop0") + "|size=4096",
                    "type=floppy|id=" + m.dev("fd0") + "|size=1474560|partitions=fd0"}));
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back(), "type=directory|id=/|name=Logical Drive /");
}

TEST(SystemSourcesTest, SerialAndRevisionJoinOnlyWhenBothAreThere) {
    FakeSystemTree tree;
    tree.addDisk("sda", 4096, "8:0", {{"device/rev", "R2"}});
    tree.addDisk("sdb", 4096, "8:16", {{"device/serial", " S9 "}});
    EXPECT_EQ(devicesOnly(children(tree.roots(), "")),
              (List{"type=drive|id=" + tree.dev("sda") + "|size=4096|serial=R2",
                    "type=drive|id=" + tree.dev("sdb") + "|size=4096|serial=S9"}));
}

TEST(SystemSourcesTest, ADeviceThatCannotBeOpenedIsLeftOutWithTheReason) {
    FakeSystemTree tree;
    tree.addDisk("sda", 4096, "8:0", {}, false);
    tree.addDisk("sdb", 4096, "8:16");
    tree.write("dev/fd1/x", ""); // a floppy node that is no device
    LogCapture log;
    EXPECT_EQ(devicesOnly(children(tree.roots(), "")),
              (List{"type=drive|id=" + tree.dev("sdb") + "|size=4096"}));
    EXPECT_NE(log.text().find("DevicesInfo(263): " + tree.dev("sda") +
                              " No such file or directory\nSystemSources(80): " + tree.dev("sda") +
                              "\n"),
              std::string::npos)
        << log.text();
    EXPECT_NE(log.text().find("SystemSources(131): " + tree.dev("fd1") + "\n"), std::string::npos);
}

TEST(SystemSourcesTest, RootsAreSlashAndTheBlockBackedMountPoints) {
    FakeSystemTree tree;
    for (const char* d : {"mnt/data", "mnt/usb stick", "mnt/tmp", "mnt/b|ar"})
        std::filesystem::create_directories(tree.path(d));
    tree.write("mnt/hosts", "");
    const std::string mnt = tree.path("mnt");
    auto esc = [](std::string s) {
        for (std::size_t at; (at = s.find(' ')) != std::string::npos;)
            s.replace(at, 1, "\\040");
        return s;
    };
    tree.setMountInfo("27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                      "30 27 8:1 / " +
                      mnt +
                      "/data rw - vfat /dev/sda1 rw\n"
                      "31 27 0:44 / " +
                      esc(mnt + "/usb stick") +
                      " rw - btrfs /dev/sdb1 rw\n"
                      "32 27 0:45 / " +
                      mnt +
                      "/tmp rw - tmpfs tmpfs rw\n"
                      "33 27 8:2 / " +
                      mnt +
                      "/gone rw - ext4 /dev/sda2 rw\n"
                      "34 27 254:0 /etc/hosts " +
                      mnt +
                      "/hosts rw - ext4 /dev/vda rw\n"
                      "35 27 8:3 / " +
                      mnt +
                      "/b|ar rw - ext4 /dev/sda3 rw\n"
                      "36 27 8:1 / " +
                      mnt + "/data rw - vfat /dev/sda1 rw\n");
    LogCapture log;
    EXPECT_EQ(
        children(tree.roots(), ""),
        (List{"type=directory|id=/|name=Logical Drive /",
              "type=directory|id=" + mnt + "/data|name=Logical Drive " + mnt + "/data",
              "type=directory|id=" + mnt + "/usb stick|name=Logical Drive " + mnt + "/usb stick"}));
    EXPECT_NE(log.text().find("SystemSources(146): " + mnt + "/gone No such file or directory\n"),
              std::string::npos)
        << log.text();
}

TEST(SystemSourcesTest, ADriveExpandsToAllItsPartitions) {
    Machine m;
    bool ok = false;
    EXPECT_EQ(children(m.tree.roots(), m.dev("sda"), &ok),
              (List{"type=partition|id=" + m.dev("sda1") + "|size=524288|partitions=sda1",
                    "type=partition|id=" + m.dev("sda2") + "|size=1048576|partitions=sda2"}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(children(m.tree.roots(), m.dev("sdb"), &ok), List{});
    EXPECT_TRUE(ok);
}

TEST(SystemSourcesTest, PartitionsAndFloppiesHaveNoChildren) {
    Machine m;
    bool ok = false;
    EXPECT_EQ(children(m.tree.roots(), m.dev("sda1"), &ok), List{});
    EXPECT_TRUE(ok);
    EXPECT_EQ(children(m.tree.roots(), m.dev("fd0"), &ok), List{});
    EXPECT_TRUE(ok);
}

TEST(SystemSourcesTest, AnUnreadableDriveCannotBeExpanded) {
    Machine m;
    std::filesystem::remove(m.dev("sdb"));
    LogCapture log;
    bool ok = true;
    EXPECT_EQ(children(m.tree.roots(), m.dev("sdb"), &ok), List{});
    EXPECT_FALSE(ok);
    EXPECT_NE(log.text().find("SystemSources(161): " + m.dev("sdb") + "\n"), std::string::npos);

    m.tree.makeNode("sdb", 1000); // there, but not whole sectors
    EXPECT_EQ(children(m.tree.roots(), m.dev("sdb"), &ok), List{});
    EXPECT_FALSE(ok);
    EXPECT_NE(log.text().find("SystemSources(161): " + m.dev("sdb") + "\n"), std::string::npos);
}

TEST(SystemSourcesTest, FolderListsSortedFilesAndFolders) {
    testutil::TempDir dir;
    testutil::writeAll(dir.file("b"), "12345");
    testutil::writeAll(dir.file("a"), "");
    std::filesystem::create_directory(dir.file("c"));
    // A 5 GiB file shows its whole size.
    testutil::writeAll(dir.file("big"), "");
    std::filesystem::resize_file(dir.file("big"), 5368709120ull);
    bool ok = false;
    EXPECT_EQ(children(platform::SystemRoots(), dir.path(), &ok),
              (List{"type=file|size=0|id=" + dir.file("a") + "|name=a",
                    "type=file|size=5|id=" + dir.file("b") + "|name=b",
                    "type=file|size=5368709120|id=" + dir.file("big") + "|name=big",
                    "type=directory|id=" + dir.file("c") + "|name=c"}));
    EXPECT_TRUE(ok);
}

TEST(SystemSourcesTest, EntriesThatCannotBeNamedOrStatedAreLeftOut) {
    testutil::TempDir dir;
    testutil::writeAll(dir.file("a|b"), "x");
    std::filesystem::create_symlink(dir.file("nowhere"), dir.file("dangling"));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    testutil::writeAll(dir.file("ok"), "x");
    LogCapture log;
    bool ok = false;
    EXPECT_EQ(children(platform::SystemRoots(), dir.path(), &ok),
              (List{"type=file|size=1|id=" + dir.file("ok") + "|name=ok"}));
    EXPECT_TRUE(ok);
    const std::string text = log.text();
    EXPECT_NE(text.find(dir.file("a|b") + "\n"), std::string::npos);
    EXPECT_NE(text.find("SystemSources(204): " + dir.file("dangling") + "\n"), std::string::npos);
    EXPECT_NE(text.find("SystemSources(214): " + dir.file("fifo") + "\n"), std::string::npos);
}

TEST(SystemSourcesTest, NamesThatAreNotUtf8AreShownConvertedButKeptAsTheyAre) {
    testutil::TempDir dir;
    const std::string raw = "caf\xE9.img";
    testutil::writeAll(dir.file(raw), "xy");
    const List list = children(platform::SystemRoots(), dir.path());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], "type=file|size=2|id=" + dir.file(raw) + "|name=caf\xEF\xBF\xBD.img");
}

TEST(SystemSourcesTest, MissingFolderFails) {
    testutil::TempDir dir;
    LogCapture log;
    bool ok = true;
    EXPECT_EQ(children(platform::SystemRoots(), dir.file("none"), &ok), List{});
    EXPECT_FALSE(ok);
    EXPECT_EQ(log.text(), "SystemSources(190): " + dir.file("none") + "\n");
}

TEST(SystemSourcesTest, PrintableText) {
    EXPECT_EQ(toPrintableText("  Model\tX \t"), "Model.X ."); // a tab is not printable
    EXPECT_EQ(toPrintableText("a\x01"
                              "b\x7F"
                              "c\xFF"),
              "a.b.c.");
    EXPECT_EQ(toPrintableText(""), "");
    EXPECT_EQ(toPrintableText("\x01 "), ".");
}

TEST(SystemSourcesTest, ThisMachine) {
    // A CI machine may have no disk we can open: whatever is there, the root
    // lists, every child is a descriptor, and "/" is among them.
    std::unique_ptr<DrivesVFS> vfs(createSystemSources());
    List list;
    ASSERT_TRUE(vfs->listChildren("", list));
    bool root = false;
    for (const std::string& d : list) {
        EXPECT_EQ(d.compare(0, 5, "type="), 0) << d;
        root = root || d == "type=directory|id=/|name=Logical Drive /";
    }
    EXPECT_TRUE(root);
    for (const std::string& d : list) {
        if (d.compare(0, 11, "type=drive|") != 0)
            continue;
        const std::string id = d.substr(14, d.find('|', 14) - 14);
        List parts;
        EXPECT_TRUE(vfs->listChildren(id.c_str(), parts)) << id;
        for (const std::string& p : parts)
            EXPECT_EQ(p.compare(0, 15, "type=partition|"), 0) << p;
    }
}

// A real disk with a partition table, where the machine lets us make one.
TEST(SystemSourcesTest, PartitionedLoopDevice) {
    testutil::TempDir dir;
    std::string image(16 << 20, '\0');
    // Two MBR entries: FAT32 at 2048 (8192 sectors), Linux at 10240 (22528).
    const u8 entries[32] = {0, 0, 0, 0, 0x0C, 0, 0, 0, 0x00, 0x08, 0, 0, 0x00, 0x20, 0, 0,
                            0, 0, 0, 0, 0x83, 0, 0, 0, 0x00, 0x28, 0, 0, 0x00, 0x58, 0, 0};
    image.replace(446, 32, reinterpret_cast<const char*>(entries), 32);
    image[510] = '\x55';
    image[511] = '\xAA';
    testutil::writeAll(dir.file("disk.img"), image);
    testutil::LoopDevice loop(dir.file("disk.img"), true);
    if (loop.path().empty())
        GTEST_SKIP() << "no loop device (needs root and losetup)";
    const std::string part1 = loop.path() + "p1", part2 = loop.path() + "p2";
    for (int i = 0; i < 50 && !std::filesystem::exists(part2); ++i)
        usleep(20000); // udev or devtmpfs makes the nodes a moment later
    if (!std::filesystem::exists(part2))
        GTEST_SKIP() << "this kernel made no partition nodes";

    std::unique_ptr<DrivesVFS> vfs(createSystemSources());
    List root;
    ASSERT_TRUE(vfs->listChildren("", root));
    const std::string name = loop.path().substr(5);
    const std::string drive = "type=drive|id=" + loop.path() +
                              "|size=16777216|partitions=" + name + "p1," + name +
                              "p2|comment=Logical Drives: " + part1 + ", " + part2;
    EXPECT_NE(std::find(root.begin(), root.end(), drive), root.end());
    List parts;
    ASSERT_TRUE(vfs->listChildren(loop.path().c_str(), parts));
    EXPECT_EQ(parts,
              (List{"type=partition|id=" + part1 + "|size=4194304|partitions=" + name + "p1",
                    "type=partition|id=" + part2 + "|size=11534336|partitions=" + name + "p2"}));
}

TEST(SystemSourcesTest, ProbeListsTheSameChildren) {
    Machine m;
    const platform::SystemRoots r = m.tree.roots();
    std::string out;
    const std::string cmd =
        testutil::shellQuote(testutil::probePath()) + " sources --sysfs " +
        testutil::shellQuote(r.sysfs) + " --dev " + testutil::shellQuote(r.dev) + " --udev " +
        testutil::shellQuote(r.udevData) + " --mountinfo " + testutil::shellQuote(r.mountInfo);
    ASSERT_EQ(testutil::run(cmd, &out), 0);
    std::string expected;
    for (const std::string& d : children(r, ""))
        expected += d + "\n";
    EXPECT_EQ(out, expected);

    ASSERT_EQ(testutil::run(cmd + " " + testutil::shellQuote(m.dev("sda")), &out), 0);
    EXPECT_EQ(out, "type=partition|id=" + m.dev("sda1") +
                       "|size=524288|partitions=sda1\ntype=partition|id=" + m.dev("sda2") +
                       "|size=1048576|partitions=sda2\n");

    std::string err;
    EXPECT_EQ(
        testutil::run(cmd + " --log " + testutil::shellQuote(m.tree.path("none")), &out, &err), 1);
    EXPECT_NE(err.find("SystemSources(190): "), std::string::npos);
}

} // namespace
