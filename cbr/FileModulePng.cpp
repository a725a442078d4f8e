#include "cbr/FileModulePng.h"

#include "cbr/ByteSource.h"
#include "core/Array.h"

#include <cstring>

namespace cbr {

namespace {

constexpr u8 SIGNATURE[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// A chunk: big-endian data length, 4-byte type, the data, a 4-byte CRC.
constexpr u64 CHUNK_OVERHEAD = 12;

} // namespace

bool FileModulePng::check(const u8* sector, u32 size) {
    return startsWith(sector, size, SIGNATURE, sizeof SIGNATURE);
}

bool FileModulePng::analyze(dt::Reader& file, FileInfo& info) {
    ByteSource src(file, 4096);
    u64 p = sizeof SIGNATURE;
    while (true) {
        u8 head[8]; // length, type
        if (!src.read(p, head, sizeof head))
            return false;
        if (std::memcmp(head + 4, "IEND", 4) == 0) {
            if (CHUNK_OVERHEAD > src.size() - p)
                return false;
            info.clear();
            info.setType("png");
            info.setSize(p + CHUNK_OVERHEAD);
            return true;
        }
        // CRCs are not checked: a carved picture with one bad chunk is still
        // worth recovering.
        p += getBE32(head, 0) + CHUNK_OVERHEAD;
    }
}

} // namespace cbr
