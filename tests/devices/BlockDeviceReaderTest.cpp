#include "devices/BlockDeviceReader.h"

#include "tests/support/FailingReader.h"
#include "tests/support/FakeBlockDevice.h"
#include "tests/support/LoopDevice.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using testutil::FakeDisk;
using testutil::LogCapture;
using Transfers = std::vector<std::pair<u64, u64>>;

struct Fixture {
    explicit Fixture(u64 sectors, std::set<u64> bad = {})
        : disk(FakeDisk::numbered(sectors)), reader(testutil::fakeBlockDeviceFactory(disk)) {
        disk->badSectors = std::move(bad);
    }
    bool open(bool readOnly = true) { return reader.open("/dev/fake", readOnly); }
    // Whether [offset, offset + n) reads, and reads what the disk holds.
    bool read(u64 offset, u64 n) {
        std::vector<u8> got(n);
        if (!reader.read(static_cast<i64>(offset), got.data(), static_cast<i64>(n)))
            return false;
        EXPECT_EQ(std::memcmp(got.data(), disk->bytes.data() + offset, n), 0) << offset;
        return true;
    }
    std::shared_ptr<FakeDisk> disk;
    dt::BlockDeviceReader reader;
};

TEST(BlockDeviceReaderTest, ReadsGoThroughAWindowOf64Sectors) {
    Fixture f(300, {70});
    ASSERT_TRUE(f.open());
    EXPECT_FALSE(f.read(70 * 512, 512));
    f.disk->reads.clear();
    ASSERT_TRUE(f.read(30 * 512, 512));       // a window stops before a known bad sector
    ASSERT_TRUE(f.read(1000, 10));            // a window starts at the sector asked for
    ASSERT_TRUE(f.read(512, 64 * 512));       // inside it: no device read
    ASSERT_TRUE(f.read(65 * 512 - 100, 300)); // across its end: the next from there
    EXPECT_EQ(f.disk->reads,
              (Transfers{{30 * 512, 40 * 512}, {512, 64 * 512}, {65 * 512, 5 * 512}}));
}

// A failed window is read again sector by sector, so one bad sector does not
// take its 63 good neighbours with it; and a bad sector is never asked again,
// which on a dying disk costs time and the disk.
TEST(BlockDeviceReaderTest, ABadSectorCostsOnlyItselfAndIsNotRetried) {
    Fixture f(512, {10, 11, 200});
    ASSERT_TRUE(f.open());
    LogCapture log;
    EXPECT_FALSE(f.read(0, 256 * 512));
    EXPECT_TRUE(log.has("BlockDeviceReader(192): 0 32768\n")) << log.text();
    std::vector<u64> failed;
    for (u64 s = 0; s < 256; ++s)
        if (!f.read(s * 512, 512))
            failed.push_back(s);
    EXPECT_EQ(failed, (std::vector<u64>{10, 11, 200}));
    for (u64 bad : {10u, 11u, 200u}) {
        int touches = 0;
        for (const auto& r : f.disk->reads)
            touches += r.first <= bad * 512 && bad * 512 < r.first + r.second;
        EXPECT_EQ(touches, 2) << "sector " << bad; // the window, then its sector pass
    }
}

TEST(BlockDeviceReaderTest, AFailedOpenKeepsTheEarlierState) {
    Fixture f(10);
    ASSERT_TRUE(f.open());
    LogCapture log;
    f.disk->sizeFails = true;
    EXPECT_FALSE(f.open());
    f.disk->sizeFails = false;
    f.disk->reportedSize = 10 * 512 + 1; // not whole sectors
    EXPECT_FALSE(f.open());
    f.disk->openError = EACCES;
    EXPECT_FALSE(f.open());
    for (const char* line : {"BlockDeviceReader(31): ", "BlockDeviceReader(86): /dev/fake\n",
                             "BlockDeviceReader(57): 5121 512\n",
                             "BlockDeviceReader(67): /dev/fake Permission denied\n"})
        EXPECT_TRUE(log.has(line)) << line;
    EXPECT_EQ(f.reader.getSize(), 10 * 512);
    EXPECT_TRUE(f.read(0, 512));
}

// Nothing is written through a read-only reader, and a writer holds the device
// alone; a sector that took a write (the drive may have remapped it) reads again.
TEST(BlockDeviceReaderTest, WritesNeedTheDeviceAlone) {
    Fixture f(200, {20});
    ASSERT_TRUE(f.open(false));
    EXPECT_FALSE(f.read(20 * 512, 512));
    f.disk->badSectors.clear();
    std::vector<u8> data(512, 0x5A);
    ASSERT_TRUE(f.reader.write(20 * 512, data.data(), 512));
    EXPECT_TRUE(f.read(20 * 512, 512));
    dt::BlockDeviceReader second(testutil::fakeBlockDeviceFactory(f.disk));
    EXPECT_FALSE(second.open("/dev/fake", false));
    EXPECT_FALSE(dt::canLockVolume("/dev/fake", testutil::fakeBlockDeviceFactory(f.disk)));
    ASSERT_TRUE(second.open("/dev/fake", true));
    EXPECT_FALSE(second.write(0, data.data(), 512));
    EXPECT_EQ(f.disk->writes.size(), 2u); // the refused one never reached the disk
}

// A real device where this machine lets us make one: reads at odd offsets go
// through the aligned cache to a device opened for direct transfers.
TEST(BlockDeviceReaderTest, ALoopDevice) {
    testutil::TempDir dir;
    const std::string data = testutil::pattern(2048 * 512);
    testutil::writeAll(dir.file("img"), data);
    testutil::LoopDevice loop(dir.file("img"));
    if (loop.path().empty())
        GTEST_SKIP() << "no loop device (needs root and losetup)";
    dt::BlockDeviceReader reader;
    ASSERT_TRUE(reader.open(loop.path().c_str(), true));
    EXPECT_EQ(reader.getSize(), static_cast<i64>(data.size()));
    std::string got(100 * 512 + 77, '\0');
    ASSERT_TRUE(reader.read(123457, reinterpret_cast<u8*>(&got[0]), static_cast<i64>(got.size())));
    EXPECT_TRUE(got == data.substr(123457, got.size()));
}

} // namespace
