// Raw previews: the consistency test, the raw extension by maker and model, and
// the loader that turns a described preview into bytes an image loader takes.

#include "cbr/Thumbnail.h"
#include "cbr/ImageLoad.h"
#include "tests/support/FailingReader.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using cbr::Thumbnail;

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

TEST(ThumbnailTest, UncompressedPicturesMustAddUpWithoutOverflow) {
    EXPECT_FALSE(described(160, 120, 3, 8, 1, 57600).isInconsistent());
    EXPECT_FALSE(described(160, 120, 3, 16, 1, 115200).isInconsistent());
    EXPECT_TRUE(described(160, 120, 3, 12, 1, 28800).isInconsistent());
    EXPECT_TRUE(described(160, 120, 3, 16, 0, 115200).isInconsistent()); // planar: 8 bits only
    EXPECT_TRUE(described(160, 120, 2, 8, 1, 38400).isInconsistent());
    EXPECT_TRUE(described(160, 120, 3, 8, 1, 57601).isInconsistent());
    EXPECT_FALSE(described(160, 120, 7, 8, 6, 1234).isInconsistent()); // JPEG
    // Products that pass 64 bits never equal a stored size.
    EXPECT_TRUE(described(0xFFFFFFFF, 0xFFFFFFFF, 3, 16, 1, 6).isInconsistent());
    EXPECT_TRUE(described(0xFFFFFFFF, 0xFFFFFFFF, 1, 8, 1, 0).isInconsistent());
}

TEST(ThumbnailTest, RawExtensionsByMakerAndModel) {
    const char* const cases[][3] = {
        {"nikon corporation", "", "nef"}, // makers compare without case
        {"Canon", "Canon EOS-1D Mark II", "cr2"},
        {"Canon", "Canon EOS-1D", "tif"},
        {"Canon", "canon eos-1d", "cr2"},  // exact rows compare with case
        {"Canon", "eos d2000c v2", "tif"}, // prefix rows compare without case
        {"SONY", "DSC-R1 X", "srf"},
        {"SAMSUNG TECHWIN", "GX-1S", "dng"},
        {"Phase One", "P45", "(none)"},
        {"FUJIFILM", "S2Pro", "(none)"},
    };
    for (const auto& c : cases) {
        const char* got = cbr::rawExtensionForMaker(c[0], c[1]);
        EXPECT_STREQ(got ? got : "(none)", c[2]) << c[0] << " / " << c[1];
    }
}

std::string loaded(const std::string& stored, const Thumbnail& t, u64 fileStart = 512) {
    testutil::MemoryReader reader(std::string(512 + 1000, '\0') + stored + std::string(16, '\0'));
    std::vector<u8> out(3, 'z');
    if (!cbr::ImageLoad::loadThumbnail(reader, fileStart, t, out))
        return out.empty() ? "(refused)" : "(refused, not emptied)";
    return std::string(out.begin(), out.end());
}

TEST(ImageLoadTest, PixelsBecomePgmOrPpmThatImageMagickReads) {
    std::string pixels(57600, '\0'), wide(115200, '\x01');
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<char>(i * 13);
        wide[2 * i + 1] = pixels[i];
    }
    const std::string ppm = loaded(pixels, described(160, 120, 3, 8, 1, 57600));
    EXPECT_EQ(ppm, "P6\n160 120\n255\n" + pixels);
    // Of 16 bits a sample, the second byte of each pair.
    EXPECT_EQ(loaded(wide, described(160, 120, 3, 16, 1, 115200)), ppm);
    // Planes R R, G G, B B are interleaved; one plane of grey is a PGM.
    EXPECT_EQ(loaded("\x01\x02\x11\x12\x21\x22", described(2, 1, 3, 8, 0, 6)),
              std::string("P6\n2 1\n255\n\x01\x11\x21\x02\x12\x22", 17));
    EXPECT_EQ(loaded("abcdef", described(3, 2, 1, 8, 0, 6)), "P5\n3 2\n255\nabcdef");

    testutil::TempDir dir;
    testutil::writeAll(dir.file("t.ppm"), ppm);
    std::string identified;
    testutil::run("/usr/bin/identify -format '%m %w %h' " + testutil::shellQuote(dir.file("t.ppm")),
                  &identified);
    EXPECT_EQ(identified, "PPM 160 120");
}

TEST(ImageLoadTest, JpegIsMendedOthersPassAndBadDescriptionsAreRefused) {
    const std::string jpeg("\x00\xD8\xFF\xD9", 4);
    EXPECT_EQ(loaded(jpeg, described(0, 0, 0, 0, 6, 4)), "\xFF\xD8\xFF\xD9");
    testutil::LogCapture passed;
    EXPECT_EQ(loaded(jpeg, described(0, 0, 0, 0, 7, 4)), jpeg);
    EXPECT_TRUE(passed.has("ImageLoad(96): 7\n"));

    Thumbnail unset = described(2, 2, 1, 8, 1, 4);
    unset.offset = Thumbnail::UNSET;
    const std::pair<Thumbnail, const char*> refused[] = {
        {unset, "ImageLoad(42)\n"},
        {described(2, 2, 1, 8, 1, 0), "ImageLoad(42)\n"},
        {described(10000, 1000, 1, 8, 1, 10000000), "ImageLoad(42)\n"},
        {described(2, 2, 2, 8, 1, 8), "ImageLoad(45)\n"},
        {described(2, 2, 1, 8, 1, 5), "ImageLoad(48)\n"},
        {described(2, 2, 1, 12, 1, 6), "ImageLoad(54)\n"},
        {described(2, 2, 1, 16, 0, 8), "ImageLoad(72)\n"},
        {described(100, 100, 1, 8, 1, 10000), "ImageLoad(56)\n"}, // past the source's end
        {described(100, 100, 1, 8, 0, 10000), "ImageLoad(74)\n"},
        {described(0, 0, 0, 0, 6, 10000), "ImageLoad(92)\n"},
    };
    for (const auto& r : refused) {
        testutil::LogCapture log;
        EXPECT_EQ(loaded(jpeg, r.first), "(refused)") << r.second;
        EXPECT_TRUE(log.has(r.second)) << log.text();
    }
    // A file start so far out that start + offset wraps round.
    EXPECT_EQ(loaded(jpeg, described(0, 0, 0, 0, 6, 4), ~u64(0) - 10), "(refused)");
}

} // namespace
