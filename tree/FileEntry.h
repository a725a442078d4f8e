#pragma once

// What a map hands to a recoverer when one file begins: its name, size and time.

#include "core/Types.h"

#include <string>
#include <utility>

namespace tree {

struct FileEntry {
    std::string name;
    u64 size = 0;
    u32 time = 0xFFFFFFFFu; // NO_TIME

    FileEntry() = default;
    FileEntry(std::string name_, u64 size_, u32 time_)
        : name(std::move(name_)), size(size_), time(time_) {}

    const std::string& getName() const { return name; }
    u64 getSize() const { return size; }
    // Widened so that callers that add offsets to it cannot wrap at 2106.
    u64 getTime() const { return time; }
};

} // namespace tree
