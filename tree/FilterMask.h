#pragma once

// The filter word of a tree view. Bit 0x01 hides folders without any visible
// file below; every other property has a pair of bits, the first hiding the
// entries that lack it, the second the entries that have it.

#include "core/Types.h"

namespace tree {

enum FilterBit : u32 {
    FILTER_HIDE_EMPTY_FOLDERS = 0x0001,
    FILTER_HIDE_UNREADABLE = 0x0002,
    FILTER_ONLY_UNREADABLE = 0x0004,
    FILTER_HIDE_DELETED = 0x0008,
    FILTER_ONLY_DELETED = 0x0010,
    FILTER_HIDE_SYSTEM = 0x0020,
    FILTER_ONLY_SYSTEM = 0x0040,
    // Link TO; on FAT maps: live files with a usable chain.
    FILTER_HIDE_TO = 0x0080,
    FILTER_ONLY_TO = 0x0100,
    // Link FROM; on FAT maps: live files with a broken chain.
    FILTER_HIDE_FROM = 0x0200,
    FILTER_ONLY_FROM = 0x0400,
    // Link GOOD; nothing on FAT maps.
    FILTER_HIDE_GOOD = 0x0800,
    FILTER_ONLY_GOOD = 0x1000,
};

class FilterMask {
public:
    explicit FilterMask(u32 word = 0) : word_(word) {}
    u32& get() { return word_; }
    u32 get() const { return word_; }
    void set(u32 word) { word_ = word; }

private:
    u32 word_;
};

} // namespace tree
