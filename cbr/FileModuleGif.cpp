#include "cbr/FileModuleGif.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"

namespace cbr {

namespace {

constexpr u8 SIGNATURE[] = {'G', 'I', 'F', '8'};
constexpr u8 VERSION_87[] = {'7', 'a'};
constexpr u8 VERSION_89[] = {'9', 'a'};

constexpr u64 SCREEN_FLAGS = 10; // in the logical screen descriptor
constexpr u64 HEADER_SIZE = 13;  // signature, version and logical screen descriptor
constexpr u8 IMAGE = 0x2C;
constexpr u8 EXTENSION = 0x21;
constexpr u8 TRAILER = 0x3B;
constexpr u64 IMAGE_FLAGS = 9; // from the image separator

// Bytes of the colour table that a screen or image descriptor's flags announce.
constexpr u64 colourTableSize(u8 flags) {
    return (flags & 0x80) ? 3u * (u64(1) << ((flags & 7) + 1)) : 0;
}

// The walk's states: at a block's first byte, or at a data sub-block's length.
enum State : u8 { BLOCK, SUB_BLOCK };
static_assert(SUB_BLOCK < WalkMemory::STATES);

// Bytes of an extension's fixed part after its introducer, from its label and
// block size; false for a label or block size that no known extension has.
bool extensionHeader(u8 label, u8 blockSize, u64& bytes) {
    if (label == 0xFF && (blockSize == 11 || blockSize == 252)) // application
        bytes = blockSize + 2u;
    else if (label == 0xFE) // comment: sub-blocks right after the label
        bytes = 1;
    else if (label == 0xF9 && blockSize == 4) // graphic control
        bytes = 6;
    else if (label == 0x01 && blockSize == 12) // plain text
        bytes = 14;
    else
        return false;
    return true;
}

bool found(FileInfo& info, u64 size) {
    info.clear();
    info.setType("gif");
    info.setSize(size);
    return true;
}

} // namespace

bool FileModuleGif::check(const u8* sector, u32 size) {
    return startsWith(sector, size, SIGNATURE, sizeof SIGNATURE) &&
           (startsWith(sector + 4, size - 4, VERSION_87, 2) ||
            startsWith(sector + 4, size - 4, VERSION_89, 2));
}

bool FileModuleGif::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleGif::newScanMemory() const {
    return std::make_unique<WalkMemory>();
}

bool FileModuleGif::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) {
    using End = WalkMemory::End;
    using Next = WalkMemory::Next;
    ByteSource src(file, 4096);
    u8 flags = 0;
    if (!src.u8At(SCREEN_FLAGS, flags))
        return false;
    WalkMemory::Walk walk(dynamic_cast<WalkMemory*>(memory), at, src.size());
    // From the first block on, where the walk goes depends on the bytes alone.
    WalkMemory::Place place{HEADER_SIZE + colourTableSize(flags), 0, BLOCK};
    while (true) {
        // Past a remembered path's end, or a part of a file found before.
        if (const auto next = walk.arrive(place); next != Next::GO_ON)
            return next == Next::FOUND && found(info, place.at);
        u64 p = place.at;
        u8 byte = 0;
        if (!src.u8At(p, byte))
            return walk.readFailed(place, src.has(p, 1));
        if (place.state == SUB_BLOCK) {
            // A data sub-block: its length, then that many bytes; 0 ends them.
            p += byte + 1u;
            place.state = byte == 0 ? BLOCK : SUB_BLOCK;
        } else if (byte == TRAILER) {
            walk.ended(End::FOUND, place, p + 1);
            return found(info, p + 1);
        } else if (byte == IMAGE) {
            if (!src.u8At(p + IMAGE_FLAGS, flags))
                return walk.readFailed(place, src.has(p + IMAGE_FLAGS, 1));
            // The local colour table, then the flags byte and the LZW code size.
            p += IMAGE_FLAGS + colourTableSize(flags) + 2;
            place.state = SUB_BLOCK;
        } else if (byte == EXTENSION) {
            u8 head[2]; // label, block size
            u64 bytes = 0;
            if (!src.read(p + 1, head, sizeof head))
                return walk.readFailed(place, src.has(p + 1, sizeof head));
            if (!extensionHeader(head[0], head[1], bytes)) {
                walk.ended(End::FAILED, place);
                return false;
            }
            p += 1 + bytes;
            place.state = SUB_BLOCK;
        } else {
            walk.ended(End::FAILED, place);
            return false;
        }
        place.at = p;
        ++place.steps;
    }
}

} // namespace cbr
