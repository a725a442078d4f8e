#pragma once

// What a boot sector says, and the parameter records of one FAT or NTFS volume
// that the engines work from.
//
// A boot sector is read into a BootParams (sizes and offsets relative to the
// volume, as the sector states them); the scan keeps one per boot sector it
// finds. The absolute records FAT_FS_PARAMS and NTFS_FS_PARAMS are formed from a
// boot sector and the LBA it lies at, for the volume the user chose.
//
// Everything is computed in 64 bits: a boot sector is 512 bytes of whatever the
// disk holds, and a damaged one must not wrap an offset around into a plausible
// LBA. A FAT record is refused when one of its sectors passes LBA 2^32 - 1 (its
// fields are 32-bit) or the end of the source, when its FAT is larger than any
// width needs, or when a FAT32 root cluster is below 2; its cluster count is
// clamped to what the FAT can address. An NTFS record is refused when neither
// the MFT nor its mirror lies in the source. A volume that runs past the end of
// the source (a copy cut short) is kept as long as the source holds at least
// half of it; its sectors past the end are unreadable ones.

#include "core/Types.h"
#include "fs/FsTypes.h"

#include <ostream>

class Driver;
struct FsCandidate;

// A FAT boot sector, relative to the volume start. Every size and offset is in
// 512-byte sectors, whatever sector size the boot sector states: a volume of
// 4096-byte sectors has eight times the numbers its boot sector holds.
struct FatBootParams {
    u32 totalSectors = 0;
    u32 sectorsPerCluster = 0;
    u32 sectorsPerFAT = 0;
    u32 reservedSectors = 0;
    u32 rootEntries = 0;
    // 0 when rootEntries is not 0 (FAT12/16 keep the root outside the clusters).
    u32 rootCluster = 0;
    // Sectors from the boot sector to cluster 2.
    u32 dataLbaOffset = 0;
    // Sectors from the boot sector to the root directory.
    u32 rootDirectoryLbaOffset = 0;
    // The sector size the boot sector states, which places what it counts in
    // the volume's own sectors (the FAT32 backup); 0 where it is not known (a
    // record of a saved scan, which keeps the fields above alone).
    u32 bytesPerSector = 0;

    // The FATs between the reserved sectors and the root (FAT12/16) or the data
    // area (FAT32), as the offsets place them; 0 when they place no whole FAT.
    // Not a field of its own, so that the records a saved scan keeps say it.
    u32 fatCount() const;
    // The clusters the data area holds, to the volume's end: 0 when it holds
    // none or sectorsPerCluster is 0.
    u64 dataClusters() const;
    // fatTypeOfVolume: FAT32 with rootEntries 0, else by dataClusters.
    FatType fatType() const;
};

// An NTFS boot sector.
struct NtfsBootParams {
    u64 totalSectors = 0;
    u8 sectorsPerCluster = 0;
    u64 MFTCluster = 0;
    u64 MFTMirrCluster = 0;
    u8 sectorsPerFileRecord = 0;
};

// One boot sector of either kind; only the part that `kind` names is meaningful.
struct BootParams {
    FsKind kind = FS_NONE;
    FatBootParams fat;
    NtfsBootParams ntfs;
};

// Each reads a 512-byte sector image; false when the sector is no boot sector of
// that kind (the out record is then partly written and meaningless). A FAT boot
// sector may state sectors of 512 to 4096 bytes (its first 512 bytes hold all
// it says) and one to four FATs; an NTFS one, sectors of 512 bytes.
bool readFatBootParams(const u8* sector, FatBootParams& out);
bool readNtfsBootParams(const u8* sector, NtfsBootParams& out);
// FAT first (kind FS_FAT), then NTFS (kind FS_NTFS); on false the kind is left.
bool readBootParams(const u8* sector, BootParams& out);
// Same kind (FAT or NTFS) and the same fields (a FAT's sector size aside, which
// a saved scan does not keep); two kind-0 records differ.
bool equalBootParams(const BootParams& a, const BootParams& b);
// "FAT" or "NTFS" and a line per field; nothing for kind 0.
std::ostream& operator<<(std::ostream& os, const BootParams& p);

// The absolute parameters of one FAT volume, in 512-byte sectors. A volume with
// rootEntries not 0 is FAT12/16 (fixed root directory), with rootEntries 0
// FAT32 (root in a chain); FAT12 and FAT16 differ by the count of clusters
// (fatTypeOfVolume).
struct FAT_FS_PARAMS {
    u32 startingLBA = 0;
    // Sectors of the volume, boot sector included.
    u32 totalSectors = 0;
    u32 sectorsPerCluster = 0;
    u32 fatLBA = 0;
    // The second FAT; fatLBA itself on a volume of one FAT, which has no copy
    // to compare with.
    u32 fatMirrLBA = 0;
    u32 sectorsPerFAT = 0;
    // 0 on FAT32.
    u32 rootEntries = 0;
    // 0 on FAT32.
    u32 rootDirectoryLBA = 0;
    // 0 on FAT12/16.
    u32 rootCluster = 0;
    // The LBA of cluster 2.
    u32 dataClusterLBA = 0;

    bool operator==(const FAT_FS_PARAMS& o) const;
    bool operator!=(const FAT_FS_PARAMS& o) const { return !(*this == o); }

    // Null when the record describes a usable volume, else what is wrong with it.
    const char* invalidReason() const;
    bool isValid() const { return invalidReason() == nullptr; }

    // The width of the FAT, as fatTypeOfVolume tells it from the layout and the
    // clusters of the data area (before the FAT's size caps them).
    FatType fatType() const;
    // One FAT, no copy of it.
    bool hasOneFat() const { return fatMirrLBA == fatLBA; }
    // Clusters of the data area, no more than the FAT has entries for and than
    // its width can number. Throws "FAT_FS_PARAMS(8)" with sectorsPerCluster 0.
    u32 get_cluster_count() const;
    // 2 <= n <= cluster count + 1.
    bool isValidCluster(u32 n) const;
    // dataClusterLBA + sectorsPerCluster x (n - 2). A cluster outside the volume
    // is logged and still answered; below 2 there is no such sector and the
    // answer is all ones.
    u64 get_cluster_LBA(u32 n) const;
    // One past the volume's last sector.
    u64 endLBA() const { return static_cast<u64>(startingLBA) + totalSectors; }
};

// Ten lines "label: value", no newline after the last.
std::ostream& operator<<(std::ostream& os, const FAT_FS_PARAMS& p);

// The absolute parameters of one NTFS volume. Cluster numbers are relative to
// the volume start.
struct NTFS_FS_PARAMS {
    u32 startingLBA = 0;
    u64 totalSectors = 0;
    u64 sectorsPerCluster = 0;
    u64 mftLCN = 0;
    u64 mftMirrLCN = 0;
    u64 sectorsPerFileRecord = 0;

    bool operator==(const NTFS_FS_PARAMS& o) const;
    bool operator!=(const NTFS_FS_PARAMS& o) const { return !(*this == o); }

    const char* invalidReason() const;
    bool isValid() const { return invalidReason() == nullptr; }

    // totalSectors / sectorsPerCluster; throws "NTFS_FS_PARAMS(17)" with
    // sectorsPerCluster 0.
    u64 get_cluster_count() const;
    // startingLBA + lcn x sectorsPerCluster; all ones when that does not fit
    // 64 bits.
    u64 clusterLBA(u64 lcn) const;
};

// Six lines "label: value", no newline after the last.
std::ostream& operator<<(std::ostream& os, const NTFS_FS_PARAMS& p);

// The file system chosen for building a tree; only the record that `kind` names
// is meaningful, and a new one names none.
struct FsParams {
    FAT_FS_PARAMS fat;
    NTFS_FS_PARAMS ntfs;
    FsKind kind = FS_NONE;
};

// Whether a source of `sourceSectors` sectors offers the volume of
// `totalSectors` sectors at `lba`: it holds the whole volume, or (a copy that
// stopped early) at least half of it, whose sectors past the source's end then
// read as unreadable ones do. A volume that claims more than twice what the
// source holds from its start on is damage rather than a cut.
bool sourceHoldsVolume(u64 lba, u64 totalSectors, u64 sourceSectors);

// The record of the boot sector image at `lba` of a source of `sourceSectors`
// sectors. False when the sector is no such boot sector (nothing logged) or the
// record is not valid or the source holds less than half of the volume (one log
// line).
bool fatFsParamsFromBootSector(u32 lba, const u8* sector, FAT_FS_PARAMS& out, u64 sourceSectors);
bool ntfsFsParamsFromBootSector(u32 lba, const u8* sector, NTFS_FS_PARAMS& out, u64 sourceSectors);

// The record of a chosen candidate. FAT: the boot sector that the layout repair
// builds for the candidate. NTFS: the primary boot sector when it was found and
// reads, else the backup when it was found and reads, else the one the layout
// repair builds. False when the candidate is not of that kind or no valid record
// comes of it.
bool form_fat_fs_params(const FsCandidate& candidate, FAT_FS_PARAMS& out, Driver& driver);
bool form_ntfs_fs_params(const FsCandidate& candidate, NTFS_FS_PARAMS& out, Driver& driver);

// The cluster size that a FAT volume of that many sectors gets by default: 1 for
// FAT12, the published size tables for FAT16 and FAT32 (0 where a table has no
// size for the volume), 0 for any other type.
u8 defaultSectorsPerCluster(u32 totalSectors, FatType type);
// The NTFS cluster size in sectors for a volume of that size: 1 up to 255,999
// sectors, 2 up to 499,999, 4 up to 999,999, else 8.
u32 defaultNtfsSectorsPerCluster(u32 totalSectors);
