#include "tests/support/VolumeEvidence.h"

namespace testutil {

FsCandidate fatEvidenceOf(const FAT_FS_PARAMS& p, bool grid) {
    FsCandidate c;
    c.startLBA = p.startingLBA;
    c.hasFats = true;
    c.fatType = p.fatType();
    c.fatLBA = p.fatLBA;
    c.fatSectors = p.sectorsPerFAT;
    c.fatFound = c.fatMirrorFound = true;
    c.hasRootDir = true;
    c.rootDirLBA = p.rootEntries != 0 ? p.rootDirectoryLBA
                                      : static_cast<u32>(p.get_cluster_LBA(p.rootCluster));
    if (grid) {
        c.hasSubDirs = true;
        c.sectorsPerCluster = p.sectorsPerCluster;
        c.cluster2LBA = p.dataClusterLBA;
        c.subDirCount = 10;
    }
    c.minSectors = c.maxSectors = p.totalSectors;
    c.selected = true;
    return c;
}

FsCandidate ntfsEvidenceOf(const NTFS_FS_PARAMS& p, u32 sectors) {
    FsCandidate c;
    c.startLBA = p.startingLBA;
    c.hasNtfsVolume = true;
    c.mftLBA = p.clusterLBA(p.mftLCN);
    c.mftMirrLBA = p.clusterLBA(p.mftMirrLCN);
    c.ntfsSectorsPerCluster = static_cast<u32>(p.sectorsPerCluster);
    c.sectorsPerFileRecord = static_cast<u32>(p.sectorsPerFileRecord);
    c.minSectors = c.maxSectors = sectors;
    c.selected = true;
    return c;
}

} // namespace testutil
