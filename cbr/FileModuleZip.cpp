#include "cbr/FileModuleZip.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"
#include "core/Array.h"

#include <algorithm>
#include <vector>

namespace cbr {

namespace {

// Every record starts with "PK" and a u16 kind.
constexpr u32 RECORD_HEAD = 8;
constexpr u16 KIND_LOCAL = 0x0403;
constexpr u16 KIND_CENTRAL = 0x0201;
constexpr u16 KIND_ARCHIVE_EXTRA = 0x0806;
constexpr u16 KIND_SIGNATURE = 0x0505;
constexpr u16 KIND_ZIP64_END = 0x0606;
constexpr u16 KIND_ZIP64_LOCATOR = 0x0706;
constexpr u16 KIND_END = 0x0605;

// Local file header (30 bytes before the name).
constexpr u32 LOCAL_SIZE = 30;
constexpr u32 LOCAL_OFF_FLAGS = 0x06;
constexpr u32 LOCAL_OFF_COMPRESSED = 0x12;
constexpr u32 LOCAL_OFF_UNCOMPRESSED = 0x16;
constexpr u32 LOCAL_OFF_NAME_LENGTH = 0x1A;
constexpr u32 LOCAL_OFF_EXTRA_LENGTH = 0x1C;
constexpr u16 FLAG_DATA_DESCRIPTOR = 0x0008;
// A 32-bit size of all ones stands for the u64 in the zip64 extra field.
constexpr u32 SIZE_IN_ZIP64_EXTRA = 0xFFFFFFFF;
constexpr u16 EXTRA_ZIP64 = 0x0001;

// Central directory header (46 bytes before the name).
constexpr u32 CENTRAL_SIZE = 46;
constexpr u32 CENTRAL_OFF_NAME_LENGTH = 0x1C;
constexpr u32 CENTRAL_OFF_EXTRA_LENGTH = 0x1E;
constexpr u32 CENTRAL_OFF_COMMENT_LENGTH = 0x20;

constexpr u32 ARCHIVE_EXTRA_FIXED = 8; // + u32 at 4
constexpr u32 SIGNATURE_FIXED = 6;     // + u16 at 4
constexpr u32 ZIP64_END_FIXED = 12;    // + u64 at 4
constexpr u32 ZIP64_LOCATOR_SIZE = 20;
constexpr u32 END_SIZE = 22;
constexpr u32 END_OFF_COMMENT_LENGTH = 0x14;

// The search for the header after data whose length the local header lacks:
// it reads SEARCH_STEP bytes at a time, and gives up once it went past
// SEARCH_LIMIT bytes without one, that is past the whole step it was in.
constexpr u32 SEARCH_STEP = 65536;
constexpr u32 SEARCH_READ = SEARCH_STEP + 3;
constexpr u64 SEARCH_LIMIT = 0x9FFFFF;
constexpr u64 SEARCH_SPAN = (SEARCH_LIMIT / SEARCH_STEP + 1) * SEARCH_STEP;

using End = WalkMemory::End;

// A read of n bytes at p that failed ended the walk: CUT when the window ends
// first, HALTED when a read inside it failed.
End failedRead(const ByteSource& src, u64 p, u64 n) {
    return src.has(p, n) ? End::HALTED : End::CUT;
}

// The record head at p: its kind, or why there is none.
bool readHead(ByteSource& src, u64 p, u16& kind, End& why) {
    u8 head[RECORD_HEAD];
    if (!src.read(p, head, sizeof head)) {
        why = failedRead(src, p, sizeof head);
        return false;
    }
    if (head[0] != 'P' || head[1] != 'K') {
        why = End::FAILED;
        return false;
    }
    kind = getLE16(head, 2);
    return true;
}

bool isNextHeader(const u8* b) {
    return b[0] == 'P' && b[1] == 'K' && ((b[2] == 3 && b[3] == 4) || (b[2] == 1 && b[3] == 2));
}

// From p, the next local or central header signature within SEARCH_SPAN; p
// moves to it. The scan's notes (null: none) on the window at `at` say where
// earlier searches found none.
bool findNextHeader(ByteSource& src, u64 at, u64& p, End& why, SearchMemory* known) {
    const u64 from = p;
    const u64 limit = from + SEARCH_SPAN;
    u64 pos = from;
    bool header = false;
    if (known != nullptr)
        pos = known->skip(at + from, header) - at;
    std::vector<u8> buffer;
    while (!header) {
        if (pos >= limit) {
            why = End::FAILED;
            break;
        }
        if (pos > src.size() || src.size() - pos < 4) {
            why = End::CUT;
            break;
        }
        const u64 n = std::min<u64>({SEARCH_READ, src.size() - pos, limit - pos + 3});
        buffer.resize(SEARCH_READ);
        if (!src.read(pos, buffer.data(), n)) {
            why = End::HALTED;
            break;
        }
        u64 i = 0;
        while (i + 4 <= n && !isNextHeader(&buffer[i]))
            ++i;
        header = i + 4 <= n;
        pos += header ? i : n - 3;
    }
    if (known != nullptr)
        known->searched(at + from, at + std::min(pos, limit), header, at);
    if (!header)
        return false;
    // A header noted by a search with a longer window must lie inside this
    // one, and a search from here would have given up before one too far on.
    if (pos >= limit) {
        why = End::FAILED;
        return false;
    }
    if (pos > src.size() || src.size() - pos < 4) {
        why = End::CUT;
        return false;
    }
    p = pos;
    return true;
}

// The packed size of a member whose local header leaves it to the zip64 extra
// field: there the uncompressed size comes first when it too is all ones.
// Without such a field the 32-bit value stands.
bool zip64CompressedSize(ByteSource& src, u64 extraStart, const u8* header, u64& size) {
    size = SIZE_IN_ZIP64_EXTRA;
    std::vector<u8> extra(getLE16(header, LOCAL_OFF_EXTRA_LENGTH));
    if (!src.read(extraStart, extra.data(), extra.size()))
        return false;
    const u32 field = getLE32(header, LOCAL_OFF_UNCOMPRESSED) == SIZE_IN_ZIP64_EXTRA ? 8 : 0;
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const u16 id = getLE16(extra.data(), at);
        const u16 length = getLE16(extra.data(), at + 2);
        at += 4;
        if (length > extra.size() - at)
            break;
        if (id == EXTRA_ZIP64 && field + 8 <= length) {
            size = getLE64(extra.data(), at + field);
            break;
        }
        at += length;
    }
    return true;
}

// One local file header at p and its data: p moves to the next record head,
// whose kind it gives.
bool stepLocal(ByteSource& src, u64 at, u64& p, u16& kind, End& why, SearchMemory* known) {
    u8 h[LOCAL_SIZE];
    if (!src.read(p, h, sizeof h)) {
        why = failedRead(src, p, sizeof h);
        return false;
    }
    const u64 extraStart = p + LOCAL_SIZE + getLE16(h, LOCAL_OFF_NAME_LENGTH);
    p = extraStart + getLE16(h, LOCAL_OFF_EXTRA_LENGTH);
    if (getLE16(h, LOCAL_OFF_FLAGS) & FLAG_DATA_DESCRIPTOR) {
        if (!findNextHeader(src, at, p, why, known))
            return false;
    } else {
        u64 compressed = getLE32(h, LOCAL_OFF_COMPRESSED);
        if (compressed == SIZE_IN_ZIP64_EXTRA &&
            !zip64CompressedSize(src, extraStart, h, compressed)) {
            why = failedRead(src, extraStart, getLE16(h, LOCAL_OFF_EXTRA_LENGTH));
            return false;
        }
        // Larger than the window it cannot be, and p must not wrap round.
        if (compressed > src.size()) {
            why = End::FAILED;
            return false;
        }
        p += compressed;
    }
    return readHead(src, p, kind, why);
}

// The records after the local file headers, from the record head at p to the
// end of the end-of-central-directory record and its comment: the archive's
// size, or why it has none.
bool walkDirectory(ByteSource& src, u64 p, u64& size, bool& commentCut, End& why) {
    u16 kind = 0;
    if (!readHead(src, p, kind, why))
        return false;
    if (kind == KIND_ARCHIVE_EXTRA) {
        u32 length = 0;
        if (!src.le32(p + 4, length)) {
            why = failedRead(src, p + 4, 4);
            return false;
        }
        p += ARCHIVE_EXTRA_FIXED + u64(length);
        if (!readHead(src, p, kind, why))
            return false;
    }

    while (kind == KIND_CENTRAL) {
        u8 h[CENTRAL_SIZE];
        if (!src.read(p, h, sizeof h)) {
            why = failedRead(src, p, sizeof h);
            return false;
        }
        p += CENTRAL_SIZE + u64(getLE16(h, CENTRAL_OFF_NAME_LENGTH)) +
             getLE16(h, CENTRAL_OFF_EXTRA_LENGTH) + getLE16(h, CENTRAL_OFF_COMMENT_LENGTH);
        if (!readHead(src, p, kind, why))
            return false;
    }

    if (kind == KIND_SIGNATURE) {
        u16 length = 0;
        if (!src.le16(p + 4, length)) {
            why = failedRead(src, p + 4, 2);
            return false;
        }
        p += SIGNATURE_FIXED + u64(length);
        if (!readHead(src, p, kind, why))
            return false;
    }
    if (kind == KIND_ZIP64_END) {
        u64 length = 0;
        if (!src.le64(p + 4, length)) {
            why = failedRead(src, p + 4, 8);
            return false;
        }
        // A length beyond the window would only wrap p round to an earlier place.
        if (length > src.size()) {
            why = End::FAILED;
            return false;
        }
        p += ZIP64_END_FIXED + length;
        if (!readHead(src, p, kind, why))
            return false;
    }
    if (kind == KIND_ZIP64_LOCATOR) {
        p += ZIP64_LOCATOR_SIZE;
        if (!readHead(src, p, kind, why))
            return false;
    }

    u8 end[END_SIZE];
    if (kind != KIND_END) {
        why = End::FAILED;
        return false;
    }
    if (!src.read(p, end, sizeof end)) {
        why = failedRead(src, p, sizeof end);
        return false;
    }
    // A comment cut by the window's end is kept as far as it goes: the archive
    // itself is whole.
    size = p + END_SIZE + getLE16(end, END_OFF_COMMENT_LENGTH);
    commentCut = size > src.size();
    size = std::min(size, src.size());
    return true;
}

// The walk's states: at a local file header, or at the first record after them.
enum State : u8 { LOCAL, DIRECTORY };
static_assert(DIRECTORY < WalkMemory::STATES);

bool found(FileInfo& info, u64 size) {
    info.clear();
    info.setSize(size);
    info.setType("zip");
    return true;
}

} // namespace

bool FileModuleZip::check(const u8* sector, u32 size) {
    return startsWith(sector, size, "PK\x03\x04", 4);
}

bool FileModuleZip::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleZip::newScanMemory() const {
    return std::make_unique<WalkMemory>();
}

bool FileModuleZip::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) {
    // Small blocks: the walk steps from member to member over their data, and
    // a hit whose walk soon joins a remembered one reads little.
    ByteSource src(file, 4096);
    u16 kind = 0;
    End why = End::FAILED;
    if (!readHead(src, 0, kind, why))
        return false;
    WalkMemory::Walk walk(dynamic_cast<WalkMemory*>(memory), at, src.size());
    WalkMemory::Place place{0, 0, kind == KIND_LOCAL ? LOCAL : DIRECTORY};
    while (true) {
        if (const auto next = walk.arrive(place); next != WalkMemory::Next::GO_ON)
            return next == WalkMemory::Next::FOUND && found(info, place.at);
        if (place.state == DIRECTORY)
            break;
        u64 p = place.at;
        if (!stepLocal(src, at, p, kind, why, walk.searches())) {
            walk.ended(why, place);
            return false;
        }
        place = {p, place.steps + 1, kind == KIND_LOCAL ? LOCAL : DIRECTORY};
    }
    u64 size = 0;
    bool commentCut = false;
    if (!walkDirectory(src, place.at, size, commentCut, why)) {
        walk.ended(why, place);
        return false;
    }
    // A comment that the window cut ends the file where the window does: a
    // walk with another window reads the end itself.
    if (commentCut)
        walk.ended(End::HALTED, place);
    else
        walk.ended(End::FOUND, place, size);
    return found(info, size);
}

} // namespace cbr
