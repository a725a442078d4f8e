#include "fs/ntfs/Lznt1.h"

#include "core/Log.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

constexpr u16 CHUNK_COMPRESSED = 0x8000;
constexpr u16 CHUNK_LENGTH_MASK = 0x0FFF;
constexpr u32 CHUNK_HEADER_SIZE = 2;
constexpr u32 TOKEN_SIZE = 2;
constexpr u32 MIN_MATCH = 3;
constexpr u32 GROUP = 8; // tokens per flag byte

[[noreturn]] void brokenPositions(const char* where) {
    throw std::runtime_error(where);
}

} // namespace

bool decompressLznt1Chunk(const Array& output, u32& outPos, const ConstArray& chunk,
                          u32& chunkPos) {
    const u32 capacity = output.length();
    const u32 inEnd = chunk.length();
    if (outPos > capacity || chunkPos > inEnd)
        brokenPositions("Lznt1(30)");
    u8* const out = output.data();
    const u8* const in = chunk.data();
    const u32 start = outPos;
    const u32 end = start + std::min(LZNT1_CHUNK_SIZE, capacity - start);
    u32 op = outPos;
    u32 ip = chunkPos;
    bool ok = true;
    // The chunk ends when its bytes are used up or its output is full; a token
    // that cannot be completed is an error.
    for (bool more = true; more;) {
        if (ip >= inEnd) {
            logAt("Lznt1", 123) << '\n';
            ok = false;
            break;
        }
        u32 flags = in[ip++];
        if (flags == 0 && inEnd - ip >= GROUP && end - op >= GROUP) {
            // Eight literals: the common case of data that does not compress.
            std::memcpy(out + op, in + ip, GROUP);
            op += GROUP;
            ip += GROUP;
            more = ip < inEnd && op < end;
            continue;
        }
        for (u32 bit = 0; bit < GROUP; ++bit, flags >>= 1) {
            if ((flags & 1) == 0) {
                if (ip >= inEnd || op >= end) {
                    more = false;
                    break;
                }
                out[op++] = in[ip++];
            } else {
                if (inEnd - ip < TOKEN_SIZE) {
                    logAt("Lznt1", 139) << '\n';
                    ok = more = false;
                    break;
                }
                const u32 token = static_cast<u32>(in[ip]) | static_cast<u32>(in[ip + 1]) << 8;
                ip += TOKEN_SIZE;
                const u32 bits = lznt1LengthBits(op - start);
                const u32 length = (token & ((1u << bits) - 1)) + MIN_MATCH;
                const u32 offset = (token >> bits) + 1;
                // A chunk is compressed on its own: nothing before its start
                // is there to refer to.
                if (offset > op - start) {
                    logAt("Lznt1", 154)
                        << ": offset " << offset << " after " << op - start << " bytes\n";
                    ok = more = false;
                    break;
                }
                if (length > end - op) {
                    logAt("Lznt1", 165) << '\n';
                    ok = more = false;
                    break;
                }
                u8* dst = out + op;
                const u8* src = dst - offset;
                if (offset >= length) {
                    std::memcpy(dst, src, length);
                } else if (offset == 1) {
                    std::memset(dst, *src, length);
                } else {
                    // Overlapping: each byte may be one this copy just wrote.
                    for (u32 i = 0; i < length; ++i)
                        dst[i] = src[i];
                }
                op += length;
            }
            if (ip >= inEnd || op >= end) {
                more = false;
                break;
            }
        }
    }
    outPos = op;
    chunkPos = ip;
    return ok;
}

bool decompressLznt1(const Array& output, u32& outPos, const ConstArray& input, u32& inPos) {
    const u32 capacity = output.length();
    const u32 inEnd = input.length();
    if (outPos > capacity || inPos > inEnd)
        brokenPositions("Lznt1(111)");
    u32 chunkStart = outPos;
    bool first = true;
    for (;;) {
        if (inEnd - inPos < CHUNK_HEADER_SIZE) {
            logAt("Lznt1", 61) << '\n';
            return false;
        }
        const u16 header = input.getLE16(inPos);
        inPos += CHUNK_HEADER_SIZE;
        if (header == 0)
            return true;
        const u32 n = (header & CHUNK_LENGTH_MASK) + 1u;
        if (n > inEnd - inPos) {
            logAt("Lznt1", 73) << '\n';
            return false;
        }
        if (!first) {
            // The chunk before stood for 4096 bytes even when it wrote fewer.
            chunkStart += std::min(LZNT1_CHUNK_SIZE, capacity - chunkStart);
            if (outPos < chunkStart) {
                std::memset(output.data() + outPos, 0, chunkStart - outPos);
                outPos = chunkStart;
            }
        }
        first = false;
        const ConstArray data(input, inPos, n);
        if ((header & CHUNK_COMPRESSED) != 0) {
            u32 used = 0;
            if (!decompressLznt1Chunk(output, outPos, data, used)) {
                logAt("Lznt1", 78) << '\n';
                inPos += used;
                return false;
            }
        } else {
            const u32 m = std::min(n, capacity - outPos);
            if (m != 0)
                std::memcpy(output.data() + outPos, data.data(), m);
            outPos += m;
        }
        // The next header follows this chunk's bytes, whatever of them fitted.
        inPos += n;
    }
}
