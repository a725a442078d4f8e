#include "cbr/FileModuleMpeg.h"

#include "cbr/ByteSource.h"

#include <algorithm>
#include <deque>
#include <vector>

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

constexpr u64 SECTOR_BYTES = 512;

// What the module keeps for one scan. A stream of packs without packets, or
// video without its end code, is no file, and each of its sector-aligned
// headers is a hit: without this every hit would read on to the end of its
// window again.
class MpegMemory : public ScanMemory {
public:
    // The end-code search of a video stream: no end code starts in [from, to).
    u64 searchFrom = 0;
    u64 searchTo = 0;
    // The failed program-stream walk that got furthest: the sector starts it
    // stepped on (the only places a hit can be), where it stopped and whether
    // for good (on bytes that are no pack, packet or end code) or only at its
    // window's end or an unreadable place.
    std::deque<u64> walkSectors;
    u64 walkStop = 0;
    bool walkStoppedForGood = false;

    // Whether a walk from `at` would step on an earlier failed walk's path
    // from its first step: it would go the same way, packs only, to walkStop.
    bool onFailedWalk(u64 at) {
        while (!walkSectors.empty() && walkSectors.front() < at)
            walkSectors.pop_front();
        return !walkSectors.empty() && walkSectors.front() == at;
    }
};

// The video stream's size: up to and with its sequence end code.
bool searchVideoEnd(ByteSource& src, u64 at, MpegMemory& memory, u64& size) {
    u64 from = CODE_SIZE;
    const bool known = memory.searchFrom <= at + from && at + from < memory.searchTo;
    if (known)
        from = memory.searchTo - at;
    u64 searchedTo = from;
    const u64 end = src.find(from, SEQUENCE_END, CODE_SIZE, ByteSource::NOT_FOUND, &searchedTo);
    if (end != ByteSource::NOT_FOUND) {
        size = end + CODE_SIZE;
        return true;
    }
    if (!known)
        memory.searchFrom = at + CODE_SIZE;
    memory.searchTo = at + searchedTo;
    return false;
}

// The size of the program stream at the window's start. Packs and packets
// carry their lengths, so the walk steps from one to the next; the stream ends
// at the program end code, or where the bytes stop being a pack or a packet:
// encoders often leave the end code out, and a search for it alone would read
// on to the end of the window. False when not one packet was walked.
bool walkProgramStream(ByteSource& src, u64 at, MpegMemory& memory, u64& size) {
    u64 p = 0;
    bool packets = false;
    const bool resumed = memory.onFailedWalk(at);
    if (resumed) {
        if (memory.walkStoppedForGood)
            return false;
        p = memory.walkStop - at;
    }
    std::vector<u64> sectors;
    bool forGood = true;
    while (true) {
        if ((at + p) % SECTOR_BYTES == 0 && p != 0)
            sectors.push_back(at + p);
        u8 code[CODE_SIZE];
        if (!src.read(p, code, CODE_SIZE)) {
            forGood = false;
            break;
        }
        if (code[0] != 0 || code[1] != 0 || code[2] != 1 || code[3] < PROGRAM_END_ID)
            break;
        if (code[3] == PROGRAM_END_ID) {
            size = p + CODE_SIZE;
            return true;
        }
        if (code[3] == PACK_ID) {
            u8 pack[MPEG2_PACK_SIZE];
            if (!src.read(p, pack, MPEG1_PACK_SIZE)) {
                forGood = false;
                break;
            }
            if ((pack[4] & 0xF0) == 0x20) {
                p += MPEG1_PACK_SIZE;
            } else if ((pack[4] & 0xC0) != 0x40) {
                break;
            } else if (src.read(p, pack, MPEG2_PACK_SIZE)) {
                p += MPEG2_PACK_SIZE + (pack[13] & 7);
            } else {
                forGood = false;
                break;
            }
            continue;
        }
        u16 length = 0;
        if (!src.be16(p + CODE_SIZE, length)) {
            forGood = false;
            break;
        }
        p += PACKET_HEADER_SIZE + length;
        if (code[3] != SYSTEM_HEADER_ID)
            packets = true;
    }
    if (packets) {
        // A last packet cut by the window's end keeps only the bytes that are there.
        size = std::min(p, src.size());
        return true;
    }
    if (resumed || at + p > memory.walkStop) {
        if (!resumed)
            memory.walkSectors.clear();
        memory.walkSectors.insert(memory.walkSectors.end(), sectors.begin(), sectors.end());
        memory.walkStop = at + p;
        memory.walkStoppedForGood = forGood;
    }
    return false;
}

} // namespace

bool FileModuleMpeg::check(const u8* sector, u32 size) {
    return startsWith(sector, size, SEQUENCE_HEADER, CODE_SIZE) ||
           startsWith(sector, size, PACK_HEADER, CODE_SIZE);
}

bool FileModuleMpeg::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleMpeg::newScanMemory() const {
    return std::make_unique<MpegMemory>();
}

bool FileModuleMpeg::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at,
                                   ScanMemory* scanMemory) {
    MpegMemory fresh;
    MpegMemory& memory = memoryOr(scanMemory, fresh);
    // Read on its own, not through a block of the source: a hit that the memory
    // answers reads nothing more.
    u8 start[CODE_SIZE];
    if (file.getSize() < static_cast<i64>(CODE_SIZE) || !file.read(0, start, CODE_SIZE))
        return false;
    ByteSource src(file);
    u64 size = 0;
    // A video stream has no lengths to step by: its end code is searched for.
    const bool found = startsWith(start, CODE_SIZE, SEQUENCE_HEADER, CODE_SIZE)
                           ? searchVideoEnd(src, at, memory, size)
                           : walkProgramStream(src, at, memory, size);
    if (!found)
        return false;
    info.clear();
    info.setType("mpeg");
    info.setSize(size);
    return true;
}

} // namespace cbr
