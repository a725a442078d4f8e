#include "cbr/FileModuleDbx.h"

#include "cbr/ByteSource.h"

#include <cstring>

namespace cbr {

namespace {

constexpr u32 OFF_CLASS_ID = 0x08;
constexpr u8 CLASS_ID[20] = {0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0, 0x4F, 0xA3,
                             0x09, 0xD4, 0x05, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
constexpr u32 OFF_FILE_SIZE = 0x7C; // u32, the whole store
// A store always holds at least the header field that states its size.
constexpr u32 MIN_FILE_SIZE = OFF_FILE_SIZE + 4;

} // namespace

bool FileModuleDbx::check(const u8* sector, u32 size) {
    return size >= OFF_CLASS_ID + sizeof CLASS_ID &&
           std::memcmp(sector + OFF_CLASS_ID, CLASS_ID, sizeof CLASS_ID) == 0;
}

bool FileModuleDbx::analyze(dt::Reader& file, FileInfo& info) {
    ByteSource src(file);
    u32 size = 0;
    if (!src.le32(OFF_FILE_SIZE, size) || size < MIN_FILE_SIZE || size > src.size())
        return false;
    info.clear();
    info.setSize(size);
    info.setType("dbx");
    return true;
}

} // namespace cbr
