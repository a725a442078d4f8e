#pragma once

// What the walks of one module learned in one scan, kept for the hits after
// them. A module walks a file from structure to structure (a chunk, an atom, a
// member, a block), and where the next one lies depends only on the bytes of
// the one in hand and the walk's state; so two walks that step on the same
// place in the same state go on alike and end alike. On a source whose sectors
// each start a header that chains into the next sector, every hit would walk
// the rest of the source again; with this memory a later walk stops where it
// meets an earlier path and takes that walk's outcome, and the scan stays
// linear in the source.
//
// Two paths are kept: the last walk that found a file, and the furthest of the
// others. Of each, the first place it stepped on in every sector it entered,
// one for each of its states (the place's source offset, the walk's state and
// step count there), and how it ended. A walk sees that it joined one of them
// at most a sector after it did, at its next such place.

#include "cbr/FileModule.h"
#include "core/Types.h"

#include <deque>
#include <vector>

namespace cbr {

class WalkMemory : public ScanMemory {
    // A place of a walk on the source, as the memory keeps it.
    struct Mark {
        u64 at;
        i64 steps;
        u8 state;
    };

public:
    // How a walk ended.
    enum class End : u8 {
        FOUND,  // a file ends there
        FAILED, // on bytes that fail every walk that comes there
        CUT,    // it needed bytes past its window's end: a window that ends later reads on
        HALTED, // a limit of its own stopped it (a count, a size from its header, a read
                // that failed): a walk that comes there takes that step itself
    };

    // What a walk does at a place (Walk::arrive).
    enum class Next {
        GO_ON,  // walk on from the place given, which lies on the remembered path
        FOUND,  // the file ends where the remembered one did
        MEMBER, // a part of a file found earlier, and no file of its own
        FAILED, // fails as the remembered walk did
    };

    // A place on a walk: the window offset it reads at next, its state there
    // (for a walk with more than one), and the steps it took to come there.
    struct Place {
        u64 at = 0;
        i64 steps = 0;
        u8 state = 0;
    };

    // With `foundHitsAreMembers`, a hit whose walk joins the path of a file
    // found earlier in the scan is a part of that file and no file of its own
    // (the scanner's memories: a chain of structures found once is one file);
    // without, it is answered with the size up to that file's end (a module
    // that measures a file embedded in another).
    explicit WalkMemory(bool foundHitsAreMembers = true) : membersOfFound_(foundHitsAreMembers) {}

    // One walk through a window of the source. Without a memory (an analysis
    // outside a scan) it remembers nothing and never joins a path.
    class Walk {
    public:
        Walk(WalkMemory* memory, u64 windowStart, u64 windowSize);
        Walk(const Walk&) = delete;
        Walk& operator=(const Walk&) = delete;

        // Before each step, at `place`: GO_ON to take the step there, or how
        // the walk ends. When the place lies on a remembered path, the walk
        // follows it: `place` moves along it as far as it is known, up to the
        // remembered walk's end, but not past `limit` (window offset) or
        // `maxSteps`, where a limit of this walk's own would stop it (it then
        // goes on by itself from the last place before). With FOUND,
        // `place.at` is where the file ends. A walk follows one path at most.
        Next arrive(Place& place, u64 limit = ~u64(0), i64 maxSteps = INT64_MAX);

        // The walk ended at `place`; with FOUND, the file ends at `fileEnd`.
        void ended(End end, const Place& place, u64 fileEnd = 0);
        // The walk ended at `place` on a read that failed: CUT when the window
        // did not hold the bytes, HALTED when it did. False, for the module to
        // return.
        bool readFailed(const Place& place, bool insideWindow);

    private:
        bool meets(const Place& place);
        Next follow(Place& place, u64 limit, i64 maxSteps);

        WalkMemory* memory_;
        u64 start_;
        u64 windowEnd_;
        // The first place of each state in each sector that this walk stepped
        // on itself.
        std::vector<Mark> own_;
        u64 lastSector_ = ~u64(0);
        u32 statesInSector_ = 0;
        // Where it met a remembered path (slot and index of the place there),
        // with its own step count there.
        int slot_ = -1;
        std::size_t joinIndex_ = 0;
        i64 joinSteps_ = 0;
        // Past the end of a path that it took up: the places after that end.
        bool resumed_ = false;
        bool following_ = false;
        std::vector<Mark> tail_;
        std::size_t cursor_[2] = {0, 0};
    };

private:
    struct Path {
        // Sorted by offset; the steps of one path count from one origin.
        std::deque<Mark> places;
        Mark stop{0, 0, 0};
        End end = End::FAILED;
        u64 windowEnd = 0; // of the walk that ended it, on the source
        u64 fileEnd = 0;   // FOUND: on the source
        bool valid = false;
    };
    enum Slot { FOUND_PATH = 0, OTHER_PATH = 1 };

    // A path remembers at most this many places (6 MiB): sectors enough for
    // 128 MiB of a walk that steps into every one. Past them a path is still
    // followed to its end, but not met.
    static constexpr std::size_t MAX_PLACES = 1 << 18;

    bool membersOfFound_;
    Path paths_[2];
};

} // namespace cbr
