#pragma once

// Which patterns of a table can match a sector, found without testing them one
// by one. The scanner offers every sector of a deep scan to the whole table; a
// plain walk compares each pattern's bytes in turn, which costs more than
// reading the sector. The index instead looks up the first few bytes of the
// sector at each distinct pattern offset in small tables of bit sets (one bit
// per pattern) and ANDs them, so that only patterns whose leading bytes are
// all present remain. Patterns without bytes are always candidates.
//
// The candidates come out in ascending table order, so a caller that tests them
// in that order gets exactly the outcome of the plain walk: a pattern left out
// could not have matched.

#include "cbr/Pattern.h"

#include <vector>

namespace cbr {

class PatternIndex {
public:
    // How many leading bytes of each pattern the tables filter on.
    static constexpr u32 FILTER_BYTES = 4;

    void build(const std::vector<Pattern>& patterns);

    // Calls visit(i) for each candidate i in ascending order until it returns
    // true; returns whether one did. Sectors shorter than a whole sector (not
    // seen in a scan) make every pattern a candidate.
    template <typename Visit> bool forEachCandidate(const u8* sector, u32 size, Visit visit) const;

private:
    // The patterns whose bytes start at one offset. Its tables, from `table` on
    // in tables_, are [k][byte][word]: the bit of each member whose byte k is
    // that byte, or that has no byte k.
    struct Group {
        u32 offset = 0;
        u32 filterBytes = 0;
        std::size_t table = 0;
    };

    void candidates(const u8* sector, u32 size, u64* mask) const;
    // The same for tables of at most 64 patterns.
    u64 candidates(const u8* sector) const;

    u32 patternCount_ = 0;
    u32 words_ = 0;
    std::vector<u64> always_;
    std::vector<Group> groups_;
    std::vector<u64> tables_;
    // Scratch for tables of more than one word of patterns.
    mutable std::vector<u64> scratch_;
};

template <typename Visit>
bool PatternIndex::forEachCandidate(const u8* sector, u32 size, Visit visit) const {
    // The common case, a table of up to 64 patterns, keeps the mask in a register.
    u64 single = 0;
    u64* mask = &single;
    if (words_ == 1 && size >= Pattern::SECTOR_BYTES) {
        single = candidates(sector);
    } else {
        if (words_ > 1)
            mask = scratch_.data();
        candidates(sector, size, mask);
    }
    for (u32 w = 0; w < words_; ++w) {
        u64 bits = mask[w];
        while (bits != 0) {
            const u32 i = w * 64 + static_cast<u32>(__builtin_ctzll(bits));
            bits &= bits - 1;
            if (visit(i))
                return true;
        }
    }
    return false;
}

} // namespace cbr
