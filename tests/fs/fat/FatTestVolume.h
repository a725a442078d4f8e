#pragma once

// FAT volumes for the engine's tests: an image made by the real tools (or bytes
// in memory) opened as the program opens a source, its parameters formed from
// its boot sector, the tree built as the program builds it, and the helpers that
// damage a FAT, list a tree and recover it.

#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/fat/FATMapImpl.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/TreeListing.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fattest {

// A source with one FAT volume on it, and what a scan would hand the engine.
struct Volume {
    SharedPtr<Driver> driver;
    FAT_FS_PARAMS params;
    UnreadableSectors unreadable;
    FoundList<FoundDirectoryRun> runs;
    // Set when the volume reads through a FailingReader.
    testutil::FailingReader* failing = nullptr;
};

// The image's volume at volumeLba; bad sectors (LBAs of the image) fail to read.
// Throws when the boot sector gives no valid volume.
std::unique_ptr<Volume> openVolume(const std::string& path, u32 volumeLba,
                                   const std::vector<u64>& badSectors = {});
std::unique_ptr<Volume> openVolume(const testutil::FatImage& image,
                                   const std::vector<u64>& badSectors = {});
// The same over bytes in memory.
std::unique_ptr<Volume> openMemoryVolume(const std::string& bytes, u32 volumeLba);

// The tree as the program builds it: the FAT analysis when asked, then the map,
// finishTree, the found-files pass and finishTree again.
std::unique_ptr<tree::FATMapImpl> buildTree(Volume& volume, bool analyzeFats = false);

using testutil::listTree;
using testutil::recoverAll;

// Bytes that differ from one file to the next: `size` bytes seeded by `seed`.
std::string patternData(u64 size, u32 seed);

// The FAT entry of a cluster, written into both FATs of the image (or only the
// first), and read from the first.
void setFatEntry(const std::string& path, const FAT_FS_PARAMS& params, u32 cluster, u32 value,
                 bool bothFats = true);
u32 getFatEntryOf(const std::string& path, const FAT_FS_PARAMS& params, u32 cluster);
// The byte offset of a cluster in the image.
u64 clusterOffset(const FAT_FS_PARAMS& params, u32 cluster);

// The directory entry (32 bytes at its offset) of `name` (the 8.3 name as stored,
// 11 bytes) in the directory whose first cluster is given (0: the FAT12/16
// root), searched in its first cluster; throws when absent.
u64 findEntryOffset(const std::string& path, const FAT_FS_PARAMS& params, u32 dirCluster,
                    const std::string& name11);
// The first cluster an entry names.
u32 entryCluster(const std::string& path, u64 entryOffset);
// Both at once: the first cluster of `name11` in that directory.
u32 entryClusterIn(const std::string& path, const FAT_FS_PARAMS& params, u32 dirCluster,
                   const std::string& name11);

// A small FAT volume built in memory, for cases that need entries and chains no
// tool writes: one reserved sector, two FATs, the fixed root (FAT12/16) and the
// clusters. FAT12 takes 4 FAT sectors, FAT16 16, FAT32 512.
class SyntheticVolume {
public:
    SyntheticVolume(FatType type, u32 clusters, u32 sectorsPerCluster = 1, u32 rootSectors = 1);

    const FAT_FS_PARAMS& params() const { return params_; }
    std::string& bytes() { return bytes_; }
    // A driver over a copy of the bytes as they are now.
    SharedPtr<Driver> driver() const;
    // The same through a FailingReader (returned in `failing`, owned by the
    // driver) that records every read and fails those touching a bad sector.
    SharedPtr<Driver> watchedDriver(const std::vector<u64>& badSectors,
                                    testutil::FailingReader*& failing) const;

    // Both FATs, or the first only.
    void setEntry(u32 cluster, u32 value, bool bothFats = true);
    void setChain(const std::vector<u32>& clusters);
    // Entry i of the directory data at cluster c (0: the fixed root); the index may
    // run past the first cluster into those that follow on the disk.
    void putEntry(u32 cluster, u64 index, const std::string& entry);
    u64 clusterOffset(u32 cluster) const;

private:
    FAT_FS_PARAMS params_;
    std::string bytes_;
};

// A 32-byte short entry: an 11-byte name as stored, attributes, first cluster,
// size, and the write date and time in their stored form (2020-01-02 03:04:06 by
// default).
std::string shortEntry(const std::string& name11, u8 attributes, u32 cluster, u32 size,
                       u16 date = 0x5022, u16 time = 0x1883);
// A long-name entry: order byte, checksum, and up to 13 UTF-16 units (padded with
// 0 and then 0xFFFF as systems write them).
std::string lfnEntry(u8 order, u8 checksum, const std::vector<u16>& units);
// The UTF-16 units of an ASCII text.
std::vector<u16> asciiUnits(const std::string& text);

} // namespace fattest
