#include "cbr/FileModuleRiff.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using moduletest::analyze;
using moduletest::garbage;

std::string le32(u32 v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

// A RIFF chunk of the form type with `body` bytes after it.
std::string riff(const std::string& form, u32 body) {
    return "RIFF" + le32(4 + body) + form + std::string(body, 'r');
}

TEST(FileModuleRiffTest, FfmpegAviAndWaveGetTheirSizeAndType) {
    testutil::TempDir dir;
    cbr::FileModuleRiff module;
    const std::string avi = moduletest::make(
        dir, "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=5:duration=1 -c:v mjpeg a.avi",
        "a.avi");
    const std::string wav =
        moduletest::make(dir, "ffmpeg -v error -f lavfi -i sine=duration=0.2 w.wav", "w.wav");
    for (const auto& c : {std::make_pair(&avi, "avi"), std::make_pair(&wav, "wav")}) {
        ASSERT_GT(c.first->size(), 100u);
        EXPECT_TRUE(moduletest::check(module, *c.first));
        const auto found = analyze(module, *c.first + garbage(700));
        ASSERT_TRUE(found.ok) << c.second;
        EXPECT_EQ(found.size(), c.first->size());
        EXPECT_EQ(found.type(), c.second);
        // Cut short by the window.
        EXPECT_FALSE(analyze(module, c.first->substr(0, c.first->size() - 1)).ok);
    }
}

TEST(FileModuleRiffTest, FormTypesAndCheck) {
    cbr::FileModuleRiff module;
    EXPECT_EQ(analyze(module, riff("RMID", 10)).type(), "rmi");
    EXPECT_EQ(analyze(module, riff("ACON", 10)).type(), "ani");
    EXPECT_EQ(analyze(module, riff("CDXA", 10)).type(), "riff");
    EXPECT_EQ(analyze(module, riff("avi ", 10)).type(), "riff");
    EXPECT_TRUE(moduletest::check(module, "RIFF"));
    EXPECT_FALSE(moduletest::check(module, "RIFX"));
    EXPECT_FALSE(moduletest::check(module, "RIF"));
}

TEST(FileModuleRiffTest, AJunkChunkAfterTheFileCountsWhenItEndsInsideTheWindow) {
    cbr::FileModuleRiff module;
    const std::string avi = riff("AVI ", 100);
    const std::string junk = "JUNK" + le32(40) + std::string(40, 0);
    auto found = analyze(module, avi + junk + "x");
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), avi.size() + junk.size());
    // Reaching exactly to the window's end, or beyond it: the chunk is left out.
    EXPECT_EQ(analyze(module, avi + junk).size(), avi.size());
    EXPECT_EQ(analyze(module, avi + junk.substr(0, 20)).size(), avi.size());
    // Anything else after the file is not looked at.
    EXPECT_EQ(analyze(module, avi + "LIST" + le32(4) + garbage(100)).size(), avi.size());
}

TEST(FileModuleRiffTest, SizeFieldsBeyondTheWindowAreRejected) {
    cbr::FileModuleRiff module;
    std::string bytes = riff("WAVE", 100);
    EXPECT_FALSE(analyze(module, bytes.substr(0, bytes.size() - 1)).ok);
    // A size near 4 GiB must not wrap round to a file of a few bytes.
    bytes.replace(4, 4, le32(0xFFFFFFFC));
    EXPECT_FALSE(analyze(module, bytes).ok);
    // A size that does not even cover the form type.
    bytes.replace(4, 4, le32(3));
    EXPECT_FALSE(analyze(module, bytes).ok);
    EXPECT_FALSE(analyze(module, "RIFF\x10").ok);
}

} // namespace
