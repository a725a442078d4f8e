#pragma once

// A fixed-size set of bits over 64-bit positions with a running count of the set
// ones. The engines mark with it which FAT sectors come from the mirror, which
// clusters were read as directories and which MFT records became nodes.
//
// Sizes often come from disk values, so the size is bounded: callers check a
// size against MAX_SIZE (or derive it from values already checked) before they
// make one, and the constructor refuses anything larger rather than trying to
// allocate it.

#include "core/Types.h"

#include <vector>

// Where a position lies: its byte and the mask of its bit.
struct BitPosition {
    u64 byteIndex = 0;
    u8 mask = 0;
};

class Bitmap {
public:
    // 2^32 positions (512 MiB): one bit per cluster of the largest FAT32, per
    // sector of a FAT, or per record of an MFT filling a volume of 2^32 sectors.
    static constexpr u64 MAX_SIZE = 1ull << 32;

    // All positions clear. Throws "Bitmap(7)" when size exceeds MAX_SIZE.
    explicit Bitmap(u64 size);
    Bitmap(const Bitmap&) = default;
    Bitmap& operator=(const Bitmap&) = delete;

    u64 size() const { return size_; }
    u64 count() const { return count_; }

    // Throws "Bitmap(72)" for a position at or beyond size.
    BitPosition position(u64 pos) const;
    // Sets or clears the bit and returns the value it had.
    bool set(u64 pos, bool value);
    bool test(u64 pos) const;

private:
    std::vector<u8> bits_;
    u64 size_;
    u64 count_ = 0;
};
