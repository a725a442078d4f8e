#include "devices/BlockDeviceReader.h"

#include "core/Preferences.h"
#include "devices/Driver.h"
#include "devices/Reader.h"
#include "devices/UnreadableSectors.h"
#include "tests/support/FakeBlockDevice.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/LoopDevice.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using testutil::FakeDisk;
using testutil::LogCapture;

using Transfers = std::vector<std::pair<u64, u64>>;

// The byte the numbered fake disk holds at `offset`.
u8 numberedByte(u64 offset) {
    const u32 word = static_cast<u32>(offset & ~u64(3));
    return static_cast<u8>(word >> (8 * (offset & 3)));
}

void expectNumbered(const std::vector<u8>& got, u64 offset) {
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], numberedByte(offset + i)) << "at byte " << offset + i;
}

struct Fixture {
    explicit Fixture(u64 sectors, u64 sectorSize = 512)
        : disk(FakeDisk::numbered(sectors, sectorSize)),
          reader(testutil::fakeBlockDeviceFactory(disk)) {}
    bool open(bool readOnly = true) { return reader.open("/dev/fake", readOnly); }
    bool read(u64 offset, u64 n) {
        got.assign(n, 0);
        return reader.read(static_cast<i64>(offset), got.data(), static_cast<i64>(n));
    }

    std::shared_ptr<FakeDisk> disk;
    dt::BlockDeviceReader reader;
    std::vector<u8> got;
};

TEST(BlockDeviceReaderTest, OpenTakesSizeAndSectorSize) {
    Fixture f(1000, 4096);
    ASSERT_TRUE(f.open());
    EXPECT_EQ(f.reader.getSize(), 1000 * 4096);
    EXPECT_EQ(static_cast<dt::Writer&>(f.reader).getSize(), 1000 * 4096);
    EXPECT_EQ(f.reader.getSectorSize(), 4096u);
}

TEST(BlockDeviceReaderTest, ReadFillsAWindowOf64SectorsFromTheRequestedSector) {
    Fixture f(1000);
    ASSERT_TRUE(f.open());
    ASSERT_TRUE(f.read(1000, 10));
    expectNumbered(f.got, 1000);
    EXPECT_EQ(f.disk->reads, (Transfers{{512, 64 * 512}}));
    // Inside the same window: no device read.
    ASSERT_TRUE(f.read(512, 64 * 512));
    expectNumbered(f.got, 512);
    EXPECT_EQ(f.disk->reads.size(), 1u);
}

TEST(BlockDeviceReaderTest, ReadAcrossTheWindowEndRefillsFromTheNextSector) {
    Fixture f(1000);
    ASSERT_TRUE(f.open());
    ASSERT_TRUE(f.read(0, 1));
    ASSERT_TRUE(f.read(64 * 512 - 100, 300));
    expectNumbered(f.got, 64 * 512 - 100);
    EXPECT_EQ(f.disk->reads, (Transfers{{0, 64 * 512}, {64 * 512, 64 * 512}}));
}

TEST(BlockDeviceReaderTest, ShortWindowAtTheEndAndFailurePastIt) {
    Fixture f(100);
    ASSERT_TRUE(f.open());
    LogCapture log;
    ASSERT_TRUE(f.read(90 * 512, 10 * 512));
    expectNumbered(f.got, 90 * 512);
    EXPECT_EQ(f.disk->reads.back(), (std::pair<u64, u64>(90 * 512, 10 * 512)));
    EXPECT_FALSE(f.read(99 * 512, 1024));
    EXPECT_NE(log.text().find("BlockDeviceReader(185): 51200 51200\n"), std::string::npos) << log.text();
    EXPECT_NE(log.text().find("BlockDeviceReader(128): 51200\n"), std::string::npos);
    // What the device holds was copied before the failure.
    expectNumbered(std::vector<u8>(f.got.begin(), f.got.begin() + 512), 99 * 512);
}

TEST(BlockDeviceReaderTest, ZeroBytesAnywhereSucceedAndNegativesFail) {
    Fixture f(10);
    ASSERT_TRUE(f.open());
    u8 b = 0;
    EXPECT_TRUE(f.reader.read(10 * 512, &b, 0));
    EXPECT_FALSE(f.reader.read(-1, &b, 1));
    EXPECT_FALSE(f.reader.read(0, &b, -1));
    EXPECT_TRUE(f.disk->reads.empty());
}

TEST(BlockDeviceReaderTest, UnopenedReaderFailsWithoutCrashing) {
    dt::BlockDeviceReader reader;
    u8 b[512];
    EXPECT_FALSE(reader.read(0, b, 1));
    EXPECT_FALSE(reader.write(0, b, 512));
}

TEST(BlockDeviceReaderTest, FailedOpensKeepTheEarlierState) {
    Fixture f(10);
    ASSERT_TRUE(f.open());
    LogCapture log;
    f.disk->sizeFails = true;
    EXPECT_FALSE(f.open());
    EXPECT_NE(log.text().find("Utils(31): "), std::string::npos);
    EXPECT_NE(log.text().find("BlockDeviceReader(86): /dev/fake\n"), std::string::npos);
    f.disk->sizeFails = false;
    f.disk->reportedSize = 10 * 512 + 1;
    EXPECT_FALSE(f.open());
    EXPECT_NE(log.text().find("Utils(57): 5121 512\n"), std::string::npos);
    f.disk->reportedSize = 0;
    EXPECT_FALSE(f.open());
    f.disk->reportedSize = ~0ull;
    f.disk->openError = EACCES;
    EXPECT_FALSE(f.open());
    EXPECT_NE(log.text().find("BlockDeviceReader(67): /dev/fake Permission denied\n"), std::string::npos);
    EXPECT_EQ(f.reader.getSize(), 10 * 512);
    EXPECT_TRUE(f.read(0, 512));
}

TEST(BlockDeviceReaderTest, GoodSectorsAroundABadOneStayReadable) {
    Fixture f(256);
    f.disk->badSectors = {100};
    ASSERT_TRUE(f.open());
    LogCapture log;
    // A block over the bad sector fails...
    EXPECT_FALSE(f.read(64 * 512, 64 * 512));
    EXPECT_NE(log.text().find("BlockDeviceReader(192): 32768 32768\n"), std::string::npos);
    // ...and its window was read again one sector at a time.
    EXPECT_EQ(f.disk->reads.size(), 1u + 64u);
    // The sectors around the bad one come from that window.
    const std::size_t reads = f.disk->reads.size();
    ASSERT_TRUE(f.read(99 * 512, 512));
    expectNumbered(f.got, 99 * 512);
    ASSERT_TRUE(f.read(101 * 512, 512));
    expectNumbered(f.got, 101 * 512);
    ASSERT_TRUE(f.read(64 * 512, 36 * 512)); // up to the bad sector exactly
    expectNumbered(f.got, 64 * 512);
    EXPECT_EQ(f.disk->reads.size(), reads);
    // Any read touching it fails, without going back to the device.
    EXPECT_FALSE(f.read(100 * 512, 1));
    EXPECT_FALSE(f.read(99 * 512 + 511, 2));
    EXPECT_FALSE(f.read(100 * 512 + 511, 1));
    EXPECT_EQ(f.disk->reads.size(), reads);
}

TEST(BlockDeviceReaderTest, SectorBySectorAfterABadBlockTouchesTheBadSectorOnce) {
    Fixture f(512);
    f.disk->badSectors = {10, 11, 200};
    ASSERT_TRUE(f.open());
    // What the retry reader does: a block of 256 sectors, then each sector.
    EXPECT_FALSE(f.read(0, 256 * 512));
    std::vector<u64> failed;
    for (u64 s = 0; s < 256; ++s) {
        if (!f.read(s * 512, 512))
            failed.push_back(s);
        else
            expectNumbered(f.got, s * 512);
    }
    EXPECT_EQ(failed, (std::vector<u64>{10, 11, 200}));
    // Each bad sector met the device twice: in the failed window and in that
    // window's sector-by-sector pass; never again after that.
    for (u64 bad : {10u, 11u, 200u}) {
        int touches = 0;
        for (const auto& r : f.disk->reads)
            touches += r.first <= bad * 512 && bad * 512 < r.first + r.second;
        EXPECT_EQ(touches, 2) << "sector " << bad;
    }
}

// The whole road of a scan over a disk with two bad sectors: the retry reader
// in sector mode gets every good sector with its real contents and fills
// exactly the two bad ones.
TEST(BlockDeviceReaderTest, ScanMarksExactlyTheUnreadableSectors) {
    struct Listener : Reader::Listener {
        std::vector<u8> data = std::vector<u8>(512 * 512);
        u64 filled = 0;
        u8* getBuffer() override { return data.data() + filled; }
        void onSectorsRead(u64, u64 count) override { filled += count * 512; }
    };
    auto disk = FakeDisk::numbered(512);
    disk->badSectors = {100, 101};
    auto* device = new dt::BlockDeviceReader(testutil::fakeBlockDeviceFactory(disk));
    SharedPtr<dt::Reader> chain(device);
    ASSERT_TRUE(device->open("/dev/fake", true));
    Driver driver(chain, 512);
    Preferences::instance().setReadErrorMode(0);
    testutil::ScriptedInterface ui(0);
    Listener listener;
    Reader reader(&driver, &listener, &ui, "");
    reader.readSectors(0, 512);
    ASSERT_EQ(listener.filled, 512u * 512);
    std::vector<u64> filled;
    for (u64 s = 0; s < 512; ++s) {
        const u8* sector = listener.data.data() + s * 512;
        if (isUnreadablePattern(sector, 512))
            filled.push_back(s);
        else
            expectNumbered(std::vector<u8>(sector, sector + 512), s * 512);
    }
    EXPECT_EQ(filled, (std::vector<u64>{100, 101}));
    EXPECT_EQ(ui.asked().size(), 2u);
}

TEST(BlockDeviceReaderTest, AWindowEndsBeforeARememberedBadSector) {
    Fixture f(300);
    f.disk->badSectors = {70};
    ASSERT_TRUE(f.open());
    EXPECT_FALSE(f.read(64 * 512, 512 * 10)); // finds sector 70
    f.disk->reads.clear();
    ASSERT_TRUE(f.read(30 * 512, 512)); // a new window from 30 stops before 70
    EXPECT_EQ(f.disk->reads, (Transfers{{30 * 512, 40 * 512}}));
    ASSERT_TRUE(f.read(71 * 512, 512));
    EXPECT_EQ(f.disk->reads.back(), (std::pair<u64, u64>(71 * 512, 64 * 512)));
}

TEST(BlockDeviceReaderTest, WritesWholeSectorsThroughTheCache) {
    Fixture f(200);
    ASSERT_TRUE(f.open(false));
    ASSERT_TRUE(f.read(1024, 512)); // the cache holds a window now
    std::vector<u8> data(512, 0x5A);
    LogCapture log;
    EXPECT_TRUE(f.reader.write(1024, data.data(), 512));
    EXPECT_EQ(f.disk->writes, (Transfers{{1024, 512}}));
    EXPECT_EQ(f.disk->bytes[1024], 0x5A);
    // The cache was emptied: the next read goes to the device and sees the write.
    ASSERT_TRUE(f.read(1024, 4));
    EXPECT_EQ(f.got, std::vector<u8>(4, 0x5A));
    EXPECT_FALSE(f.reader.write(1000, data.data(), 512));
    EXPECT_NE(log.text().find("BlockDeviceReader(151): 1000 512 512 32768\n"), std::string::npos);
    std::vector<u8> big(65 * 512);
    EXPECT_FALSE(f.reader.write(0, big.data(), 65 * 512));
    EXPECT_FALSE(f.reader.write(0, data.data(), 100));
    EXPECT_FALSE(f.reader.write(-512, data.data(), 512));
    EXPECT_EQ(f.disk->writes.size(), 1u);
}

TEST(BlockDeviceReaderTest, ASectorThatTookAWriteIsReadAgain) {
    Fixture f(200);
    f.disk->badSectors = {20};
    ASSERT_TRUE(f.open(false));
    EXPECT_FALSE(f.read(20 * 512, 512));
    f.disk->badSectors.clear(); // the drive remapped it on the write
    std::vector<u8> data(512, 0x11);
    ASSERT_TRUE(f.reader.write(20 * 512, data.data(), 512));
    ASSERT_TRUE(f.read(20 * 512, 512));
    EXPECT_EQ(f.got, data);
}

TEST(BlockDeviceReaderTest, ReadOnlyReaderCannotWrite) {
    Fixture f(10);
    ASSERT_TRUE(f.open(true));
    std::vector<u8> data(512);
    LogCapture log;
    EXPECT_FALSE(f.reader.write(0, data.data(), 512));
    EXPECT_NE(log.text().find("BlockDeviceReader(167): 0 512 0 "), std::string::npos);
}

TEST(BlockDeviceReaderTest, WriteModeNeedsTheDeviceExclusively) {
    auto disk = FakeDisk::numbered(10);
    auto factory = testutil::fakeBlockDeviceFactory(disk);
    dt::BlockDeviceReader first(factory), second(factory), reader(factory);
    ASSERT_TRUE(first.open("/dev/fake", false));
    LogCapture log;
    EXPECT_FALSE(second.open("/dev/fake", false));
    EXPECT_NE(log.text().find("BlockDeviceReader(91): /dev/fake "), std::string::npos);
    EXPECT_TRUE(reader.open("/dev/fake", true));
    EXPECT_FALSE(dt::canLockVolume("/dev/fake", factory));
    EXPECT_NE(log.text().find("Utils(73): /dev/fake "), std::string::npos);

    auto mounted = FakeDisk::numbered(10);
    mounted->busy = true;
    dt::BlockDeviceReader third(testutil::fakeBlockDeviceFactory(mounted));
    EXPECT_FALSE(third.open("/dev/fake", false));
    EXPECT_FALSE(mounted->heldExclusively);
    EXPECT_TRUE(third.open("/dev/fake", true));

    auto free = FakeDisk::numbered(10);
    EXPECT_TRUE(dt::canLockVolume("/dev/fake", testutil::fakeBlockDeviceFactory(free)));
    EXPECT_FALSE(free->heldExclusively); // released again at once
}

TEST(BlockDeviceReaderTest, ImageFileOpensAsADrive) {
    testutil::TempDir dir;
    std::string data(300 * 512, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i % 251);
    testutil::writeAll(dir.file("img"), data);
    dt::BlockDeviceReader reader;
    ASSERT_TRUE(reader.open(dir.file("img").c_str(), true));
    EXPECT_EQ(reader.getSize(), 300 * 512);
    EXPECT_EQ(reader.getSectorSize(), 512u);
    std::vector<u8> got(100 * 512 + 77);
    ASSERT_TRUE(reader.read(1000, got.data(), static_cast<i64>(got.size())));
    EXPECT_EQ(std::memcmp(got.data(), data.data() + 1000, got.size()), 0);
    EXPECT_FALSE(reader.read(300 * 512 - 10, got.data(), 11));

    // A size that is not whole sectors does not open; neither does a folder.
    testutil::writeAll(dir.file("odd"), std::string(1000, 'x'));
    EXPECT_FALSE(reader.open(dir.file("odd").c_str(), true));
    EXPECT_FALSE(reader.open(dir.path().c_str(), true));
    EXPECT_FALSE(reader.open(dir.file("missing").c_str(), true));
    EXPECT_EQ(reader.getSize(), 300 * 512);

    // Two write-mode readers of one image: the second is refused.
    dt::BlockDeviceReader w1, w2;
    ASSERT_TRUE(w1.open(dir.file("img").c_str(), false));
    EXPECT_FALSE(w2.open(dir.file("img").c_str(), false));
    EXPECT_FALSE(dt::canLockVolume(dir.file("img").c_str()));
}

TEST(BlockDeviceReaderTest, LoopDevice) {
    testutil::TempDir dir;
    std::string data(2048 * 512, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 13) >> 3);
    testutil::writeAll(dir.file("img"), data);
    testutil::LoopDevice loop(dir.file("img"));
    if (loop.path().empty())
        GTEST_SKIP() << "no loop device (needs root and losetup)";
    dt::BlockDeviceReader reader;
    ASSERT_TRUE(reader.open(loop.path().c_str(), true));
    EXPECT_EQ(reader.getSize(), static_cast<i64>(data.size()));
    std::vector<u8> got(5000);
    ASSERT_TRUE(reader.read(123457, got.data(), 5000));
    EXPECT_EQ(std::memcmp(got.data(), data.data() + 123457, 5000), 0);
    ASSERT_TRUE(reader.read(static_cast<i64>(data.size()) - 5000, got.data(), 5000));
    EXPECT_EQ(std::memcmp(got.data(), data.data() + data.size() - 5000, 5000), 0);

    dt::BlockDeviceReader w1, w2;
    ASSERT_TRUE(w1.open(loop.path().c_str(), false));
    EXPECT_FALSE(w2.open(loop.path().c_str(), false));
    EXPECT_FALSE(dt::canLockVolume(loop.path().c_str()));
}

} // namespace
