#pragma once

// FAT volumes for the engine's tests: a volume of an image file opened as the
// program opens a source, its tree built as the program builds it, and small
// volumes built in memory for entries and chains that no tool writes.

#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/fat/FATMapImpl.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FatBytes.h"
#include "tests/support/TreeListing.h"

#include <memory>
#include <string>
#include <vector>

namespace testutil {

// A source with one FAT volume on it, and what a scan would hand the engine.
struct Volume {
    SharedPtr<Driver> driver;
    FAT_FS_PARAMS params;
    UnreadableSectors unreadable;
    FoundList<FoundDirectoryRun> runs;
    // Sees every read; fails those touching a bad sector.
    FailingReader* failing = nullptr;
};

// The volume at volumeLba of an image file; bad sectors are LBAs of the image.
// Throws when the boot sector gives no valid volume.
std::unique_ptr<Volume> openVolume(const std::string& path, u32 volumeLba,
                                   const std::vector<u64>& badSectors = {});

// The tree as the program builds it: the FAT analysis when asked, then the map,
// finishTree, the found-files pass and finishTree again.
std::unique_ptr<tree::FATMapImpl> buildTree(Volume& volume, bool analyzeFats = false);

// A small FAT volume in memory: one reserved sector, two FATs (FAT12 4 sectors,
// FAT16 16, FAT32 512), the fixed root of FAT12/16, then the clusters.
class SyntheticVolume {
public:
    SyntheticVolume(FatType type, u32 clusters, u32 sectorsPerCluster = 1, u32 rootSectors = 1);

    const FAT_FS_PARAMS& params() const { return params_; }
    std::string& bytes() { return bytes_; }
    // A driver over a copy of the bytes as they are now, seeing every read and
    // failing those touching a bad sector (`failing`, owned by the driver).
    SharedPtr<Driver> driver(const std::vector<u64>& badSectors = {},
                             FailingReader** failing = nullptr) const;

    // In both FATs, or the first only.
    void setEntry(u32 cluster, u32 value, bool bothFats = true);
    void setChain(const std::vector<u32>& clusters);
    // Entries from index `first` on of the directory data at a cluster (0: the
    // fixed root); they may run past it into the clusters that follow.
    void putEntries(u32 cluster, u64 first, const std::vector<std::string>& entries);

private:
    FAT_FS_PARAMS params_;
    std::string bytes_;
};

} // namespace testutil
