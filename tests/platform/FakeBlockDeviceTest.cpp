#include "platform/FakeBlockDevice.h"

#include "platform/AlignedBuffer.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using namespace platform;

TEST(FakeBlockDeviceTest, DemandsWhatADirectDeviceDemands) {
    auto disk = FakeDisk::numbered(16);
    FakeBlockDevice dev(disk);
    AlignedBuffer buf;
    ASSERT_TRUE(buf.allocate(4096));
    std::size_t done = 0;
    EXPECT_FALSE(dev.readAt(0, buf.data(), 512, done)); // not open
    EXPECT_EQ(dev.lastError(), EBADF);
    ASSERT_TRUE(dev.open("x", true));
    EXPECT_FALSE(dev.readAt(100, buf.data(), 512, done));
    EXPECT_EQ(dev.lastError(), EINVAL);
    EXPECT_FALSE(dev.readAt(0, buf.data(), 100, done));
    EXPECT_FALSE(dev.readAt(0, buf.data() + 8, 512, done));
    EXPECT_FALSE(dev.readAt(15 * 512, buf.data(), 1024, done));
    EXPECT_EQ(dev.lastError(), EIO);
    ASSERT_TRUE(dev.readAt(512, buf.data(), 512, done));
    EXPECT_EQ(done, 512u);
    EXPECT_EQ(buf.data()[0], 0x00);
    EXPECT_EQ(buf.data()[1], 0x02); // the word at 512 holds 512
    EXPECT_EQ(disk->reads.size(), 6u);
}

TEST(FakeBlockDeviceTest, BadSectorsFailEveryReadTouchingThem) {
    auto disk = FakeDisk::numbered(16);
    disk->badSectors = {5};
    FakeBlockDevice dev(disk);
    ASSERT_TRUE(dev.open("x", true));
    AlignedBuffer buf;
    ASSERT_TRUE(buf.allocate(8192));
    std::size_t done = 0;
    EXPECT_TRUE(dev.readAt(0, buf.data(), 5 * 512, done));
    EXPECT_FALSE(dev.readAt(4 * 512, buf.data(), 2 * 512, done));
    EXPECT_EQ(dev.lastError(), EIO);
    EXPECT_TRUE(dev.readAt(6 * 512, buf.data(), 512, done));
}

} // namespace
