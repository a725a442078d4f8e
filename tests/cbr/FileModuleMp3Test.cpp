#include "cbr/FileModuleMp3.h"

#include "core/FileNames.h"
#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using moduletest::analyze;
using moduletest::garbage;

// An MPEG-1 Layer III frame at 48 kHz and 128 kbit/s: exactly 384 bytes.
constexpr u64 FRAME = 384;
std::string frames(u64 count) {
    std::string one("\xFF\xFB\x94\x00", 4);
    one += std::string(FRAME - 4, '\x55');
    std::string all;
    for (u64 i = 0; i < count; ++i)
        all += one;
    return all;
}

std::string synchsafe(u32 v) {
    return {static_cast<char>((v >> 21) & 0x7F), static_cast<char>((v >> 14) & 0x7F),
            static_cast<char>((v >> 7) & 0x7F), static_cast<char>(v & 0x7F)};
}
std::string bigEndian(u32 v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

// An ID3v2 frame; version 3 sizes are plain numbers, version 4 ones synchsafe.
std::string id3Frame(int major, const std::string& id, const std::string& data) {
    const u32 n = static_cast<u32>(data.size());
    return id + (major == 3 ? bigEndian(n) : synchsafe(n)) + std::string(2, '\0') + data;
}
// An ID3v2 tag around `body` (extended header and frames), padded to `total` bytes.
std::string id3Tag(int major, const std::string& body, u64 total, char flags = 0) {
    std::string tag = std::string("ID3", 3) + static_cast<char>(major) + '\0' + flags +
                      synchsafe(static_cast<u32>(total - 10)) + body;
    tag.resize(total, '\0');
    return tag;
}
std::string latinTitle(int major, const std::string& title, u64 total) {
    return id3Tag(major, id3Frame(major, "TIT2", '\0' + title), total);
}
std::string id3v1(const std::string& title) {
    std::string tag = "TAG" + title;
    tag.resize(128, '\0');
    return tag;
}

// `seconds` of a tone as 16-bit mono samples at `rate`, for lame.
void writeTone(const std::string& path, unsigned rate, unsigned seconds) {
    std::string pcm;
    for (unsigned i = 0; i < rate * seconds; ++i) {
        const auto s = static_cast<i16>(8000 * std::sin(i * 2 * M_PI * 440 / rate));
        pcm += static_cast<char>(s & 0xFF);
        pcm += static_cast<char>((s >> 8) & 0xFF);
    }
    testutil::writeAll(path, pcm);
}

// lame takes the tag texts of its arguments in the charset of the locale.
std::string lame(const testutil::TempDir& dir, const std::string& options,
                 const char* rate = "44.1") {
    return moduletest::make(dir,
                            std::string("LC_ALL=C.UTF-8 lame --quiet -r -s ") + rate +
                                " -m m -b 128 --bitwidth 16 --signed --little-endian " + options +
                                " tone.raw out.mp3",
                            "out.mp3");
}

class FileModuleMp3Test : public ::testing::Test {
protected:
    void SetUp() override { writeTone(dir.file("tone.raw"), 44100, 5); }
    testutil::TempDir dir;
    cbr::FileModuleMp3 module;
};

TEST_F(FileModuleMp3Test, TitlesOfLameTagsBecomeTheName) {
    struct Case {
        const char* options;
        const char* name;
    } const cases[] = {
        // Latin-1 in an ID3v2 tag, read in the ID3v2 charset of the settings.
        {"--id3v2-only --id3v2-latin1 --tt Caf\xC3\xA9", "Caf\xC3\xA9"},
        // An ID3v1 tag at the end is part of the file.
        {"--id3v1-only --tt 'Old style'", "Old style"},
        // UTF-16 text is not taken; the ID3v1 title is.
        {"--id3v2-only --tt Wide", ""},
        {"--add-id3v2 --tt 'Wide and old'", "Wide and old"},
        {"", ""},
    };
    for (const Case& c : cases) {
        const std::string mp3 = lame(dir, c.options);
        ASSERT_GT(mp3.size(), 65536u) << c.options;
        EXPECT_TRUE(moduletest::check(module, mp3.substr(0, 65536))) << c.options;
        const auto found = analyze(module, mp3 + garbage(3000));
        ASSERT_TRUE(found.ok) << c.options;
        EXPECT_EQ(found.size(), mp3.size()) << c.options;
        EXPECT_EQ(found.type(), "mp3");
        EXPECT_EQ(found.name(), c.name) << c.options;
    }
}

TEST_F(FileModuleMp3Test, AnId3v24TitleInUtf8FromFfmpegLosesItsTerminator) {
    const std::string mp3 = moduletest::make(
        dir,
        "ffmpeg -nostdin -hide_banner -loglevel error -y -f s16le -ar 44100 -ac 1 -i tone.raw "
        "-c:a libmp3lame -b:a 128k -id3v2_version 4 -metadata 'title=\xC3\x9C"
        "ber alles' out.mp3",
        "out.mp3");
    ASSERT_EQ(mp3.substr(0, 4), std::string("ID3\x04", 4));
    const auto found = analyze(module, mp3 + garbage(100));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), mp3.size());
    EXPECT_EQ(found.name(), "\xC3\x9C"
                            "ber alles");
}

TEST_F(FileModuleMp3Test, FramesAt48kHzAndAt22kHzChainWithTheirOwnLengths) {
    writeTone(dir.file("tone.raw"), 48000, 5);
    const std::string mpeg1 = lame(dir, "-b 128", "48");
    writeTone(dir.file("tone.raw"), 22050, 10);
    const std::string mpeg2 = lame(dir, "-b 64", "22.05");
    // The version bits of the first frame: MPEG-1, then MPEG-2.
    ASSERT_EQ(static_cast<u8>(mpeg1[1]) & 0x18, 0x18);
    ASSERT_EQ(static_cast<u8>(mpeg2[1]) & 0x18, 0x10);
    moduletest::expectFound(module, mpeg1, "mp3");
    moduletest::expectFound(module, mpeg2, "mp3");
}

TEST_F(FileModuleMp3Test, CheckWantsEveryByteHandedInToChainAsFrames) {
    const std::string mp3 = frames(200);
    EXPECT_TRUE(moduletest::check(module, mp3));
    // The same frames with other bytes behind them within the buffer.
    EXPECT_FALSE(moduletest::check(module, mp3 + garbage(1000)));
    // ... are still found when a tag stands in front.
    const std::string tagged = latinTitle(3, "T", 100) + mp3;
    EXPECT_TRUE(moduletest::check(module, tagged + garbage(1000)));
    EXPECT_EQ(analyze(module, tagged + garbage(1000)).size(), tagged.size());
    EXPECT_FALSE(moduletest::check(module, std::string("\xFF\xFB", 2)));
}

TEST_F(FileModuleMp3Test, FilesOf64KiBOrLessAreDropped) {
    // 256 + 170 frames of 384 = 65536 bytes.
    const std::string exact = latinTitle(3, "T", 256) + frames(170);
    ASSERT_EQ(exact.size(), 65536u);
    EXPECT_FALSE(analyze(module, exact + garbage(10)).ok);
    const std::string larger = latinTitle(3, "T", 257) + frames(170);
    EXPECT_EQ(analyze(module, larger + garbage(10)).size(), 65537u);
}

TEST_F(FileModuleMp3Test, ZeroPaddingAfterTheLeadingTagIsSkippedWithin2KiB) {
    const std::string tag = latinTitle(3, "Padded", 200);
    const std::string withGap = tag + std::string(2047, '\0') + frames(200);
    const auto found = analyze(module, withGap + garbage(10));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), withGap.size());
    EXPECT_EQ(found.name(), "Padded");
    // One zero more and the first frame lies beyond the search.
    EXPECT_FALSE(analyze(module, tag + std::string(2048, '\0') + frames(200)).ok);
    // Without a tag in front zeros are no start at all.
    EXPECT_FALSE(analyze(module, std::string(10, '\0') + frames(200)).ok);
}

TEST_F(FileModuleMp3Test, TagsAtTheEndCountAndALongerTitleWins) {
    const std::string front = latinTitle(4, "Short", 100);
    const std::string back = latinTitle(3, "A longer title", 300);
    auto found = analyze(module, front + frames(200) + back + garbage(10));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), 100 + 200 * FRAME + 300);
    EXPECT_EQ(found.name(), "A longer title");

    found = analyze(module, latinTitle(3, "A longer title", 100) + frames(200) +
                                latinTitle(4, "Short", 300) + garbage(10));
    EXPECT_EQ(found.name(), "A longer title");

    // ID3v1 titles: blanks and zeros at the end go, the CP850 of the settings is read.
    found = analyze(module, frames(200) + id3v1("Caf\x82   ") + garbage(10));
    EXPECT_EQ(found.size(), 200 * FRAME + 128);
    EXPECT_EQ(found.name(), "Caf\xC3\xA9");
    CbrCharsets::instance().setId3v1("ISO8859-1");
    found = analyze(module, frames(200) + id3v1("Caf\xE9") + garbage(10));
    CbrCharsets::instance().setId3v1("CP850");
    EXPECT_EQ(found.name(), "Caf\xC3\xA9");
    // An ID3v1 tag that the window cuts is left out.
    const std::string cut = frames(200) + id3v1("Cut");
    found = analyze(module, cut.substr(0, cut.size() - 1));
    EXPECT_EQ(found.size(), 200 * FRAME);
    EXPECT_EQ(found.name(), "");
}

TEST_F(FileModuleMp3Test, ATrailingTagLargerThanTheWindowIsLeftOut) {
    const std::string body = frames(200);
    const std::string bigTag = latinTitle(3, "Huge", 5000);
    const auto found = analyze(module, body + bigTag.substr(0, 1000));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), body.size());
    EXPECT_EQ(found.name(), "");
}

TEST_F(FileModuleMp3Test, AStreamCutByTheWindowEndsAtTheWindow) {
    const std::string mp3 = frames(200);
    const auto found = analyze(module, mp3.substr(0, mp3.size() - 100));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), mp3.size() - 100);
}

TEST_F(FileModuleMp3Test, DamagedLeadingTagsAreNoFile) {
    const std::string tag = latinTitle(3, "T", 100);
    std::string flags = tag;
    flags[5] = 0x01; // a low flag bit
    EXPECT_FALSE(analyze(module, flags + frames(200)).ok);
    std::string size = tag;
    size[8] = '\x80'; // not synchsafe
    EXPECT_FALSE(analyze(module, size + frames(200)).ok);
    std::string revision = tag;
    revision[4] = '\xFF';
    EXPECT_FALSE(analyze(module, revision + frames(200)).ok);
    // A tag that claims more than the window holds.
    EXPECT_FALSE(analyze(module, latinTitle(3, "T", 200000).substr(0, 100) + frames(200)).ok);
}

TEST_F(FileModuleMp3Test, TitleFramesBehindLargeFramesAndExtendedHeaders) {
    // Version 3: a 300-byte frame before the title, its size a plain number;
    // an extended header whose size leaves out its own four bytes.
    const std::string comment = id3Frame(3, "COMM", std::string(300, 'c'));
    std::string v3 = id3Tag(3,
                            std::string("\x00\x00\x00\x06", 4) + std::string(6, '\0') + comment +
                                id3Frame(3, "TIT2", std::string("\0Three", 6)),
                            600, 0x40);
    auto found = analyze(module, v3 + frames(200));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.name(), "Three");
    // Version 4: the extended header's size counts all of it.
    std::string v4 =
        id3Tag(4,
               std::string("\x00\x00\x00\x06\x01\x00", 6) + id3Frame(4, "TIT2",
                                                                     std::string("\x03"
                                                                                 "Four",
                                                                                 5)),
               600, 0x40);
    found = analyze(module, v4 + frames(200));
    EXPECT_EQ(found.name(), "Four");
    // An extended header below its least size is a damaged tag.
    v4[13] = 5;
    EXPECT_FALSE(analyze(module, v4 + frames(200)).ok);
}

TEST_F(FileModuleMp3Test, TitleFramesThatAreNotReadable) {
    // UTF-16 text.
    auto tag = id3Tag(3, id3Frame(3, "TIT2", std::string("\x01\xFF\xFEW\0", 5)), 100);
    EXPECT_EQ(analyze(module, tag + frames(200)).name(), "");
    // A frame before the title with a bad identifier or flags ends the search.
    const std::string title = id3Frame(3, "TIT2", std::string("\0Name", 5));
    tag = id3Tag(3, id3Frame(3, "tsse", "x") + title, 100);
    EXPECT_EQ(analyze(module, tag + frames(200)).name(), "");
    std::string flagged = id3Frame(3, "TSSE", "x");
    flagged[8] = 0x01;
    EXPECT_EQ(analyze(module, id3Tag(3, flagged + title, 100) + frames(200)).name(), "");
    // A title frame that runs past the tag.
    std::string longer = title;
    longer[7] = 100;
    EXPECT_EQ(analyze(module, id3Tag(3, longer, 60) + frames(200)).name(), "");
    // A title frame that fills the tag to its last byte is read.
    EXPECT_EQ(analyze(module, id3Tag(3, title, 10 + title.size()) + frames(200)).name(), "Name");
}

} // namespace
