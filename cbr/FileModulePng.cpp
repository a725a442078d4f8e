#include "cbr/FileModulePng.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"
#include "core/Array.h"

#include <cstring>

namespace cbr {

namespace {

constexpr u8 SIGNATURE[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// A chunk: big-endian data length, 4-byte type, the data, a 4-byte CRC.
constexpr u64 CHUNK_OVERHEAD = 12;

using End = WalkMemory::End;

bool found(FileInfo& info, u64 size) {
    info.clear();
    info.setType("png");
    info.setSize(size);
    return true;
}

} // namespace

bool FileModulePng::check(const u8* sector, u32 size) {
    return startsWith(sector, size, SIGNATURE, sizeof SIGNATURE);
}

bool FileModulePng::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModulePng::newScanMemory() const {
    return std::make_unique<WalkMemory>();
}

bool FileModulePng::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) {
    ByteSource src(file, 4096);
    WalkMemory::Walk walk(dynamic_cast<WalkMemory*>(memory), at, src.size());
    WalkMemory::Place chunk{sizeof SIGNATURE};
    while (true) {
        // Past a remembered path's end, or a part of a file found before.
        if (const auto next = walk.arrive(chunk); next != WalkMemory::Next::GO_ON)
            return next == WalkMemory::Next::FOUND && found(info, chunk.at);
        const u64 p = chunk.at;
        u8 head[8]; // length, type
        if (!src.read(p, head, sizeof head))
            return walk.readFailed(chunk, src.has(p, sizeof head));
        if (std::memcmp(head + 4, "IEND", 4) == 0) {
            if (CHUNK_OVERHEAD > src.size() - p) {
                walk.ended(End::CUT, chunk);
                return false;
            }
            walk.ended(End::FOUND, chunk, p + CHUNK_OVERHEAD);
            return found(info, p + CHUNK_OVERHEAD);
        }
        // CRCs are not checked: a carved picture with one bad chunk is still
        // worth recovering.
        chunk.at = p + getBE32(head, 0) + CHUNK_OVERHEAD;
        ++chunk.steps;
    }
}

} // namespace cbr
