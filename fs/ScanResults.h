#pragma once

// What a sector scan found, list by list, as the candidate collection and the
// engines read it. Every list is ordered and unique by LBA: adding a find whose
// LBA is already present leaves the list as it was. All LBAs are 32-bit, so the
// scan results describe at most the first 2^32 sectors of a source.

#include "core/Types.h"
#include "devices/UnreadableSectors.h"
#include "fs/FsTypes.h"
#include "fs/Params.h"

#include <array>
#include <set>

// Orders any find by its `lba` and lets a list be searched by a bare LBA.
struct ByLba {
    using is_transparent = void;
    template <typename A, typename B> bool operator()(const A& a, const B& b) const {
        return lbaOf(a) < lbaOf(b);
    }

private:
    static u32 lbaOf(u32 lba) { return lba; }
    template <typename T> static u32 lbaOf(const T& find) { return find.lba; }
};

template <typename T> using FoundList = std::set<T, ByLba>;

// One slot of a found partition table. startLba is absolute (the entry's start
// plus the table's LBA), except for types 0 and 5, kept as the entry stores it;
// type is 0 for a slot that failed the entry test.
struct FoundPartitionEntry {
    u8 type = 0;
    u32 startLba = 0;
    u32 sectorCount = 0;
};

struct FoundPartitionTable {
    u32 lba = 0;
    std::array<FoundPartitionEntry, 4> entries{};
};

struct FoundBootSector {
    u32 lba = 0;
    BootParams params;
};

// The first sector of a FAT, with the width the sector test gave.
struct FoundFatSector {
    u32 lba = 0;
    FatType fatType = FAT_NONE;
};

// A run of consecutive sectors that each look like the start of FAT directory
// data, from its first sector.
struct FoundDirectoryRun {
    u32 lba = 0;
    u32 sectorCount = 0;
    // The first sector begins with "." and ".." (a subdirectory's first cluster).
    bool startsWithDotEntries = false;
    // The last sector's sixteenth slot is in use: the directory may go on.
    bool lastSlotInUse = false;
    // The clusters of the first sector's "." and ".." entries; 0 without them.
    u32 dotCluster = 0;
    u32 dotDotCluster = 0;
    // The highest start cluster of any entry of the run that is no long-name
    // entry.
    u32 highestCluster = 0;
};

// Which system file an NTFS FILE record is, and where its unnamed data lies.
enum NtfsSystemRecord : u32 {
    NTFS_ORDINARY_RECORD = 0,
    NTFS_MFT_RECORD = 1,
    NTFS_MFT_MIRROR_RECORD = 2,
    NTFS_BITMAP_RECORD = 3,
};

struct NtfsSystemRecordInfo {
    u32 which = NTFS_ORDINARY_RECORD;
    // First cluster of the unnamed $DATA; all ones when not found.
    u64 lcn = ~0ull;
    // Size of that $DATA in bytes; all ones when not found.
    u64 size = ~0ull;
};

struct FoundNtfsSystemRecord {
    u32 lba = 0;
    NtfsSystemRecordInfo info;
};

// recordCount consecutive NTFS FILE records of recordSectors sectors each, the
// first at lba.
struct FoundRecordRun {
    u32 lba = 0;
    u16 recordSectors = 0;
    u32 recordCount = 0;

    // One past the run's last sector.
    u64 endLBA() const { return lba + static_cast<u64>(recordSectors) * recordCount; }
};

struct ScanResults {
    FoundList<FoundPartitionTable> partitionTables;
    FoundList<FoundBootSector> bootSectors;
    FoundList<FoundFatSector> fatSectors;
    FoundList<FoundDirectoryRun> directoryRuns;
    FoundList<FoundNtfsSystemRecord> ntfsSystemRecords;
    FoundList<FoundRecordRun> ntfsRecordRuns;
    UnreadableSectors unreadable;

    // Empties the six lists and the unreadable runs (the scan's pending
    // unreadable sectors stay).
    void clear();
};
