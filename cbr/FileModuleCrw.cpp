#include "cbr/FileModuleCrw.h"

#include "cbr/ByteSource.h"
#include "cbr/Thumbnail.h"
#include "core/Array.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace cbr {

namespace {

// The heap starts after the 26-byte header; heap offsets count from there.
constexpr u64 HEAP_START = 26;
constexpr u32 ENTRY_SIZE = 10; // u16 tag, u32 data size, u32 data offset
// A root directory of 2 to 8 entries starts 22 to 82 bytes before the
// directory offset at the file's end; each candidate end sees the 85 bytes
// before its offset word.
constexpr u32 MIN_ENTRIES = 2;
constexpr u32 MAX_ENTRIES = 8;
constexpr u64 LOOK_BACK = 85;
constexpr u64 CHUNK = 65536;
// Real CRW files are several megabytes; the search for a root directory starts
// here so that the small directories inside the heap are not taken for it.
constexpr u64 MIN_FILE_END = 500000;
// Files start at sector starts, where the hits are.
constexpr u64 SECTOR_BYTES = 512;

constexpr u16 TAG_RAW_DATA = 0x2005;
constexpr u16 TAG_JPEG_IMAGE = 0x2007;
constexpr u16 TAG_THUMBNAIL = 0x2008;

// A root directory with raw data: where the file it closes ends and starts
// (both on the same scale as the search: window or source offsets), and its
// preview.
struct Found {
    u64 end = 0;
    u64 start = 0;
    u32 previewOffset = 0; // heap-relative
    u32 previewSize = 0;
    bool hasPreview = false;
};

// What the module keeps for one scan, for each byte order: how far the search
// for root directories got, and the directories it met there that close files
// starting at a later sector (a later hit). A search from such a hit then
// needs only the stretch beyond. Of the directories of one start, the first
// two past the least size of a file are all that searches ask for: the end,
// and whether another comes soon behind it.
struct CrwStretch {
    u64 from = 0; // every candidate offset word q in [from, to) was examined
    u64 to = 0;
    std::map<u64, std::vector<Found>> later; // by the file's start, on the source
};

class CrwMemory : public ScanMemory {
public:
    // Another byte order reads other values: each has its own stretch.
    CrwStretch orders[2];
};

// Calls take(found) for each root directory with raw data whose offset word
// is at q (window offset), whatever file start it implies: a directory of k
// entries has its count k at q - 2 - 10k, and the file starts 26 bytes and the
// directory's heap offset t (the u32 at q) before it. The buffer holds the
// window from bufferStart on, at least from q - 82 to q + 3.
template <typename Take>
void rootDirectoriesAt(const u8* buffer, u64 bufferStart, u64 q, bool little, Take take) {
    auto u16At = [&](u64 n) {
        return little ? getLE16(buffer, static_cast<u32>(n - bufferStart))
                      : getBE16(buffer, static_cast<u32>(n - bufferStart));
    };
    auto u32At = [&](u64 n) {
        return little ? getLE32(buffer, static_cast<u32>(n - bufferStart))
                      : getBE32(buffer, static_cast<u32>(n - bufferStart));
    };
    for (u32 count = MIN_ENTRIES; count <= MAX_ENTRIES; ++count) {
        const u64 directory = q - 2 - u64(count) * ENTRY_SIZE;
        if (u16At(directory) != count)
            continue;
        const u64 t = u32At(q);
        if (t + HEAP_START > directory)
            continue;
        bool raw = false;
        bool valid = true;
        Found candidate;
        for (u32 i = 0; i < count && valid; ++i) {
            const u64 entry = directory + 2 + u64(i) * ENTRY_SIZE;
            const u16 tag = u16At(entry);
            const u32 size = u32At(entry + 2);
            const u32 offset = u32At(entry + 6);
            // Every record of the heap lies before its directory.
            valid = u64(offset) + size <= t;
            if (tag == TAG_RAW_DATA) {
                raw = true;
            } else if (tag == TAG_THUMBNAIL || (tag == TAG_JPEG_IMAGE && !candidate.hasPreview)) {
                candidate.previewOffset = offset;
                candidate.previewSize = size;
                candidate.hasPreview = true;
            }
        }
        if (!valid || !raw)
            continue;
        candidate.end = q + 4;
        candidate.start = directory - HEAP_START - t;
        take(candidate);
    }
}

// The first file end in (begin, end] at which a root directory with raw data
// closes the file that starts at the window's start. The window is read once,
// in chunks, each with the bytes before it that its first candidates need.
// Directories that close files starting at later sectors go to the memory, and
// a stretch the memory has examined already is not read again.
bool findRootDirectory(ByteSource& src, u64 begin, u64 end, bool little, u64 at, CrwStretch& memory,
                       Found& found) {
    if (begin < LOOK_BACK || begin >= end)
        return false;
    u64 q = begin - 3;
    const u64 qEnd = end - 3; // q + 4 <= end
    if (memory.from <= at + q && at + q <= memory.to) {
        while (!memory.later.empty() && memory.later.begin()->first < at)
            memory.later.erase(memory.later.begin());
        const auto known = memory.later.find(at);
        if (known != memory.later.end()) {
            for (const Found& f : known->second) {
                if (f.end - 4 >= at + q && f.end - 4 < at + qEnd) {
                    found = f;
                    found.end -= at;
                    found.start = 0;
                    return true;
                }
            }
        }
        q = memory.to - at;
    } else {
        memory.from = at + q;
        memory.later.clear();
    }
    memory.to = at + q;
    if (q >= qEnd)
        return false;

    std::vector<u8> buffer(LOOK_BACK + CHUNK);
    u64 bufferStart = q + 3 - LOOK_BACK;
    if (!src.read(bufferStart, buffer.data(), LOOK_BACK))
        return false;
    u64 held = LOOK_BACK;
    for (u64 next = q + 3; next < end;) {
        const u64 n = std::min(CHUNK, end - next);
        if (!src.read(next, buffer.data() + held, n))
            return false;
        held += n;
        next += n;
        for (; q + 4 <= bufferStart + held; ++q) {
            bool closes = false;
            rootDirectoriesAt(buffer.data(), bufferStart, q, little, [&](const Found& f) {
                if (f.start == 0 && !closes) {
                    found = f;
                    closes = true;
                } else if (f.start > 0 && (at + f.start) % SECTOR_BYTES == 0 &&
                           f.end >= f.start + MIN_FILE_END + 1) {
                    std::vector<Found>& ends = memory.later[at + f.start];
                    if (ends.size() < 2 && (ends.empty() || ends.back().end < at + f.end)) {
                        Found later = f;
                        later.start += at;
                        later.end += at;
                        ends.push_back(later);
                    }
                }
            });
            memory.to = at + q + 1;
            if (closes)
                return true;
        }
        std::memmove(buffer.data(), buffer.data() + held - LOOK_BACK, LOOK_BACK);
        bufferStart += held - LOOK_BACK;
        held = LOOK_BACK;
    }
    return false;
}

void store(const Found& found, FileInfo& info) {
    info.clear();
    info.setType("crw");
    info.setSize(found.end);
    Attributes& a = info.getAttributes();
    a.setUInt8("raw", 1);
    if (found.hasPreview) {
        const u64 offset = found.previewOffset + HEAP_START;
        if (offset < Thumbnail::UNSET) {
            a.setUInt32("thumbnail_offset", static_cast<u32>(offset));
            a.setUInt32("thumbnail_size", found.previewSize);
            a.setUInt32("thumbnail_compression", Thumbnail::JPEG);
        }
    }
}

} // namespace

bool FileModuleCrw::check(const u8* sector, u32 size) {
    static constexpr u8 LITTLE[14] = {'I', 'I', 0x1A, 0,   0,   0,   'H',
                                      'E', 'A', 'P',  'C', 'C', 'D', 'R'};
    static constexpr u8 BIG[14] = {'M', 'M', 0, 0, 0, 0x1A, 'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'};
    return startsWith(sector, size, LITTLE, sizeof LITTLE) ||
           startsWith(sector, size, BIG, sizeof BIG);
}

bool FileModuleCrw::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleCrw::newScanMemory() const {
    return std::make_unique<CrwMemory>();
}

bool FileModuleCrw::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at,
                                  ScanMemory* scanMemory) {
    CrwMemory fresh;
    CrwMemory& memory = memoryOr(scanMemory, fresh);
    // Read on its own, not through a block of the source: a hit that the memory
    // answers reads little more.
    u8 order = 0;
    if (file.getSize() < 1 || !file.read(0, &order, 1))
        return false;
    // Small blocks: a hit whose search the memory answers reads little.
    ByteSource src(file, 4096);
    const bool little = order == 'I';
    Found found;
    CrwStretch& stretch = memory.orders[little ? 0 : 1];
    if (!findRootDirectory(src, MIN_FILE_END, src.size(), little, at, stretch, found))
        return false;
    // Bytes of the picture data can pass for a root directory; when another one
    // ends within 64 KB behind the first, it is the real end.
    const u64 first = found.end;
    findRootDirectory(src, first, std::min(first + CHUNK, src.size()), little, at, stretch, found);
    store(found, info);
    return true;
}

} // namespace cbr
