#pragma once

// One place on the drive where a FAT or NTFS volume may start, with every piece
// of evidence the scan found for it; the same record is an element of the
// rebuilt drive layout, where it may also stand for a partition-table sector.
// A plain value, copied freely. Collections of it stay ordered by startLBA.
//
// All LBAs are absolute and 32-bit unless marked; a field is meaningful only
// under its presence flag (the fields whose names begin with "has").

#include "core/Types.h"
#include "fs/FsTypes.h"
#include "fs/Params.h"

#include <array>

// One entry of a partition table that the layout writes (type 0: a free slot).
struct FsCandidateEntry {
    u8 type = 0;
    u32 startLBA = 0;
    u32 sectors = 0;
};

struct FsCandidate {
    // First sector of the volume: the LBA of its boot sector.
    u32 startLBA = 0;

    // A partition-table entry points here.
    bool hasPartitionEntry = false;
    u8 partitionType = 0;
    u32 partitionSectors = 0;
    u32 partitionTableLBA = 0;
    u32 partitionEntryIndex = 0;

    // The primary boot sector was found at startLBA.
    bool hasBootSector = false;
    BootParams bootSector;
    // A backup boot sector of this volume was found at bootBackupLBA.
    bool hasBootBackup = false;
    BootParams bootBackup;
    u32 bootBackupLBA = 0;

    // A FAT position was settled.
    bool hasFats = false;
    FatType fatType = FAT_NONE;
    u32 fatLBA = 0;
    u32 fatSectors = 0;
    // The scan found a FAT sector exactly at fatLBA, and at fatLBA + fatSectors.
    bool fatFound = false;
    bool fatMirrorFound = false;

    // A root directory was placed.
    bool hasRootDir = false;
    u32 rootDirLBA = 0;
    // Highest start cluster named by its entries.
    u32 rootLastCluster = 0;

    // The cluster grid was derived from subdirectories.
    bool hasSubDirs = false;
    u32 sectorsPerCluster = 0;
    // LBA of cluster 2, the start of the data area.
    u32 cluster2LBA = 0;
    // Highest cluster named by any entry of the subdirectories.
    u32 lastCluster = 0;
    // Highest cluster that holds a subdirectory itself.
    u32 maxThisCluster = 0;
    // How many subdirectory pairs agreed on this grid.
    u32 subDirCount = 0;

    // An NTFS volume was placed from MFT records or an NTFS boot sector.
    bool hasNtfsVolume = false;
    u64 mftLBA = 0;
    u64 mftMirrLBA = 0;
    u32 ntfsSectorsPerCluster = 0;
    u32 sectorsPerFileRecord = 0;
    // Byte size of the volume's $Bitmap.
    u64 bitmapSize = 0;

    // Smallest and largest volume size that the evidence allows.
    u32 minSectors = 0;
    u32 maxSectors = 0;

    // Chosen to take part in the layout.
    bool selected = false;
    // An element of the rebuilt layout.
    bool valid = false;
    // The element is a partition-table sector, not a file system.
    bool isPartitionTable = false;
    // Partition-table elements only: the entries to be written.
    std::array<FsCandidateEntry, 4> entries{};
    // Size given to the element in the layout.
    u32 layoutSectors = 0;
    // LBA of the table whose entry describes this element.
    u32 parentTableLBA = 0;
    // Partition-table elements only: start of the extended partition holding the
    // table, 0 when there is none.
    u32 extendedBaseLBA = 0;

    // What the layout repair did: 0 not rebuilt, 1 the sector was changed, 2 it
    // was already right; each with the LBA of that sector.
    u32 tableStatus = 0;
    u32 tableStatusLBA = 0;
    u32 bootStatus = 0;
    u32 bootLBA = 0;
    u32 backupStatus = 0;
    u32 backupLBA = 0;

    // The partition-type byte that fits the candidate: an entry's own type when
    // it has one (but 0x06, which the evidence refines), else FAT12 0x01, FAT16
    // 0x04, FAT32 0x0B or NTFS 0x07 from its boot sectors, its FATs or its NTFS
    // volume; hidden NTFS types become 0x07; 0 when nothing tells.
    u8 fscode() const;

    // Ordered by start alone.
    bool operator<(const FsCandidate& o) const { return startLBA < o.startLBA; }
};

// The file system of a partition type: 0x01 FAT12; 0x04 and 0x06 FAT16; 0x0B and
// 0x0C FAT32; 0x07, 0x17, 0x86 and 0x87 NTFS (FAT type 0); anything else 0 and 0.
void partitionTypeToFs(u8 type, FsKind& kind, FatType& fatType);
