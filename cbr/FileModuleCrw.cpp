#include "cbr/FileModuleCrw.h"

#include "cbr/ByteSource.h"
#include "cbr/Thumbnail.h"
#include "core/Array.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace cbr {

namespace {

// The heap starts after the 26-byte header; heap offsets count from there.
constexpr u64 HEAP_START = 26;
constexpr u32 ENTRY_SIZE = 10; // u16 tag, u32 data size, u32 data offset
// A root directory of 2 to 8 entries starts 22 to 82 bytes before the
// directory offset at the file's end; each candidate end sees the 85 bytes
// before its offset word.
constexpr u64 MIN_DIRECTORY_DISTANCE = 48;  // from t to q, two entries
constexpr u64 MAX_DIRECTORY_DISTANCE = 108; // eight entries
constexpr u64 LOOK_BACK = 85;
constexpr u64 CHUNK = 65536;
// Real CRW files are several megabytes; the search for a root directory starts
// here so that the small directories inside the heap are not taken for it.
constexpr u64 MIN_FILE_END = 500000;

constexpr u16 TAG_RAW_DATA = 0x2005;
constexpr u16 TAG_JPEG_IMAGE = 0x2007;
constexpr u16 TAG_THUMBNAIL = 0x2008;

struct Found {
    u64 end = 0;
    u32 previewOffset = 0; // heap-relative
    u32 previewSize = 0;
    bool hasPreview = false;
};

// Whether a root directory ends at q (the directory offset word at q, the file's
// last four bytes). The buffer holds the file from bufferStart on, at least
// from q - 82 to q + 3.
bool rootDirectoryAt(const u8* buffer, u64 bufferStart, u64 q, bool little, Found& found) {
    auto u16At = [&](u64 n) {
        return little ? getLE16(buffer, static_cast<u32>(n - bufferStart))
                      : getBE16(buffer, static_cast<u32>(n - bufferStart));
    };
    auto u32At = [&](u64 n) {
        return little ? getLE32(buffer, static_cast<u32>(n - bufferStart))
                      : getBE32(buffer, static_cast<u32>(n - bufferStart));
    };
    const u64 t = u32At(q);
    if (t + MIN_DIRECTORY_DISTANCE > q || q > t + MAX_DIRECTORY_DISTANCE)
        return false;
    const u64 directory = t + HEAP_START;
    const u16 count = u16At(directory);
    if (u64(count) * ENTRY_SIZE + directory + 2 != q)
        return false;
    bool raw = false;
    Found candidate;
    for (u32 i = 0; i < count; ++i) {
        const u64 entry = directory + 2 + u64(i) * ENTRY_SIZE;
        const u16 tag = u16At(entry);
        const u32 size = u32At(entry + 2);
        const u32 offset = u32At(entry + 6);
        // Every record of the heap lies before its directory.
        if (u64(offset) + size > t)
            return false;
        if (tag == TAG_RAW_DATA) {
            raw = true;
        } else if (tag == TAG_THUMBNAIL || (tag == TAG_JPEG_IMAGE && !candidate.hasPreview)) {
            candidate.previewOffset = offset;
            candidate.previewSize = size;
            candidate.hasPreview = true;
        }
    }
    if (!raw)
        return false;
    candidate.end = q + 4;
    found = candidate;
    return true;
}

// The first file end in (begin, end] at which a root directory with raw data
// ends. The window is read once, in chunks, each with the bytes before it that
// its first candidates need.
bool findRootDirectory(ByteSource& src, u64 begin, u64 end, bool little, Found& found) {
    if (begin < LOOK_BACK || begin >= end)
        return false;
    std::vector<u8> buffer(LOOK_BACK + CHUNK);
    u64 bufferStart = begin - LOOK_BACK;
    if (!src.read(bufferStart, buffer.data(), LOOK_BACK))
        return false;
    u64 held = LOOK_BACK;
    u64 q = begin - 3;
    for (u64 next = begin; next < end;) {
        const u64 n = std::min(CHUNK, end - next);
        if (!src.read(next, buffer.data() + held, n))
            return false;
        held += n;
        next += n;
        for (; q + 4 <= bufferStart + held; ++q)
            if (rootDirectoryAt(buffer.data(), bufferStart, q, little, found))
                return true;
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
    return size >= sizeof LITTLE && (std::memcmp(sector, LITTLE, sizeof LITTLE) == 0 ||
                                     std::memcmp(sector, BIG, sizeof BIG) == 0);
}

bool FileModuleCrw::analyze(dt::Reader& file, FileInfo& info) {
    ByteSource src(file);
    u8 order = 0;
    if (!src.u8At(0, order))
        return false;
    const bool little = order == 'I';
    Found found;
    if (!findRootDirectory(src, MIN_FILE_END, src.size(), little, found))
        return false;
    // Bytes of the picture data can pass for a root directory; when another one
    // ends within 64 KB behind the first, it is the real end.
    const u64 first = found.end;
    findRootDirectory(src, first, std::min(first + CHUNK, src.size()), little, found);
    store(found, info);
    return true;
}

} // namespace cbr
