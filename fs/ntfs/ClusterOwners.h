#pragma once

// Which records' data streams store which clusters of the volume. A run of a
// stream that lands in clusters another file in use stores, or the MFT, is not
// that stream's data, whatever its run list says: two files in use never share
// a cluster, and a deleted file's clusters that a file in use took since hold
// that file's bytes.

#include "core/Types.h"
#include "fs/ntfs/Runlist.h"

#include <vector>

class ClusterOwners {
public:
    // The stored runs of the record's stream.
    void add(u64 record, const Runlist& runs);
    // Whether a stored run of `runs` shares a cluster with a stream that
    // another record added, or that two records added both.
    bool overlapsOthers(u64 record, const Runlist& runs);

private:
    static constexpr u64 SHARED = ~u64{0};
    struct Stretch {
        u64 lcn;
        u64 end;
        u64 owner; // SHARED where two records claim it
    };
    // Sorts the stretches and merges those that overlap into one held SHARED,
    // so that they are disjoint and a question walks only what it touches.
    void seal();

    std::vector<Stretch> stretches_;
    bool sealed_ = true;
};
