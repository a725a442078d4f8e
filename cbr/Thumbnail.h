#pragma once

// The preview picture that camera raw files carry, as the carver describes it:
// where it lies in the carved file and how its pixels are laid out. The TIFF
// module fills one per picture it meets and keeps the fitting one in the
// carved-file record as the "thumbnail_*" attributes; ImageLoad turns one back
// into bytes an image loader takes.

#include "core/Types.h"

namespace cbr {

class FileInfo;

struct Thumbnail {
    static constexpr u32 UNSET = 0xFFFFFFFF;
    // The compression values the loader knows; anything else is passed through.
    static constexpr u32 PLANAR = 0;       // uncompressed, one plane per sample
    static constexpr u32 UNCOMPRESSED = 1; // uncompressed, the samples of a pixel together
    static constexpr u32 JPEG = 6;
    static constexpr u32 JPEG_NEW = 7; // the TIFF "new-style" JPEG code

    u32 offset = UNSET; // from the start of the carved file
    u32 size = UNSET;   // bytes as stored
    u32 width = UNSET;
    u32 height = UNSET;
    u32 bitsPerSample = UNSET;
    u32 samples = UNSET; // 1 grey, 3 RGB
    u32 compression = UNSET;

    bool isComplete() const;
    // For uncompressed pixels: whether the fields contradict each other (a
    // sample count other than 1 or 3, a size that is not what the pixels need,
    // a sample width the loader cannot take). Compressed pictures always pass.
    bool isInconsistent() const;
    // width x height, without overflow.
    u64 area() const { return u64(width) * height; }
    // The bytes width x height x samples x bitsPerSample need, rounded up.
    u64 pixelBytes() const;

    // The seven "thumbnail_*" attributes, in their fixed order.
    void storeIn(FileInfo& info) const;
};

// The raw file extension of a camera by its maker and model ("nef", "cr2",
// "arw", ...), or null for a maker that makes no raw format we name.
const char* rawExtensionForMaker(const char* maker, const char* model);

} // namespace cbr
