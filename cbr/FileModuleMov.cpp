#include "cbr/FileModuleMov.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"
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
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleMov::newScanMemory() const {
    return std::make_unique<WalkMemory>();
}

bool FileModuleMov::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) {
    using End = WalkMemory::End;
    ByteSource src(file, 4096);
    const u64 window = src.size();
    WalkMemory::Walk walk(dynamic_cast<WalkMemory*>(memory), at, window);
    // The place's step count is the number of atoms before it.
    WalkMemory::Place place;
    u64 p = 0;
    u64 atoms = 0;
    while (true) {
        if (walk.arrive(place) != WalkMemory::Next::GO_ON)
            return false;
        p = place.at;
        atoms = static_cast<u64>(place.steps);
        if (p >= window || ATOM_HEADER >= window - p)
            break;
        u8 atom[ATOM_HEADER];
        if (!src.read(p, atom, sizeof atom))
            return walk.readFailed(place, src.has(p, sizeof atom));
        if (!isAtomOf(atom + 4, TOP_ATOMS))
            break;
        u64 size = getBE32(atom, 0);
        if (size == 0) {
            // The last atom runs to the end of the file, which only the window
            // bounds: taking all of it keeps the media data whole.
            p = window;
            ++atoms;
            break;
        }
        // The 64-bit form has a 16-byte header and the other one of 8: anything
        // smaller would never move the walk on.
        u64 smallest = ATOM_HEADER;
        if (size == 1) {
            u8 large[8];
            if (!src.read(p + 8, large, sizeof large))
                return walk.readFailed(place, src.has(p + 8, sizeof large));
            size = getBE64(large, 0);
            smallest = 2 * ATOM_HEADER;
        }
        if (size < smallest) {
            walk.ended(End::FAILED, place);
            return false;
        }
        if (size > window - p) {
            walk.ended(End::CUT, place);
            return false;
        }
        place.at = p + size;
        ++place.steps;
    }
    // Where the atoms end, a walk from a later hit counts its own atoms and
    // its own size, and an atom that runs to the end of the file ends at its
    // own window's end: the end is taken again by every walk that comes here.
    walk.ended(End::HALTED, place);
    u8 brand[4];
    if (atoms < MIN_ATOMS || p < MIN_FILE_SIZE || !src.read(BRAND_OFFSET, brand, sizeof brand))
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
