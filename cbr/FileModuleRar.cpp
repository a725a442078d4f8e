#include "cbr/FileModuleRar.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"
#include "core/Array.h"

namespace cbr {

namespace {

constexpr u8 MARKER[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

// A block: u16 CRC, then the five bytes read here: u8 type, u16 flags, u16
// header size (the whole header, CRC included). Positions in the walk are taken
// past the CRC, at the type byte.
constexpr u32 CRC_SIZE = 2;
constexpr u32 BLOCK_HEAD = 5;
constexpr u32 OFF_TYPE = 0;
constexpr u32 OFF_FLAGS = 1;
constexpr u32 OFF_HEADER_SIZE = 3;
constexpr u32 OFF_DATA_SIZE = 5; // u32 behind the head, when the block has data

constexpr u64 MAIN_HEADER_TYPE_POS = sizeof MARKER + CRC_SIZE;
constexpr u8 TYPE_MAIN = 0x73;
constexpr u8 TYPE_FILE = 0x74;
constexpr u8 TYPE_SUB_BLOCK = 0x7A;
constexpr u8 TYPE_END = 0x7B;
constexpr u16 MIN_MAIN_SIZE = 13;
constexpr u16 MIN_FILE_SIZE = 33;
constexpr u16 MIN_SUB_BLOCK_SIZE = 11;
constexpr u16 END_SIZE = 7;
constexpr u16 FLAG_HAS_DATA = 0x8000;

// One block at p: p moves past it to the next, or the archive ends, at the
// end-of-archive block (after it) or before a block that is not sound, missing,
// or cut short by the window.
ChainLink stepBlock(ByteSource& src, u64& p, u64& end) {
    end = p - CRC_SIZE;
    u8 head[BLOCK_HEAD];
    if (!src.read(p, head, sizeof head))
        return ChainLink::STOPS;
    const u8 type = head[OFF_TYPE];
    const u16 flags = getLE16(head, OFF_FLAGS);
    const u16 headerSize = getLE16(head, OFF_HEADER_SIZE);
    if (!(flags & FLAG_HAS_DATA)) {
        if (type == TYPE_END && headerSize == END_SIZE)
            end += END_SIZE;
        return ChainLink::ENDS;
    }
    const bool known = (type == TYPE_FILE && headerSize >= MIN_FILE_SIZE) ||
                       (type == TYPE_SUB_BLOCK && headerSize >= MIN_SUB_BLOCK_SIZE);
    if (!known)
        return ChainLink::ENDS;
    u32 dataSize = 0;
    if (!src.le32(p + OFF_DATA_SIZE, dataSize))
        return ChainLink::STOPS;
    // Summed in 64 bits: a data size that wrapped a 32-bit sum to zero would
    // keep the walk on one block for ever.
    const u64 next = p + headerSize + dataSize;
    if (next - CRC_SIZE > src.size())
        return ChainLink::STOPS;
    p = next;
    return ChainLink::NEXT;
}

} // namespace

bool FileModuleRar::check(const u8* sector, u32 size) {
    return startsWith(sector, size, MARKER, sizeof MARKER);
}

bool FileModuleRar::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleRar::newScanMemory() const {
    return std::make_unique<WalkMemory>();
}

bool FileModuleRar::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) {
    // Small blocks: the walk steps from member to member over their data, and
    // a hit whose walk soon joins a remembered one reads little.
    ByteSource src(file, 4096);
    u8 head[BLOCK_HEAD];
    if (!src.read(MAIN_HEADER_TYPE_POS, head, sizeof head) || head[OFF_TYPE] != TYPE_MAIN)
        return false;
    const u16 mainSize = getLE16(head, OFF_HEADER_SIZE);
    if (mainSize < MIN_MAIN_SIZE || sizeof MARKER + mainSize > src.size())
        return false;
    u64 end = 0;
    if (!walkChain(
            dynamic_cast<WalkMemory*>(memory), at, src.size(), MAIN_HEADER_TYPE_POS + mainSize,
            [&](u64& p, u64& e) { return stepBlock(src, p, e); }, end))
        return false;

    info.clear();
    info.setSize(end);
    info.setType("rar");
    return true;
}

} // namespace cbr
