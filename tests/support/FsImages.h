#pragma once

// FAT and NTFS images made by the real tools inside a test: mkfs.fat and mtools
// for FAT, mkntfs and ntfs-3g's tools for NTFS. An image is either the volume
// alone or a disk with an MBR and the volume as one partition at a chosen LBA.
// Files, folders and deletions go in through the tools; damage goes in through
// writeAt at named offsets. Every tool failure throws std::runtime_error with the
// command and what it printed, so a broken setup never passes as an empty test.
//
// The tools run with SOURCE_DATE_EPOCH (a fixed volume date), in UTC (FAT keeps
// local times: tests that read them back set TZ=UTC too) and with
// MTOOLS_SKIP_CHECK=1.

#include "core/Ownership.h"
#include "core/Types.h"
#include "devices/Driver.h"
#include "tests/support/FailingReader.h"

#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace testutil {

constexpr u32 IMAGE_SECTOR = 512;
// The time the tools stamp what they make, and the default time of added files.
constexpr std::time_t IMAGE_EPOCH = 1600000000; // 2020-09-13 12:26:40 UTC
constexpr u32 IMAGE_VOLUME_ID = 0x1234abcd;

// One primary partition of an MBR.
struct PartitionSpec {
    u32 startLba = 0;
    u32 sectors = 0;
    u8 type = 0;
    bool bootable = false;
};

// A 512-byte MBR with these partitions (at most four) in slots 0.., CHS fields
// from 255 heads and 63 sectors per track, and the signature.
std::string makeMbr(const std::vector<PartitionSpec>& partitions);

// A reader of an image file (throws when it cannot be opened), and a Driver of
// 512-byte sectors over it with the properties a chosen source carries.
SharedPtr<dt::Reader> openImageReader(const std::string& path);
SharedPtr<Driver> openImageDriver(const std::string& path);

// Reads or overwrites bytes of a file in place (the damage helper).
std::string readAt(const std::string& path, u64 offset, u64 size);
void writeAt(const std::string& path, u64 offset, const std::string& bytes);

struct FatImageOptions {
    // The volume's size in KiB (1440: a 3.5" floppy).
    u32 sizeKiB = 1440;
    // 12, 16 or 32; 0 lets mkfs.fat choose by size.
    int fatBits = 0;
    // 0: mkfs.fat's choice.
    u32 sectorsPerCluster = 0;
    // Root entries (FAT12/16), FAT copies and bytes per logical sector; 0:
    // mkfs.fat's choice.
    u32 rootEntries = 0;
    u32 fats = 0;
    u32 sectorBytes = 0;
    // Reserved sectors before the first FAT; 0: mkfs.fat's choice.
    u32 reservedSectors = 0;
    // The data area where the FATs and root end, not aligned to a cluster.
    bool unaligned = false;
    // 0: the image is the volume alone. Otherwise a disk with an MBR whose one
    // partition, of the type of the FAT width, starts at this LBA and holds the
    // volume; its boot sector counts that LBA in its hidden sectors, or none
    // (as mkfs.fat --offset alone leaves them).
    u32 partitionLba = 0;
    bool hiddenSectors = true;
    std::string label;
};

class FatImage {
public:
    // Creates the image at `path` (replacing a file there).
    FatImage(const std::string& path, const FatImageOptions& options);
    // An image made before with these options, as it stands (for reading: files
    // are added through a scratch folder the other constructor makes).
    struct Existing {};
    FatImage(const std::string& path, const FatImageOptions& options, Existing);

    const std::string& path() const { return path_; }
    // The volume's first sector on the image, and its byte offset.
    u32 volumeLba() const { return options_.partitionLba; }
    u64 volumeOffset() const { return static_cast<u64>(options_.partitionLba) * IMAGE_SECTOR; }
    u64 volumeSectors() const { return static_cast<u64>(options_.sizeKiB) * 2; }
    // The volume's boot sector, 512 bytes.
    std::string bootSector() const;

    // Folders and files by path inside the volume, '/' separated, no leading
    // '/'. A file gets the content and modification time given; missing parent
    // folders are not made.
    void makeFolder(const std::string& folder);
    void addFile(const std::string& file, const std::string& content,
                 std::time_t mtime = IMAGE_EPOCH);
    // Files into the root folder in one mcopy (names without '/', an existing
    // one overwritten in its entry). mtools writes their data first and grows
    // the root after it, so that its new clusters lie behind their data.
    void addRootFiles(const std::vector<std::pair<std::string, std::string>>& files,
                      std::time_t mtime = IMAGE_EPOCH);
    // As addRootFiles, into a folder that exists ("" for the root).
    void addFiles(const std::string& folder,
                  const std::vector<std::pair<std::string, std::string>>& files,
                  std::time_t mtime = IMAGE_EPOCH);
    // Files by path with the folders they lie in, made with them in one mcopy
    // of a host tree (folders one at a time cost a walk down their path each).
    void addTree(const std::vector<std::pair<std::string, std::string>>& files,
                 std::time_t mtime = IMAGE_EPOCH);
    // mdel and mdeltree.
    void deleteFile(const std::string& file);
    void deleteTree(const std::string& folder);
    // Makes the next file go into the first free clusters, as mtools does on
    // FAT12/16 anyway (FAT32 keeps where the last search stopped): a file
    // written after deletions then fills their holes and is fragmented.
    void resetFreeClusterHint();
    // The clusters of a file or folder, from mshowfat.
    std::vector<u32> clustersOf(const std::string& path) const;

private:
    // Runs an mtools command with "-i image" added: tool "mdir", args after it.
    std::string mtools(const std::string& tool, const std::string& args) const;
    std::string target() const;

    std::string path_;
    FatImageOptions options_;
    std::string scratch_;
};

struct NtfsImageOptions {
    // The volume's size in MiB.
    u32 sizeMiB = 16;
    u32 clusterBytes = 4096;
    // As for FAT: 0 for the volume alone, else the partition's LBA behind an MBR.
    u32 partitionLba = 0;
};

class NtfsImage {
public:
    NtfsImage(const std::string& path, const NtfsImageOptions& options);

    // The image with every change so far (a partitioned image is put together
    // from the volume when it is asked for).
    const std::string& path();
    const std::string& volumePath() const { return volume_; }
    u32 volumeLba() const { return options_.partitionLba; }
    u64 volumeOffset() const { return static_cast<u64>(options_.partitionLba) * IMAGE_SECTOR; }
    u64 volumeSectors() const { return static_cast<u64>(options_.sizeMiB) * 2048; }
    std::string bootSector() const;

private:
    std::string path_;
    std::string volume_;
    NtfsImageOptions options_;
    bool dirty_ = true;
};

} // namespace testutil
