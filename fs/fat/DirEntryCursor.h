#pragma once

// A walk over the 32-byte entries of one directory cluster that can step back
// into the cluster read just before it, so that a long name whose parts straddle
// a cluster edge is read from the buffer that still holds them.

#include "core/Types.h"

class DirEntryCursor {
public:
    // Entries per cluster; the previous cluster is taken to hold as many. A
    // count of 0 throws "FATDrive(48)".
    explicit DirEntryCursor(u64 count);

    // The entries of the current cluster and of the one before it (or null).
    void set(const u8* current, const u8* previous);
    u64 count() const { return count_; }
    // Entry i of the current cluster; throws "FATDrive(64)" when i >= count or no
    // cluster is set.
    const u8* entry(u64 i) const;
    // Puts the walk on entry i of the current cluster; throws "FATDrive(70)" as
    // entry does.
    void seek(u64 i);
    // Steps one entry back and returns it: from entry 0 of the current cluster to
    // the last entry of the previous one; null at the start of the previous
    // cluster or with none. Throws "FATDrive(77)" when no cluster is set.
    const u8* previous();

private:
    const u8* current_ = nullptr;
    const u8* previous_ = nullptr;
    u64 count_;
    u64 index_ = 0;
    bool inPrevious_ = false;
};
