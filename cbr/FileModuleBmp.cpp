#include "cbr/FileModuleBmp.h"

#include "cbr/ByteSource.h"

namespace cbr {

namespace {

constexpr u8 SIGNATURE[] = {'B', 'M'};
constexpr u64 FILE_SIZE = 0x02; // u32, little-endian
constexpr u64 RESERVED = 0x06;  // two u16 that writers leave 0
// The file header and the smallest info header (the 12-byte core header): a
// size field below it cannot describe a picture, and a carved record of a few
// bytes (or of none) would stand in for one that was not found.
constexpr u32 MIN_SIZE = 14 + 12;

} // namespace

bool FileModuleBmp::check(const u8* sector, u32 size) {
    return startsWith(sector, size, SIGNATURE, sizeof SIGNATURE) && size >= RESERVED + 2 &&
           sector[RESERVED] == 0 && sector[RESERVED + 1] == 0;
}

bool FileModuleBmp::analyze(dt::Reader& file, FileInfo& info) {
    ByteSource src(file, 512);
    u32 fileSize = 0;
    if (!src.le32(FILE_SIZE, fileSize) || fileSize < MIN_SIZE || fileSize > src.size())
        return false;
    info.clear();
    info.setType("bmp");
    info.setSize(fileSize);
    return true;
}

} // namespace cbr
