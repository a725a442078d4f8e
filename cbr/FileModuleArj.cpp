#include "cbr/FileModuleArj.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"
#include "core/Array.h"
#include "core/DateTime.h"
#include "core/FileNames.h"

#include <algorithm>
#include <glib.h>
#include <vector>
#include <zlib.h>

namespace cbr {

namespace {

// Every header starts with these two bytes and a u16 basic header size.
constexpr u8 HEADER_ID[2] = {0x60, 0xEA};
constexpr u32 OFF_BASIC_SIZE = 0x02;
constexpr u32 OFF_BASIC_HEADER = 0x04; // the basic header, which its CRC32 follows
// Inside the basic header (offsets from the header's id).
constexpr u32 OFF_FIRST_HEADER_SIZE = 0x04; // u8: bytes from here to the name
constexpr u32 OFF_HOST_OS = 0x07;           // the system the archive was made on
constexpr u32 OFF_FILE_TYPE = 0x0A;         // 2 = main header
constexpr u32 OFF_MODIFIED = 0x10;          // u32 DOS date and time (main header)
constexpr u32 OFF_COMPRESSED_SIZE = 0x10;   // u32 (local header)
constexpr u8 MAIN_HEADER_TYPE = 2;
constexpr u8 HOST_UNIX = 2;

constexpr u32 MIN_BASIC_SIZE = 32;
constexpr u32 MAX_BASIC_SIZE = 2600;
// The id, the size field, the basic header and its CRC32.
constexpr u32 HEADER_OVERHEAD = 2 + 2 + 4;
// Enough of the main header for its name (and the first bytes of what follows).
constexpr u32 MAIN_HEADER_READ = 260;
// A main header shorter than this cannot be one: its id, size and the fixed fields.
constexpr u32 MIN_MAIN_HEADER_READ = 4 + MIN_BASIC_SIZE;
// Archivers write no extended headers; a few would be plenty.
constexpr u32 MAX_EXTENDED_HEADERS = 16;

bool isBasicSize(u32 size) {
    return size >= MIN_BASIC_SIZE && size <= MAX_BASIC_SIZE;
}

// Steps p over the extended headers that start there: each a u16 size, that
// many bytes and a CRC32; a size of 0 ends them (NEXT). STOPS when a size lies
// past the window or cannot be read, ENDS when there are more than any
// archiver writes: on other bytes the sizes lead anywhere, and a size of 0 may
// come only after megabytes.
ChainLink skipExtendedHeaders(ByteSource& src, u64& p) {
    for (u32 n = 0; n <= MAX_EXTENDED_HEADERS; ++n) {
        u16 size = 0;
        if (!src.le16(p, size))
            return ChainLink::STOPS;
        p += 2;
        if (size == 0)
            return ChainLink::NEXT;
        p += u64(size) + 4;
    }
    return ChainLink::ENDS;
}

// Whether the basic header at 0 (its id, size, the header and its CRC32) is
// what its CRC says it is.
bool basicHeaderIsSound(ByteSource& src, u16 basicSize) {
    std::vector<u8> header(HEADER_OVERHEAD + basicSize);
    if (!src.read(0, header.data(), header.size()))
        return false;
    const u32 crc =
        static_cast<u32>(crc32(0, header.data() + OFF_BASIC_HEADER, static_cast<uInt>(basicSize)));
    return crc == getLE32(header.data(), OFF_BASIC_HEADER + basicSize);
}

// One member at p: a complete member moves p past its data, and the empty
// header ends the archive after itself. A member whose data runs past the
// window ends the archive before it, so that the size never claims bytes the
// window does not have: a cut archive ends with its last whole member.
ChainLink stepMember(ByteSource& src, u64& p, u64& end) {
    end = p;
    u8 head[4];
    if (!src.read(p, head, sizeof head))
        return ChainLink::STOPS;
    if (head[0] != HEADER_ID[0] || head[1] != HEADER_ID[1])
        return ChainLink::ENDS;
    const u16 basicSize = getLE16(head, OFF_BASIC_SIZE);
    if (basicSize == 0) {
        end = p + sizeof head;
        return ChainLink::ENDS;
    }
    if (!isBasicSize(basicSize))
        return ChainLink::ENDS;
    u32 compressed = 0;
    if (!src.le32(p + OFF_COMPRESSED_SIZE, compressed))
        return ChainLink::STOPS;
    u64 next = p + basicSize + HEADER_OVERHEAD;
    if (const ChainLink link = skipExtendedHeaders(src, next); link != ChainLink::NEXT)
        return link;
    if (next > src.size() || compressed > src.size() - next)
        return ChainLink::STOPS;
    p = next + compressed;
    return ChainLink::NEXT;
}

// The archive's name as stored in the main header when it ends in ".arj" (any
// case), without that extension; empty otherwise.
std::string archiveName(const u8* header, u32 length) {
    const u32 firstHeaderSize = header[OFF_FIRST_HEADER_SIZE];
    const u32 start = firstHeaderSize + OFF_FIRST_HEADER_SIZE;
    if (start >= length)
        return std::string();
    const u8* end = std::find(header + start, header + length, 0);
    const u32 zero = static_cast<u32>(end - header);
    if (zero == length || zero < firstHeaderSize + 9)
        return std::string();
    if (g_ascii_strncasecmp(reinterpret_cast<const char*>(header + zero - 4), ".arj", 4) != 0)
        return std::string();
    return convertToUtf8(reinterpret_cast<const char*>(header + start), zero - 4 - start,
                         CbrCharsets::instance().arjName().c_str());
}

// The main header's modification time. ARJ on Unix keeps its times as Unix
// seconds rather than as a DOS date and time, so those archives are read as
// what they hold instead of as a DOS stamp that would not decode.
u32 modificationTime(const u8* header) {
    const u32 stamp = getLE32(header, OFF_MODIFIED);
    if (header[OFF_HOST_OS] == HOST_UNIX)
        return stamp;
    return dosDateTimeToTime(stamp);
}

} // namespace

bool FileModuleArj::check(const u8* sector, u32 size) {
    return size > OFF_FILE_TYPE && sector[0] == HEADER_ID[0] && sector[1] == HEADER_ID[1] &&
           sector[OFF_FILE_TYPE] == MAIN_HEADER_TYPE;
}

bool FileModuleArj::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleArj::newScanMemory() const {
    return std::make_unique<WalkMemory>();
}

bool FileModuleArj::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) {
    // Small blocks: the walk steps from member to member over their data, and
    // a hit whose walk soon joins a remembered one reads little.
    ByteSource src(file, 4096);
    // A small archive at the very end of the source has fewer than 260 bytes
    // in its window; it is read as far as it goes.
    u8 header[MAIN_HEADER_READ];
    const u32 length = static_cast<u32>(std::min<u64>(MAIN_HEADER_READ, src.size()));
    if (length < MIN_MAIN_HEADER_READ || !src.read(0, header, length))
        return false;
    const u16 basicSize = getLE16(header, OFF_BASIC_SIZE);
    if (!isBasicSize(basicSize) || !basicHeaderIsSound(src, basicSize))
        return false;

    u64 p = u64(basicSize) + HEADER_OVERHEAD;
    if (skipExtendedHeaders(src, p) != ChainLink::NEXT)
        return false;
    const u64 membersStart = p;
    u64 end = 0;
    if (!walkChain(
            dynamic_cast<WalkMemory*>(memory), at, src.size(), membersStart,
            [&](u64& q, u64& e) { return stepMember(src, q, e); }, end) ||
        end == membersStart)
        return false;

    info.clear();
    info.setSize(end);
    info.setType("arj");
    const std::string name = archiveName(header, length);
    if (!name.empty())
        info.getAttributes().set("name", name);
    const u32 time = modificationTime(header);
    if (time != NO_TIME)
        info.getAttributes().setUInt32("time", time);
    return true;
}

} // namespace cbr
