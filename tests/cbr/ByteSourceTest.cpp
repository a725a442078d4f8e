#include "cbr/ByteSource.h"

#include "tests/support/FailingReader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using cbr::ByteSource;

// A needle across a block edge is found; a search that fails tells how far it
// got, and a read that fails stops it there.
TEST(ByteSourceTest, FindCrossesBlocksAndTellsHowFarItGot) {
    std::string bytes(1000, 'x');
    bytes.replace(62, 2, "\xFF\xD9");
    bytes.replace(900, 2, "\xFF\xD9");
    testutil::MemoryReader memory(bytes);
    ByteSource src(memory, 64);
    u64 reached = 0;
    EXPECT_EQ(src.find(0, "\xFF\xD9", 2), 62u);
    EXPECT_EQ(src.find(63, "\xFF\xD9", 2, 901, &reached), ByteSource::NOT_FOUND);
    EXPECT_EQ(reached, 900u);
    EXPECT_EQ(src.find(63, "\xFF\xD9", 2, 902), 900u);
    EXPECT_EQ(src.find(901, "\xFF\xD9", 2, ByteSource::NOT_FOUND, &reached), ByteSource::NOT_FOUND);
    EXPECT_EQ(reached, 999u);
    u32 v = 0;
    EXPECT_FALSE(src.le32(997, v));
    EXPECT_FALSE(src.read(~u64(0), &v, 2));

    testutil::FailingReader failing(SharedPtr<dt::Reader>(new testutil::MemoryReader(bytes)), {1});
    ByteSource broken(failing, 128);
    EXPECT_EQ(broken.find(100, "\xFF\xD9", 2, 600, &reached), ByteSource::NOT_FOUND);
    EXPECT_EQ(reached, 484u) << "the search stops at the block it cannot read";
}

} // namespace
