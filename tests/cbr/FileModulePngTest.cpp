#include "cbr/FileModulePng.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using moduletest::analyze;
using moduletest::garbage;

TEST(FileModulePngTest, APictureFromImageMagickEndsAfterItsIendChunk) {
    testutil::TempDir dir;
    cbr::FileModulePng module;
    const std::string png =
        moduletest::make(dir, "convert -seed 1 -size 50x40 plasma: picture.png", "picture.png");
    ASSERT_GT(png.size(), 100u);
    moduletest::expectFound(module, png, "png");

    // The window holds the file exactly: found; one byte short of the IEND
    // chunk's CRC: rejected, although its length and type can be read.
    EXPECT_EQ(analyze(module, png).size(), png.size());
    EXPECT_FALSE(analyze(module, png.substr(0, png.size() - 1)).ok);
    EXPECT_FALSE(analyze(module, png.substr(0, png.size() / 2)).ok);
}

TEST(FileModulePngTest, AChunkLengthThatLeavesTheWindowIsNoFile) {
    cbr::FileModulePng module;
    std::string png("\x89PNG\r\n\x1A\n", 8);
    png += std::string("\x7F\xFF\xFF\xFFIDAT", 8) + garbage(100);
    EXPECT_FALSE(analyze(module, png).ok);
}

TEST(FileModulePngTest, CheckWantsTheWholeSignature) {
    cbr::FileModulePng module;
    EXPECT_TRUE(moduletest::check(module, std::string("\x89PNG\r\n\x1A\n", 8)));
    EXPECT_FALSE(moduletest::check(module, std::string("\x89PNG\r\n\x1A\r", 8)));
    EXPECT_FALSE(moduletest::check(module, std::string("\x89PNG\r\n\x1A", 7)));
}

} // namespace
