#include "cbr/FileModuleWmf.h"

#include "cbr/ByteSource.h"
#include "core/Array.h"

namespace cbr {

namespace {

// The placeable header's key, then the zero handle.
constexpr u8 SIGNATURE[] = {0xD7, 0xCD, 0xC6, 0x9A, 0x00, 0x00};
constexpr u64 PLACEABLE_SIZE = 22;
// Fields of the metafile header that follows it.
constexpr u32 TYPE = 0x00;         // u16: 1 in memory, 2 on disk
constexpr u32 HEADER_WORDS = 0x02; // u16: always 9
constexpr u32 SIZE_WORDS = 0x06;   // u32: the whole metafile in 16-bit words
constexpr u16 HEADER_LENGTH = 9;

} // namespace

bool FileModuleWmf::check(const u8* sector, u32 size) {
    return startsWith(sector, size, SIGNATURE, sizeof SIGNATURE);
}

bool FileModuleWmf::analyze(dt::Reader& file, FileInfo& info) {
    ByteSource src(file, 512);
    u8 header[10];
    if (!src.read(PLACEABLE_SIZE, header, sizeof header))
        return false;
    const u16 type = getLE16(header, TYPE);
    const u32 words = getLE32(header, SIZE_WORDS);
    // The words include the metafile header itself; 64 bits, so that a huge
    // count cannot wrap round to a small size.
    if ((type != 1 && type != 2) || getLE16(header, HEADER_WORDS) != HEADER_LENGTH ||
        words < HEADER_LENGTH)
        return false;
    const u64 size = PLACEABLE_SIZE + 2 * u64(words);
    if (size > src.size())
        return false;
    info.clear();
    info.setType("wmf");
    info.setSize(size);
    return true;
}

} // namespace cbr
