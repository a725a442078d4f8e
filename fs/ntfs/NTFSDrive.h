#pragma once

// The NTFS volume as the NTFS engine sees it: a source's sectors and the scan's
// unreadable sectors (the Drive base) together with the volume's parameters. It
// turns cluster numbers into sector addresses and reads clusters; the record
// parsers and data readers take the volume's figures from it.
//
// Clusters are counted from the volume start; a cluster at or beyond the
// cluster count lies outside the volume and is never read.

#include "core/Types.h"
#include "devices/Drive.h"
#include "fs/Params.h"

class NTFSDrive : public Drive {
public:
    // The largest cluster NTFS knows is 2 MiB. Readers size a compression unit
    // (16 clusters) from it, so a larger value must never reach them.
    static constexpr u64 MAX_SECTORS_PER_CLUSTER = 4096;

    // Whether a drive can be built on these parameters: they pass
    // NTFS_FS_PARAMS::isValid and the cluster size is one NTFS can have.
    static bool isUsable(const NTFS_FS_PARAMS& params);

    // Throws std::runtime_error "NTFSDrive(<line>)" for parameters that are not
    // usable (the caller forms and checks them first).
    NTFSDrive(const SharedPtr<Driver>& driver, const NTFS_FS_PARAMS& params,
              const UnreadableSectors* unreadable);
    ~NTFSDrive() override = default;

    u64 getStartingLBA() const { return params_.startingLBA; }
    u64 getSectorsPerCluster() const { return params_.sectorsPerCluster; }
    u64 getSectorsPerFileRecord() const { return params_.sectorsPerFileRecord; }
    u64 getClusterBytes() const { return getSectorSize() * params_.sectorsPerCluster; }
    // The MFT's first cluster, or its mirror's.
    u64 getMftStartCluster(bool mirror) const {
        return mirror ? params_.mftMirrLCN : params_.mftLCN;
    }
    u64 getClusterCount() const { return clusterCount_; }
    bool isClusterValid(u64 cluster) const { return cluster < clusterCount_; }
    // Whether `count` clusters from `first` all lie in the volume.
    bool areClustersValid(u64 first, u64 count) const {
        return first <= clusterCount_ && count <= clusterCount_ - first;
    }
    const NTFS_FS_PARAMS& getParams() const { return params_; }

    // The first sector of the cluster; all ones (and a log line) for a cluster
    // outside the volume.
    u64 getClusterLBA(u64 cluster) const;
    // Reads `sectorCount` sectors (0: one cluster) from the first sector of
    // `firstCluster`. False, with a log line, when the cluster or any sector of
    // the range lies outside the volume, or when the read fails. Polls first: a
    // cancel throws InterruptedException.
    bool readClusters(u64 firstCluster, u8* buffer, u64 sectorCount);

private:
    NTFS_FS_PARAMS params_;
    u64 clusterCount_;
};
