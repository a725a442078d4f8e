#pragma once

// LZNT1, the chunked LZ77 format in which NTFS stores each 16-cluster compression
// unit of a compressed file.
//
// The input is a series of chunks, each a 2-byte header and at most 4096 bytes:
// header 0 ends the data; (h & 0x0FFF) + 1 bytes follow; bit 15 set means tokens,
// clear means bytes stored as they are. Every chunk but the last stands for 4096
// bytes of output: one that decodes to fewer is followed by zeros up to 4096, so
// the chunks after it keep their places.
//
// The decoder stops at the first inconsistency with a log line; what it wrote up
// to there stays in the output, and the positions tell how far it got.

#include "core/Array.h"
#include "core/Types.h"

constexpr u32 LZNT1_CHUNK_SIZE = 4096;

// Length bits of a back-reference after `produced` bytes of its chunk: 12 while
// at most 16 bytes are out, one fewer each time that passes 16, 32, ... 2048, so
// that the offset field always reaches back to the chunk's start. The token is
// offset - 1 above them and length - 3 in them.
inline u32 lznt1LengthBits(u32 produced) {
    if (produced <= 16)
        return 12;
    const u32 log2 = 32 - static_cast<u32>(__builtin_clz(produced - 1)); // ceil(log2)
    return log2 >= 12 ? 4 : 16 - log2;
}

// Decodes chunks from `input` at `inPos` into `output` at `outPos` (the view's
// length is the capacity), advancing both. True at an end header; false at an
// inconsistency or when the input ends without one (then after decoding every
// whole chunk, so the output is complete).
bool decompressLznt1(const Array& output, u32& outPos, const ConstArray& input, u32& inPos);

// The tokens of one compressed chunk (a view of exactly its bytes after the
// header) into `output` from `outPos`; a chunk writes at most 4096 bytes.
// `chunkPos` tells the chunk bytes consumed.
bool decompressLznt1Chunk(const Array& output, u32& outPos, const ConstArray& chunk, u32& chunkPos);
