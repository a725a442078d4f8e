#include "cbr/FileModuleMov.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using moduletest::analyze;
using moduletest::garbage;

std::string be32(u32 v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string atom(const std::string& type, u32 bodySize) {
    return be32(8 + bodySize) + type + std::string(bodySize, 'a');
}

// An "ftyp" atom whose first compatible brand (byte 16) is `brand`.
std::string ftyp(const std::string& brand) {
    return be32(20) + "ftyp" + "majr" + be32(0) + brand;
}

TEST(FileModuleMovTest, FfmpegMoviesEndAfterTheirLastAtom) {
    testutil::TempDir dir;
    cbr::FileModuleMov module;
    const std::string input = "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=5:duration=1 ";
    struct Case {
        std::string command, file, type;
    };
    const Case cases[] = {
        {input + "-c:v mjpeg m.mov", "m.mov", "mov"},
        {input + "-c:v mpeg4 m.mp4", "m.mp4", "mp4"},
        // The index before the media data.
        {input + "-c:v mpeg4 -movflags faststart f.mp4", "f.mp4", "mp4"},
    };
    for (const Case& c : cases) {
        const std::string movie = moduletest::make(dir, c.command, c.file);
        ASSERT_GT(movie.size(), 1024u) << c.file;
        EXPECT_TRUE(moduletest::check(module, movie));
        const auto found = analyze(module, movie + garbage(2000));
        ASSERT_TRUE(found.ok) << c.file;
        EXPECT_EQ(found.size(), movie.size()) << c.file;
        EXPECT_EQ(found.type(), c.type) << c.file;
        // Cut short: the last atom passes the window's end.
        EXPECT_FALSE(analyze(module, movie.substr(0, movie.size() - 1)).ok) << c.file;
    }
}

TEST(FileModuleMovTest, CheckLooksForAStartAtomAtByteFour) {
    cbr::FileModuleMov module;
    for (const char* type : {"moov", "ftyp", "pnot", "mdat"})
        EXPECT_TRUE(moduletest::check(module, be32(8) + type)) << type;
    EXPECT_FALSE(moduletest::check(module, be32(8) + "free"));
    EXPECT_FALSE(moduletest::check(module, be32(8) + "moo"));
}

TEST(FileModuleMovTest, BrandDecidesBetweenMp4AndMov) {
    cbr::FileModuleMov module;
    const std::string media = atom("mdat", 2000);
    EXPECT_EQ(analyze(module, ftyp("isom") + media).type(), "mp4");
    EXPECT_EQ(analyze(module, ftyp("ISO2") + media).type(), "mp4");
    EXPECT_EQ(analyze(module, ftyp("3gp5") + media).type(), "mp4");
    EXPECT_EQ(analyze(module, ftyp("MmP4") + media).type(), "mp4");
    EXPECT_EQ(analyze(module, ftyp("qt  ") + media).type(), "mov");
    EXPECT_EQ(analyze(module, ftyp("mp3x") + media).type(), "mov");
}

TEST(FileModuleMovTest, WalkNeedsTwoAtomsAndAKilobyte) {
    cbr::FileModuleMov module;
    // One atom alone, however large.
    EXPECT_FALSE(analyze(module, atom("mdat", 5000) + garbage(100)).ok);
    // Two atoms under 1024 bytes.
    EXPECT_FALSE(analyze(module, ftyp("isom") + atom("mdat", 900) + garbage(100)).ok);
    const std::string movie = ftyp("isom") + atom("free", 0) + atom("mdat", 1000);
    const auto found = analyze(module, movie + garbage(100));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), movie.size());
    // An unknown atom ends the file.
    EXPECT_EQ(analyze(module, movie + atom("junk", 50) + atom("moov", 50)).size(), movie.size());
}

TEST(FileModuleMovTest, AtomSizesOfSpecialForms) {
    cbr::FileModuleMov module;
    const std::string head = ftyp("isom");
    // 64-bit size after a size of 1.
    std::string large = be32(1) + "mdat" + be32(0) + be32(2000) + std::string(1984, 'm');
    auto found = analyze(module, head + large + garbage(100));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), head.size() + 2000);
    // A 64-bit size too small for its own header would keep the walk in place.
    large = be32(1) + "mdat" + be32(0) + be32(15) + std::string(2000, 'm');
    EXPECT_FALSE(analyze(module, head + large).ok);
    large = be32(1) + "mdat" + be32(0xFFFFFFFF) + be32(0xFFFFFFF0) + std::string(2000, 'm');
    EXPECT_FALSE(analyze(module, head + large).ok);
    // Sizes 2 to 7 are broken.
    EXPECT_FALSE(analyze(module, head + be32(7) + "mdat" + std::string(2000, 'm')).ok);
    // Size 0: the atom runs to the end of what there is, kept whole.
    const std::string open = head + be32(0) + "mdat" + std::string(3000, 'm');
    found = analyze(module, open);
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), open.size());
}

} // namespace
