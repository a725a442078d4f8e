#include "fs/fat/DirEntryCursor.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

namespace {

TEST(DirEntryCursorTest, StepsBackIntoThePreviousClusterOnceAndRefusesMisuse) {
    std::vector<u8> previous(3 * 32), current(3 * 32);
    DirEntryCursor cursor(3);
    auto thrown = [&](const std::function<void()>& f) {
        try {
            f();
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(thrown([] { DirEntryCursor c(0); }), "FATDrive(48)");
    EXPECT_EQ(thrown([&] { cursor.entry(0); }), "FATDrive(64)");
    EXPECT_EQ(thrown([&] { cursor.seek(0); }), "FATDrive(70)");
    EXPECT_EQ(thrown([&] { cursor.previous(); }), "FATDrive(77)");
    cursor.set(current.data(), previous.data());
    EXPECT_EQ(thrown([&] { cursor.entry(3); }), "FATDrive(64)");
    EXPECT_EQ(thrown([&] { cursor.seek(3); }), "FATDrive(70)");
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
