#include "fs/Bitmap.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace {

void expectThrows(const std::function<void()>& f, const char* text) {
    try {
        f();
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), text);
    }
}

} // namespace

TEST(BitmapTest, NewBitmapIsClear) {
    Bitmap b(10);
    EXPECT_EQ(b.size(), 10u);
    EXPECT_EQ(b.count(), 0u);
    for (u64 i = 0; i < 10; ++i)
        EXPECT_FALSE(b.test(i));
    // Two bytes, least significant bit first.
    EXPECT_EQ(b.position(9).byteIndex, 1u);
    EXPECT_EQ(b.position(8).mask, 0x01);
    EXPECT_EQ(b.position(7).byteIndex, 0u);
    EXPECT_EQ(b.position(7).mask, 0x80);
}

TEST(BitmapTest, SetReturnsTheOldValueAndKeepsTheCount) {
    Bitmap b(10);
    EXPECT_FALSE(b.set(9, true));
    EXPECT_EQ(b.count(), 1u);
    EXPECT_TRUE(b.set(9, true));
    EXPECT_EQ(b.count(), 1u);
    EXPECT_TRUE(b.test(9));
    EXPECT_FALSE(b.test(8));
    EXPECT_TRUE(b.set(9, false));
    EXPECT_EQ(b.count(), 0u);
    EXPECT_FALSE(b.set(9, false));
    EXPECT_EQ(b.count(), 0u);

    for (u64 i = 0; i < 10; i += 3)
        b.set(i, true);
    EXPECT_EQ(b.count(), 4u);
}

TEST(BitmapTest, PositionsOutsideThrow) {
    Bitmap b(10);
    expectThrows([&] { b.test(10); }, "Bitmap(72)");
    expectThrows([&] { b.set(10, true); }, "Bitmap(72)");
    expectThrows([&] { b.position(~0ull); }, "Bitmap(72)");
    EXPECT_EQ(b.count(), 0u);

    Bitmap empty(0);
    expectThrows([&] { empty.test(0); }, "Bitmap(72)");
}

TEST(BitmapTest, CopiesAreIndependent) {
    Bitmap a(100);
    a.set(3, true);
    a.set(64, true);
    Bitmap b(a);
    EXPECT_EQ(b.size(), 100u);
    EXPECT_EQ(b.count(), 2u);
    EXPECT_TRUE(b.test(64));
    b.set(5, true);
    b.set(3, false);
    EXPECT_TRUE(a.test(3));
    EXPECT_FALSE(a.test(5));
    EXPECT_EQ(a.count(), 2u);
}

TEST(BitmapTest, SizeIsBounded) {
    // A size from a damaged disk is refused before anything is allocated.
    EXPECT_THROW(Bitmap(Bitmap::MAX_SIZE + 1), std::runtime_error);
    EXPECT_THROW(Bitmap(~0ull), std::runtime_error);
    // The largest FAT32 has 2^28 clusters: 32 MiB of bits.
    Bitmap big(1ull << 28);
    EXPECT_FALSE(big.set((1ull << 28) - 1, true));
    EXPECT_EQ(big.count(), 1u);
}
