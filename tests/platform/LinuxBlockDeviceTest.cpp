#include "platform/LinuxBlockDevice.h"

#include "platform/AlignedBuffer.h"
#include "tests/support/FailingReader.h"
#include "tests/support/LoopDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

using platform::LinuxBlockDevice;

struct Image {
    Image() { testutil::writeAll(path(), bytes); }
    std::string path() const { return dir.file("img"); }
    testutil::TempDir dir;
    std::string bytes = testutil::pattern(64 * 1024);
};

// An image file stands in for a disk of 512-byte sectors; a loop device is a
// real one, read past the page cache, where this machine lets us make it. The
// end reads as far as it goes and fails with EIO.
TEST(LinuxBlockDeviceTest, ImagesAndLoopDevicesReadAsDisks) {
    Image image;
    testutil::LoopDevice loop(image.path());
    std::vector<std::string> paths{image.path()};
    if (!loop.path().empty())
        paths.push_back(loop.path());
    platform::AlignedBuffer buf;
    ASSERT_TRUE(buf.allocate(8192));
    for (const std::string& path : paths) {
        LinuxBlockDevice dev;
        ASSERT_TRUE(dev.open(path.c_str(), true)) << dev.lastErrorText();
        EXPECT_EQ(dev.isDirect(), path != image.path()) << path;
        u64 size = 0, sector = 0;
        ASSERT_TRUE(dev.querySize(size, sector));
        EXPECT_EQ(size, image.bytes.size());
        EXPECT_EQ(sector, 512u);
        std::size_t done = 0;
        ASSERT_TRUE(dev.readAt(4096, buf.data(), 4096, done));
        EXPECT_EQ(std::memcmp(buf.data(), image.bytes.data() + 4096, 4096), 0) << path;
        EXPECT_FALSE(dev.readAt(size - 4096, buf.data(), 8192, done)) << path;
        EXPECT_EQ(done, 4096u);
        EXPECT_EQ(dev.lastError(), EIO);
    }
    if (loop.path().empty())
        GTEST_SKIP() << "image file only: no loop device here (needs root and losetup)";
}

TEST(LinuxBlockDeviceTest, WhatIsNoDeviceDoesNotSize) {
    testutil::TempDir dir;
    LinuxBlockDevice dev;
    EXPECT_FALSE(dev.open(dir.file("missing").c_str(), true));
    EXPECT_EQ(dev.lastErrorText(), std::strerror(ENOENT));
    u64 size = 0, sector = 0;
    for (const std::pair<std::string, int>& node :
         {std::make_pair(dir.path(), EISDIR), std::make_pair(std::string("/dev/null"), ENOTBLK)}) {
        ASSERT_TRUE(dev.open(node.first.c_str(), true));
        EXPECT_FALSE(dev.querySize(size, sector));
        EXPECT_EQ(dev.lastError(), node.second) << node.first;
    }
}

// A writer holds the device alone; a reader cannot write.
TEST(LinuxBlockDeviceTest, WriteModeHoldsTheDeviceExclusively) {
    Image image;
    testutil::LoopDevice loop(image.path());
    for (const std::string& path : {image.path(), loop.path()}) {
        if (path.empty())
            continue;
        LinuxBlockDevice writer, second, reader;
        ASSERT_TRUE(writer.open(path.c_str(), false)) << writer.lastErrorText();
        EXPECT_FALSE(second.open(path.c_str(), false));
        EXPECT_EQ(second.lastError(), EBUSY);
        ASSERT_TRUE(reader.open(path.c_str(), true));
        platform::AlignedBuffer buf;
        ASSERT_TRUE(buf.allocate(512));
        std::memset(buf.data(), 0xAB, 512);
        std::size_t done = 0;
        EXPECT_FALSE(reader.writeAt(0, buf.data(), 512, done));
        ASSERT_TRUE(writer.writeAt(512, buf.data(), 512, done));
    }
    EXPECT_EQ(testutil::readAll(image.path()).substr(512, 512), std::string(512, '\xAB'));
}

} // namespace
