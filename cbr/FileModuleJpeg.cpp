#include "cbr/FileModuleJpeg.h"

#include "cbr/ByteSource.h"

#include <algorithm>

namespace cbr {

namespace {

constexpr u8 SIGNATURE[] = {0xFF, 0xD8, 0xFF};
constexpr u8 MARKER = 0xFF;
constexpr u8 END_OF_IMAGE = 0xD9;
constexpr u8 START_OF_SCAN = 0xDA;
constexpr u64 SCAN_READ = 4096;

// Inside entropy-coded data FF is followed by a stuffed 00 or by a restart
// marker D0..D7; anything else is the marker that ends the scan.
constexpr bool endsScan(u8 next) {
    return next != 0x00 && (next < 0xD0 || next > 0xD7);
}

// The position of the FF of the marker that ends the entropy-coded data that
// starts at p, or NOT_FOUND when the window ends first or cannot be read.
u64 findScanEnd(ByteSource& src, u64 p) {
    // buffer[0] is the byte before the current read, so that a pair split
    // between two reads is seen; before the first read it cannot be FF.
    u8 buffer[1 + SCAN_READ];
    buffer[0] = 0;
    while (p < src.size()) {
        const u64 n = std::min(SCAN_READ, src.size() - p);
        if (!src.read(p, buffer + 1, n))
            return ByteSource::NOT_FOUND;
        for (u64 i = 0; i < n; ++i)
            if (buffer[i] == MARKER && endsScan(buffer[i + 1]))
                return p + i - 1;
        buffer[0] = buffer[n];
        p += n;
    }
    return ByteSource::NOT_FOUND;
}

} // namespace

bool FileModuleJpeg::check(const u8* sector, u32 size) {
    return startsWith(sector, size, SIGNATURE, sizeof SIGNATURE);
}

bool FileModuleJpeg::analyze(dt::Reader& file, FileInfo& info) {
    ByteSource src(file);
    u64 p = 2; // past the start-of-image marker
    while (true) {
        u8 marker[2];
        if (!src.read(p, marker, 2) || marker[0] != MARKER)
            return false;
        p += 2;
        // Any marker may be preceded by fill bytes FF.
        while (marker[1] == MARKER) {
            if (!src.u8At(p, marker[1]))
                return false;
            ++p;
        }
        if (marker[1] == END_OF_IMAGE) {
            info.clear();
            info.setType("jpeg");
            info.setSize(p);
            return true;
        }
        u16 length = 0; // big-endian, counting itself but not the marker
        if (!src.be16(p, length) || length < 2)
            return false;
        p += length;
        if (marker[1] != START_OF_SCAN)
            continue;
        if (p >= src.size())
            return false;
        p = findScanEnd(src, p);
        if (p == ByteSource::NOT_FOUND)
            return false;
    }
}

} // namespace cbr
