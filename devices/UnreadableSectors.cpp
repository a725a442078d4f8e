#include "devices/UnreadableSectors.h"

#include "core/Array.h"

#include <algorithm>
#include <cstring>

namespace {

// put(run) for the runs that hold the union [start, end) of joined runs.
// Sector addresses are 32-bit: what lies at 2^32 or beyond cannot be kept. A
// run is at most 2^32 - 1 sectors; a longer union is split so nothing is lost.
template <typename Put> void putJoinedRun(u64 start, u64 end, Put put) {
    end = std::min(end, u64(1) << 32);
    while (start < end) {
        const u64 n = std::min<u64>(end - start, 0xFFFFFFFFu);
        put(SectorRun{static_cast<u32>(start), static_cast<u32>(n)});
        start += n;
    }
}

} // namespace

bool rangeListOverlaps(const SectorRuns& runs, u32 start, u32 length) {
    if (length == 0)
        return false;
    const u64 end = static_cast<u64>(start) + length;
    // Runs are ordered by start; the first candidate is the last run starting at
    // or before `start`.
    auto it = std::upper_bound(runs.begin(), runs.end(), SectorRun{start, 0});
    if (it != runs.begin())
        --it;
    for (; it != runs.end() && it->start < end; ++it) {
        if (it->start <= start && it->end() > start)
            return true;
        if (it->start >= start && it->start < end)
            return true;
    }
    return false;
}

void swapRangeList(SectorRuns& a, SectorRuns& b) {
    a.swap(b);
}

void SectorRunCollector::add(const SectorRun& r) {
    const u64 start = r.start;
    const u64 end = r.end();
    if (openStart_ == openEnd_) {
        openStart_ = start;
        openEnd_ = end;
    } else if (openEnd_ < start) {
        flush();
        openStart_ = start;
        openEnd_ = end;
    } else {
        openEnd_ = std::max(openEnd_, end);
    }
}

void SectorRunCollector::flush() {
    if (openStart_ == openEnd_)
        return;
    putJoinedRun(openStart_, openEnd_, [&](const SectorRun& run) { runs_.push_back(run); });
    openStart_ = openEnd_;
}

void mergeSectorRuns(SectorRunCollector& out, const SectorRuns& a, const SectorRuns& b) {
    auto ia = a.begin();
    auto ib = b.begin();
    while (ia != a.end() || ib != b.end()) {
        if (ib != b.end() && (ia == a.end() || ib->start <= ia->start))
            out.add(*ib++);
        else
            out.add(*ia++);
    }
    out.flush();
}

void sortAndJoinSectorRuns(SectorRuns& runs) {
    std::sort(runs.begin(), runs.end());
    // The joined runs are written over the front of the list. A union longer
    // than one run can count is split in two, but it was joined from two runs
    // at least, so the writing never overtakes the reading.
    std::size_t out = 0;
    std::size_t i = 0;
    while (i < runs.size()) {
        const u64 start = runs[i].start;
        u64 end = runs[i].end();
        for (++i; i < runs.size() && runs[i].start <= end; ++i)
            end = std::max(end, runs[i].end());
        putJoinedRun(start, end, [&](const SectorRun& run) { runs[out++] = run; });
    }
    runs.resize(out);
}

void UnreadableSectors::add(u32 lba) {
    pending_.add(SectorRun{lba, 1});
}

void UnreadableSectors::commit() {
    pending_.flush();
    SectorRunCollector merged;
    mergeSectorRuns(merged, runs_, pending_.runs());
    runs_.swap(merged.runs());
    pending_.runs().clear();
}

void UnreadableSectors::clearPending() {
    pending_.runs().clear();
}

bool UnreadableSectors::contains(u64 lba) const {
    if (lba > 0xFFFFFFFFu)
        return false;
    return rangeListOverlaps(runs_, static_cast<u32>(lba), 1);
}

bool UnreadableSectors::contains(u64 first, u64 count) const {
    if (count == 0 || first > 0xFFFFFFFFu)
        return false;
    u64 n = std::min<u64>(count, 0x100000000ull - first);
    // rangeListOverlaps takes a 32-bit length; a longer range is tested in halves.
    while (n > 0) {
        u32 piece = static_cast<u32>(std::min<u64>(n, 0xFFFFFFFFu));
        if (rangeListOverlaps(runs_, static_cast<u32>(first), piece))
            return true;
        first += piece;
        n -= piece;
    }
    return false;
}

void UnreadableSectors::toBytes(std::string& out) const {
    out.assign(runs_.size() * 8, '\0');
    Array a(reinterpret_cast<u8*>(out.empty() ? nullptr : &out[0]), static_cast<u32>(out.size()));
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        a.setBE32(static_cast<u32>(i * 8), runs_[i].start);
        a.setBE32(static_cast<u32>(i * 8 + 4), runs_[i].count);
    }
}

void fillUnreadablePattern(u8* buffer, u64 size) {
    u64 off = 0;
    for (; size - off >= UNREADABLE_TEXT_SIZE; off += UNREADABLE_TEXT_SIZE)
        std::memcpy(buffer + off, UNREADABLE_TEXT, UNREADABLE_TEXT_SIZE);
    std::memcpy(buffer + off, UNREADABLE_TEXT, static_cast<std::size_t>(size - off));
}

bool isUnreadablePattern(const u8* buffer, u64 size) {
    u64 off = 0;
    for (; size - off >= UNREADABLE_TEXT_SIZE; off += UNREADABLE_TEXT_SIZE) {
        if (std::memcmp(buffer + off, UNREADABLE_TEXT, UNREADABLE_TEXT_SIZE) != 0)
            return false;
    }
    return std::memcmp(buffer + off, UNREADABLE_TEXT, static_cast<std::size_t>(size - off)) == 0;
}
