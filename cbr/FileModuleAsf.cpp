#include "cbr/FileModuleAsf.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"
#include "core/Array.h"
#include "core/DateTime.h"

#include <cstring>
#include <string>

namespace cbr {

namespace {

// GUIDs in their stored (mixed-endian) byte order.
using Guid = u8[16];

constexpr u8 HEADER_OBJECT[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                  0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// 8CABDCA1-A947-11CF-8EE4-00C00C205365
constexpr Guid FILE_PROPERTIES = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// B7DC0791-A9B7-11CF-8EE6-00C00C205365
constexpr Guid STREAM_PROPERTIES = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                    0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// 75B22633-668E-11CF-A6D9-00AA0062CE6C
constexpr Guid CONTENT_DESCRIPTION = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// F8699E40-5B4D-11CF-A8FD-00805F5C442B and E09469F8-5B4D-11CF-A8FD-00805F5C442B
constexpr Guid AUDIO_STREAMS[] = {{0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11, 0xA8, 0xFD, 0x00,
                                   0x80, 0x5F, 0x5C, 0x44, 0x2B},
                                  {0xF8, 0x69, 0x94, 0xE0, 0x4D, 0x5B, 0xCF, 0x11, 0xA8, 0xFD, 0x00,
                                   0x80, 0x5F, 0x5C, 0x44, 0x2B}};
// BC19EFC0-5B4D-11CF-A8FD-00805F5C442B and C0EF19BC-5B4D-11CF-A8FD-00805F5C442B
constexpr Guid VIDEO_STREAMS[] = {{0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11, 0xA8, 0xFD, 0x00,
                                   0x80, 0x5F, 0x5C, 0x44, 0x2B},
                                  {0xBC, 0x19, 0xEF, 0xC0, 0x4D, 0x5B, 0xCF, 0x11, 0xA8, 0xFD, 0x00,
                                   0x80, 0x5F, 0x5C, 0x44, 0x2B}};

constexpr u32 SIGNATURE_LENGTH = 12;
constexpr u64 MIN_HEADER_SIZE = 30;
constexpr u64 MAX_OBJECT_SIZE = 0xFA000;
constexpr u64 OBJECT_HEADER = 24; // GUID, u64 size
constexpr u32 MAX_TITLE_BYTES = 1024;

bool isOneOf(const u8* guid, const Guid* list, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (std::memcmp(guid, list[i], sizeof(Guid)) == 0)
            return true;
    return false;
}

bool inRange(u64 value, u64 low, u64 high) {
    return value >= low && value <= high;
}

struct Header {
    u64 headerSize = 0;
    u64 fileSize = FileInfo::UNSET;
    u32 time = NO_TIME;
    std::string type;
    std::string name;
};

bool readFileProperties(ByteSource& src, u64 p, u64 objectSize, Header& h) {
    if (!inRange(objectSize, 0x68, MAX_OBJECT_SIZE))
        return false;
    u8 b[16];
    if (!src.read(p + 40, b, sizeof b))
        return false;
    const u64 fileSize = getLE64(b, 0); // +40
    // A size below the header's own cannot hold the file: broadcast streams
    // leave it 0, and carving 0 bytes would only hide the find.
    if (fileSize > src.size() || fileSize < h.headerSize)
        return false;
    h.fileSize = fileSize;
    h.time = fileTimeToTime(getLE64(b, 8)); // +48 creation date
    return true;
}

bool readStreamProperties(ByteSource& src, u64 p, u64 objectSize, Header& h) {
    if (!inRange(objectSize, 0x4E, MAX_OBJECT_SIZE))
        return false;
    u8 type[16];
    if (!src.read(p + OBJECT_HEADER, type, sizeof type))
        return false;
    if (isOneOf(type, AUDIO_STREAMS, 2)) {
        if (h.type.empty())
            h.type = "wma";
    } else if (isOneOf(type, VIDEO_STREAMS, 2)) {
        h.type = "wmv";
    }
    return true;
}

bool readContentDescription(ByteSource& src, u64 p, u64 objectSize, Header& h) {
    if (!inRange(objectSize, 0x22, MAX_OBJECT_SIZE))
        return false;
    // Five u16 lengths (title, author, copyright, description, rating), then the
    // texts; the title comes first.
    u16 titleLength = 0;
    if (!src.le16(p + OBJECT_HEADER, titleLength))
        return false;
    u64 length = titleLength;
    if (length > MAX_TITLE_BYTES)
        length = MAX_TITLE_BYTES;
    // A damaged length must not pull the following objects in as text.
    const u64 room = objectSize - 0x22;
    if (length > room + 2)
        length = room + 2;
    if (length <= 3)
        return true;
    u8 title[MAX_TITLE_BYTES];
    const u64 textBytes = length - 2; // without the terminating zero
    if (!src.read(p + 0x22, title, textBytes))
        return false;
    h.name = utf16LeToUtf8(title, static_cast<std::size_t>(textBytes));
    return true;
}

} // namespace

bool FileModuleAsf::check(const u8* sector, u32 size) {
    return startsWith(sector, size, HEADER_OBJECT, SIGNATURE_LENGTH);
}

bool FileModuleAsf::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleAsf::newScanMemory() const {
    return std::make_unique<WalkMemory>();
}

bool FileModuleAsf::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) {
    using End = WalkMemory::End;
    ByteSource src(file, 4096);
    u8 top[14];
    if (!src.read(16, top, sizeof top))
        return false;
    const u64 headerSize = getLE64(top, 0); // 0x10
    const u32 objects = getLE32(top, 8);    // 0x18
    if (!inRange(headerSize, MIN_HEADER_SIZE, MAX_OBJECT_SIZE))
        return false;

    Header h;
    h.headerSize = headerSize;
    // A walk over objects of other kinds only is kept in the scan's memory:
    // where it stopped, a later walk with another header size or count goes
    // on by itself. One that read an object of the three kinds is not kept.
    WalkMemory::Walk walk(dynamic_cast<WalkMemory*>(memory), at, src.size());
    bool plain = true;
    auto halted = [&](End end, const WalkMemory::Place& place) {
        if (plain)
            walk.ended(end, place);
        return false;
    };
    WalkMemory::Place place{MIN_HEADER_SIZE};
    while (true) {
        if (walk.arrive(place, headerSize, objects) != WalkMemory::Next::GO_ON)
            return false;
        if (place.steps >= objects)
            break;
        const u64 p = place.at;
        if (p > headerSize || OBJECT_HEADER > headerSize - p)
            return halted(End::HALTED, place);
        u8 object[OBJECT_HEADER];
        if (!src.read(p, object, sizeof object))
            return halted(src.has(p, sizeof object) ? End::HALTED : End::CUT, place);
        const u64 objectSize = getLE64(object, 16);
        // An object smaller than its own header would let a count of four
        // billion objects spin on one place.
        if (objectSize < OBJECT_HEADER)
            return halted(End::FAILED, place);
        bool ok = true;
        if (std::memcmp(object, FILE_PROPERTIES, 16) == 0) {
            plain = false;
            ok = readFileProperties(src, p, objectSize, h);
        } else if (std::memcmp(object, STREAM_PROPERTIES, 16) == 0) {
            plain = false;
            ok = readStreamProperties(src, p, objectSize, h);
        } else if (std::memcmp(object, CONTENT_DESCRIPTION, 16) == 0) {
            plain = false;
            ok = readContentDescription(src, p, objectSize, h);
        }
        if (!ok)
            return false;
        // An object reaching past the header belongs to no header we can trust.
        if (objectSize > headerSize - p)
            return halted(End::HALTED, place);
        place.at = p + objectSize;
        ++place.steps;
    }
    halted(End::HALTED, place);
    if (h.fileSize == FileInfo::UNSET || h.type.empty())
        return false;

    info.clear();
    info.setSize(h.fileSize);
    info.setType(h.type);
    if (!h.name.empty())
        info.getAttributes().set("name", cutUtf8(h.name));
    if (h.time != NO_TIME)
        info.getAttributes().setTime("time", h.time);
    return true;
}

} // namespace cbr
