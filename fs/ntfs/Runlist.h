#pragma once

// Run lists of non-resident NTFS attributes: the mapping-pairs arrays of the
// attribute's extents decoded into runs that a reader walks one at a time.
//
// In a compressed attribute a sparse run that starts inside a 16-cluster
// compression unit completes that unit: the runs just before it hold the unit's
// compressed form. The decoder rewrites such units as "compressed chain" runs
// ending in one "compressed to" run, so that a reader sees from one run whether
// it stores data, zeros or part of a compressed unit. In an attribute that is not
// compressed a sparse run is only zeros, wherever it starts.

#include "core/Array.h"
#include "core/Types.h"

#include <vector>

// A compression unit spans 16 clusters of the attribute, whatever the header says.
constexpr u64 NTFS_COMPRESSION_UNIT_CLUSTERS = 16;

struct NtfsRun {
    u64 lcn = 0;            // first stored cluster; meaningless for a sparse run
    u64 clusters = 0;       // clusters of the attribute (VCN space) covered
    u64 storedClusters = 0; // clusters occupied on the volume from lcn

    // Stored as it is.
    bool isPlain() const { return clusters != 0 && storedClusters == clusters; }
    // Reads as zeros and occupies nothing.
    bool isSparse() const { return clusters != 0 && storedClusters == 0; }
    // A stored piece of a compression unit: a chain piece (no clusters of its
    // own) or the last piece, which carries the unit's 16 clusters.
    bool isCompressed() const {
        return storedClusters != 0 &&
               (clusters == 0 ||
                (clusters == NTFS_COMPRESSION_UNIT_CLUSTERS && storedClusters < clusters));
    }
    // Its stored clusters lie below `volumeClusters` (a sparse run stores none).
    bool storedInside(u64 volumeClusters) const {
        return storedClusters == 0 ||
               (lcn <= volumeClusters && storedClusters <= volumeClusters - lcn);
    }
    bool operator==(const NtfsRun& o) const {
        return lcn == o.lcn && clusters == o.clusters && storedClusters == o.storedClusters;
    }
    bool operator!=(const NtfsRun& o) const { return !(*this == o); }
};

// The runs of one attribute in VCN order; the VCN of a run is the sum of the
// clusters of the runs before it.
using Runlist = std::vector<NtfsRun>;

// Clusters of VCN space the list covers.
u64 getRunlistClusters(const Runlist& runs);

// One decoded pair of a mapping-pairs array.
struct MappingPair {
    u8 size = 0;       // bytes: 1 + length field + offset field
    u8 offsetSize = 0; // 0: a sparse run
    // The LCN step from the previous stored pair's LCN (the first: from 0); the
    // field is signed on disk, so the step is kept as its size and direction.
    u64 lcnStep = 0;
    bool backwards = false;
    u64 clusters = 0;
};

class RunlistParser {
public:
    // No run list covers more clusters than this, in VCN or LCN: NTFS keeps both
    // signed, and up to it the byte offset of any cluster (at most 64 KiB each)
    // stays within 2^63, so readers can multiply without checking.
    static constexpr u64 MAX_CLUSTERS = u64{1} << 47;
    static constexpr u64 ANY_VOLUME = ~u64{0};

    // An attribute that is not compressed, on a volume of any size.
    RunlistParser() = default;
    // `compressed`: NonResidentValue::compressed of the attribute. With a
    // volume size, a stored run that reaches past it refuses the list.
    RunlistParser(bool compressed, u64 volumeClusters)
        : compressed_(compressed), volumeClusters_(volumeClusters) {}

    // Decodes one mapping-pairs array of at most `length` bytes, appending to the
    // list; call it for the arrays of consecutive extents in VCN order.
    bool parse(const u8* data, u32 length);
    bool parse(const ConstArray& pairs) { return parse(pairs.data(), pairs.length()); }
    // Stores the pending run; call it after the last array.
    bool finish();

    // The runs stored so far; the pending run joins them at finish().
    Runlist& getRunlist() { return runs_; }
    const Runlist& getRunlist() const { return runs_; }
    // Clusters decoded so far, the pending run included: where the next extent
    // must start.
    u64 getParsedClusters() const { return vcnTotal_ + (pending_ ? pendingPair_.clusters : 0); }

    // One pair from `data`, which has `bytesLeft` bytes.
    static bool decodePair(MappingPair& pair, const u8* data, u32 bytesLeft);

private:
    bool addPair(const MappingPair& pair, u64 lcn);
    bool storePending();
    bool markCompressedUnit(u64 storedClusters);

    bool compressed_ = false;
    u64 volumeClusters_ = ANY_VOLUME;
    Runlist runs_;
    u64 vcnTotal_ = 0;   // VCN where the next stored run starts
    u64 currentLcn_ = 0; // LCN of the last stored pair of the current array
    bool pending_ = false;
    MappingPair pendingPair_;
    u64 pendingLcn_ = 0;
    u64 previousPairClusters_ = 0;
};
