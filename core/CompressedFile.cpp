#include "core/CompressedFile.h"

#include "core/Array.h"
#include "core/System.h"

#include <algorithm>
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
// than that of the stream behind it is damaged.
constexpr u64 MAX_RATIO = 1032;
constexpr u64 RATIO_SLACK = 64;
// What loadCompressedFile inflates at a time.
constexpr u32 PIECE = 1 << 16;
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
    CompressedFile file;
    if (!file.open(path))
        return false;
    // The content grows with what the stream really yields, never by the claim.
    std::string content;
    try {
        for (;;) {
            const std::size_t had = content.size();
            content.resize(had + PIECE);
            const i64 got = file.read(reinterpret_cast<u8*>(&content[had]), PIECE);
            if (got < 0)
                return false;
            content.resize(had + static_cast<std::size_t>(got));
            if (got == 0)
                break;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!file.atEnd())
        return false;
    out.swap(content);
    return true;
}

struct CompressedFile::Inflater {
    z_stream z{};
    bool ready = false;
    ~Inflater() {
        if (ready)
            inflateEnd(&z);
    }
};

CompressedFile::CompressedFile() : inflater_(new Inflater) {}

CompressedFile::~CompressedFile() = default;

bool CompressedFile::open(const char* path) {
    std::string file;
    if (!readFile(path, file) || file.size() < HEADER)
        return false;
    u8* b = reinterpret_cast<u8*>(&file[0]);
    xorChainBackward(b, file.size());
    const u32 n = getLE32(b, 0);
    if (n != getLE32(b, 4))
        return false;
    const u64 streamSize = file.size() - HEADER;
    if (n > streamSize * MAX_RATIO + RATIO_SLACK || streamSize > 0xFFFFFFFFu)
        return false;
    z_stream& z = inflater_->z;
    if (inflateInit(&z) != Z_OK)
        return false;
    inflater_->ready = true;
    file_.swap(file);
    z.next_in = reinterpret_cast<Bytef*>(&file_[HEADER]);
    z.avail_in = static_cast<uInt>(streamSize);
    claimed_ = n;
    return true;
}

i64 CompressedFile::read(u8* out, u32 max) {
    if (failed_ || !inflater_->ready)
        return -1;
    if (ended_ || max == 0)
        return 0;
    z_stream& z = inflater_->z;
    // One byte more than the claim may still hold, so that a stream that goes on
    // past it is caught here rather than cut short unnoticed.
    const u64 room = std::min<u64>(max, u64(claimed_) - produced_ + 1);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(room);
    int rc = Z_OK;
    // Block headers may use up a call without a byte of content; a stream with
    // neither input nor content left answers Z_BUF_ERROR.
    while (rc == Z_OK && z.avail_out == room)
        rc = inflate(&z, Z_NO_FLUSH);
    const u64 got = room - z.avail_out;
    produced_ += got;
    if ((rc != Z_OK && rc != Z_STREAM_END) || produced_ > claimed_) {
        failed_ = true;
        return -1;
    }
    ended_ = rc == Z_STREAM_END;
    return static_cast<i64>(got);
}

bool CompressedFile::atEnd() {
    if (!ended_) {
        u8 probe;
        if (read(&probe, 1) != 0)
            return false;
    }
    return ended_ && !failed_;
}
