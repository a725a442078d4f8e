#pragma once

// What the searches of one walk kind found out in one scan: stretches of the
// source where the mark it searches for (the marker that ends a JPEG's
// entropy-coded data, the next header of a ZIP member whose sizes follow its
// data) starts nowhere, and whether a mark starts right after one. A single
// step of a walk may search far; walks from many hits that come into the same
// stretch at different places would each read it again, and with these notes
// a search goes on from where an earlier one got to. Stretches behind the scan
// are dropped.

#include "core/Types.h"

#include <map>

namespace cbr {

class SearchMemory {
public:
    // Where a search from source offset `from` may go on: the end of the
    // stretch known to hold no mark from `from` on (`from` itself when none is
    // known), and whether a mark starts there.
    u64 skip(u64 from, bool& mark) const;
    // A search that started at `from` found no mark starting in [from, to);
    // with `mark`, one starts at `to`. `scanAt` is where the scan is: no later
    // search starts before it.
    void searched(u64 from, u64 to, bool mark, u64 scanAt);

    std::size_t stretches() const { return stretches_.size(); }

private:
    struct Stretch {
        u64 to;
        bool mark;
    };
    // By their starts; they neither overlap nor touch.
    std::map<u64, Stretch> stretches_;
};

} // namespace cbr
