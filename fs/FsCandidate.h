#pragma once

// One place on the drive where a FAT or NTFS volume may start, with every piece
// of evidence the scan found for it; the same record is an element of the
// rebuilt drive layout, where it may also stand for a partition-table sector.
// A plain value, copied freely. Collections of it stay ordered by startLBA.
//
// All LBAs are absolute and 32-bit unless marked; a field is meaningful only
// under its presence flag (the fields whose names begin with "has").

#include "core/Progress.h"
#include "core/Types.h"
#include "fs/FatLayout.h"
#include "fs/FsTypes.h"
#include "fs/Params.h"
#include "fs/ScanResults.h"

#include <array>
#include <vector>

class Driver;

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
    // The FATs of the volume: as many as its boot sector states, else two.
    u32 fatCount = FAT_COPIES;
    // The scan found a FAT sector exactly at fatLBA, and at fatMirrorLBA().
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

    // The cluster size (512-byte sectors) that places the folders of the
    // fixed root, where the found boot sector's places none of them; 0 when
    // the boot sector's places them or the candidate is in no layout. The boot
    // sector made for the volume states it, and so the tree, the recovery and
    // the structure view read the volume alike.
    u32 folderClusterSize = 0;

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
    // it has one (but 0x06, which the evidence refines, and a FAT type of
    // another width than the volume's own FAT), else FAT12 0x01, FAT16 0x04,
    // FAT32 0x0B or NTFS 0x07 from its boot sectors, its FATs or its NTFS
    // volume; hidden NTFS types become 0x07; 0 when nothing tells.
    u8 fscode() const;
    // The width the volume's own FAT states: its boot sector's (else its
    // backup's), else where its FATs were placed; FAT_NONE when neither says.
    FatType ownFatWidth() const;
    // The second FAT, fatSectors behind the first; on a volume of one FAT the
    // first itself, its own mirror.
    u64 fatMirrorLBA() const { return fatCount > 1 ? u64{fatLBA} + fatSectors : u64{fatLBA}; }

    // Ordered by start alone.
    bool operator<(const FsCandidate& o) const { return startLBA < o.startLBA; }
};

// The FS collection, its filtered copies and the drive layout: always ordered by
// startLBA (but for starts that the FAT placement moved in place).
using FsCandidateList = std::vector<FsCandidate>;

// Puts `candidate` after the last candidate whose start is lower or equal (at the
// front when there is none), so that candidates of one start keep the order in
// which they came. Returns the inserted record.
FsCandidate& insertCandidate(FsCandidateList& list, const FsCandidate& candidate);
// The same for many, as if inserted one after the other in their order, in
// O((n + m) log(n + m)) rather than one shift of the whole list per insertion.
void insertCandidates(FsCandidateList& list, const FsCandidateList& added);

// The file system of a partition type: 0x01 FAT12; 0x04, 0x06 and 0x0E FAT16;
// 0x0B and 0x0C FAT32; each hidden one (0x10 more) as the type it hides; 0x07,
// 0x17, 0x86 and 0x87 NTFS (FAT type 0); anything else 0 and 0.
void partitionTypeToFs(u8 type, FsKind& kind, FatType& fatType);
// Whether the type names a FAT partition, of whatever width.
bool isFatPartitionType(u8 type);

// Whether a partition of that type may hold such a volume: FAT12 in 0x01, 0x06
// or 0x0E; FAT16 in 0x04, 0x06 or 0x0E; FAT32 in 0x0B or 0x0C; FAT16_32 (a FAT
// that could be either) in any of the FAT16 and FAT32 ones; hidden FAT types
// as the types they hide; NTFS, whatever the FAT type, in 0x07, 0x17, 0x86 or
// 0x87.
bool isPartitionTypeCompatible(u8 type, FsKind kind, FatType fatType);

// What the evidence says the candidate is: FAT when its partition type, a boot
// sector, its FATs, root directory or cluster grid say so; otherwise NTFS when
// its partition type, a boot sector or its MFT say so; otherwise FS_NONE. FAT
// evidence wins: NTFS leaves none of those FAT traces.
FsKind candidateFsKind(const FsCandidate& candidate);

// Selected, and no partition table: a file system the layout offers.
bool isSelectedFileSystem(const FsCandidate& candidate);
// The index-th (from 0) candidate that is selected and is no partition table,
// in list order; null when there are fewer. A walk from the front: to visit
// them all, walk the list once with isSelectedFileSystem.
FsCandidate* getSelectedFileSystem(FsCandidateList& list, u32 index);
const FsCandidate* getSelectedFileSystem(const FsCandidateList& list, u32 index);

// The narrowest FAT width that numbers the clusters up to `maxThisCluster`:
// FAT12 up to 4085 clusters, FAT16 below 65526, FAT32 above.
FatType neededFatType(u32 maxThisCluster);

// Whether a cluster grid found from subdirectories (a candidate with
// sectorsPerCluster, cluster2LBA and maxThisCluster) fits the partition entry of
// `partition` of a FAT type: the data area starts far enough behind the
// partition start for boot sector and FATs (but no more than a FAT32 pair of
// the largest size), the clusters reach no further than the partition, and a
// FAT that fits between partition start and data area can describe the rest of
// the partition, at any width that numbers the grid's clusters, whatever
// width the entry's type says (a partition formatted anew keeps its type).
class FatVolumeFitsPartition {
public:
    explicit FatVolumeFitsPartition(const FsCandidate& partition);
    bool operator()(const FsCandidate& volume) const;

private:
    u32 start_;
    u32 sectors_;
    u8 type_;
};

// Whether the same kind of grid matches the primary (or the backup) FAT boot
// sector of `candidate`: its FAT is wide enough for the grid and its data area
// starts at the grid's cluster 2.
class FatVolumeFitsBootSector {
public:
    FatVolumeFitsBootSector(const FsCandidate& candidate, bool backup);
    bool operator()(const FsCandidate& volume) const;

private:
    u32 start_;
    BootParams boot_;
};

// Whether the source keeps its volume in sector 0 with no partition table
// around it: a floppy ("IS_FLOPPY") or a source without partition tables
// ("USES_PARTITION_TABLES" 0: a partition, a volume image).
bool volumeAtSectorZero(const Driver& driver);

// Whether a partition may start at the sector: on a track (the old alignment)
// or on a MiB.
bool startsLikeAPartition(u64 lba);

// What the candidate collection works from: the first five lists of one scan's
// results, the source, and how far past the source's reported end a volume may
// reach (drives report fewer sectors than the partitions on them were made for).
// The progress callback is polled between the collection's phases.
class CreateFSCollectionParameters : public UsesInterfaceCallback {
public:
    CreateFSCollectionParameters(const ScanResults& results, Driver& driver, u32 slackSectors);

    // The source's sector count plus the slack: no volume found may end behind it.
    u64 lastLBA() const;
    // Four cylinders of the source's geometry ("HEADS", default 255, x
    // "SECTORS", default 63): 64260 sectors by default. Saturates at 2^32 - 1
    // rather than wrapping around to a small slack for an absurd geometry.
    static u32 defaultSlackSectors(const Driver& driver);

    const FoundList<FoundPartitionTable>* partitionTables;
    const FoundList<FoundBootSector>* bootSectors;
    const FoundList<FoundFatSector>* fatSectors;
    const FoundList<FoundDirectoryRun>* directoryRuns;
    const FoundList<FoundNtfsSystemRecord>* ntfsSystemRecords;
    Driver* driver;
    u32 slackSectors;
};
