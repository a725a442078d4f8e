#include "cbr/FileModuleJpeg.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using moduletest::analyze;
using moduletest::garbage;

// SOI, a JFIF-like APPn segment, a start-of-scan segment, then `scan` as the
// entropy-coded data.
std::string handMadeJpeg(const std::string& scan) {
    std::string bytes("\xFF\xD8", 2);
    bytes += std::string("\xFF\xE0\x00\x06JFI", 8);
    bytes += std::string("\xFF\xDA\x00\x04\x01\x00", 6);
    return bytes + scan;
}

TEST(FileModuleJpegTest, PicturesFromImageMagickEndAtTheirLastMarker) {
    testutil::TempDir dir;
    cbr::FileModuleJpeg module;
    const std::string baseline =
        moduletest::make(dir, "convert -seed 1 -size 64x48 plasma: baseline.jpg", "baseline.jpg");
    // A progressive picture has a scan per pass: every one is walked through.
    const std::string progressive = moduletest::make(
        dir, "convert -seed 2 -size 64x48 plasma: -interlace Plane progressive.jpg",
        "progressive.jpg");
    for (const std::string* picture : {&baseline, &progressive}) {
        ASSERT_GT(picture->size(), 100u);
        moduletest::expectFound(module, *picture, "jpeg", 5000);
    }
    // Cut anywhere before the end-of-image marker: no file.
    EXPECT_FALSE(analyze(module, baseline.substr(0, baseline.size() - 1)).ok);
    EXPECT_FALSE(analyze(module, progressive.substr(0, progressive.size() / 2)).ok);
}

TEST(FileModuleJpegTest, ScanDataKeepsStuffedBytesAndRestartMarkers) {
    cbr::FileModuleJpeg module;
    const std::string jpeg = handMadeJpeg(std::string("\x12\xFF\x00\x34\xFF\xD3\x56\xFF\xD9", 9));
    const auto found = analyze(module, jpeg + garbage(100));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), jpeg.size());

    // A second segment after the scan, then the end.
    const std::string twoScans =
        handMadeJpeg("\x12\x34") + std::string("\xFF\xDA\x00\x02\x56\xFF\xD9", 7) + garbage(10);
    EXPECT_EQ(analyze(module, twoScans).size(), twoScans.size() - 10);
}

TEST(FileModuleJpegTest, AMarkerSplitBetweenTwoReadsOfScanDataIsFound) {
    cbr::FileModuleJpeg module;
    // The scan data's first read is 4096 bytes: FF is its last byte, D9 the
    // first byte of the next read.
    std::string scan(4095, '\x12');
    scan += std::string("\xFF\xD9", 2);
    const std::string jpeg = handMadeJpeg(scan);
    EXPECT_EQ(analyze(module, jpeg + garbage(8000)).size(), jpeg.size());
}

TEST(FileModuleJpegTest, FillBytesBeforeAMarkerAreSkipped) {
    cbr::FileModuleJpeg module;
    const std::string jpeg = handMadeJpeg("\x12") + std::string("\xFF\xFF\xFF\xD9", 4);
    EXPECT_EQ(analyze(module, jpeg + garbage(10)).size(), jpeg.size());
}

TEST(FileModuleJpegTest, DamagedSegmentsAreRejected) {
    cbr::FileModuleJpeg module;
    const std::string good = handMadeJpeg(std::string("\x12\xFF\xD9", 3));
    ASSERT_TRUE(analyze(module, good).ok);

    std::string noMarker = good;
    noMarker[2] = 0x00; // the APPn marker lost its FF
    EXPECT_FALSE(analyze(module, noMarker).ok);
    std::string shortLength = good;
    shortLength[5] = 0x01; // a segment length below 2
    EXPECT_FALSE(analyze(module, shortLength).ok);
    std::string longLength = good;
    longLength[4] = 0x7F; // the segment runs past the window
    EXPECT_FALSE(analyze(module, longLength).ok);
    // The scan segment ends exactly at the window's end: no data, no file.
    EXPECT_FALSE(analyze(module, handMadeJpeg("")).ok);
    EXPECT_FALSE(analyze(module, std::string("\xFF\xD8", 2)).ok);
}

TEST(FileModuleJpegTest, CheckWantsTheStartOfImageAndAMarker) {
    cbr::FileModuleJpeg module;
    EXPECT_TRUE(moduletest::check(module, std::string("\xFF\xD8\xFF\xE0", 4)));
    EXPECT_FALSE(moduletest::check(module, std::string("\xFF\xD8\x00\xE0", 4)));
    EXPECT_FALSE(moduletest::check(module, std::string("\xFF\xD8", 2)));
}

} // namespace
