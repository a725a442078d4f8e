// The blocks of a range read on a second thread: every one, in order, with its
// own sectors and room before it; nothing past the first block that fails, with
// the lines its read logged handed over with it; a reading taken down half-way
// stops within its buffers and is waited for; a slow source's blocks come as
// they are read.

#include "devices/ReadAhead.h"

#include "devices/Driver.h"
#include "tests/support/FailingReader.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

using testutil::FailingReader;
using testutil::MemoryReader;

constexpr u64 SECTOR = 512;
constexpr u64 ROOM = 3 * SECTOR;

TEST(ReadAheadTest, EveryBlockComesInOrderUpToTheFirstThatFailsOrACancel) {
    const std::string image = testutil::numberedSectors(1000);
    auto* failing = new FailingReader(SharedPtr<dt::Reader>(new MemoryReader(image)), {});
    Driver driver(SharedPtr<dt::Reader>(failing), SECTOR);
    // Short and long blocks, a last block cut short, more blocks than buffers
    // by far, and one buffer's wait for every block.
    const struct {
        u64 first, count, block;
        u32 depth;
    } cases[] = {{0, 1000, 256, 16}, {3, 997, 256, 2}, {0, 1000, 7, 3},
                 {0, 1000, 1, 2},    {999, 1, 256, 4}, {0, 512, 256, 16}};
    for (const auto& c : cases) {
        ReadAhead ahead(driver, c.first, c.count, c.block, c.depth, ROOM);
        for (u64 lba = c.first; lba < c.first + c.count;) {
            const ReadAhead::Block& b = ahead.next();
            const u64 n = std::min(c.block, c.first + c.count - lba);
            ASSERT_EQ(b.lba, lba) << c.block << '/' << c.depth;
            ASSERT_EQ(b.count, n);
            ASSERT_TRUE(b.read);
            ASSERT_EQ(std::memcmp(b.sectors, image.data() + lba * SECTOR, n * SECTOR), 0) << lba;
            // The room is the caller's to write.
            std::memset(b.sectors - ROOM, 0xEE, ROOM);
            lba += n;
        }
    }
    // The hand-over of a range's last block, many times over: it comes, and
    // nothing after it.
    for (int run = 0; run < 200; ++run) {
        ReadAhead ahead(driver, 0, 2, 1, 2, 0);
        ASSERT_EQ(ahead.next().lba, 0u);
        ASSERT_EQ(ahead.next().lba, 1u) << run;
        ASSERT_THROW(ahead.next(), std::runtime_error);
    }

    // A cancel takes the reading down half-way: it never got further than its
    // buffers reach, and the destructor waits for it.
    for (u32 depth : {2u, 16u}) {
        const std::size_t before = failing->requests().size();
        {
            ReadAhead ahead(driver, 0, 1000, 8, depth, ROOM);
            EXPECT_TRUE(ahead.next().read);
        }
        EXPECT_LE(failing->requests().size() - before, depth) << depth;
    }

    // Whether anything beyond a bad block is read is for the user to answer:
    // the block that fails is the last one read, and the line its read logged
    // comes with it instead of landing in the log while the main thread writes
    // there.
    failing->addBadSector(321);
    const std::size_t before = failing->requests().size();
    testutil::LogCapture log;
    {
        ReadAhead ahead(driver, 0, 1000, 100, 16, 0);
        for (u64 lba = 0; lba < 300; lba += 100)
            EXPECT_TRUE(ahead.next().read);
        const ReadAhead::Block& bad = ahead.next();
        EXPECT_EQ(bad.lba, 300u);
        EXPECT_FALSE(bad.read);
        EXPECT_EQ(bad.log, "FailingReader(1): 153600 51200\n");
        EXPECT_THROW(ahead.next(), std::runtime_error);
    }
    EXPECT_EQ(failing->requests().size() - before, 4u);
    EXPECT_FALSE(log.has("FailingReader(1)"));
}

// A source that takes its time over every read, as a worn disk does.
class SlowReader : public MemoryReader {
public:
    using MemoryReader::MemoryReader;
    bool read(i64 offset, u8* buffer, i64 size) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        return MemoryReader::read(offset, buffer, size);
    }
};

// Each block of a slow source comes as soon as it is read, not once half the
// buffers are full: the caller polls its progress box between blocks.
TEST(ReadAheadTest, ASlowSourceHandsOverEachBlockAsItComes) {
    Driver driver(SharedPtr<dt::Reader>(new SlowReader(testutil::numberedSectors(64))), SECTOR);
    ReadAhead ahead(driver, 0, 64, 4, 16, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ahead.next().read);
    // Half the buffers, eight blocks, take 320 ms.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

} // namespace
