#include "cbr/FileModuleGif.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using moduletest::analyze;
using moduletest::garbage;

// A GIF89a screen of 1x1 without a global colour table.
const std::string SCREEN("GIF89a\x01\x00\x01\x00\x00\x00\x00", 13);
// An image descriptor of 1x1 with `flags`, then `table` and the LZW code size,
// one data sub-block and the terminator.
std::string image(char flags, const std::string& table) {
    return std::string("\x2C\x00\x00\x00\x00\x01\x00\x01\x00", 9) + flags + table +
           std::string("\x02\x02\x4C\x01\x00", 5);
}

TEST(FileModuleGifTest, PicturesFromRealToolsEndAtTheTrailer) {
    testutil::TempDir dir;
    cbr::FileModuleGif module;
    // Global colour table and a graphic control extension.
    const std::string still =
        moduletest::make(dir, "convert -seed 1 -size 40x30 plasma: still.gif", "still.gif");
    // An application extension (looping) and two images.
    const std::string animated = moduletest::make(
        dir, "convert -delay 10 -size 16x16 xc:red xc:blue -loop 0 animated.gif", "animated.gif");
    // A comment extension.
    const std::string commented =
        moduletest::make(dir,
                         "convert -size 16x16 xc:green commented.gif && "
                         "exiftool -q -overwrite_original -Comment=hello commented.gif",
                         "commented.gif");
    for (const std::string* picture : {&still, &animated, &commented}) {
        ASSERT_GT(picture->size(), 30u);
        moduletest::expectFound(module, *picture, "gif");
        // Without the trailer there is no file.
        EXPECT_FALSE(analyze(module, picture->substr(0, picture->size() - 1)).ok);
    }
    EXPECT_NE(commented.find("\x21\xFE"), std::string::npos);
}

TEST(FileModuleGifTest, LocalColourTableWithTheSortFlagIsSkippedExactly) {
    cbr::FileModuleGif module;
    // Local table present, sorted, 2^(1+1) = 4 entries: 12 bytes.
    const std::string gif = SCREEN + image('\xA1', std::string(12, '\x7F')) + "\x3B";
    EXPECT_EQ(analyze(module, gif + garbage(50)).size(), gif.size());
    // One table byte fewer and the walk no longer meets the trailer where it stands.
    const std::string shortTable = SCREEN + image('\xA1', std::string(11, '\x7F')) + "\x3B";
    EXPECT_FALSE(analyze(module, shortTable).ok);
}

TEST(FileModuleGifTest, KnownExtensionsAreSteppedOverAndOthersRejected) {
    cbr::FileModuleGif module;
    const std::string plainText =
        std::string("\x21\x01\x0C", 3) + std::string(12, '\x01') + std::string("\x01X\x00", 3);
    const std::string control("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8);
    const std::string gif = SCREEN + plainText + control + image('\x00', "") + "\x3B";
    EXPECT_EQ(analyze(module, gif).size(), gif.size());

    // A graphic control block of the wrong size, an unknown label, an unknown block.
    EXPECT_FALSE(
        analyze(module, SCREEN + std::string("\x21\xF9\x05\x00\x00\x00\x00\x00\x00\x3B", 10)).ok);
    EXPECT_FALSE(analyze(module, SCREEN + std::string("\x21\x77\x00\x3B", 4)).ok);
    EXPECT_FALSE(analyze(module, SCREEN + "\x2D\x3B").ok);
}

TEST(FileModuleGifTest, CheckWantsOneOfTheTwoVersions) {
    cbr::FileModuleGif module;
    EXPECT_TRUE(moduletest::check(module, "GIF87a"));
    EXPECT_TRUE(moduletest::check(module, "GIF89a"));
    EXPECT_FALSE(moduletest::check(module, "GIF88a"));
    EXPECT_FALSE(moduletest::check(module, "GIF8"));
}

} // namespace
