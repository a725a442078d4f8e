#include "cbr/WalkMemory.h"

#include <algorithm>

namespace cbr {

namespace {

constexpr u64 SECTOR_BYTES = 512;

} // namespace

WalkMemory::Walk::Walk(WalkMemory* memory, u64 windowStart, u64 windowSize)
    : memory_(memory), start_(windowStart), windowEnd_(windowStart + windowSize) {
    if (memory_ == nullptr)
        return;
    // The scanner's hits come in ascending order, so places behind this window
    // are met by no later walk either. (A walk that does start behind them
    // only walks by itself.)
    for (Path& path : memory_->paths_) {
        while (!path.places.empty() && path.places.front().at < start_)
            path.places.pop_front();
    }
}

WalkMemory::Next WalkMemory::Walk::arrive(Place& place, u64 limit, i64 maxSteps) {
    if (!meets(place))
        return Next::GO_ON;
    return follow(place, limit, maxSteps);
}

bool WalkMemory::Walk::meets(const Place& place) {
    if (memory_ == nullptr || following_)
        return false;
    const u64 at = start_ + place.at;
    if (!resumed_) {
        for (int s = 0; s < 2; ++s) {
            const Path& path = memory_->paths_[s];
            if (!path.valid)
                continue;
            // A walk's places come in ascending order, and so do a path's.
            std::size_t& c = cursor_[s];
            while (c < path.places.size() && path.places[c].at < at)
                ++c;
            if (c < path.places.size() && path.places[c].at == at &&
                path.places[c].state == place.state) {
                slot_ = s;
                joinIndex_ = c;
                joinSteps_ = place.steps;
                return true;
            }
        }
    }
    // The first place of each state in each sector: a walk of one state is met
    // on its first place in a sector, and one of several also in the state in
    // which the next hit's walk begins.
    const u64 sector = at / SECTOR_BYTES;
    const u32 stateBit = u32(1) << (place.state % 32);
    if (sector != lastSector_) {
        lastSector_ = sector;
        statesInSector_ = 0;
    }
    if ((statesInSector_ & stateBit) == 0) {
        statesInSector_ |= stateBit;
        std::vector<Mark>& marks = resumed_ ? tail_ : own_;
        if (marks.size() < MAX_PLACES)
            marks.push_back({at, place.steps, place.state});
    }
    return false;
}

WalkMemory::Next WalkMemory::Walk::follow(Place& place, u64 limit, i64 maxSteps) {
    following_ = true;
    const Path& path = memory_->paths_[slot_];
    // The path's step counts, shifted onto this walk's.
    const i64 shift = joinSteps_ - path.places[joinIndex_].steps;
    const u64 limitAt = limit > ~u64(0) - start_ ? ~u64(0) : start_ + limit;
    auto within = [&](const Mark& m) { return m.at <= limitAt && m.steps + shift <= maxSteps; };
    if (within(path.stop)) {
        place = {path.stop.at - start_, path.stop.steps + shift, path.stop.state};
        switch (path.end) {
        case End::FOUND:
            if (memory_->membersOfFound_)
                return Next::MEMBER;
            place.at = path.fileEnd - start_;
            return Next::FOUND;
        case End::FAILED:
            return Next::FAILED;
        case End::CUT:
            if (windowEnd_ <= path.windowEnd)
                return Next::FAILED;
            break;
        case End::HALTED:
            break;
        }
        // It takes the remembered walk's last step itself, and what lies past.
        resumed_ = true;
        following_ = false;
        return Next::GO_ON;
    }
    // Offsets and step counts both grow along a path.
    const auto first = path.places.begin() + static_cast<std::ptrdiff_t>(joinIndex_);
    const auto past = std::partition_point(first, path.places.end(), within);
    const Mark& last = past == first ? *first : *(past - 1);
    place = {last.at - start_, last.steps + shift, last.state};
    return Next::GO_ON;
}

void WalkMemory::Walk::ended(End end, const Place& place, u64 fileEnd) {
    if (memory_ == nullptr)
        return;
    Mark stop{start_ + place.at, place.steps, place.state};
    Path* path = nullptr;
    if (slot_ >= 0) {
        // A walk that went along a remembered path and ended on it adds nothing.
        if (!resumed_)
            return;
        // It went on past that path's end: the path from where this walk met it
        // is this walk's, so it becomes that, with this walk's own places in
        // front and its places past the old end behind, on the path's count of
        // steps.
        path = &memory_->paths_[slot_];
        const i64 shift = path->places[joinIndex_].steps - joinSteps_;
        path->places.erase(path->places.begin(),
                           path->places.begin() + static_cast<std::ptrdiff_t>(joinIndex_));
        for (auto it = own_.rbegin(); it != own_.rend(); ++it)
            path->places.push_front({it->at, it->steps + shift, it->state});
        for (const Mark& m : tail_) {
            if (path->places.size() >= MAX_PLACES)
                break;
            path->places.push_back({m.at, m.steps + shift, m.state});
        }
        stop.steps += shift;
    } else {
        // A path of its own is kept when it found a file, or when it got at
        // least as far as the other walk kept: of two that reach as far, the
        // later one lies ahead of more of the hits to come.
        const Path& other = memory_->paths_[OTHER_PATH];
        if (end != End::FOUND && other.valid && stop.at < other.stop.at)
            return;
        path = &memory_->paths_[end == End::FOUND ? FOUND_PATH : OTHER_PATH];
        path->places.assign(own_.begin(), own_.end());
    }
    path->stop = stop;
    path->end = end;
    path->windowEnd = windowEnd_;
    path->fileEnd = start_ + fileEnd;
    path->valid = true;
    if (end == End::FOUND && path != &memory_->paths_[FOUND_PATH]) {
        memory_->paths_[FOUND_PATH] = std::move(*path);
        memory_->paths_[OTHER_PATH] = Path();
    }
}

bool WalkMemory::Walk::readFailed(const Place& place, bool insideWindow) {
    ended(insideWindow ? End::HALTED : End::CUT, place);
    return false;
}

} // namespace cbr
