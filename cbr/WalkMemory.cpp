#include "cbr/WalkMemory.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace cbr {

namespace {

// A walk sees that it joined a path at most a granule after it did: the cost
// of every hit that joins one is bounded by walking this much of it again.
constexpr u64 GRANULE = 4096;
// Places at or past this offset do not fit a mark's key: walks there go on by
// themselves (no source is that large).
constexpr u64 MAX_AT = u64(1) << 56;
// No compaction of the memory before it holds this many segments or marks.
constexpr std::size_t MIN_COLLECT = 1024;

u32 stateBit(u8 state) {
    static_assert(WalkMemory::STATES <= 32);
    return u32(1) << state;
}

u64 slotOf(u64 key, std::size_t mask) {
    return ((key * 0x9E3779B97F4A7C15ull) >> 20) & mask;
}

} // namespace

struct WalkMemory::Walk::Piece {
    // NONE: a segment of this walk's own. Else the segment whose end this walk
    // took up, and its marks go on behind that segment's.
    u32 segment = NONE;
    // Steps in that segment minus this walk's.
    i64 toSegment = 0;
    std::vector<Mark> marks;
    // The remembered path this piece ran into, where and how its steps count.
    u32 met = NONE;
    u32 metIndex = 0;
    i64 metShift = 0;
};

WalkMemory::WalkMemory() = default;
WalkMemory::~WalkMemory() = default;

WalkMemory::Walk::Walk(WalkMemory* memory, u64 windowStart, u64 windowSize)
    : memory_(memory), start_(windowStart), windowEnd_(windowStart + windowSize) {
    if (memory_ == nullptr)
        return;
    if (memory_->walking_)
        throw std::runtime_error("WalkMemory(52)");
    memory_->walking_ = true;
    newPiece();
}

WalkMemory::Walk::Piece& WalkMemory::Walk::current() {
    return memory_->pieces_[pieces_ - 1];
}

WalkMemory::Walk::Piece& WalkMemory::Walk::newPiece() {
    std::vector<Piece>& pieces = memory_->pieces_;
    if (pieces_ == pieces.size())
        pieces.emplace_back();
    Piece& piece = pieces[pieces_++];
    piece.segment = NONE;
    piece.toSegment = 0;
    piece.marks.clear();
    piece.met = NONE;
    return piece;
}

WalkMemory::Walk::~Walk() {
    if (memory_ != nullptr)
        memory_->walking_ = false;
}

WalkMemory::Next WalkMemory::Walk::arrive(Place& place, u64 limit, i64 maxSteps) {
    if (memory_ == nullptr || alone_ || pieces_ == 0)
        return Next::GO_ON;
    // A place past the window is no place this walk reads at: its read fails.
    if (place.at > windowEnd_ - start_ || start_ + place.at >= MAX_AT)
        return Next::GO_ON;
    const u64 at = start_ + place.at;
    // Only the first place of each state in a granule is a mark, of this walk
    // and of every path; a path this walk joined shows at the next one.
    const u64 granule = at / GRANULE;
    if (granule != lastGranule_) {
        lastGranule_ = granule;
        statesInGranule_ = 0;
    }
    if ((statesInGranule_ & stateBit(place.state)) != 0)
        return Next::GO_ON;
    statesInGranule_ |= stateBit(place.state);
    u32 segment = NONE;
    u32 index = 0;
    if (memory_->find(keyOf(at, place.state), segment, index))
        return follow(place, segment, index, limit, maxSteps);
    record(place);
    return Next::GO_ON;
}

void WalkMemory::Walk::record(const Place& place) {
    Piece& piece = current();
    piece.marks.push_back({keyOf(start_ + place.at, place.state), place.steps + piece.toSegment});
}

WalkMemory::Next WalkMemory::Walk::follow(Place& place, u32 segment, u32 index, u64 limit,
                                          i64 maxSteps) {
    Piece& piece = current();
    const Mark& met = memory_->segments_[segment].marks[index];
    piece.met = segment;
    piece.metIndex = index;
    piece.metShift = met.steps - (place.steps + piece.toSegment);

    i64 shift = 0;
    const u32 pathEnd = memory_->pathEndOf(segment, shift);
    const Segment& end = memory_->segments_[pathEnd];
    // Steps in the path end's segment minus this walk's.
    const i64 toEnd = met.steps + shift - place.steps;
    u64 limitAt = limit > ~u64(0) - start_ ? ~u64(0) : start_ + limit;
    // A file that ends past this walk's window is not this walk's to find:
    // what its own walk makes of the window's end is its module's answer.
    const bool pastWindow = end.end == End::FOUND && end.fileEnd > windowEnd_;
    if (pastWindow)
        limitAt = std::min(limitAt, windowEnd_ - 1);
    if (pastWindow || atOf(end.stop.key) > limitAt || end.stop.steps - toEnd > maxSteps) {
        followWithin(place, segment, index, limitAt, maxSteps);
        return Next::GO_ON;
    }
    switch (end.end) {
    case End::FOUND:
        place.at = end.fileEnd - start_;
        // What this walk learned is its way onto the path: the path's end stays.
        ended(End::FOUND, place);
        return Next::FOUND;
    case End::FAILED:
        break;
    case End::CUT:
        if (windowEnd_ > end.windowEnd) {
            resume(place, pathEnd, toEnd);
            return Next::GO_ON;
        }
        break;
    case End::HALTED:
        resume(place, pathEnd, toEnd);
        return Next::GO_ON;
    }
    ended(End::FAILED, place);
    return Next::FAILED;
}

void WalkMemory::Walk::resume(Place& place, u32 pathEnd, i64 toEnd) {
    const Mark stop = memory_->segments_[pathEnd].stop;
    place = {atOf(stop.key) - start_, stop.steps - toEnd, stateOf(stop.key)};
    Piece& piece = newPiece();
    piece.segment = pathEnd;
    piece.toSegment = toEnd;
    // The stop is the path's place already, and so is the granule's mark of
    // its state.
    lastGranule_ = atOf(stop.key) / GRANULE;
    statesInGranule_ = stateBit(place.state);
}

void WalkMemory::Walk::followWithin(Place& place, u32 segment, u32 index, u64 limitAt,
                                    i64 maxSteps) {
    const std::vector<Segment>& segments = memory_->segments_;
    // Steps in the segment in hand minus this walk's.
    i64 toWalk = segments[segment].marks[index].steps - place.steps;
    auto within = [&](const Mark& m, i64 to) {
        return atOf(m.key) <= limitAt && m.steps - to <= maxSteps;
    };
    // Places and steps only grow along a path: whole segments are passed while
    // the next one's first place on it is within the limits.
    for (;;) {
        const Segment& s = segments[segment];
        if (s.next != NONE && within(segments[s.next].marks[s.nextIndex], toWalk + s.nextShift)) {
            toWalk += s.nextShift;
            index = s.nextIndex;
            segment = s.next;
            continue;
        }
        const auto first = s.marks.begin() + index;
        const auto past = std::partition_point(first + 1, s.marks.end(),
                                               [&](const Mark& m) { return within(m, toWalk); });
        const Mark& last = *(past - 1);
        place = {atOf(last.key) - start_, last.steps - toWalk, stateOf(last.key)};
        alone_ = true;
        return;
    }
}

void WalkMemory::Walk::ended(End end, const Place& place, u64 fileEnd) {
    if (memory_ == nullptr || pieces_ == 0)
        return;
    std::vector<Segment>& segments = memory_->segments_;
    std::vector<std::pair<u32, u32>>& added = memory_->added_; // segment, its first new mark
    added.clear();
    for (std::size_t i = 0; i < pieces_; ++i) {
        Piece& piece = memory_->pieces_[i];
        u32 id = piece.segment;
        if (id == NONE) {
            // A path of its own that nothing can reach.
            if (piece.marks.empty())
                continue;
            id = memory_->newSegment();
        }
        Segment& s = segments[id];
        added.emplace_back(id, static_cast<u32>(s.marks.size()));
        s.marks.insert(s.marks.end(), piece.marks.begin(), piece.marks.end());
        if (piece.met != NONE) {
            s.next = piece.met;
            s.nextIndex = piece.metIndex;
            s.nextShift = piece.metShift;
        } else if (i + 1 == pieces_ && !alone_) {
            s.end = end;
            s.stop = {keyOf(start_ + place.at, place.state), place.steps + piece.toSegment};
            s.windowEnd = windowEnd_;
            s.fileEnd = start_ + fileEnd;
        }
    }
    pieces_ = 0;
    memory_->index(added, start_);
}

bool WalkMemory::Walk::readFailed(const Place& place, bool insideWindow) {
    ended(insideWindow ? End::HALTED : End::CUT, place);
    return false;
}

u32 WalkMemory::pathEndOf(u32 segment, i64& shift) {
    // The way on from a segment, the shorter one where it has one; NONE at the
    // path's end.
    auto wayOn = [this](u32 at, i64& steps) {
        const Segment& s = segments_[at];
        if (s.ahead != NONE) {
            steps += s.aheadShift;
            return s.ahead;
        }
        if (s.next != NONE)
            steps += s.nextShift;
        return s.next;
    };
    u32 end = segment;
    shift = 0;
    for (u32 on = wayOn(end, shift); on != NONE; on = wayOn(end, shift))
        end = on;
    // Then every segment passed leads there in one step.
    i64 passed = 0;
    for (u32 at = segment; at != end;) {
        const i64 here = passed;
        const u32 on = wayOn(at, passed);
        segments_[at].ahead = end;
        segments_[at].aheadShift = shift - here;
        at = on;
    }
    return end;
}

bool WalkMemory::find(u64 key, u32& segment, u32& index) const {
    if (index_.empty())
        return false;
    const std::size_t mask = index_.size() - 1;
    for (u64 slot = slotOf(key, mask);; slot = (slot + 1) & mask) {
        const Slot& s = index_[slot];
        if (s.segment == NONE)
            return false;
        // An entry of a segment dropped since, or of another segment in its
        // place, lies in the index until it is built again.
        const std::vector<Mark>& marks = segments_[s.segment].marks;
        if (s.index < marks.size() && marks[s.index].key == key) {
            segment = s.segment;
            index = s.index;
            return true;
        }
    }
}

void WalkMemory::index(const std::vector<std::pair<u32, u32>>& added, u64 scanAt) {
    // Segments are dropped when they doubled since the last time: a long path
    // ahead must not let the stretches of a million hits pile up.
    if (segments_.size() - free_.size() >= 2 * liveSegments_ + MIN_COLLECT)
        collect(scanAt);
    std::size_t count = 0;
    for (const auto& [segment, first] : added)
        count += segments_[segment].marks.size() - first;
    // The index is kept at most three quarters full, entries of dropped
    // segments counted.
    if (4 * (indexed_ + count) > 3 * index_.size()) {
        reindex(scanAt);
        return;
    }
    for (const auto& [segment, first] : added)
        for (u32 m = first; m < segments_[segment].marks.size(); ++m)
            put(segment, m);
}

u32 WalkMemory::newSegment() {
    if (free_.empty()) {
        segments_.emplace_back();
        return static_cast<u32>(segments_.size() - 1);
    }
    const u32 id = free_.back();
    free_.pop_back();
    return id;
}

void WalkMemory::put(u32 segment, u32 index) {
    const std::size_t mask = index_.size() - 1;
    u64 slot = slotOf(segments_[segment].marks[index].key, mask);
    while (index_[slot].segment != NONE)
        slot = (slot + 1) & mask;
    index_[slot] = {segment, index};
    ++indexed_;
}

void WalkMemory::reindex(u64 scanAt) {
    std::size_t live = 0;
    for (const Segment& s : segments_)
        live += s.marks.end() - firstAtOrAfter(s, scanAt);
    std::size_t size = 64;
    while (size < 2 * live)
        size *= 2;
    index_.assign(size, Slot{NONE, 0});
    indexed_ = 0;
    for (u32 s = 0; s < segments_.size(); ++s) {
        const std::vector<Mark>& marks = segments_[s].marks;
        for (auto m = firstAtOrAfter(segments_[s], scanAt); m != marks.end(); ++m)
            put(s, static_cast<u32>(m - marks.begin()));
    }
}

std::vector<WalkMemory::Mark>::const_iterator WalkMemory::firstAtOrAfter(const Segment& segment,
                                                                         u64 at) {
    return std::lower_bound(segment.marks.begin(), segment.marks.end(), at,
                            [](const Mark& m, u64 a) { return atOf(m.key) < a; });
}

void WalkMemory::collect(u64 scanAt) {
    // A walk from a later hit starts at scanAt or after and only goes on, so a
    // segment whose marks all lie before scanAt is met by none; nor do paths
    // ahead lead into it, since every link leads on. Its place is taken by a
    // later segment; its entries in the index go when the index is built again.
    std::size_t live = 0;
    for (u32 s = 0; s < segments_.size(); ++s) {
        Segment& segment = segments_[s];
        if (segment.marks.empty())
            continue;
        if (atOf(segment.marks.back().key) >= scanAt) {
            ++live;
            continue;
        }
        segment = Segment();
        free_.push_back(s);
    }
    liveSegments_ = live;
}

} // namespace cbr
