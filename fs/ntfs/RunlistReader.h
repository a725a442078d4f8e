#pragma once

// Reads any range of sectors of a non-resident attribute through its run list.
// Positions are sectors counted from the attribute's first byte (sector 0 is the
// first sector of VCN 0). Sparse runs read as zeros without touching the volume,
// plain runs are read from it, and a 16-cluster compression unit is read whole,
// decompressed (LZNT1) and kept in a one-unit cache, so that reads inside it are
// served from memory. Bytes from the attribute's initialized size on read as
// zeros, whatever their clusters hold: NTFS never wrote them.
//
// Sequential reads go on from a cursor instead of walking the runs from the
// start; a read before the cursor's run starts the walk again.

#include "core/Ownership.h"
#include "core/Types.h"
#include "fs/ntfs/Runlist.h"

class NTFSDrive;

class RunlistReader {
public:
    static constexpr u64 ALL_INITIALIZED = ~u64{0};
    static constexpr u32 NO_CHAIN = ~u32{0};
    static constexpr u64 NO_UNIT = ~u64{0};

    explicit RunlistReader(NTFSDrive& drive);
    RunlistReader(const RunlistReader&) = delete;
    RunlistReader& operator=(const RunlistReader&) = delete;

    // Copies the runs and resets the cursor and the cache. Refuses (false, one
    // log line, and an empty list on which every read fails) a list that no
    // parser produces: a run of no known kind, compression-unit pieces that do
    // not end in the unit's last piece or store more than 16 clusters, or more
    // sectors or bytes than 63 bits count.
    bool setRunlist(const Runlist& runs, u64 initializedBytes = ALL_INITIALIZED);
    // Cursor to the first run, nothing cached.
    void reset();
    const Runlist& getRunlist() const { return runs_; }
    // Sectors of VCN space the runs cover.
    u64 getSectorCount() const { return totalSectors_; }
    u64 getSectorSize() const { return sectorSize_; }

    // Fills count x sector size bytes of `destination` with the sectors from
    // `sector`. False, with a log line, when a sector lies beyond the runs, a
    // stored run cannot be read (or lies outside the volume) or a compression
    // unit did not decompress as far as the range. A cancel inside the drive's
    // read throws InterruptedException.
    bool read(u64 sector, u64 count, u8* destination);

    // Walks the runs from the cursor given (runIndex 0, runStartVcn 0 and no
    // chain to start from the beginning) to the run holding `vcn`. On success
    // the cursor names that run, and chainStart the first "compressed chain"
    // piece directly before it (NO_CHAIN when there is none). False when vcn
    // lies beyond the list.
    bool findRun(u64 vcn, u64& runStartVcn, u32& runIndex, u32& chainStart) const;

    // The volume LBA of an attribute sector that lies in a plain run; all ones
    // when it lies beyond the list, in a sparse or compressed run, or outside
    // the volume.
    u64 getSectorLBA(u64 sector) const;

private:
    bool readInitialized(u64 sector, u64 count, u8* destination);
    bool serveFromCache(u64& sector, u64& count, u8*& destination);
    void loadUnit(u64 firstSector);
    bool validate(const Runlist& runs) const;

    NTFSDrive* drive_;
    u64 sectorSize_;
    u64 sectorsPerCluster_;
    u64 clusterBytes_;
    Runlist runs_;
    u64 totalSectors_ = 0;
    u64 initializedBytes_ = ALL_INITIALIZED;
    // Cursor.
    u64 runStartVcn_ = 0;
    u32 runIndex_ = 0;
    u32 chainStart_ = NO_CHAIN;
    // One decompressed unit, and the stored clusters it came from.
    u64 unitSectors_;
    u64 unitBytes_;
    ScopedArray<u8> unitCache_;
    ScopedArray<u8> unitStored_;
    u64 cachedUnitStart_ = NO_UNIT;
    u64 cachedUnitSectors_ = 0;
};
