#include "platform/LinuxBlockDevice.h"

#include "platform/AlignedBuffer.h"
#include "tests/support/LoopDevice.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

using platform::AlignedBuffer;
using platform::LinuxBlockDevice;
using testutil::TempDir;

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 7 + i / 512);
    return s;
}

TEST(LinuxBlockDeviceTest, RegularFileIsADiskOf512ByteSectors) {
    TempDir dir;
    const std::string data = pattern(8 * 512);
    testutil::writeAll(dir.file("img"), data);
    LinuxBlockDevice dev;
    ASSERT_TRUE(dev.open(dir.file("img").c_str(), true));
    EXPECT_FALSE(dev.isBlockDevice());
    u64 size = 0, sector = 0;
    ASSERT_TRUE(dev.querySize(size, sector));
    EXPECT_EQ(size, 8u * 512);
    EXPECT_EQ(sector, 512u);

    AlignedBuffer buf;
    ASSERT_TRUE(buf.allocate(1024));
    std::size_t done = 0;
    ASSERT_TRUE(dev.readAt(1024, buf.data(), 1024, done));
    EXPECT_EQ(done, 1024u);
    EXPECT_EQ(std::memcmp(buf.data(), data.data() + 1024, 1024), 0);
}

TEST(LinuxBlockDeviceTest, ReadPastTheEndFailsWithWhatItGot) {
    TempDir dir;
    testutil::writeAll(dir.file("img"), pattern(2 * 512));
    LinuxBlockDevice dev;
    ASSERT_TRUE(dev.open(dir.file("img").c_str(), true));
    AlignedBuffer buf;
    ASSERT_TRUE(buf.allocate(2048));
    std::size_t done = 0;
    EXPECT_FALSE(dev.readAt(512, buf.data(), 1024, done));
    EXPECT_EQ(done, 512u);
    EXPECT_EQ(dev.lastError(), EIO);
    EXPECT_FALSE(dev.lastErrorText().empty());
}

TEST(LinuxBlockDeviceTest, WhatIsNoDeviceDoesNotSize) {
    TempDir dir;
    LinuxBlockDevice dev;
    EXPECT_FALSE(dev.open(dir.file("missing").c_str(), true));
    EXPECT_EQ(dev.lastError(), ENOENT);
    EXPECT_EQ(dev.lastErrorText(), std::strerror(ENOENT));
    EXPECT_FALSE(dev.open("", true));

    u64 size = 0, sector = 0;
    ASSERT_TRUE(dev.open(dir.path().c_str(), true));
    EXPECT_FALSE(dev.querySize(size, sector));
    EXPECT_EQ(dev.lastError(), EISDIR);

    ASSERT_TRUE(dev.open("/dev/null", true));
    EXPECT_FALSE(dev.querySize(size, sector));
    EXPECT_EQ(dev.lastError(), ENOTBLK);
}

TEST(LinuxBlockDeviceTest, WriteModeHoldsTheFileExclusively) {
    TempDir dir;
    testutil::writeAll(dir.file("img"), pattern(4 * 512));
    {
        LinuxBlockDevice writer;
        ASSERT_TRUE(writer.open(dir.file("img").c_str(), false));
        LinuxBlockDevice second;
        EXPECT_FALSE(second.open(dir.file("img").c_str(), false));
        EXPECT_EQ(second.lastError(), EBUSY);
        LinuxBlockDevice reader;
        EXPECT_TRUE(reader.open(dir.file("img").c_str(), true));

        AlignedBuffer buf;
        ASSERT_TRUE(buf.allocate(512));
        std::memset(buf.data(), 0xAB, 512);
        std::size_t done = 0;
        ASSERT_TRUE(writer.writeAt(512, buf.data(), 512, done));
        EXPECT_EQ(done, 512u);
        // A read-only device refuses to write.
        EXPECT_FALSE(reader.writeAt(0, buf.data(), 512, done));
    }
    EXPECT_EQ(testutil::readAll(dir.file("img")).substr(512, 512), std::string(512, '\xAB'));
    LinuxBlockDevice again;
    EXPECT_TRUE(again.open(dir.file("img").c_str(), false));
}

TEST(LinuxBlockDeviceTest, LoopDeviceIsReadDirectAndClaimedExclusively) {
    TempDir dir;
    const std::string data = pattern(64 * 1024);
    testutil::writeAll(dir.file("img"), data);
    testutil::LoopDevice loop(dir.file("img"));
    if (loop.path().empty())
        GTEST_SKIP() << "no loop device (needs root and losetup)";

    LinuxBlockDevice dev;
    ASSERT_TRUE(dev.open(loop.path().c_str(), true)) << dev.lastErrorText();
    EXPECT_TRUE(dev.isBlockDevice());
    EXPECT_TRUE(dev.isDirect());
    u64 size = 0, sector = 0;
    ASSERT_TRUE(dev.querySize(size, sector));
    EXPECT_EQ(size, data.size());
    EXPECT_EQ(sector, 512u);
    AlignedBuffer buf;
    ASSERT_TRUE(buf.allocate(4096));
    std::size_t done = 0;
    ASSERT_TRUE(dev.readAt(4096, buf.data(), 4096, done));
    EXPECT_EQ(std::memcmp(buf.data(), data.data() + 4096, 4096), 0);

    LinuxBlockDevice writer;
    ASSERT_TRUE(writer.open(loop.path().c_str(), false)) << writer.lastErrorText();
    LinuxBlockDevice second;
    EXPECT_FALSE(second.open(loop.path().c_str(), false));
    EXPECT_EQ(second.lastError(), EBUSY);
}

} // namespace
