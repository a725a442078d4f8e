#include "fs/fat/DirEntryCursor.h"

#include "tests/support/FatBytes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(DirEntryCursorTest, StepsBackIntoThePreviousClusterOnceAndRefusesMisuse) {
    std::vector<u8> previous(3 * 32), current(3 * 32);
    DirEntryCursor cursor(3);
    EXPECT_EQ(testutil::thrownText([] { DirEntryCursor c(0); }), "FATDrive(48)");
    EXPECT_EQ(testutil::thrownText([&] { cursor.entry(0); }), "FATDrive(64)");
    EXPECT_EQ(testutil::thrownText([&] { cursor.seek(0); }), "FATDrive(70)");
    EXPECT_EQ(testutil::thrownText([&] { cursor.previous(); }), "FATDrive(77)");
    cursor.set(current.data(), previous.data());
    EXPECT_EQ(testutil::thrownText([&] { cursor.entry(3); }), "FATDrive(64)");
    EXPECT_EQ(testutil::thrownText([&] { cursor.seek(3); }), "FATDrive(70)");
    cursor.seek(1);
    for (const u8* expected : {current.data(), previous.data() + 64, previous.data() + 32,
                               previous.data(), static_cast<u8*>(nullptr)})
        EXPECT_EQ(cursor.previous(), expected);
    cursor.seek(0); // back in the current cluster
    EXPECT_EQ(cursor.previous(), previous.data() + 64);
    cursor.set(current.data(), nullptr);
    EXPECT_EQ(cursor.previous(), nullptr);
}

} // namespace
