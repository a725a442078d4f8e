#pragma once

// Sector runs and the scan's set of unreadable sectors. A sector that cannot be
// read stands in the data as the text "(unreadable)" repeated, so that a
// recovered file keeps its length and a later scan recognises the gap.

#include "core/Types.h"

#include <string>
#include <vector>

struct SectorRun {
    u32 start = 0;
    u32 count = 0;

    // One past the last sector, in 64 bits: start + count may pass 2^32.
    u64 end() const { return static_cast<u64>(start) + count; }
    bool operator<(const SectorRun& o) const { return start < o.start; }
    bool operator==(const SectorRun& o) const { return start == o.start && count == o.count; }
};

using SectorRuns = std::vector<SectorRun>;

// Whether [start, start + length) overlaps a run of a start-ordered list. A
// length of 0 overlaps nothing.
bool rangeListOverlaps(const SectorRuns& runs, u32 start, u32 length);
void swapRangeList(SectorRuns& a, SectorRuns& b);

// Joins runs that arrive in ascending order of start into non-overlapping,
// non-touching runs.
class SectorRunCollector {
public:
    void add(const SectorRun& r);
    void flush();
    SectorRuns& runs() { return runs_; }
    const SectorRuns& runs() const { return runs_; }

private:
    SectorRuns runs_;
    u64 openStart_ = 0;
    u64 openEnd_ = 0;
};

// The union of two sorted run lists, appended to `out` and flushed.
void mergeSectorRuns(SectorRunCollector& out, const SectorRuns& a, const SectorRuns& b);
// Brings runs in any order into the form the list keeps (sorted, overlapping
// and touching runs joined), in place: a long list is not copied.
void sortAndJoinSectorRuns(SectorRuns& runs);

class UnreadableSectors {
public:
    SectorRuns& runs() { return runs_; }
    const SectorRuns& runs() const { return runs_; }

    // Collects a sector found unreadable by the scan in progress.
    void add(u32 lba);
    // Merges what was collected into the runs.
    void commit();
    void clearPending();

    bool contains(u64 lba) const;
    // Whether any sector of [first, first + count) is unreadable. Scan addresses
    // are 32-bit: nothing at 2^32 or beyond was ever found unreadable.
    bool contains(u64 first, u64 count) const;

    // 8 bytes per run: start then count, both big-endian.
    void toBytes(std::string& out) const;

private:
    SectorRuns runs_;
    SectorRunCollector pending_;
};

constexpr char UNREADABLE_TEXT[] = "(unreadable)";
constexpr u32 UNREADABLE_TEXT_SIZE = 12;

void fillUnreadablePattern(u8* buffer, u64 size);
bool isUnreadablePattern(const u8* buffer, u64 size);
