#include "cbr/FileModuleDbx.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

// No tool on Debian writes these mail stores; the header is put together here:
// the class identifier at 8 and the total size at 0x7C.

namespace {

using moduletest::analyze;
using moduletest::garbage;

std::string store(u32 statedSize, std::size_t actualSize) {
    std::string bytes = garbage(actualSize);
    const std::string id("\xCF\xAD\x12\xFE\x66\xE3\xD1\x11\x9A\x4E\x00\xC0\x4F\xA3\x09\xD4"
                         "\x05\x00\x00\x00\x05\x00\x00\x00",
                         24);
    bytes.replace(4, id.size(), id);
    for (int i = 0; i < 4; ++i)
        bytes[0x7C + i] = static_cast<char>((statedSize >> (8 * i)) & 0xFF);
    return bytes;
}

TEST(FileModuleDbxTest, SizeComesFromTheHeaderAndMustFitTheWindow) {
    cbr::FileModuleDbx module;
    const std::string bytes = store(0x24BC, 0x3000);
    ASSERT_TRUE(moduletest::check(module, bytes));
    auto a = analyze(module, bytes);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), 0x24BCu);
    EXPECT_EQ(a.type(), "dbx");

    EXPECT_TRUE(analyze(module, bytes.substr(0, 0x24BC)).ok);
    EXPECT_FALSE(analyze(module, bytes.substr(0, 0x24BB)).ok);
    EXPECT_FALSE(analyze(module, bytes.substr(0, 0x7F)).ok);
    // A size that does not even cover its own field is no store.
    EXPECT_FALSE(analyze(module, store(0, 0x1000)).ok);
    EXPECT_FALSE(analyze(module, store(0x7F, 0x1000)).ok);
    EXPECT_TRUE(analyze(module, store(0x80, 0x1000)).ok);
}

TEST(FileModuleDbxTest, CheckNeedsTheWholeClassIdentifier) {
    cbr::FileModuleDbx module;
    std::string bytes = store(0x1000, 0x200);
    bytes[8 + 19] = 1;
    EXPECT_FALSE(moduletest::check(module, bytes));
    EXPECT_FALSE(moduletest::check(module, store(0x1000, 0x200).substr(0, 27)));
    EXPECT_TRUE(moduletest::check(module, store(0x1000, 0x200).substr(0, 28)));
}

} // namespace
