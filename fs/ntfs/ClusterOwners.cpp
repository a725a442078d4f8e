#include "fs/ntfs/ClusterOwners.h"

#include "core/Checked.h"

#include <algorithm>

void ClusterOwners::add(u64 record, const Runlist& runs) {
    for (const NtfsRun& r : runs) {
        if (r.storedClusters == 0)
            continue;
        stretches_.push_back({r.lcn, saturatingAdd(r.lcn, r.storedClusters), record});
        sealed_ = false;
    }
}

void ClusterOwners::seal() {
    if (sealed_)
        return;
    sealed_ = true;
    std::sort(stretches_.begin(), stretches_.end(),
              [](const Stretch& a, const Stretch& b) { return a.lcn < b.lcn; });
    std::vector<Stretch> merged;
    merged.reserve(stretches_.size());
    for (const Stretch& s : stretches_) {
        if (!merged.empty() && s.lcn < merged.back().end) {
            Stretch& last = merged.back();
            if (last.owner != s.owner)
                last.owner = SHARED;
            last.end = std::max(last.end, s.end);
            continue;
        }
        // Runs of one record that follow each other on the volume stay one
        // stretch, so that a long fragmented file costs one question per run.
        if (!merged.empty() && s.lcn == merged.back().end && s.owner == merged.back().owner) {
            merged.back().end = s.end;
            continue;
        }
        merged.push_back(s);
    }
    stretches_.swap(merged);
}

bool ClusterOwners::overlapsOthers(u64 record, const Runlist& runs) {
    seal();
    for (const NtfsRun& r : runs) {
        if (r.storedClusters == 0)
            continue;
        const u64 end = saturatingAdd(r.lcn, r.storedClusters);
        auto it = std::partition_point(stretches_.begin(), stretches_.end(),
                                       [&](const Stretch& s) { return s.end <= r.lcn; });
        // Stretches are disjoint: those the run touches follow each other, and
        // the first held by another ends the question.
        for (; it != stretches_.end() && it->lcn < end; ++it) {
            if (it->owner != record)
                return true;
        }
    }
    return false;
}
