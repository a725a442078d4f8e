#include "cbr/ImageLoad.h"

#include "core/Checked.h"
#include "core/Log.h"
#include "core/Text.h"

#include <algorithm>

namespace cbr {
namespace ImageLoad {

namespace {

// The stored bytes of the preview; false when they lie outside the source or
// the read fails.
bool readStored(dt::Reader& source, u64 fileStart, const Thumbnail& t, std::vector<u8>& bytes) {
    u64 at = 0;
    if (!checkedAdd(fileStart, t.offset, at) ||
        !fits(at, t.size, static_cast<u64>(std::max<i64>(source.getSize(), 0))))
        return false;
    bytes.resize(t.size);
    return source.read(static_cast<i64>(at), bytes.data(), t.size);
}

} // namespace

bool loadThumbnail(dt::Reader& source, u64 fileStart, const Thumbnail& t, std::vector<u8>& out) {
    out.clear();
    if (t.offset == Thumbnail::UNSET || t.size == 0 || t.size > MAX_THUMBNAIL_SIZE) {
        logAt("ImageLoad", 42) << '\n';
        return false;
    }
    std::vector<u8> stored;
    if (t.compression == Thumbnail::PLANAR || t.compression == Thumbnail::UNCOMPRESSED) {
        if (t.samples != 1 && t.samples != 3) {
            logAt("ImageLoad", 45) << '\n';
            return false;
        }
        if (t.size != t.pixelBytes()) {
            logAt("ImageLoad", 48) << '\n';
            return false;
        }
        const std::string header =
            formatMessage("P%1\n%2 %3\n255\n", t.samples == 1 ? 5 : 6, t.width, t.height);
        // Samples of a pixel side by side ("chunky") take 8 or 16 bits, one
        // plane per sample only 8.
        const bool chunky = t.compression == Thumbnail::UNCOMPRESSED;
        const bool wide = t.bitsPerSample == 16;
        if (t.bitsPerSample != 8 && !(chunky && wide)) {
            logAt("ImageLoad", chunky ? 54 : 72) << '\n';
            return false;
        }
        if (!readStored(source, fileStart, t, stored)) {
            logAt("ImageLoad", chunky ? 56 : 74) << '\n';
            return false;
        }
        // The size check above bounds the pixel count by the stored size.
        const u64 pixels = t.area();
        out.assign(header.begin(), header.end());
        out.resize(header.size() + pixels * t.samples);
        u8* to = out.data() + header.size();
        for (u64 p = 0; p < pixels; ++p) {
            for (u32 s = 0; s < t.samples; ++s) {
                const u64 i = p * t.samples + s;
                // Eight bits a sample is all a picture of maximum 255 holds: of
                // 16 bits the second byte of the pair.
                to[i] = !chunky ? stored[p + s * pixels] : wide ? stored[2 * i + 1] : stored[i];
            }
        }
        return true;
    }
    if (!readStored(source, fileStart, t, stored)) {
        logAt("ImageLoad", 92) << '\n';
        return false;
    }
    if (t.compression == Thumbnail::JPEG)
        stored[0] = 0xFF; // the first stored byte is not always its start marker's 0xFF
    else
        logAt("ImageLoad", 96) << ": " << t.compression << '\n';
    out.swap(stored);
    return true;
}

} // namespace ImageLoad
} // namespace cbr
