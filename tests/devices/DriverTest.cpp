#include "devices/Driver.h"

#include "tests/support/FailingReader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace {

using testutil::FailingReader;
using testutil::MemoryReader;

// The reader stack a test looks at: a memory source seen through a reader that
// records every request.
struct Chain {
    explicit Chain(std::string bytes)
        : recorder(
              new FailingReader(SharedPtr<dt::Reader>(new MemoryReader(std::move(bytes))), {})),
          top(recorder) {}
    FailingReader* recorder; // owned by top
    SharedPtr<dt::Reader> top;
};

TEST(DriverTest, ConstructionNeedsAReaderAndASectorSize) {
    using ::testing::StrEq;
    using ::testing::ThrowsMessage;
    EXPECT_THAT([] { Driver d(SharedPtr<dt::Reader>(), 512); },
                ThrowsMessage<std::runtime_error>(StrEq("Driver(12)")));
    Chain c(std::string(512, 'x'));
    EXPECT_THAT([&] { Driver d(c.top, 0); },
                ThrowsMessage<std::runtime_error>(StrEq("Driver(13)")));
}

TEST(DriverTest, SectorCountDropsAPartialSector) {
    Chain thousand(std::string(1000, 'a'));
    Driver d(thousand.top, 512);
    EXPECT_EQ(d.getSectorSize(), 512u);
    EXPECT_EQ(d.getSectorCount(), 1u);
    std::string buf(1024, '\0');
    EXPECT_TRUE(d.readSectors(0, 1, reinterpret_cast<u8*>(&buf[0])));
    // The last 488 bytes are out of reach: sector 1 is not whole.
    EXPECT_FALSE(d.readSectors(1, 1, reinterpret_cast<u8*>(&buf[0])));

    Chain small(std::string(511, 'a'));
    EXPECT_EQ(Driver(small.top, 512).getSectorCount(), 0u);

    // A reader that never set its size (or set a negative one) has no sectors.
    Chain broken("");
    broken.top->setSize(-4096);
    EXPECT_EQ(Driver(broken.top, 512).getSectorCount(), 0u);
}

TEST(DriverTest, ReadsWholeSectorsAtTheirByteAddress) {
    Chain c(testutil::numberedSectors(8));
    Driver d(c.top, 512);
    std::string buf(2 * 512, '\0');
    ASSERT_TRUE(d.readSectors(3, 2, reinterpret_cast<u8*>(&buf[0])));
    EXPECT_EQ(buf, testutil::numberedSectors(8).substr(3 * 512, 2 * 512));
    ASSERT_EQ(c.recorder->requests().size(), 1u);
    EXPECT_EQ(c.recorder->requests()[0].offset, 3 * 512);
    EXPECT_EQ(c.recorder->requests()[0].size, 2 * 512);

    // No sectors is a read of no bytes at the sector's address.
    EXPECT_TRUE(d.readSectors(5, 0, reinterpret_cast<u8*>(&buf[0])));
    EXPECT_EQ(c.recorder->requests()[1].offset, 5 * 512);
    EXPECT_EQ(c.recorder->requests()[1].size, 0);
}

TEST(DriverTest, FailuresOfTheChainComeBackUnchanged) {
    Chain c(testutil::numberedSectors(8));
    c.recorder->addBadSector(4);
    Driver d(c.top, 512);
    std::string buf(8 * 512, '\0');
    EXPECT_FALSE(d.readSectors(0, 8, reinterpret_cast<u8*>(&buf[0])));
    EXPECT_TRUE(d.readSectors(0, 4, reinterpret_cast<u8*>(&buf[0])));
    EXPECT_FALSE(d.readSectors(7, 2, reinterpret_cast<u8*>(&buf[0])));
}

TEST(DriverTest, AddressesThatOverflowFailWithoutAsking) {
    Chain c(testutil::numberedSectors(1));
    Driver d(c.top, 512);
    u8 buf[512];
    // 2^55 sectors of 512 bytes is 2^64 bytes; 2^54 passes the 63-bit limit.
    EXPECT_FALSE(d.readSectors(1ull << 55, 1, buf));
    EXPECT_FALSE(d.readSectors(1ull << 54, 0, buf));
    EXPECT_FALSE(d.readSectors(0, ~0ull, buf));
    // Each alone fits, together they pass the end of the 63-bit byte range.
    EXPECT_FALSE(d.readSectors((1ull << 53) + 1, (1ull << 53), buf));
    EXPECT_TRUE(c.recorder->requests().empty());
    // The last sector that ends below 2^63 still reaches the chain (which says no).
    EXPECT_FALSE(d.readSectors((1ull << 54) - 1, 1, buf));
    EXPECT_TRUE(c.recorder->requests().empty());
    EXPECT_FALSE(d.readSectors((1ull << 54) - 2, 1, buf));
    EXPECT_EQ(c.recorder->requests().size(), 1u);
}

TEST(DriverTest, PropertiesStartEmptyAndKeepWhatIsSet) {
    Chain c(std::string(512, 'a'));
    Driver d(c.top, 512);
    EXPECT_EQ(d.getProperties().get(PROP_ID, "none"), "none");
    EXPECT_EQ(d.getProperties().getUInt64(PROP_HEADS, 255), 255u);
    EXPECT_EQ(d.getProperties().getUInt64(PROP_SECTORS, 63), 63u);
    d.getProperties().set(PROP_ID, "/dev/sdb");
    d.getProperties().setUInt8(PROP_USES_PARTITION_TABLES, 1);
    EXPECT_EQ(d.getProperties().get(PROP_ID, ""), "/dev/sdb");
    EXPECT_EQ(d.getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 0), 1u);
}

// The chain belongs to the driver: it goes when the last holder lets go.
TEST(DriverTest, TheChainLivesAsLongAsTheDriver) {
    struct Watched : MemoryReader {
        explicit Watched(bool& gone) : MemoryReader(std::string(512, 'a')), gone_(gone) {}
        ~Watched() override { gone_ = true; }
        bool& gone_;
    };
    bool gone = false;
    {
        SharedPtr<Driver> holder;
        {
            SharedPtr<dt::Reader> reader(new Watched(gone));
            holder.reset(new Driver(reader, 512));
        }
        EXPECT_FALSE(gone);
        EXPECT_EQ(holder->getReader()->getSize(), 512);
    }
    EXPECT_TRUE(gone);
}

} // namespace
