#pragma once

// Bounded reading through a module's window: whole fields at any offset, across
// sector edges, through a cache of one block, never past the window's end. The
// shared steps of the modules (a footer search, a magic compare, little- and
// big-endian fields) live here so that no module carries its own copy.

#include "core/Types.h"
#include "devices/DtReader.h"

#include <cstring>
#include <string>
#include <vector>

namespace cbr {

class ByteSource {
public:
    static constexpr u64 NOT_FOUND = ~u64(0);

    explicit ByteSource(dt::Reader& reader, u32 blockSize = 64 * 1024);

    // The window's length.
    u64 size() const { return size_; }

    // Whether the window holds the n bytes at offset: a read of them that fails
    // failed for another reason than the window's end.
    bool has(u64 offset, u64 n) const { return offset <= size_ && n <= size_ - offset; }

    // n bytes at offset into out; false when they pass the end or cannot be read.
    bool read(u64 offset, void* out, u64 n);
    bool u8At(u64 offset, u8& out);
    bool le16(u64 offset, u16& out);
    bool le32(u64 offset, u32& out);
    bool le64(u64 offset, u64& out);
    bool be16(u64 offset, u16& out);
    bool be32(u64 offset, u32& out);
    // Whether the bytes at offset equal `magic`.
    bool matches(u64 offset, const void* magic, u32 n);

    // The first offset in [from, limit) where `needle` starts (the needle must
    // end by limit), or NOT_FOUND. limit is cut at the window's end. With
    // NOT_FOUND, *searchedTo (when given) tells how far the search got: no
    // needle starts in [from, *searchedTo); a read that fails stops it early.
    u64 find(u64 from, const void* needle, u32 n, u64 limit = NOT_FOUND, u64* searchedTo = nullptr);

private:
    bool fill(u64 block);

    dt::Reader& reader_;
    u64 size_;
    u32 blockSize_;
    std::vector<u8> cache_;
    u64 cachedBlock_ = NOT_FOUND;
    u64 cachedLength_ = 0;
};

// Whether the `size` bytes at data begin with the n bytes of magic: the cheap
// signature test of a module's check(), which sees only the bytes in memory.
inline bool startsWith(const u8* data, u32 size, const void* magic, u32 n) {
    return n <= size && std::memcmp(data, magic, n) == 0;
}

// Values of a carved file's attributes are cut to this many bytes by the bag.
constexpr std::size_t MAX_ATTRIBUTE_TEXT = 255;

// UTF-16LE text of n bytes as UTF-8, up to its first zero unit; an odd last byte
// is dropped. The containers store titles this way whatever the host order.
std::string utf16LeToUtf8(const u8* bytes, std::size_t n);
// The text cut to at most maxBytes at a character edge, so that a title cut to
// fit an attribute stays valid UTF-8 (the bag itself would cut mid-character).
std::string cutUtf8(const std::string& text, std::size_t maxBytes = MAX_ATTRIBUTE_TEXT);

} // namespace cbr
