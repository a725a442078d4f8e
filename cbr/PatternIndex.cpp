#include "cbr/PatternIndex.h"

#include <algorithm>
#include <map>

namespace cbr {

void PatternIndex::build(const std::vector<Pattern>& patterns) {
    patternCount_ = static_cast<u32>(patterns.size());
    words_ = (patternCount_ + 63) / 64;
    always_.assign(words_, 0);
    groups_.clear();
    tables_.clear();
    scratch_.assign(words_, 0);

    std::map<u32, std::vector<u32>> byOffset;
    for (u32 i = 0; i < patternCount_; ++i) {
        const Pattern& p = patterns[i];
        if (p.length() == 0)
            always_[i / 64] |= u64(1) << (i % 64);
        else
            byOffset[p.offset()].push_back(i);
    }
    for (const auto& entry : byOffset) {
        Group group;
        group.offset = entry.first;
        u32 longest = 0;
        for (u32 i : entry.second)
            longest = std::max(longest, patterns[i].length());
        // Lookups reach no further than the longest member's end, so they stay
        // inside the sector (offset + length <= 512); members that end sooner
        // pass every later table.
        group.filterBytes = std::min(FILTER_BYTES, longest);
        group.table = tables_.size();
        tables_.resize(tables_.size() + static_cast<std::size_t>(group.filterBytes) * 256 * words_);
        for (u32 i : entry.second) {
            const Pattern& p = patterns[i];
            const u64 bit = u64(1) << (i % 64);
            for (u32 k = 0; k < group.filterBytes; ++k) {
                u64* table = &tables_[group.table + static_cast<std::size_t>(k) * 256 * words_];
                if (k < p.length()) {
                    table[static_cast<std::size_t>(p.bytes()[k]) * words_ + i / 64] |= bit;
                } else {
                    for (u32 b = 0; b < 256; ++b)
                        table[static_cast<std::size_t>(b) * words_ + i / 64] |= bit;
                }
            }
        }
        groups_.push_back(group);
    }
}

u64 PatternIndex::candidates(const u8* sector) const {
    static_assert(FILTER_BYTES == 4, "the lookups below are unrolled for four bytes");
    u64 mask = always_[0];
    const u64* tables = tables_.data();
    for (const Group& group : groups_) {
        const u8* at = sector + group.offset;
        const u64* t = tables + group.table;
        // No early exit: on arbitrary data it would be mispredicted more often
        // than the loads it saves cost.
        u64 bits = t[at[0]];
        switch (group.filterBytes) {
        case 4:
            bits &= t[3 * 256 + at[3]];
            [[fallthrough]];
        case 3:
            bits &= t[2 * 256 + at[2]];
            [[fallthrough]];
        case 2:
            bits &= t[256 + at[1]];
            break;
        default:
            break;
        }
        mask |= bits;
    }
    return mask;
}

void PatternIndex::candidates(const u8* sector, u32 size, u64* mask) const {
    if (size < Pattern::SECTOR_BYTES) {
        // Every group's lookups stay inside a whole sector only.
        for (u32 w = 0; w < words_; ++w)
            mask[w] = ~u64(0);
        if (words_ > 0 && patternCount_ % 64 != 0)
            mask[words_ - 1] = (u64(1) << (patternCount_ % 64)) - 1;
        return;
    }
    for (u32 w = 0; w < words_; ++w)
        mask[w] = always_[w];
    for (const Group& group : groups_) {
        const u8* at = sector + group.offset;
        const u64* t = &tables_[group.table];
        for (u32 w = 0; w < words_; ++w) {
            u64 bits = ~u64(0);
            for (u32 k = 0; k < group.filterBytes; ++k)
                bits &= t[(static_cast<std::size_t>(k) * 256 + at[k]) * words_ + w];
            mask[w] |= bits;
        }
    }
}

} // namespace cbr
