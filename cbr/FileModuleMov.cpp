#include "cbr/FileModuleMov.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"
#include "core/Array.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <strings.h>
#include <vector>

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

// An atom's (or box's) header: its type and size (0: it runs to the end of
// what holds it), and the bytes the header itself takes.
struct Atom {
    u8 type[4];
    u64 size;
    u64 header;
};

// The header at p. False when a read failed; `inside` then says whether the
// window held the bytes.
bool readAtom(ByteSource& src, u64 p, Atom& atom, bool& inside) {
    u8 head[ATOM_HEADER];
    if (!src.read(p, head, sizeof head)) {
        inside = src.has(p, sizeof head);
        return false;
    }
    std::memcpy(atom.type, head + 4, 4);
    atom.size = getBE32(head, 0);
    atom.header = ATOM_HEADER;
    return true;
}

// A size of 1 stands for the 64-bit one after the type, in a 16-byte header.
bool readLargeSize(ByteSource& src, u64 p, Atom& atom, bool& inside) {
    u8 large[8];
    if (!src.read(p + ATOM_HEADER, large, sizeof large)) {
        inside = src.has(p + ATOM_HEADER, sizeof large);
        return false;
    }
    atom.size = getBE64(large, 0);
    atom.header = 2 * ATOM_HEADER;
    return true;
}

// The whole header at p.
bool readAtom(ByteSource& src, u64 p, Atom& atom) {
    bool inside = false;
    return readAtom(src, p, atom, inside) &&
           (atom.size != 1 || readLargeSize(src, p, atom, inside));
}

// The movie of `size` bytes: "mp4" or "mov" by the brand of its leading
// "ftyp"; false when that cannot be read.
bool found(FileInfo& info, ByteSource& src, u64 size) {
    u8 brand[4];
    if (!src.read(BRAND_OFFSET, brand, sizeof brand))
        return false;
    const char* type = "mov";
    for (const char* mp4 : MP4_BRANDS)
        if (strncasecmp(reinterpret_cast<const char*>(brand), mp4, std::strlen(mp4)) == 0)
            type = "mp4";
    info.clear();
    info.setSize(size);
    info.setType(type);
    return true;
}

// Stretches of a movie file: [start, end).
struct Span {
    u64 start;
    u64 end;
};

// The boxes from a movie atom down to the chunk offsets of its tracks.
constexpr const char* INDEX_PATH[] = {"trak", "mdia", "minf", "stbl"};
constexpr std::size_t INDEX_DEPTH = std::size(INDEX_PATH);
// A chunk offset table: version and flags, the count, then the offsets.
constexpr u32 OFFSETS_HEAD = 8;

// Whether every chunk offset in the table at [start, end) lies in the data of
// a media data atom; `count` counts them.
bool offsetsInside(ByteSource& src, const Span& table, u32 width, const std::vector<Span>& media,
                   u64& count) {
    u32 entries = 0;
    if (table.end - table.start < OFFSETS_HEAD || !src.be32(table.start + 4, entries) ||
        entries > (table.end - table.start - OFFSETS_HEAD) / width)
        return false;
    for (u64 i = 0, at = table.start + OFFSETS_HEAD; i < entries; ++i, at += width) {
        u64 offset = 0;
        u32 half = 0;
        if (!src.be32(at, half))
            return false;
        offset = half;
        if (width == 8) {
            if (!src.be32(at + 4, half))
                return false;
            offset = offset << 32 | half;
        }
        // The media data atoms are in file order.
        const auto after = std::upper_bound(media.begin(), media.end(), offset,
                                            [](u64 o, const Span& m) { return o < m.start; });
        if (after == media.begin() || offset >= (after - 1)->end)
            return false;
    }
    count += entries;
    return true;
}

// Whether the chunk offsets of the boxes in [start, end), at `depth` on the
// way from the movie atom to the tables, all lie in the media data.
bool indexInside(ByteSource& src, const Span& boxes, std::size_t depth,
                 const std::vector<Span>& media, u64& count) {
    for (u64 p = boxes.start; p < boxes.end;) {
        Atom box{};
        if (boxes.end - p < ATOM_HEADER || !readAtom(src, p, box))
            return false;
        const u64 size = box.size == 0 ? boxes.end - p : box.size;
        if (size < box.header || size > boxes.end - p)
            return false;
        const Span within{p + box.header, p + size};
        if (depth < INDEX_DEPTH && std::memcmp(box.type, INDEX_PATH[depth], 4) == 0) {
            if (!indexInside(src, within, depth + 1, media, count))
                return false;
        } else if (depth == INDEX_DEPTH && std::memcmp(box.type, "stco", 4) == 0) {
            if (!offsetsInside(src, within, 4, media, count))
                return false;
        } else if (depth == INDEX_DEPTH && std::memcmp(box.type, "co64", 4) == 0) {
            if (!offsetsInside(src, within, 8, media, count))
                return false;
        }
        p += size;
    }
    return true;
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
        Atom atom{};
        bool inside = false;
        if (!readAtom(src, p, atom, inside))
            return walk.readFailed(place, inside);
        if (!isAtomOf(atom.type, TOP_ATOMS))
            break;
        if (atom.size == 0) {
            // The last atom runs to the end of the file, which only the window
            // bounds: taking all of it keeps the media data whole.
            p = window;
            ++atoms;
            break;
        }
        if (atom.size == 1 && !readLargeSize(src, p, atom, inside))
            return walk.readFailed(place, inside);
        // Anything smaller than its own header would never move the walk on.
        const u64 size = atom.size;
        if (size < atom.header) {
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
    if (atoms < MIN_ATOMS || p < MIN_FILE_SIZE)
        return false;
    return found(info, src, p);
}

bool FileModuleMov::wholeWithin(dt::Reader& file, FileInfo& info) {
    // A movie has no end mark: it is whole where its atoms end with the window
    // and its movie atom's index points only into its own media data. A
    // movie's first atoms before its media data, or a movie and the media
    // data of the next, are not; nor is a window in which a file type atom
    // follows others, as it starts the next movie. The atoms are read a
    // sector at a time: a judgement reads little more than their headers and
    // the movie atom, and a piece of a movie is judged against a window that
    // holds the next movie's start.
    ByteSource src(file, 512);
    const u64 window = src.size();
    std::vector<Span> media;
    std::vector<Span> movies;
    u64 atoms = 0;
    for (u64 p = 0; p < window; ++atoms) {
        Atom atom{};
        if (window - p < ATOM_HEADER || !readAtom(src, p, atom) ||
            !isAtomOf(atom.type, TOP_ATOMS) || atom.size < atom.header || atom.size > window - p ||
            (atoms != 0 && std::memcmp(atom.type, "ftyp", 4) == 0))
            return false;
        const Span data{p + atom.header, p + atom.size};
        if (std::memcmp(atom.type, "mdat", 4) == 0)
            media.push_back(data);
        else if (std::memcmp(atom.type, "moov", 4) == 0)
            movies.push_back(data);
        p += atom.size;
    }
    u64 chunks = 0;
    for (const Span& movie : movies)
        if (!indexInside(src, movie, 0, media, chunks))
            return false;
    return atoms >= MIN_ATOMS && window >= MIN_FILE_SIZE && chunks != 0 && found(info, src, window);
}

} // namespace cbr
