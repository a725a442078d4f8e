#include "cbr/FileModuleMpeg.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using moduletest::analyze;
using moduletest::garbage;

const std::string SEQUENCE_HEADER("\x00\x00\x01\xB3", 4);
const std::string PACK_HEADER("\x00\x00\x01\xBA", 4);
const std::string SEQUENCE_END("\x00\x00\x01\xB7", 4);
const std::string PROGRAM_END("\x00\x00\x01\xB9", 4);

// An MPEG-1 pack header, then a padding packet of `payload` bytes.
std::string pack(u16 payload) {
    std::string bytes = PACK_HEADER + std::string("\x21\x00\x01\x00\x01\x80\x00\x01", 8);
    bytes += std::string("\x00\x00\x01\xBE", 4) + static_cast<char>(payload >> 8) +
             static_cast<char>(payload & 0xFF);
    return bytes + std::string(payload, '\xFF');
}

class FileModuleMpegTest : public ::testing::Test {
protected:
    std::string ffmpeg(const std::string& options, const std::string& output) {
        return moduletest::make(dir,
                                "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi "
                                "-i testsrc=size=64x48:rate=25:duration=1 " +
                                    options + " " + output,
                                output);
    }
    testutil::TempDir dir;
    cbr::FileModuleMpeg module;
};

// ffmpeg writes no end code into a video stream, which the standard asks for and
// the module looks for; the test puts it where an encoder that writes it would.
TEST_F(FileModuleMpegTest, AVideoStreamFromFfmpegEndsAtItsEndCode) {
    const std::string video = ffmpeg("-c:v mpeg1video -f mpeg1video", "video.m1v");
    ASSERT_EQ(video.substr(0, 4), SEQUENCE_HEADER);
    EXPECT_FALSE(analyze(module, video + garbage(1000)).ok);
    moduletest::expectFound(module, video + SEQUENCE_END, "mpeg");
    // Cut before its end code: no file.
    EXPECT_FALSE(analyze(module, video + SEQUENCE_END.substr(0, 3)).ok);
}

// Neither does ffmpeg end a program stream with the end code: its packs and
// packets, each with its length, show where it ends.
TEST_F(FileModuleMpegTest, ProgramStreamsFromFfmpegEndWithTheirLastPack) {
    const std::string mpeg1 = ffmpeg("-c:v mpeg1video -f mpeg", "program.mpg");
    const std::string mpeg2 = ffmpeg("-c:v mpeg2video -f vob", "program.vob");
    ASSERT_EQ(mpeg1.substr(0, 4), PACK_HEADER);
    ASSERT_EQ(static_cast<u8>(mpeg1[4]) & 0xF0, 0x20);
    ASSERT_EQ(static_cast<u8>(mpeg2[4]) & 0xC0, 0x40);
    for (const std::string* stream : {&mpeg1, &mpeg2}) {
        // The video inside has sequence headers, and here also an end code.
        moduletest::expectFound(module, *stream, "mpeg");
        moduletest::expectFound(module, *stream + PROGRAM_END, "mpeg");
        // A packet cut by the window's end ends the file at the window.
        const std::string cut = stream->substr(0, stream->size() - 100);
        EXPECT_EQ(analyze(module, cut).size(), cut.size());
    }
}

TEST_F(FileModuleMpegTest, APackWithoutPacketsIsNoFile) {
    const std::string first = pack(100);
    EXPECT_EQ(analyze(module, first + pack(50) + garbage(100)).size(), first.size() + 68);
    EXPECT_FALSE(analyze(module, first.substr(0, 12) + garbage(100)).ok);
    EXPECT_FALSE(analyze(module, first.substr(0, 12) + PROGRAM_END.substr(0, 3)).ok);
    // The end code right after the pack header ends a file of 16 bytes.
    EXPECT_EQ(analyze(module, first.substr(0, 12) + PROGRAM_END + garbage(10)).size(), 16u);
    // A pack header of neither MPEG-1 nor MPEG-2 form ends the walk.
    std::string odd = pack(100);
    odd[4] = 0x00;
    EXPECT_FALSE(analyze(module, odd).ok);
}

TEST_F(FileModuleMpegTest, AnEndCodeAcrossTwoReadBlocksIsFound) {
    // The window is read in blocks of 64 KiB: put the end code's first one,
    // two and three bytes at the end of the first block.
    for (u64 before = 1; before <= 3; ++before) {
        const u64 at = 65536 - before;
        const std::string stream = SEQUENCE_HEADER + garbage(at - 4) + SEQUENCE_END;
        const auto found = analyze(module, stream + garbage(100));
        ASSERT_TRUE(found.ok) << before;
        EXPECT_EQ(found.size(), at + 4);
    }
    // The search starts after the header: an end code right behind it ends a
    // file of 8 bytes.
    EXPECT_EQ(analyze(module, SEQUENCE_HEADER + SEQUENCE_END + garbage(10)).size(), 8u);
}

TEST_F(FileModuleMpegTest, CheckWantsASequenceOrPackHeader) {
    EXPECT_TRUE(moduletest::check(module, SEQUENCE_HEADER));
    EXPECT_TRUE(moduletest::check(module, PACK_HEADER));
    EXPECT_FALSE(moduletest::check(module, SEQUENCE_END));
    EXPECT_FALSE(moduletest::check(module, SEQUENCE_HEADER.substr(0, 3)));
}

} // namespace
