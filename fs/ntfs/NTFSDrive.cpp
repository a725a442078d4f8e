#include "fs/ntfs/NTFSDrive.h"

#include "core/Log.h"

#include <stdexcept>

namespace {

u64 checkedClusterCount(const NTFS_FS_PARAMS& params) {
    if (!NTFSDrive::isUsable(params))
        throw std::runtime_error("NTFSDrive(12)");
    return params.get_cluster_count();
}

} // namespace

bool NTFSDrive::isUsable(const NTFS_FS_PARAMS& params) {
    return params.isValid() && params.sectorsPerCluster <= MAX_SECTORS_PER_CLUSTER;
}

NTFSDrive::NTFSDrive(const SharedPtr<Driver>& driver, const NTFS_FS_PARAMS& params,
                     const UnreadableSectors* unreadable)
    : Drive(driver, unreadable), params_(params), clusterCount_(checkedClusterCount(params)) {}

u64 NTFSDrive::getClusterLBA(u64 cluster) const {
    if (!isClusterValid(cluster)) {
        logAt("NTFSDrive", 65) << '\n';
        return ~u64{0};
    }
    // All ones as well when a volume of absurd size would carry the sum past
    // 64 bits.
    return params_.clusterLBA(cluster);
}

bool NTFSDrive::readClusters(u64 firstCluster, u8* buffer, u64 sectorCount) {
    if (!isClusterValid(firstCluster)) {
        logAt("NTFSDrive", 44) << '\n';
        return false;
    }
    const u64 spc = params_.sectorsPerCluster;
    if (sectorCount == 0)
        sectorCount = spc;
    // A damaged run may claim clusters up to the end of any disk: whatever lies
    // after the volume belongs to something else.
    const u64 sectorsLeft = (clusterCount_ - firstCluster) * spc;
    if (sectorCount > sectorsLeft) {
        logAt("NTFSDrive", 50) << ": cluster " << firstCluster << " sectors " << sectorCount
                               << " pass the volume's " << clusterCount_ << " clusters\n";
        return false;
    }
    // Drive::readSectors polls before it reads.
    return readSectors(getClusterLBA(firstCluster), sectorCount, buffer);
}
