#include "cbr/FileModuleLzh.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"
#include "core/Array.h"

namespace cbr {

namespace {

// The part of a member header that every level shares.
constexpr u32 HEADER_TEST_SIZE = 24;
constexpr u32 OFF_HEADER_SIZE = 0x00; // u8 (levels 0, 1) or u16 total (level 2)
constexpr u32 OFF_METHOD = 0x02;      // "-lh5-" and the like, five bytes
constexpr u32 OFF_PACKED_SIZE = 0x07; // u32
constexpr u32 OFF_ATTRIBUTE = 0x13;   // level 1: always 0x20
constexpr u32 OFF_LEVEL = 0x14;       //
constexpr u32 OFF_NAME_LENGTH = 0x15; // levels 0, 1
constexpr u32 OFF_OS_ID = 0x17;       // level 2
constexpr u32 MIN_LEVEL2_SIZE = 26;
// Sizes that the size test turns away for levels 0 and 1, over the name length.
constexpr u32 REJECTED_LEVEL0_EXTRA = 24;
constexpr u32 REJECTED_LEVEL1_EXTRA = 27;

bool isMethod(const u8* h) {
    if (h[OFF_METHOD] != '-' || h[OFF_METHOD + 1] != 'l' || h[OFF_METHOD + 4] != '-')
        return false;
    const u8 kind = h[OFF_METHOD + 2];
    const u8 variant = h[OFF_METHOD + 3];
    if (kind == 'h')
        return (variant >= '0' && variant <= '7') || variant == 'd';
    if (kind == 'z')
        return variant != 's' && variant != '4';
    return false;
}

bool isOsId(u8 id) {
    for (char known : {'M', '2', '9', 'K', '3', 'H', 'U', 'C', 'F', 'm', 'R'}) {
        if (id == static_cast<u8>(known))
            return true;
    }
    return false;
}

// Whether 24 bytes look like the start of a member header.
bool isLhaHeader(const u8* h) {
    if (!isMethod(h))
        return false;
    const u32 nameLength = h[OFF_NAME_LENGTH];
    switch (h[OFF_LEVEL]) {
    case 0:
        return h[OFF_HEADER_SIZE] != nameLength + REJECTED_LEVEL0_EXTRA;
    case 1:
        return h[OFF_HEADER_SIZE] != nameLength + REJECTED_LEVEL1_EXTRA && h[OFF_ATTRIBUTE] == 0x20;
    case 2:
        return getLE16(h, OFF_HEADER_SIZE) >= MIN_LEVEL2_SIZE && isOsId(h[OFF_OS_ID]);
    default:
        return false;
    }
}

// Bytes of the member header: levels 0 and 1 count from byte 2, level 2 the whole.
u64 headerLength(const u8* h) {
    if (h[OFF_LEVEL] == 2)
        return getLE16(h, OFF_HEADER_SIZE);
    return u64(h[OFF_HEADER_SIZE]) + 2;
}

} // namespace

bool FileModuleLzh::check(const u8* sector, u32 size) {
    return size >= HEADER_TEST_SIZE && isLhaHeader(sector);
}

bool FileModuleLzh::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleLzh::newScanMemory() const {
    return std::make_unique<WalkMemory>();
}

bool FileModuleLzh::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) {
    // Small blocks: the walk steps from member to member over their data, and
    // a hit whose walk soon joins a remembered one reads little.
    ByteSource src(file, 4096);
    const u64 window = src.size();
    // The closing zero byte is the archive's when the window still has it.
    auto step = [&](u64& p, u64& end) {
        end = p < window ? p + 1 : p;
        if (p > window || HEADER_TEST_SIZE > window - p)
            return ChainLink::STOPS;
        u8 h[HEADER_TEST_SIZE];
        if (!src.read(p, h, sizeof h))
            return ChainLink::FAILED;
        if (!isLhaHeader(h))
            return ChainLink::ENDS;
        const u64 entry = headerLength(h) + getLE32(h, OFF_PACKED_SIZE);
        if (entry > window - p)
            return ChainLink::STOPS;
        p += entry;
        return ChainLink::NEXT;
    };
    u64 end = 0;
    // Not one member: no archive.
    if (!walkChain(dynamic_cast<WalkMemory*>(memory), at, window, 0, step, end) || end <= 1)
        return false;

    info.clear();
    info.setSize(end);
    info.setType("lzh");
    return true;
}

} // namespace cbr
