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
using testutil::numberedSectors;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

constexpr int P = -1; // the parity block of a row

// Where the blocks of the first rows lie, one row a line, one member a column.
const std::vector<std::vector<int>> THREE = {
    {0, 1, P},
    {2, P, 3},
    {P, 4, 5},
    {6, 7, P},
};
const std::vector<std::vector<int>> FOUR = {
    {0, 1, 2, P}, {3, 4, P, 5}, {6, P, 7, 8}, {P, 9, 10, 11}, {12, 13, 14, P},
};

TEST(ReaderRAID5Test, BlocksLieLeftAsymmetric) {
    for (const auto* table : {&THREE, &FOUR}) {
        const i64 members = static_cast<i64>((*table)[0].size());
        for (std::size_t row = 0; row < table->size(); ++row) {
            for (i64 member = 0; member < members; ++member) {
                const int block = (*table)[row][member];
                if (block == P)
                    continue;
                i64 gotMember = -1;
                i64 gotRow = -1;
                dt::ReaderRAID5::locate(block, members, gotMember, gotRow);
                EXPECT_EQ(gotMember, member) << "block " << block << " of " << members;
                EXPECT_EQ(gotRow, static_cast<i64>(row)) << "block " << block << " of " << members;
            }
        }
    }
}

// Lays `image` out over `n` members: row r keeps its parity (here a marker that
// must never come back) on member n - 1 - r mod n, the data in the others.
std::vector<std::string> split(const std::string& image, std::size_t n, std::size_t stripe) {
    std::vector<std::string> members(n);
    const std::size_t blocks = (image.size() + stripe - 1) / stripe;
    for (std::size_t row = 0; row * (n - 1) < blocks; ++row) {
        const std::size_t parity = n - 1 - row % n;
        std::size_t block = row * (n - 1);
        for (std::size_t m = 0; m < n; ++m) {
            std::string piece =
                m == parity ? std::string(stripe, 'P') : image.substr(block++ * stripe, stripe);
            piece.resize(stripe, 'Z');
            members[m] += piece;
        }
    }
    return members;
}

TEST(ReaderRAID5Test, ReadsSkipTheParity) {
    const std::string image = numberedSectors(16);
    MemberSet set(split(image, 3, 512));
    dt::ReaderRAID5 raid;
    ASSERT_TRUE(raid.init(set.list, 512));
    ASSERT_EQ(raid.getSize(), 8192);

    // Offset 1,024 is block 2: row 1, parity on member 1, data on member 0.
    u8 got[8192];
    ASSERT_TRUE(raid.read(1024, got, 512));
    ASSERT_EQ(set.members[0]->requests().size(), 1u);
    EXPECT_EQ(set.members[0]->requests()[0].offset, 512);
    // Offset 1,536 is block 3 on member 2.
    ASSERT_TRUE(raid.read(1536, got, 512));
    ASSERT_EQ(set.members[2]->requests().size(), 1u);
    EXPECT_EQ(set.members[2]->requests()[0].offset, 512);
    EXPECT_TRUE(set.members[1]->requests().empty());

    ASSERT_TRUE(raid.read(0, got, 8192));
    EXPECT_EQ(std::string(got, got + 8192), image);
    for (i64 offset : {1, 511, 1000, 3000, 8000}) {
        const i64 n = std::min<i64>(700, 8192 - offset);
        ASSERT_TRUE(raid.read(offset, got, n));
        EXPECT_EQ(std::string(got, got + n), image.substr(offset, n)) << offset;
    }
}

TEST(ReaderRAID5Test, FourMembersWrapAfterFourRows) {
    const std::string image = numberedSectors(30).substr(0, 30 * 512 - 100);
    MemberSet set(split(image, 4, 1024));
    dt::ReaderRAID5 raid;
    ASSERT_TRUE(raid.init(set.list, 1024));
    std::vector<u8> got(image.size());
    ASSERT_TRUE(raid.read(0, got.data(), static_cast<i64>(image.size())));
    EXPECT_EQ(std::string(got.begin(), got.end()), image);
}

TEST(ReaderRAID5Test, AFailedMemberIsNotRebuilt) {
    const std::string image = numberedSectors(8);
    MemberSet set(split(image, 3, 512));
    for (u64 lba = 0; lba < 4; ++lba)
        set.members[2]->addBadSector(lba);
    dt::ReaderRAID5 raid;
    ASSERT_TRUE(raid.init(set.list, 512));
    u8 got[512];
    // Blocks 0, 1 and 2 lie on members 0 and 1; block 3 lies on member 2.
    for (i64 block : {0, 1, 2})
        EXPECT_TRUE(raid.read(block * 512, got, 512)) << block;
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(raid.read(3 * 512, got, 512));
    EXPECT_NE(logSince(mark).find("ReaderRAID5(57)\n"), std::string::npos);

    mark = logMemoryText().size();
    EXPECT_FALSE(raid.read(0, got, 4097));
    EXPECT_EQ(logSince(mark), "ReaderRAID5(38)\n");
    EXPECT_TRUE(raid.read(4096, got, 0));
}

TEST(ReaderRAID5Test, AStripeOfZeroThrowsOnTheFirstRead) {
    MemberSet set(split(numberedSectors(4), 3, 512));
    dt::ReaderRAID5 raid;
    ASSERT_TRUE(raid.init(set.list, 0));
    u8 got[1];
    EXPECT_TRUE(raid.read(0, got, 0));
    try {
        raid.read(0, got, 1);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "ReaderRAID5(41)");
    }
}

} // namespace
