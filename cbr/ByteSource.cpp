#include "cbr/ByteSource.h"

#include "core/Array.h"
#include "core/NameConversions.h"

#include <algorithm>
#include <cstring>

namespace cbr {

namespace {

// A block is read with this many bytes of the next one: the fields that a walk
// reads across a block's end then come from the block in hand, instead of
// reading the two blocks by turns.
constexpr u32 OVERLAP = 64;

} // namespace

ByteSource::ByteSource(dt::Reader& reader, u32 blockSize)
    : reader_(reader), size_(reader.getSize() > 0 ? static_cast<u64>(reader.getSize()) : 0),
      blockSize_(blockSize ? blockSize : 512), cache_(blockSize_ + OVERLAP) {}

bool ByteSource::fill(u64 block) {
    if (block == cachedBlock_)
        return true;
    const u64 start = block * blockSize_;
    if (start >= size_)
        return false;
    u64 length = std::min<u64>(blockSize_ + OVERLAP, size_ - start);
    // An unreadable sector just past the block must not cost the block itself.
    const bool read =
        reader_.read(static_cast<i64>(start), cache_.data(), static_cast<i64>(length)) ||
        (length > blockSize_ && reader_.read(static_cast<i64>(start), cache_.data(),
                                             static_cast<i64>(length = blockSize_)));
    if (!read) {
        cachedBlock_ = NOT_FOUND;
        return false;
    }
    cachedBlock_ = block;
    cachedLength_ = length;
    return true;
}

bool ByteSource::read(u64 offset, void* out, u64 n) {
    if (offset > size_ || n > size_ - offset)
        return false;
    u8* to = static_cast<u8*>(out);
    while (n > 0) {
        const u64 block = offset / blockSize_;
        if (!fill(block))
            return false;
        const u64 in = offset - block * blockSize_;
        const u64 piece = std::min(n, cachedLength_ - in);
        std::memcpy(to, cache_.data() + in, static_cast<std::size_t>(piece));
        to += piece;
        offset += piece;
        n -= piece;
    }
    return true;
}

bool ByteSource::u8At(u64 offset, u8& out) {
    return read(offset, &out, 1);
}

bool ByteSource::le16(u64 offset, u16& out) {
    u8 b[2];
    if (!read(offset, b, 2))
        return false;
    out = getLE16(b, 0);
    return true;
}

bool ByteSource::le32(u64 offset, u32& out) {
    u8 b[4];
    if (!read(offset, b, 4))
        return false;
    out = getLE32(b, 0);
    return true;
}

bool ByteSource::le64(u64 offset, u64& out) {
    u8 b[8];
    if (!read(offset, b, 8))
        return false;
    out = getLE64(b, 0);
    return true;
}

bool ByteSource::be16(u64 offset, u16& out) {
    u8 b[2];
    if (!read(offset, b, 2))
        return false;
    out = getBE16(b, 0);
    return true;
}

bool ByteSource::be32(u64 offset, u32& out) {
    u8 b[4];
    if (!read(offset, b, 4))
        return false;
    out = getBE32(b, 0);
    return true;
}

bool ByteSource::matches(u64 offset, const void* magic, u32 n) {
    std::vector<u8> b(n);
    return read(offset, b.data(), n) && std::memcmp(b.data(), magic, n) == 0;
}

u64 ByteSource::find(u64 from, const void* needle, u32 n, u64 limit, u64* searchedTo) {
    limit = std::min(limit, size_);
    if (searchedTo != nullptr)
        *searchedTo = from;
    if (n == 0 || from > limit || n > limit - from)
        return NOT_FOUND;
    const u8* pattern = static_cast<const u8*>(needle);
    // Searched block by block; a needle that crosses a block edge is caught by
    // keeping its first n - 1 bytes of overlap.
    std::vector<u8> window;
    u64 windowStart = from;
    while (windowStart + n <= limit) {
        const u64 take = std::min<u64>(blockSize_ + n - 1, limit - windowStart);
        window.resize(static_cast<std::size_t>(take));
        if (!read(windowStart, window.data(), take))
            return NOT_FOUND;
        auto it = std::search(window.begin(), window.end(), pattern, pattern + n);
        if (it != window.end())
            return windowStart + static_cast<u64>(it - window.begin());
        windowStart += take - (n - 1);
        if (searchedTo != nullptr)
            *searchedTo = windowStart;
    }
    return NOT_FOUND;
}

std::string utf16LeToUtf8(const u8* bytes, std::size_t n) {
    std::vector<u16> units(n / 2);
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = getLE16(bytes, 2 * i);
    return utf16ToUtf8(units.data(), units.size());
}

std::string cutUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    // Back over continuation bytes (10xxxxxx) to the lead byte of the character
    // that would be split.
    while (end > 0 && (static_cast<u8>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace cbr
