#include "fs/fat/DirEntryCursor.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string what(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

TEST(DirEntryCursorTest, StepsBackIntoThePreviousClusterOnce) {
    std::vector<u8> previous(4 * 32), current(4 * 32);
    DirEntryCursor cursor(4);
    cursor.set(current.data(), previous.data());
    cursor.seek(1);
    EXPECT_EQ(cursor.previous(), current.data());
    EXPECT_EQ(cursor.previous(), previous.data() + 3 * 32);
    EXPECT_EQ(cursor.previous(), previous.data() + 2 * 32);
    EXPECT_EQ(cursor.previous(), previous.data() + 32);
    EXPECT_EQ(cursor.previous(), previous.data());
    EXPECT_EQ(cursor.previous(), nullptr);
    // A seek puts the walk back into the current cluster.
    cursor.seek(0);
    EXPECT_EQ(cursor.previous(), previous.data() + 3 * 32);
}

TEST(DirEntryCursorTest, WithoutAPreviousClusterTheWalkStopsAtTheFirstEntry) {
    std::vector<u8> current(2 * 32);
    DirEntryCursor cursor(2);
    cursor.set(current.data(), nullptr);
    cursor.seek(1);
    EXPECT_EQ(cursor.previous(), current.data());
    EXPECT_EQ(cursor.previous(), nullptr);
    EXPECT_EQ(cursor.entry(1), current.data() + 32);
}

TEST(DirEntryCursorTest, MisuseThrowsWithItsPlace) {
    EXPECT_EQ(what([] { DirEntryCursor c(0); }), "FATDrive(48)");
    DirEntryCursor unset(4);
    EXPECT_EQ(what([&] { unset.entry(0); }), "FATDrive(64)");
    EXPECT_EQ(what([&] { unset.seek(0); }), "FATDrive(70)");
    EXPECT_EQ(what([&] { unset.previous(); }), "FATDrive(77)");
    std::vector<u8> current(4 * 32);
    DirEntryCursor cursor(4);
    cursor.set(current.data(), nullptr);
    EXPECT_EQ(what([&] { cursor.entry(4); }), "FATDrive(64)");
    EXPECT_EQ(what([&] { cursor.seek(4); }), "FATDrive(70)");
}

} // namespace
