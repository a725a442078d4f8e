#pragma once

// How many candidates or layout elements a listing dumps in full. The debug
// log and the layout report are kept in memory until saved, and a disk full of
// copied boot sectors makes a hundred thousand candidates: a dump of every one
// would take gigabytes. The first ones are dumped, the rest only counted, and
// the listing ends with one line that says how many were left out.

#include <cstddef>

class DumpLimit {
public:
    // Enough for every volume of a real disk and the stray finds around them.
    static constexpr std::size_t FULL_DUMPS = 1000;

    // True for the first FULL_DUMPS calls; every later one is counted as left
    // out.
    bool take() {
        if (taken_ < FULL_DUMPS) {
            ++taken_;
            return true;
        }
        ++leftOut_;
        return false;
    }
    std::size_t leftOut() const { return leftOut_; }

private:
    std::size_t taken_ = 0;
    std::size_t leftOut_ = 0;
};
