#include "cbr/ImageLoad.h"

#include "core/Log.h"
#include "tests/support/FailingReader.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using cbr::Thumbnail;

// A source with `pixels` at byte 1000 of a carved file that starts at 512.
struct Source {
    explicit Source(const std::string& pixels)
        : reader(std::string(512 + 1000, '\0') + pixels + std::string(16, '\0')) {}
    testutil::MemoryReader reader;
};

Thumbnail described(u32 width, u32 height, u32 samples, u32 bits, u32 compression, u32 size) {
    Thumbnail t;
    t.offset = 1000;
    t.size = size;
    t.width = width;
    t.height = height;
    t.samples = samples;
    t.bitsPerSample = bits;
    t.compression = compression;
    return t;
}

std::string text(const std::vector<u8>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string logAfter(std::size_t mark) {
    return logMemoryText().substr(mark);
}

// A 160 x 120 RGB preview stored with `bits` a sample, loaded: the PPM.
std::string loadRgb160x120(const std::string& stored, u32 bits) {
    Source source(stored);
    std::vector<u8> out;
    EXPECT_TRUE(cbr::ImageLoad::loadThumbnail(
        source.reader, 512, described(160, 120, 3, bits, 1, static_cast<u32>(stored.size())), out));
    const std::string ppm = text(out);
    EXPECT_EQ(ppm.substr(0, 15), "P6\n160 120\n255\n");
    EXPECT_EQ(ppm.size(), 15u + 57600);
    return ppm;
}

TEST(ImageLoadTest, RgbPixelsBecomeAPpmThatImageMagickReads) {
    std::string pixels(57600, '\0');
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<char>(i * 13);
    const std::string ppm = loadRgb160x120(pixels, 8);
    EXPECT_EQ(ppm.substr(15), pixels);

    testutil::TempDir dir;
    testutil::writeAll(dir.file("t.ppm"), ppm);
    std::string identified;
    ASSERT_EQ(
        testutil::run("identify -format '%m %w %h' " + testutil::shellQuote(dir.file("t.ppm")),
                      &identified),
        0);
    EXPECT_EQ(identified, "PPM 160 120");
}

TEST(ImageLoadTest, SixteenBitSamplesKeepTheirSecondByte) {
    std::string pixels(115200, '\0');
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<char>(i % 2 ? 0xA0 + i / 2 % 16 : 0x01);
    const std::string ppm = loadRgb160x120(pixels, 16);
    for (std::size_t i = 0; i < 57600; ++i)
        ASSERT_EQ(static_cast<u8>(ppm[15 + i]), 0xA0 + i % 16) << i;
}

TEST(ImageLoadTest, PlanesAreInterleavedAndGreyBecomesAPgm) {
    // Two pixels, planes R R, G G, B B.
    Source rgb("\x01\x02\x11\x12\x21\x22");
    std::vector<u8> out;
    ASSERT_TRUE(cbr::ImageLoad::loadThumbnail(rgb.reader, 512, described(2, 1, 3, 8, 0, 6), out));
    EXPECT_EQ(text(out), std::string("P6\n2 1\n255\n\x01\x11\x21\x02\x12\x22", 17));

    Source grey("abcdef");
    ASSERT_TRUE(cbr::ImageLoad::loadThumbnail(grey.reader, 512, described(3, 2, 1, 8, 0, 6), out));
    EXPECT_EQ(text(out), "P5\n3 2\n255\nabcdef");
}

TEST(ImageLoadTest, JpegComesBackWithItsFirstByteMended) {
    Source source(std::string("\x00\xD8\xFF\xD9", 4));
    std::vector<u8> out;
    ASSERT_TRUE(
        cbr::ImageLoad::loadThumbnail(source.reader, 512, described(0, 0, 0, 0, 6, 4), out));
    EXPECT_EQ(text(out), "\xFF\xD8\xFF\xD9");
    // Other compressions are passed through, with a note in the log.
    const std::size_t mark = logMemoryText().size();
    ASSERT_TRUE(
        cbr::ImageLoad::loadThumbnail(source.reader, 512, described(0, 0, 0, 0, 7, 4), out));
    EXPECT_EQ(text(out), std::string("\x00\xD8\xFF\xD9", 4));
    EXPECT_NE(logAfter(mark).find("ImageLoad(96): 7\n"), std::string::npos);
}

TEST(ImageLoadTest, DescriptionsThatDoNotHoldAreRefused) {
    Source source(std::string(64, 'x'));
    struct Case {
        Thumbnail t;
        const char* line;
    };
    Thumbnail unset = described(2, 2, 1, 8, 1, 4);
    unset.offset = Thumbnail::UNSET;
    const Case cases[] = {
        {unset, "ImageLoad(42)\n"},
        {described(2, 2, 1, 8, 1, 0), "ImageLoad(42)\n"},
        {described(10000, 1000, 1, 8, 1, 10000000), "ImageLoad(42)\n"},
        {described(2, 2, 2, 8, 1, 8), "ImageLoad(45)\n"},
        {described(2, 2, 1, 8, 1, 5), "ImageLoad(48)\n"},
        {described(2, 2, 1, 12, 1, 6), "ImageLoad(54)\n"},
        {described(2, 2, 1, 16, 0, 8), "ImageLoad(72)\n"},
        // Pixels or a JPEG that run past the source's end.
        {described(10, 10, 1, 8, 1, 100), "ImageLoad(56)\n"},
        {described(10, 10, 1, 8, 0, 100), "ImageLoad(74)\n"},
        {described(0, 0, 0, 0, 6, 100), "ImageLoad(92)\n"},
    };
    for (const Case& c : cases) {
        const std::size_t mark = logMemoryText().size();
        std::vector<u8> out(3, 'z');
        EXPECT_FALSE(cbr::ImageLoad::loadThumbnail(source.reader, 512, c.t, out)) << c.line;
        EXPECT_TRUE(out.empty());
        EXPECT_NE(logAfter(mark).find(c.line), std::string::npos) << logAfter(mark);
    }
    // A file start so far out that start + offset wraps around.
    std::vector<u8> out;
    EXPECT_FALSE(cbr::ImageLoad::loadThumbnail(source.reader, ~u64(0) - 10,
                                               described(0, 0, 0, 0, 6, 4), out));
}

} // namespace
