#include "cbr/FileModuleMpeg.h"

#include "cbr/ByteSource.h"

#include <algorithm>

namespace cbr {

namespace {

constexpr u8 SEQUENCE_HEADER[] = {0x00, 0x00, 0x01, 0xB3};
constexpr u8 PACK_HEADER[] = {0x00, 0x00, 0x01, 0xBA};
constexpr u8 SEQUENCE_END[] = {0x00, 0x00, 0x01, 0xB7};
constexpr u32 CODE_SIZE = 4;

// Stream ids after the 00 00 01 prefix inside a program stream.
constexpr u8 PROGRAM_END_ID = 0xB9;
constexpr u8 PACK_ID = 0xBA;
constexpr u8 SYSTEM_HEADER_ID = 0xBB;
constexpr u64 MPEG1_PACK_SIZE = 12;
constexpr u64 MPEG2_PACK_SIZE = 14;   // plus the stuffing bytes its last byte counts
constexpr u64 PACKET_HEADER_SIZE = 6; // start code, u16 big-endian length

// The size of the program stream at the window's start. Packs and packets
// carry their lengths, so the walk steps from one to the next; the stream ends
// at the program end code, or where the bytes stop being a pack or a packet:
// encoders often leave the end code out, and a search for it alone would read
// on to the end of the window. False when not one packet was walked.
bool walkProgramStream(ByteSource& src, u64& size) {
    u64 p = 0;
    bool packets = false;
    while (true) {
        u8 code[CODE_SIZE];
        if (!src.read(p, code, CODE_SIZE) || code[0] != 0 || code[1] != 0 || code[2] != 1 ||
            code[3] < PROGRAM_END_ID)
            break;
        if (code[3] == PROGRAM_END_ID) {
            size = p + CODE_SIZE;
            return true;
        }
        if (code[3] == PACK_ID) {
            u8 pack[MPEG2_PACK_SIZE];
            if (!src.read(p, pack, MPEG1_PACK_SIZE))
                break;
            if ((pack[4] & 0xF0) == 0x20) {
                p += MPEG1_PACK_SIZE;
            } else if ((pack[4] & 0xC0) == 0x40 && src.read(p, pack, MPEG2_PACK_SIZE)) {
                p += MPEG2_PACK_SIZE + (pack[13] & 7);
            } else {
                break;
            }
            continue;
        }
        u16 length = 0;
        if (!src.be16(p + CODE_SIZE, length))
            break;
        p += PACKET_HEADER_SIZE + length;
        if (code[3] != SYSTEM_HEADER_ID)
            packets = true;
    }
    // A last packet cut by the window's end keeps only the bytes that are there.
    size = std::min(p, src.size());
    return packets;
}

} // namespace

bool FileModuleMpeg::check(const u8* sector, u32 size) {
    return startsWith(sector, size, SEQUENCE_HEADER, CODE_SIZE) ||
           startsWith(sector, size, PACK_HEADER, CODE_SIZE);
}

bool FileModuleMpeg::analyze(dt::Reader& file, FileInfo& info) {
    ByteSource src(file);
    u8 start[CODE_SIZE];
    if (!src.read(0, start, CODE_SIZE))
        return false;
    u64 size = 0;
    if (startsWith(start, CODE_SIZE, SEQUENCE_HEADER, CODE_SIZE)) {
        // A video stream has no lengths to step by: its end code is searched
        // for, block by block, with the overlap that catches one split
        // between two blocks.
        const u64 end = src.find(CODE_SIZE, SEQUENCE_END, CODE_SIZE);
        if (end == ByteSource::NOT_FOUND)
            return false;
        size = end + CODE_SIZE;
    } else if (!walkProgramStream(src, size)) {
        return false;
    }
    info.clear();
    info.setType("mpeg");
    info.setSize(size);
    return true;
}

} // namespace cbr
