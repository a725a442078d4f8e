#include "fs/Bitmap.h"

#include "tests/support/FatBytes.h"

#include <gtest/gtest.h>

TEST(BitmapTest, CountsWhatIsSetRefusesPositionsOutsideAndSizesPastTheBound) {
    Bitmap b(10);
    EXPECT_FALSE(b.set(9, true));
    EXPECT_TRUE(b.set(9, true)); // set already: counted once
    EXPECT_FALSE(b.set(0, true));
    EXPECT_TRUE(b.set(9, false));
    EXPECT_EQ(b.count(), 1u);
    EXPECT_TRUE(b.test(0) && !b.test(9));
    for (u64 pos : {10ull, ~0ull})
        EXPECT_EQ(testutil::thrownText([&] { b.set(pos, true); }), "Bitmap(72)") << pos;
    EXPECT_EQ(b.count(), 1u);
    // A size from a damaged disk is refused before anything is allocated.
    EXPECT_EQ(testutil::thrownText([] { Bitmap(Bitmap::MAX_SIZE + 1); }), "Bitmap(7)");
    Bitmap fat32(1ull << 28); // a bit per cluster of the largest FAT32
    EXPECT_FALSE(fat32.set((1ull << 28) - 1, true));
}
