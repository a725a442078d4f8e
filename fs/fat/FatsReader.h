#pragma once

// The FAT entry of any cluster of one FAT volume. Each FAT sector is read from
// the first FAT or from its mirror, as the FAT analysis decided (one bit per FAT
// sector), through a small window: following a chain through neighbouring
// clusters reads each FAT sector (each group of three sectors on FAT12) once.
//
// The FAT on disk does not change while a reader lives, so the window is never
// invalidated.

#include "core/Ownership.h"
#include "core/Types.h"
#include "devices/Driver.h"
#include "fs/Bitmap.h"
#include "fs/FsTypes.h"
#include "fs/Params.h"

#include <functional>
#include <memory>

class FatsReader {
public:
    // Copies params and the mirror marks (one bit per FAT sector; a set bit reads
    // that sector from the mirror). Throws "FatsReader(24)" when the driver's
    // sectors are not 512 bytes or the record is not valid.
    FatsReader(Driver* driver, const FAT_FS_PARAMS& params, const Bitmap& mirrorSectors);
    FatsReader(const FatsReader&) = delete;
    FatsReader& operator=(const FatsReader&) = delete;

    // 2 <= cluster < cluster count + 2.
    bool isValidCluster(u32 cluster) const { return cluster >= 2 && cluster < entryLimit_; }
    u32 getEntryLimit() const { return entryLimit_; }
    // Clusters the FAT as sized numbers, at least the valid ones: on a volume
    // whose end the source lacks, and so sized to what it holds, also those
    // past that end, which directory entries still name.
    bool isTableCluster(u32 cluster) const { return cluster >= 2 && cluster < tableLimit_; }
    u32 getTableLimit() const { return tableLimit_; }
    FatType getFatType() const { return fatType_; }

    // The FAT entry of the cluster; 0 for a cluster that is not valid, for an
    // entry past the FAT's last sector and for one whose sector cannot be read.
    u32 getEntry(u32 cluster);
    // Whether the cluster's entry lies in a FAT sector that no copy of the FAT
    // gives: its 0 from getEntry says nothing, not that the cluster is free.
    bool isUnknown(u32 cluster);
    // The class of an entry value as a chain is followed: a link whenever it
    // names a valid cluster (cluster 2, and clusters numbered as the width's
    // reserved values on a volume that has them), else as the width reads it.
    ClusterType getClusterType(u32 entry) const;
    // count FAT sectors from `first` (an index within the FAT) into buffer, each
    // from the FAT or the mirror; one read per run of sectors from the same copy.
    // A sector of a run that cannot be read is read from the other copy; one
    // that neither gives comes back as zeros and its entries are unknown; false
    // when any did.
    bool readSectors(u64 first, u64 count, u8* buffer);
    // visit(cluster, entry) for each valid cluster in order, with the entry
    // getEntry gives, up to the FAT's last entry: one pass over the whole FAT,
    // read in pieces of many sectors instead of a sector at a time.
    void forEachEntry(const std::function<void(u32, u32)>& visit);

private:
    // The byte after the entry at `index`, from the start of the window, or of
    // the windows read as one, that hold it.
    u64 entryEnd(u32 index) const;
    bool fromMirror(u64 sector) const;
    // One FAT sector from the copy `mirror` says, else from the other; zeros and
    // false, the sector marked unknown, when neither gives it.
    bool readSector(u64 sector, bool mirror, u8* buffer);
    // Makes the window hold `count` sectors from `first`.
    void load(u64 first, u64 count);

    Driver* driver_;
    FAT_FS_PARAMS params_;
    Bitmap mirrorSectors_;
    // The FAT sectors that no copy gives, as far as they were read; made at
    // the first one.
    std::unique_ptr<Bitmap> unknownSectors_;
    u32 entryLimit_;
    u32 tableLimit_;
    FatType fatType_;
    u64 windowStart_ = ~0ull;
    ScopedArray<u8> window_;
    u32 windowBytes_;
};
