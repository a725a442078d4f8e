#include "cbr/FileModuleMpeg.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"

#include <algorithm>
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

// The program stream walk's states: before its first packet, or after it. A
// stream of packs without packets is no file, with them it is one.
enum State : u8 { NO_PACKETS, PACKETS };
static_assert(PACKETS < WalkMemory::STATES);

// The video stream's size: up to and with its sequence end code. The scan's
// notes (null: none) say where earlier searches found none. A stream of video
// without its end code is no file, and each of its sector-aligned headers is a
// hit: without them every hit would read on to the end of its window again.
bool searchVideoEnd(ByteSource& src, u64 at, SearchMemory* known, u64& size) {
    u64 from = CODE_SIZE;
    bool noted = false;
    if (known != nullptr)
        from = known->skip(at + CODE_SIZE, noted) - at;
    u64 searchedTo = from;
    const u64 end =
        noted ? from : src.find(from, SEQUENCE_END, CODE_SIZE, ByteSource::NOT_FOUND, &searchedTo);
    const bool found = end != ByteSource::NOT_FOUND;
    if (known != nullptr)
        known->searched(at + CODE_SIZE, at + (found ? end : searchedTo), found, at);
    if (!found || !src.has(end, CODE_SIZE))
        return false;
    size = end + CODE_SIZE;
    return true;
}

// The size of the program stream at the window's start. Packs and packets
// carry their lengths, so the walk steps from one to the next; the stream ends
// at the program end code, or where the bytes stop being a pack or a packet:
// encoders often leave the end code out, and a search for it alone would read
// on to the end of the window. False when not one packet was walked.
bool walkProgramStream(ByteSource& src, u64 at, WalkMemory* memory, u64& size) {
    using End = WalkMemory::End;
    WalkMemory::Walk walk(memory, at, src.size());
    WalkMemory::Place place{0, 0, NO_PACKETS};
    // Where the bytes stop being a stream: with packets behind, the file ends
    // there, wherever the walk started.
    auto ends = [&]() {
        if (place.state == NO_PACKETS) {
            walk.ended(End::FAILED, place);
            return false;
        }
        walk.ended(End::FOUND, place, place.at);
        size = place.at;
        return true;
    };
    // A read that failed: a last packet cut by the window's end keeps only the
    // bytes that are there, so a walk that comes here with packets behind it
    // takes that step itself, with its own window.
    auto stops = [&](u64 p, u64 n) {
        if (place.state == NO_PACKETS)
            return walk.readFailed(place, src.has(p, n));
        walk.ended(End::HALTED, place);
        size = std::min(place.at, src.size());
        return true;
    };
    while (true) {
        if (const auto next = walk.arrive(place); next != WalkMemory::Next::GO_ON) {
            size = place.at;
            return next == WalkMemory::Next::FOUND;
        }
        const u64 p = place.at;
        u8 code[CODE_SIZE];
        if (!src.read(p, code, CODE_SIZE))
            return stops(p, CODE_SIZE);
        if (code[0] != 0 || code[1] != 0 || code[2] != 1 || code[3] < PROGRAM_END_ID)
            return ends();
        if (code[3] == PROGRAM_END_ID) {
            walk.ended(End::FOUND, place, p + CODE_SIZE);
            size = p + CODE_SIZE;
            return true;
        }
        if (code[3] == PACK_ID) {
            u8 pack[MPEG2_PACK_SIZE];
            if (!src.read(p, pack, MPEG1_PACK_SIZE))
                return stops(p, MPEG1_PACK_SIZE);
            if ((pack[4] & 0xF0) == 0x20) {
                place.at = p + MPEG1_PACK_SIZE;
            } else if ((pack[4] & 0xC0) != 0x40) {
                return ends();
            } else if (src.read(p, pack, MPEG2_PACK_SIZE)) {
                place.at = p + MPEG2_PACK_SIZE + (pack[13] & 7);
            } else {
                return stops(p, MPEG2_PACK_SIZE);
            }
        } else {
            u16 length = 0;
            if (!src.be16(p + CODE_SIZE, length))
                return stops(p + CODE_SIZE, 2);
            place.at = p + PACKET_HEADER_SIZE + length;
            if (code[3] != SYSTEM_HEADER_ID)
                place.state = PACKETS;
        }
        ++place.steps;
    }
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
    return std::make_unique<WalkMemory>();
}

bool FileModuleMpeg::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at,
                                   ScanMemory* scanMemory) {
    auto* memory = dynamic_cast<WalkMemory*>(scanMemory);
    // Read on its own, not through a block of the source: a hit that the memory
    // answers reads nothing more.
    u8 start[CODE_SIZE];
    if (file.getSize() < static_cast<i64>(CODE_SIZE) || !file.read(0, start, CODE_SIZE))
        return false;
    // Small blocks: a hit whose walk soon joins a remembered one reads little.
    ByteSource src(file, 4096);
    u64 size = 0;
    // A video stream has no lengths to step by: its end code is searched for.
    const bool found = startsWith(start, CODE_SIZE, SEQUENCE_HEADER, CODE_SIZE)
                           ? searchVideoEnd(src, at, memory ? &memory->searches() : nullptr, size)
                           : walkProgramStream(src, at, memory, size);
    if (!found)
        return false;
    info.clear();
    info.setType("mpeg");
    info.setSize(size);
    return true;
}

} // namespace cbr
