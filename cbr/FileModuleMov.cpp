#include "cbr/FileModuleMov.h"

#include "cbr/ByteSource.h"
#include "core/Array.h"

#include <cstring>
#include <strings.h>

namespace cbr {

namespace {

constexpr u32 ATOM_HEADER = 8; // u32 size, 4-character type
constexpr u32 MIN_ATOMS = 2;
constexpr u64 MIN_FILE_SIZE = 1024;
constexpr u64 BRAND_OFFSET = 16; // first compatible brand of a leading "ftyp"

// Atoms that may start a movie; check() looks for them at byte 4.
constexpr const char* START_ATOMS[] = {"moov", "ftyp", "pnot", "mdat"};
// Atoms that may stand at the top level; anything else ends the file.
constexpr const char* TOP_ATOMS[] = {"moov", "free", "wide", "mdat",
                                     "ftyp", "pnot", "PICT", "uuid"};
// Brands of MPEG-4 files, compared in any case at the start of the brand.
constexpr const char* MP4_BRANDS[] = {"iso",  "mp4",  "mp7", "3gp", "mmp4",
                                      "avc1", "msnv", "nds", "ndx"};

template <std::size_t N> bool isAtomOf(const u8* type, const char* const (&list)[N]) {
    for (const char* name : list)
        if (std::memcmp(type, name, 4) == 0)
            return true;
    return false;
}

} // namespace

bool FileModuleMov::check(const u8* sector, u32 size) {
    return size >= ATOM_HEADER && isAtomOf(sector + 4, START_ATOMS);
}

bool FileModuleMov::analyze(dt::Reader& file, FileInfo& info) {
    ByteSource src(file, 4096);
    const u64 window = src.size();
    u64 p = 0;
    u32 atoms = 0;
    while (p < window && ATOM_HEADER < window - p) {
        u8 atom[ATOM_HEADER];
        if (!src.read(p, atom, sizeof atom))
            return false;
        if (!isAtomOf(atom + 4, TOP_ATOMS))
            break;
        ++atoms;
        u64 size = getBE32(atom, 0);
        if (size == 0) {
            // The last atom runs to the end of the file, which only the window
            // bounds: taking all of it keeps the media data whole.
            p = window;
            break;
        }
        if (size == 1) {
            u8 large[8];
            if (!src.read(p + 8, large, sizeof large))
                return false;
            size = getBE64(large, 0);
            // The 64-bit form has a 16-byte header; anything smaller would
            // never move the walk on.
            if (size < 2 * ATOM_HEADER)
                return false;
        } else if (size < ATOM_HEADER) {
            return false;
        }
        if (size > window - p)
            return false;
        p += size;
    }
    if (atoms < MIN_ATOMS || p < MIN_FILE_SIZE || p > window)
        return false;

    u8 brand[4];
    if (!src.read(BRAND_OFFSET, brand, sizeof brand))
        return false;
    const char* type = "mov";
    for (const char* mp4 : MP4_BRANDS)
        if (strncasecmp(reinterpret_cast<const char*>(brand), mp4, std::strlen(mp4)) == 0)
            type = "mp4";
    info.clear();
    info.setSize(p);
    info.setType(type);
    return true;
}

} // namespace cbr
