#include "cbr/FileModuleRiff.h"

#include "cbr/ByteSource.h"
#include "core/Array.h"

#include <cstring>

namespace cbr {

namespace {

constexpr u64 CHUNK_HEADER = 8; // 4-character id, u32 size
constexpr u64 FORM_TYPE_LENGTH = 4;

struct Form {
    const char* formType;
    const char* type;
};
constexpr Form FORMS[] = {{"AVI ", "avi"}, {"WAVE", "wav"}, {"RMID", "rmi"}, {"ACON", "ani"}};

} // namespace

bool FileModuleRiff::check(const u8* sector, u32 size) {
    return startsWith(sector, size, "RIFF", 4);
}

bool FileModuleRiff::analyze(dt::Reader& file, FileInfo& info) {
    ByteSource src(file, 4096);
    u8 head[8];
    if (!src.read(4, head, sizeof head))
        return false;
    // Summed in 64 bits: a size near 4 GiB must not wrap round to a tiny file.
    const u64 riffSize = getLE32(head, 0);
    if (riffSize < FORM_TYPE_LENGTH)
        return false;
    u64 size = riffSize + CHUNK_HEADER;
    if (size > src.size())
        return false;
    const char* type = "riff";
    for (const Form& form : FORMS)
        if (std::memcmp(head + 4, form.formType, 4) == 0)
            type = form.type;

    u8 next[8];
    if (src.read(size, next, sizeof next) && std::memcmp(next, "JUNK", 4) == 0) {
        const u64 end = size + CHUNK_HEADER + getLE32(next, 4);
        if (end < src.size())
            size = end;
    }
    info.clear();
    info.setSize(size);
    info.setType(type);
    return true;
}

} // namespace cbr
