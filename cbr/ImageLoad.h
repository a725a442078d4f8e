#pragma once

// Turns the preview that a camera raw file carries into bytes an image loader
// takes: uncompressed pixels become a binary PGM (grey) or PPM (RGB) picture,
// a JPEG comes back as it is stored. Decoding those bytes into a picture is the
// window's business (a GdkPixbuf loader in gui/): this layer only reads.

#include "cbr/Thumbnail.h"
#include "core/Types.h"
#include "devices/DtReader.h"

#include <vector>

namespace cbr {
namespace ImageLoad {

// The picture described by `t` in the carved file that starts at `fileStart`
// on `source`, into `out`. False with one log line when the description does
// not hold together or the bytes cannot be read; `out` is then empty.
bool loadThumbnail(dt::Reader& source, u64 fileStart, const Thumbnail& t, std::vector<u8>& out);

// The most a preview may occupy; a larger size is a damaged description, not a
// reason to allocate.
constexpr u32 MAX_THUMBNAIL_SIZE = 9999999;

} // namespace ImageLoad
} // namespace cbr
