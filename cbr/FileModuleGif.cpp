#include "cbr/FileModuleGif.h"

#include "cbr/ByteSource.h"

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

// Steps p over data sub-blocks up to and past the zero-length terminator.
bool skipSubBlocks(ByteSource& src, u64& p) {
    while (true) {
        u8 length = 0;
        if (!src.u8At(p, length))
            return false;
        p += length + 1u;
        if (length == 0)
            return true;
    }
}

// Steps p (at the byte after the introducer) over an extension's fixed part;
// false for a label or block size that no known extension has.
bool skipExtensionHeader(ByteSource& src, u64& p) {
    u8 head[2]; // label, block size
    if (!src.read(p, head, 2))
        return false;
    const u8 label = head[0], blockSize = head[1];
    if (label == 0xFF && (blockSize == 11 || blockSize == 252)) // application
        p += blockSize + 2u;
    else if (label == 0xFE) // comment: sub-blocks right after the label
        p += 1;
    else if (label == 0xF9 && blockSize == 4) // graphic control
        p += 6;
    else if (label == 0x01 && blockSize == 12) // plain text
        p += 14;
    else
        return false;
    return true;
}

} // namespace

bool FileModuleGif::check(const u8* sector, u32 size) {
    return startsWith(sector, size, SIGNATURE, sizeof SIGNATURE) &&
           (startsWith(sector + 4, size - 4, VERSION_87, 2) ||
            startsWith(sector + 4, size - 4, VERSION_89, 2));
}

bool FileModuleGif::analyze(dt::Reader& file, FileInfo& info) {
    ByteSource src(file, 4096);
    u8 flags = 0;
    if (!src.u8At(SCREEN_FLAGS, flags))
        return false;
    u64 p = HEADER_SIZE + colourTableSize(flags);
    while (true) {
        u8 block = 0;
        if (!src.u8At(p, block))
            return false;
        if (block == TRAILER) {
            info.clear();
            info.setType("gif");
            info.setSize(p + 1);
            return true;
        }
        if (block == IMAGE) {
            if (!src.u8At(p + IMAGE_FLAGS, flags))
                return false;
            // The local colour table, then the flags byte and the LZW code size.
            p += IMAGE_FLAGS + colourTableSize(flags) + 2;
        } else if (block == EXTENSION) {
            p += 1;
            if (!skipExtensionHeader(src, p))
                return false;
        } else {
            return false;
        }
        if (!skipSubBlocks(src, p))
            return false;
    }
}

} // namespace cbr
