#pragma once

// TEST ONLY: an LZNT1 compressor for tests, the LZNT1 fuzz target and the
// benchmark. The program itself never compresses; this one exists to make inputs
// of known content in any amount. Greedy matching over hash chains, chunk by
// chunk, as NTFS lays a compression unit out: each 4096 bytes become one chunk,
// compressed when that is shorter, else stored, and an end header follows when
// the caller leaves room for it.

#include "fs/ntfs/Lznt1.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lznt1test {

namespace detail {

inline void putLE16(std::vector<u8>& out, u32 v) {
    out.push_back(static_cast<u8>(v));
    out.push_back(static_cast<u8>(v >> 8));
}

// The tokens of one chunk of at most 4096 bytes.
inline std::vector<u8> compressTokens(const u8* data, u32 size) {
    constexpr u32 HASH_SIZE = 1u << 12;
    constexpr u32 MAX_CHAIN = 32;
    constexpr u32 NONE = ~0u;
    std::vector<u32> head(HASH_SIZE, NONE);
    std::vector<u32> prev(size, NONE);
    auto hash = [&](u32 p) {
        return ((data[p] << 8) ^ (data[p + 1] << 4) ^ data[p + 2]) & (HASH_SIZE - 1);
    };
    auto insert = [&](u32 p) {
        if (p + 3 <= size) {
            const u32 h = hash(p);
            prev[p] = head[h];
            head[h] = p;
        }
    };

    std::vector<u8> out;
    u32 pos = 0;
    while (pos < size) {
        const std::size_t flagAt = out.size();
        out.push_back(0);
        for (u32 bit = 0; bit < 8 && pos < size; ++bit) {
            const u32 bits = lznt1LengthBits(pos);
            const u32 maxLength = std::min<u32>((1u << bits) - 1 + 3, size - pos);
            const u32 maxOffset = std::min<u32>(1u << (16 - bits), pos);
            u32 bestLength = 0;
            u32 bestOffset = 0;
            if (maxLength >= 3) {
                u32 chain = 0;
                for (u32 c = head[hash(pos)]; c != NONE && chain < MAX_CHAIN;
                     c = prev[c], ++chain) {
                    if (pos - c > maxOffset)
                        break;
                    u32 n = 0;
                    while (n < maxLength && data[c + n] == data[pos + n])
                        ++n;
                    if (n > bestLength) {
                        bestLength = n;
                        bestOffset = pos - c;
                        if (n == maxLength)
                            break;
                    }
                }
            }
            if (bestLength >= 3) {
                out[flagAt] |= static_cast<u8>(1u << bit);
                putLE16(out, (bestOffset - 1) << bits | (bestLength - 3));
                for (u32 i = 0; i < bestLength; ++i)
                    insert(pos + i);
                pos += bestLength;
            } else {
                out.push_back(data[pos]);
                insert(pos);
                ++pos;
            }
        }
    }
    return out;
}

} // namespace detail

// One compressed chunk with its header, or the bytes stored when compressing
// does not make them shorter.
inline void appendChunk(std::vector<u8>& out, const u8* data, u32 size) {
    std::vector<u8> tokens = detail::compressTokens(data, size);
    if (tokens.size() < size) {
        detail::putLE16(out, 0xB000 | static_cast<u32>(tokens.size() - 1));
        out.insert(out.end(), tokens.begin(), tokens.end());
    } else {
        detail::putLE16(out, 0x3000 | (size - 1));
        out.insert(out.end(), data, data + size);
    }
}

// A whole stream: every 4096 bytes one chunk, then the end header.
inline std::vector<u8> compress(const u8* data, std::size_t size) {
    std::vector<u8> out;
    for (std::size_t pos = 0; pos < size; pos += LZNT1_CHUNK_SIZE) {
        const u32 n = static_cast<u32>(std::min<std::size_t>(LZNT1_CHUNK_SIZE, size - pos));
        appendChunk(out, data + pos, n);
    }
    detail::putLE16(out, 0);
    return out;
}

inline std::vector<u8> compress(const std::vector<u8>& data) {
    return compress(data.data(), data.size());
}

} // namespace lznt1test
