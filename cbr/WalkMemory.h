#pragma once

// What the walks of one module learned in one scan, kept for the hits after
// them. A module walks a file from structure to structure (a chunk, an atom, a
// member, a block), and where the next one lies depends only on the bytes of
// the one in hand and the walk's state; so two walks that step on the same
// place in the same state go on alike and end alike. On a source whose sectors
// each start a header that chains on into later sectors, every hit would walk
// the rest of the source again; with this memory a later walk stops where it
// meets an earlier path and takes that path's outcome, and each place of the
// source is walked a bounded number of times, however many paths there are and
// however they cross.
//
// A path is kept as marks: the first place of each state that it stepped on in
// every granule (4 KiB of the source) it entered. A walk that joins a path sees
// so at its first place in the next granule at the latest, which is where the
// path's own mark lies. Every mark of every path is found through one index;
// the walks that extend or join a path link their own marks to it, and a
// path's end is found through those links, which are shortened as they are
// followed. Marks behind the scan are dropped, since hits come in ascending
// order: the memory holds the paths ahead of the scan, about 40 bytes for every
// granule of each.

#include "cbr/FileModule.h"
#include "cbr/SearchMemory.h"
#include "core/Types.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace cbr {

class WalkMemory : public ScanMemory {
public:
    // How a walk ended.
    enum class End : u8 {
        FOUND,  // a file ends there, wherever the walk started
        FAILED, // on bytes that fail every walk that comes there
        CUT,    // it needed bytes past its window's end: a window that ends later reads on
        HALTED, // a limit of its own stopped it (a count, a size from its header, a read
                // that failed), or what it found there depends on where it started:
                // a walk that comes there takes that step itself
    };

    // What a walk does at a place (Walk::arrive).
    enum class Next {
        GO_ON,  // walk on from the place given, which may lie further on the remembered path
        FOUND,  // the file ends where the remembered one did
        FAILED, // fails as the remembered walk did, or would be cut by its own window
    };

    // A walk has at most this many states (Place::state below it): a module
    // asserts so where it declares them.
    static constexpr u8 STATES = 32;

    // A place on a walk: the window offset it reads at next, its state there
    // (for a walk with more than one), and the steps it took to come there.
    struct Place {
        u64 at = 0;
        i64 steps = 0;
        u8 state = 0;
    };

    WalkMemory();
    ~WalkMemory() override;

    // One walk through a window of the source. Without a memory (an analysis
    // outside a scan) it remembers nothing and never joins a path. What it
    // learned is kept only when it ends through ended() or readFailed(). One
    // walk at a time uses a memory: it lends its pieces to that walk.
    class Walk {
    public:
        struct Piece;

        Walk(WalkMemory* memory, u64 windowStart, u64 windowSize);
        ~Walk();
        Walk(const Walk&) = delete;
        Walk& operator=(const Walk&) = delete;

        // Before each step, at `place`: GO_ON to take the step there, or how
        // the walk ends. When the place lies on a remembered path, the walk
        // takes that path's outcome: with FOUND, `place.at` is where the file
        // ends; with GO_ON, `place` moved on to where the remembered walk
        // stopped, and this walk takes that step itself. A remembered path is
        // followed no further than `limit` (window offset) and `maxSteps`,
        // where a limit of this walk's own stops it: `place` then moves to the
        // last place known before them, and the walk goes on by itself.
        Next arrive(Place& place, u64 limit = ~u64(0), i64 maxSteps = INT64_MAX);

        // The walk ended at `place`; with FOUND, the file ends at `fileEnd`.
        void ended(End end, const Place& place, u64 fileEnd = 0);
        // The walk ended at `place` on a read that failed: CUT when the window
        // did not hold the bytes, HALTED when it did. False, for the module to
        // return.
        bool readFailed(const Place& place, bool insideWindow);

        // The memory of the searches that a step of this walk kind may make,
        // or null outside a scan.
        SearchMemory* searches() const {
            return memory_ != nullptr ? &memory_->searches_ : nullptr;
        }
        // Where the window starts on the source.
        u64 start() const { return start_; }

    private:
        Piece& current();
        Piece& newPiece();

        bool lookUp(const Place& place, u32& segment, u32& index) const;
        void record(const Place& place);
        Next follow(Place& place, u32 segment, u32 index, u64 limit, i64 maxSteps);
        void followWithin(Place& place, u32 segment, u32 index, u64 limitAt, i64 maxSteps);
        void resume(Place& place, u32 pathEnd, i64 toEnd);

        WalkMemory* memory_;
        u64 start_;
        u64 windowEnd_;
        // What this walk adds when it ends: its own marks (piece 0, a path of
        // its own), then for every remembered path whose end it walked on
        // from, the marks past that end; each piece but the last ends where it
        // met a remembered path. The pieces are the memory's, used again by
        // every walk, so that a walk allocates nothing of its own; none are in
        // use once the walk ended.
        std::size_t pieces_ = 0;
        u64 lastGranule_ = ~u64(0);
        u32 statesInGranule_ = 0;
        // Past the last place known before a limit of its own: it walks on by
        // itself and adds no marks.
        bool alone_ = false;
    };

    // The notes of the searches that walks of this kind make in one step.
    SearchMemory& searches() { return searches_; }

    // Marks kept and segments of paths, for tests and benchmarks.
    std::size_t marks() const { return indexed_; }
    std::size_t segments() const { return segments_.size() - free_.size(); }

private:
    static constexpr u32 NONE = 0xFFFFFFFFu;

    // A place of a path: its source offset and state in one key (the offset
    // above the state's byte), and the steps there counted from its segment's
    // origin.
    struct Mark {
        u64 key;
        i64 steps;
    };

    // A stretch of a path that one walk stepped on first. After its last mark
    // the path goes on into another segment (`next`, entered at its mark
    // `nextIndex`), or ends.
    struct Segment {
        std::vector<Mark> marks;
        u32 next = NONE;
        u32 nextIndex = 0;
        i64 nextShift = 0; // steps in `next` minus steps here, at the place it enters
        // A segment further on the same path (the end's, once followed), for a
        // shorter way there; NONE while `next` is the way.
        u32 ahead = NONE;
        i64 aheadShift = 0;
        // The end, when next is NONE.
        End end = End::HALTED;
        Mark stop{0, 0};
        u64 windowEnd = 0;
        u64 fileEnd = 0;
    };

    struct Slot {
        u32 segment;
        u32 index;
    };

    static u64 keyOf(u64 at, u8 state) { return at << 8 | state; }
    static u64 atOf(u64 key) { return key >> 8; }
    static u8 stateOf(u64 key) { return static_cast<u8>(key); }

    // The segment where the path through `segment` ends, with the steps there
    // minus those in `segment`.
    u32 pathEndOf(u32 segment, i64& shift);
    bool find(u64 key, u32& segment, u32& index) const;
    // Makes the marks that a walk added (each segment's from the one given)
    // found; marks before `scanAt`, where the scan is, need not be.
    void index(const std::vector<std::pair<u32, u32>>& added, u64 scanAt);
    void put(u32 segment, u32 index);
    void reindex(u64 scanAt);
    // Drops every segment whose marks all lie before `scanAt`.
    void collect(u64 scanAt);
    // A place for a new segment: one a dropped segment left, or a new one.
    u32 newSegment();
    static std::vector<Mark>::const_iterator firstAtOrAfter(const Segment& segment, u64 at);

    SearchMemory searches_;
    // The pieces of the walk under way (Walk::Piece) and the marks it added.
    std::vector<Walk::Piece> pieces_;
    std::vector<std::pair<u32, u32>> added_;
    std::vector<Segment> segments_;
    std::vector<Slot> index_;
    std::size_t indexed_ = 0;
    // Places of dropped segments, for new ones.
    std::vector<u32> free_;
    // The segments that the last collection kept.
    std::size_t liveSegments_ = 0;
    // Whether a walk uses the memory.
    bool walking_ = false;
};

// A step of a chain of members (an archive's headers, each with its data
// behind it), from the member at p.
enum class ChainLink {
    NEXT,   // p moved on to the next member
    ENDS,   // the bytes there end the chain: the file ends at `end`, wherever it started
    STOPS,  // the window or a read that failed stops the chain there: the file
            // ends at `end` for this walk, a walk with another window reads on
    FAILED, // a read that failed there leaves no file
};

// Walks a chain from the member at `first` (window offsets) with the scan's
// memory (null: none), calling step(p, end) for each member: true with the
// file's end, when a member was walked.
template <typename Step>
bool walkChain(WalkMemory* memory, u64 at, u64 windowSize, u64 first, Step step, u64& end) {
    WalkMemory::Walk walk(memory, at, windowSize);
    WalkMemory::Place place{first};
    for (;;) {
        if (const auto next = walk.arrive(place); next != WalkMemory::Next::GO_ON) {
            end = place.at;
            return next == WalkMemory::Next::FOUND;
        }
        u64 p = place.at;
        switch (step(p, end)) {
        case ChainLink::NEXT:
            place.at = p;
            ++place.steps;
            continue;
        case ChainLink::ENDS:
            walk.ended(WalkMemory::End::FOUND, place, end);
            return true;
        case ChainLink::STOPS:
            walk.ended(WalkMemory::End::HALTED, place);
            return true;
        case ChainLink::FAILED:
            walk.ended(WalkMemory::End::HALTED, place);
            return false;
        }
    }
}

} // namespace cbr
