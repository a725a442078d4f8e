#pragma once

// Where a cursor stands: a folder of a map and an entry in it.

#include "core/Types.h"

namespace tree {

// Reserved folder addresses. No engine hands these out as its own keys.
constexpr u64 NO_FOLDER = ~0ull;        // -1: none; insertNode takes it as the root
constexpr u64 TOP_FOLDER = ~0ull - 1;   // -2: holds the one "ROOT" entry
constexpr u64 FOUND_FOLDER = ~0ull - 2; // -3: entries that no folder claims

// Whether `value` is one of the reserved addresses, which also mark an index
// or size that is not there (Node::NONE is NO_FOLDER): no number the source
// holds, and none to show.
constexpr bool isReserved(u64 value) {
    return value >= FOUND_FOLDER;
}

struct MapPosition {
    u64 folder = TOP_FOLDER;
    u32 index = 0;

    bool operator==(const MapPosition& o) const { return folder == o.folder && index == o.index; }
    bool operator!=(const MapPosition& o) const { return !(*this == o); }
};

// The "ROOT" entry, where every walk of every tree starts.
constexpr MapPosition START_POSITION{TOP_FOLDER, 0};

} // namespace tree
