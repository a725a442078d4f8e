#include "cbr/Thumbnail.h"

#include "cbr/FileInfo.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using cbr::Thumbnail;

Thumbnail rgb(u32 width, u32 height, u32 bits, u32 compression) {
    Thumbnail t;
    t.offset = 100;
    t.width = width;
    t.height = height;
    t.bitsPerSample = bits;
    t.samples = 3;
    t.compression = compression;
    t.size = static_cast<u32>(u64(width) * height * 3 * bits / 8);
    return t;
}

TEST(ThumbnailTest, StartsUnsetAndResetsToUnset) {
    Thumbnail t = rgb(4, 4, 8, 1);
    EXPECT_TRUE(t.isComplete());
    t.reset();
    EXPECT_FALSE(t.isComplete());
    EXPECT_EQ(t.offset, Thumbnail::UNSET);
    EXPECT_EQ(t.compression, Thumbnail::UNSET);
}

TEST(ThumbnailTest, UncompressedPicturesMustAddUp) {
    EXPECT_FALSE(rgb(160, 120, 8, 1).isInconsistent());
    EXPECT_FALSE(rgb(160, 120, 16, 1).isInconsistent());
    EXPECT_TRUE(rgb(160, 120, 12, 1).isInconsistent());
    // Planar pictures are loaded only with 8 bits.
    EXPECT_FALSE(rgb(160, 120, 8, 0).isInconsistent());
    EXPECT_TRUE(rgb(160, 120, 16, 0).isInconsistent());

    Thumbnail wrongSize = rgb(160, 120, 8, 1);
    wrongSize.size += 1;
    EXPECT_TRUE(wrongSize.isInconsistent());
    Thumbnail twoSamples = rgb(160, 120, 8, 1);
    twoSamples.samples = 2;
    EXPECT_TRUE(twoSamples.isInconsistent());
    // An odd bit count rounds up to whole bytes.
    Thumbnail grey;
    grey.width = 3;
    grey.height = 1;
    grey.samples = 1;
    grey.bitsPerSample = 8;
    grey.compression = 1;
    grey.size = 3;
    EXPECT_FALSE(grey.isInconsistent());
    // Factors whose product passes 64 bits never equal a stored size.
    Thumbnail huge = rgb(0xFFFFFFFF, 0xFFFFFFFF, 16, 1);
    huge.size = 0;
    EXPECT_TRUE(huge.isInconsistent());
}

TEST(ThumbnailTest, CompressedPicturesAreAlwaysConsistent) {
    Thumbnail jpeg = rgb(160, 120, 8, 6);
    jpeg.size = 1234;
    jpeg.samples = 7;
    EXPECT_FALSE(jpeg.isInconsistent());
}

TEST(ThumbnailTest, StoresTheSevenAttributesInTheirOrder) {
    cbr::FileInfo info;
    rgb(160, 120, 8, 1).storeIn(info);
    const Attributes& a = info.getAttributes();
    EXPECT_EQ(a.getUInt32("thumbnail_offset", 0), 100u);
    EXPECT_EQ(a.getUInt32("thumbnail_size", 0), 57600u);
    EXPECT_EQ(a.getUInt32("thumbnail_compression", 0), 1u);
    EXPECT_EQ(a.getUInt32("thumbnail_width", 0), 160u);
    EXPECT_EQ(a.getUInt32("thumbnail_height", 0), 120u);
    EXPECT_EQ(a.getUInt32("thumbnail_bits_per_sample", 0), 8u);
    EXPECT_EQ(a.getUInt32("thumbnail_samples", 0), 3u);
    EXPECT_LT(a.find("thumbnail_size"), a.find("thumbnail_compression"));
    EXPECT_LT(a.find("thumbnail_compression"), a.find("thumbnail_width"));
}

TEST(ThumbnailTest, RawExtensionsByMakerAndModel) {
    struct Case {
        const char* maker;
        const char* model;
        const char* extension; // null: none
    };
    const Case cases[] = {
        {"NIKON CORPORATION", "NIKON D70", "nef"},
        {"nikon", "", "nef"}, // makers compare without case
        {"Canon", "Canon EOS-1D Mark II", "cr2"},
        {"Canon", "Canon EOS-1D", "tif"},
        {"Canon", "Canon EOS-1DS", "tif"},
        {"Canon", "canon eos-1d", "cr2"}, // exact rows compare with case
        {"Canon", "EOS D2000C", "tif"},
        {"Canon", "eos d2000c v2", "tif"}, // prefix rows compare without case
        {"SONY", "DSLR-A100", "arw"},
        {"SONY", "DSC-R1", "sr2"},
        {"SONY", "DSC-R1 X", "srf"},
        {"SONY", "DSC-F828", "srf"},
        {"Eastman Kodak Company", "KODAK DC25 DIGITAL CAMERA", "k25"},
        {"Eastman Kodak Company", "Kodak DC120 ZOOM Digital Camera", "kdc"},
        {"Eastman Kodak Company", "KODAK EASYSHARE", "dcr"},
        {"Kodak", "DCS460A", "tif"},
        {"Kodak", "DCS460", "tif"},
        {"Kodak", "P880", "dcr"},
        {"PENTAX Corporation", "K10D", "pef"},
        {"Leica Camera AG", "M8", "dng"},
        {"RICOH", "GR", "dng"},
        {"SAMSUNG TECHWIN", "GX-1S", "dng"},
        {"Leaf", "Aptus", "mos"},
        {"Phase One A/S", "P45", "tif"},
        {"Phase One", "P45", nullptr},
        {"FUJIFILM", "S2Pro", nullptr},
        {"", "", nullptr},
    };
    for (const Case& c : cases) {
        const char* got = cbr::rawExtensionForMaker(c.maker, c.model);
        EXPECT_EQ(got ? std::string(got) : "(none)", c.extension ? c.extension : "(none)")
            << c.maker << " / " << c.model;
    }
}

} // namespace
