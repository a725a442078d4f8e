#include "core/CompressedFile.h"

#include "core/Array.h"
#include "core/System.h"

#include <new>
#include <vector>
#include <zlib.h>

void xorChainForward(u8* b, std::size_t length) {
    for (std::size_t i = 0; i + 1 < length; ++i)
        b[i] ^= b[i + 1];
}

void xorChainBackward(u8* b, std::size_t length) {
    for (std::size_t i = length; i-- > 1;)
        b[i - 1] ^= b[i];
}

namespace {
constexpr std::size_t HEADER = 8;
// Deflate never expands data by more than about 1032:1, so a header claiming more
// than that of the stream behind it is damaged; refusing it keeps a broken file
// from sizing a huge allocation.
constexpr u64 MAX_RATIO = 1032;
constexpr u64 RATIO_SLACK = 64;
} // namespace

bool saveCompressedFile(const char* path, const u8* data, u64 n) {
    // The length field is 32 bits; a longer content cannot be saved, and a
    // silently truncated file would be worse than none.
    if (n > 0xFFFFFFFFu)
        return false;
    uLong bound = compressBound(static_cast<uLong>(n));
    std::vector<u8> buffer;
    try {
        buffer.resize(HEADER + bound);
    } catch (const std::bad_alloc&) {
        return false;
    }
    uLongf compressed = bound;
    if (compress2(buffer.data() + HEADER, &compressed, data, static_cast<uLong>(n), 9) != Z_OK)
        return false;
    setLE32(buffer.data(), 0, static_cast<u32>(n));
    setLE32(buffer.data(), 4, static_cast<u32>(n));
    std::size_t total = HEADER + compressed;
    xorChainForward(buffer.data(), total);
    return writeFile(path, buffer.data(), total);
}

bool loadCompressedFile(const char* path, std::string& out) {
    std::string file;
    if (!readFile(path, file) || file.size() < HEADER)
        return false;
    u8* b = reinterpret_cast<u8*>(&file[0]);
    xorChainBackward(b, file.size());
    u32 n = getLE32(b, 0);
    if (n != getLE32(b, 4))
        return false;
    u64 streamSize = file.size() - HEADER;
    if (n > streamSize * MAX_RATIO + RATIO_SLACK)
        return false;
    std::string result;
    try {
        result.resize(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    uLongf produced = n;
    int rc = uncompress(reinterpret_cast<Bytef*>(n ? &result[0] : nullptr), &produced, b + HEADER,
                        static_cast<uLong>(streamSize));
    if (rc != Z_OK)
        return false;
    result.resize(produced);
    out.swap(result);
    return true;
}
