#include "cbr/FileModuleJpeg.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"

#include <algorithm>

namespace cbr {

namespace {

constexpr u8 SIGNATURE[] = {0xFF, 0xD8, 0xFF};
constexpr u8 MARKER = 0xFF;
constexpr u8 END_OF_IMAGE = 0xD9;
constexpr u8 START_OF_SCAN = 0xDA;
constexpr u64 SCAN_READ = 4096;

// Inside entropy-coded data FF is followed by a stuffed 00 or by a restart
// marker D0..D7; anything else is the marker that ends the scan.
constexpr bool endsScan(u8 next) {
    return next != 0x00 && (next < 0xD0 || next > 0xD7);
}

// The walk's states: at a marker, or at the start of entropy-coded data.
enum State : u8 { AT_MARKER, AT_SCAN };
static_assert(AT_SCAN < WalkMemory::STATES);

// The position of the FF of the marker that ends the entropy-coded data that
// starts at `from`, or NOT_FOUND when the window ends first (`cut`) or a read
// fails. The scan's notes (null: none) on the window at `at` say where earlier
// searches found no marker.
u64 findScanEnd(ByteSource& src, u64 at, u64 from, bool& cut, SearchMemory* known) {
    u64 p = from;
    if (known != nullptr) {
        bool marker = false;
        p = known->skip(at + from, marker) - at;
        if (marker) {
            cut = !src.has(p, 2);
            return cut ? ByteSource::NOT_FOUND : p;
        }
    }
    // buffer[0] is the byte before the current read, so that a pair split
    // between two reads is seen; before the first read it needs no look: no
    // marker starts in front of p.
    u8 buffer[1 + SCAN_READ];
    buffer[0] = 0;
    cut = true;
    u64 end = ByteSource::NOT_FOUND;
    while (end == ByteSource::NOT_FOUND && p < src.size()) {
        const u64 n = std::min(SCAN_READ, src.size() - p);
        if (!src.read(p, buffer + 1, n)) {
            cut = false;
            break;
        }
        for (u64 i = 0; i < n && end == ByteSource::NOT_FOUND; ++i)
            if (buffer[i] == MARKER && endsScan(buffer[i + 1]))
                end = p + i - 1;
        buffer[0] = buffer[n];
        p += n;
    }
    // Without the byte after it, the last byte of what was read is unknown.
    if (known != nullptr) {
        const bool found = end != ByteSource::NOT_FOUND;
        known->searched(at + from, at + (found ? end : std::max(from, p - 1)), found, at);
    }
    return end;
}

bool found(FileInfo& info, u64 size) {
    info.clear();
    info.setType("jpeg");
    info.setSize(size);
    return true;
}

} // namespace

bool FileModuleJpeg::check(const u8* sector, u32 size) {
    return startsWith(sector, size, SIGNATURE, sizeof SIGNATURE);
}

bool FileModuleJpeg::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleJpeg::newScanMemory() const {
    return std::make_unique<WalkMemory>();
}

bool FileModuleJpeg::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) {
    using End = WalkMemory::End;
    using Next = WalkMemory::Next;
    ByteSource src(file);
    WalkMemory::Walk walk(dynamic_cast<WalkMemory*>(memory), at, src.size());
    WalkMemory::Place place{2, 0, AT_MARKER}; // past the start-of-image marker
    while (true) {
        // Past a remembered path's end, or a part of a file found before.
        if (const auto next = walk.arrive(place); next != Next::GO_ON)
            return next == Next::FOUND && found(info, place.at);
        u64 p = place.at;
        if (place.state == AT_SCAN) {
            bool cut = false;
            p = findScanEnd(src, at, p, cut, walk.searches());
            if (p == ByteSource::NOT_FOUND)
                return walk.readFailed(place, !cut);
            place = {p, place.steps + 1, AT_MARKER};
            continue;
        }
        u8 marker[2];
        if (!src.read(p, marker, 2))
            return walk.readFailed(place, src.has(p, 2));
        if (marker[0] != MARKER) {
            walk.ended(End::FAILED, place);
            return false;
        }
        p += 2;
        // Any marker may be preceded by fill bytes FF.
        while (marker[1] == MARKER) {
            if (!src.u8At(p, marker[1]))
                return walk.readFailed(place, src.has(p, 1));
            ++p;
        }
        if (marker[1] == END_OF_IMAGE) {
            walk.ended(End::FOUND, place, p);
            return found(info, p);
        }
        u16 length = 0; // big-endian, counting itself but not the marker
        if (!src.be16(p, length))
            return walk.readFailed(place, src.has(p, 2));
        if (length < 2) {
            walk.ended(End::FAILED, place);
            return false;
        }
        p += length;
        if (marker[1] == START_OF_SCAN) {
            // The entropy-coded data must start inside the window.
            if (p >= src.size()) {
                walk.ended(End::CUT, place);
                return false;
            }
            place.state = AT_SCAN;
        }
        place.at = p;
        ++place.steps;
    }
}

} // namespace cbr
