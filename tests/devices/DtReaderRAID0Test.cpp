#include "devices/DtReaderRAID0.h"

#include "devices/DtReaderRAID5.h"

#include "core/Log.h"
#include "tests/devices/MemberSet.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testutil::FailingReader;
using testutil::MemberSet;
using testutil::MemoryReader;
using testutil::numberedSectors;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

// Deals the stripes of `image` out to `n` members in turn.
std::vector<std::string> split(const std::string& image, std::size_t n, std::size_t stripe) {
    std::vector<std::string> members(n);
    for (std::size_t block = 0; block * stripe < image.size(); ++block)
        members[block % n] += image.substr(block * stripe, stripe);
    return members;
}

// Both kinds of striped set: a RAID0 over N members holds N times the smallest,
// a RAID5 N - 1 times, and each needs one member more than its parity.
TEST(ReaderStripedTest, SizeIsDataMembersTimesTheSmallest) {
    const MemberSet uneven(
        {std::string(1000, 'a'), std::string(1200, 'b'), std::string(1100, 'c')});
    const MemberSet one({"x"});

    dt::ReaderRAID0 raid0;
    ASSERT_TRUE(raid0.init(uneven.list, 512));
    EXPECT_EQ(raid0.getSize(), 3000);
    EXPECT_TRUE(raid0.init(one.list, 512));
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(dt::ReaderRAID0().init({}, 512));
    EXPECT_EQ(logSince(mark), "ReaderRAID0(19)\n");

    dt::ReaderRAID5 raid5;
    ASSERT_TRUE(raid5.init(uneven.list, 512));
    EXPECT_EQ(raid5.getSize(), 2000);
    mark = logMemoryText().size();
    EXPECT_FALSE(dt::ReaderRAID5().init(one.list, 512));
    EXPECT_EQ(logSince(mark), "ReaderRAID5(19)\n");
    EXPECT_FALSE(dt::ReaderRAID5().init({}, 512));
}

TEST(ReaderRAID0Test, StripesAlternateBetweenMembers) {
    const std::string image = numberedSectors(8);
    MemberSet set(split(image, 2, 512));
    dt::ReaderRAID0 raid;
    ASSERT_TRUE(raid.init(set.list, 512));
    ASSERT_EQ(raid.getSize(), 4096);

    // Offset 1,536 is stripe 3: member 1, row 1.
    u8 got[4096];
    ASSERT_TRUE(raid.read(1536, got, 512));
    ASSERT_EQ(set.members[1]->requests().size(), 1u);
    EXPECT_EQ(set.members[1]->requests()[0].offset, 512);
    EXPECT_TRUE(set.members[0]->requests().empty());
    EXPECT_EQ(std::string(got, got + 512), image.substr(1536, 512));

    // Starting inside one stripe and ending inside another takes the rest of
    // the first from one member and the start of the next from the other:
    // stripe 1 is member 1, row 0; stripe 2 is member 0, row 1.
    ASSERT_TRUE(raid.read(1000, got, 100));
    EXPECT_EQ(set.members[1]->requests().back().offset, 488);
    EXPECT_EQ(set.members[1]->requests().back().size, 24);
    EXPECT_EQ(set.members[0]->requests().back().offset, 512);
    EXPECT_EQ(set.members[0]->requests().back().size, 76);
    EXPECT_EQ(std::string(got, got + 100), image.substr(1000, 100));

    ASSERT_TRUE(raid.read(0, got, 4096));
    EXPECT_EQ(std::string(got, got + 4096), image);
}

TEST(ReaderRAID0Test, EveryPieceOfAnOddStripeComesBack) {
    const std::string image = numberedSectors(9).substr(0, 3 * 1000);
    MemberSet set(split(image, 3, 100));
    dt::ReaderRAID0 raid;
    ASSERT_TRUE(raid.init(set.list, 100));
    ASSERT_EQ(raid.getSize(), 3000);
    std::vector<u8> got(3000);
    for (i64 offset : {0, 1, 99, 100, 250, 2899, 2999}) {
        for (i64 n : {1, 99, 101, 333}) {
            if (offset + n > 3000)
                continue;
            ASSERT_TRUE(raid.read(offset, got.data(), n)) << offset << ' ' << n;
            EXPECT_EQ(std::string(got.begin(), got.begin() + n), image.substr(offset, n))
                << offset << ' ' << n;
        }
    }
}

TEST(ReaderRAID0Test, BoundsAndFailures) {
    MemberSet set(split(numberedSectors(4), 2, 512));
    dt::ReaderRAID0 raid;
    ASSERT_TRUE(raid.init(set.list, 512));
    u8 got[1024];
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(raid.read(2000, got, 49));
    EXPECT_EQ(logSince(mark), "ReaderRAID0(38)\n");
    EXPECT_FALSE(raid.read(-512, got, 1));
    EXPECT_TRUE(raid.read(2048, got, 0));

    set.members[1]->addBadSector(0);
    ASSERT_TRUE(raid.read(0, got, 512));
    mark = logMemoryText().size();
    EXPECT_FALSE(raid.read(0, got, 1024));
    EXPECT_NE(logSince(mark).find("ReaderRAID0(51)\n"), std::string::npos);
}

TEST(ReaderRAID0Test, AStripeOfZeroThrowsOnTheFirstRead) {
    for (i64 stripe : {i64(0), i64(-512)}) {
        MemberSet set(split(numberedSectors(4), 2, 512));
        dt::ReaderRAID0 raid;
        ASSERT_TRUE(raid.init(set.list, stripe));
        u8 got[1];
        EXPECT_TRUE(raid.read(0, got, 0));
        try {
            raid.read(0, got, 1);
            ADD_FAILURE() << "no exception for stripe " << stripe;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "ReaderRAID0(41)");
        }
    }
}

} // namespace
