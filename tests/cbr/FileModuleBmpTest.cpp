#include "cbr/FileModuleBmp.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using moduletest::analyze;
using moduletest::garbage;

// A BMP file header whose size field says `size`, then a 40-byte info header.
std::string header(u32 size) {
    std::string bytes("BM", 2);
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((size >> (8 * i)) & 0xFF);
    bytes += std::string(8, '\0');
    return bytes + std::string("\x28\x00\x00\x00", 4) + std::string(36, '\0');
}

TEST(FileModuleBmpTest, APictureFromImageMagickHasTheSizeOfItsHeader) {
    testutil::TempDir dir;
    cbr::FileModuleBmp module;
    const std::string bmp =
        moduletest::make(dir, "convert -seed 1 -size 30x20 plasma: picture.bmp", "picture.bmp");
    ASSERT_GT(bmp.size(), 54u);
    moduletest::expectFound(module, bmp, "bmp");
    // The window ends before the file does.
    EXPECT_FALSE(analyze(module, bmp.substr(0, bmp.size() - 1)).ok);
}

TEST(FileModuleBmpTest, SizeFieldsBelowTheHeadersAreNoFile) {
    cbr::FileModuleBmp module;
    EXPECT_FALSE(analyze(module, header(0) + garbage(100)).ok);
    EXPECT_FALSE(analyze(module, header(25) + garbage(100)).ok);
    EXPECT_EQ(analyze(module, header(26) + garbage(100)).size(), 26u);
    EXPECT_FALSE(analyze(module, "BM\x40").ok);
}

TEST(FileModuleBmpTest, CheckWantsTheReservedFieldsZero) {
    cbr::FileModuleBmp module;
    EXPECT_TRUE(moduletest::check(module, header(100)));
    std::string reserved = header(100);
    reserved[7] = 1;
    EXPECT_FALSE(moduletest::check(module, reserved));
    EXPECT_FALSE(moduletest::check(module, std::string("BM\0\0\0\0\0", 7)));
}

} // namespace
