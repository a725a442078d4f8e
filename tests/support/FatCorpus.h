#pragma once

// The FAT volumes every FAT test shares: one of each width, made by mkfs.fat
// and filled through mtools, built once per build of a test program and cached
// in the build folder (a fresh build makes them anew), so that a run of many
// test processes builds each volume once.
//
// Each holds folders three deep; long, non-ASCII and 8.3 names and the volume
// label; files of 0, 1, one cluster and several clusters, a file written to an
// odd second; a folder of several clusters; a live file that mtools fragmented
// into the holes of deleted files (on FAT12 across the three-sector windows of
// the FAT); and, deleted at the end so that nothing takes their clusters, a
// long-named file, an 8.3 file, a whole folder, and a file whose clusters lie
// between those of live files. FAT12 is a floppy, FAT16 has 4-sector clusters,
// FAT32 lies behind an MBR at LBA 2048.
//
// The cached image is read only: a test that damages a volume copies it first.

#include "fs/Params.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace testutil {

struct CorpusFile {
    std::string data;
    std::time_t mtime;
};
using CorpusFiles = std::map<std::string, CorpusFile>;

struct FatCorpus {
    int bits = 0;
    FatImageOptions options;
    std::string path;
    FAT_FS_PARAMS params;
    // What must come back, by path as the tree shows it: the live files, and the
    // deleted ones whose clusters nothing took.
    CorpusFiles live;
    CorpusFiles gone;
    // Deleted entries whose clusters later files took: whatever they give back.
    std::set<std::string> reused;

    u32 volumeLba() const { return options.partitionLba; }
    u64 clusterBytes() const { return u64{params.sectorsPerCluster} * IMAGE_SECTOR; }
    CorpusFiles all() const;
    // The image for the tools (mshowfat, minfo): never for writing.
    FatImage image() const { return FatImage(path, options, FatImage::Existing()); }
    // A copy in `dir` to damage; its path.
    std::string copy(const TempDir& dir) const;
};

// bits: 12, 16 or 32.
const FatCorpus& fatCorpus(int bits);

// A 128 MiB FAT32 volume of a sector a cluster (a volume image, no label),
// filled to 68% through mtools, for the roads of a copy cut short: 96 files of
// 950,000 bytes whose entries were made before their data, so that they fill
// the root's first clusters at the volume's front, then 14 small ones copied
// in one go, whose data mtools writes before it grows the root: the root's
// last cluster lies behind all data. Every file has IMAGE_EPOCH as its time.
struct FilledFat32 {
    struct File {
        std::string name; // 8.3: one entry each, in the order they were made
        std::string data;
        std::vector<u32> clusters;
    };
    static constexpr u32 FILES = 110;
    static constexpr u32 FRONT_FILES = 96;
    // The root holds 16 entries a cluster: file i's lies in rootClusters[i / 16].
    static constexpr u32 ENTRIES_PER_CLUSTER = 16;

    std::string path;
    FAT_FS_PARAMS params;
    std::vector<u32> rootClusters;
    std::vector<File> files;
};

const FilledFat32& filledFat32();

// Volumes of a sector a cluster for the shapes of damage, made by mkfs.fat and
// filled through mtools, cached as the corpus is. The tree volumes (FAT12 of
// 2 MiB, FAT16 of 32 MiB, FAT32 of 64 MiB) hold folders SUB and SUB/DEEP made
// first; in the root twelve files of 2 KiB of which every second was deleted,
// then VICTIM.BIN (12 KiB, fragmented over the six holes), OTHER.BIN, TAIL.BIN
// and three small files that take the deleted entries' places; then 200 files
// of about 1.5 KB in the root (300 on FAT32), 120 in SUB and 40 in SUB/DEEP,
// each folder's copied in one go so that mtools grows the folder behind their
// data; and last GONE.BIN, deleted with nothing written over it. Nothing is
// lost on them: every file, GONE.BIN as "#ONE.BIN", comes back whole.
//
// The reuse volume (FAT16 of 32 MiB): OLD0 .. OLD5 of 5,000 bytes, OLD1 and
// OLD3 deleted, then "new one.bin" of 7,000 bytes in their holes: the deleted
// entries "#LD1.BIN" and "#LD3.BIN" stay, their first clusters the new file's.
struct FatShapeVolume {
    FatImageOptions options;
    std::string path;
    FAT_FS_PARAMS params;
    // By path as the tree shows them; deleted ones under their shown name.
    PlacedFiles files;
    // The folders, by path.
    std::vector<std::string> folders;

    FatImage image() const { return FatImage(path, options, FatImage::Existing()); }
    // The byte offset of a cluster's first sector in the image.
    u64 clusterOffset(u32 cluster) const;
    // The byte offset of the 32-byte short entry of an 8.3 name ("VICTIM  BIN")
    // in the image; throws when it is not there once.
    u64 entryOffset(const std::string& name11) const;
};

// Puts files on a shape volume when it has an image (it is being made) and
// notes what must come back; run again without an image, it only notes.
class ShapeRecipe {
public:
    ShapeRecipe(FatShapeVolume& volume, FatImage* image) : volume_(volume), image_(image) {}

    void folder(const std::string& path);
    // Files of these sizes, their contents apart by seed, copied in one go.
    void files(const std::string& folder, const std::vector<std::pair<std::string, u64>>& sizes);
    // Files of these contents, copied in one go.
    void contents(const std::string& folder,
                  const std::vector<std::pair<std::string, std::string>>& files);
    // A root file deleted: it comes back as `shownAs`, or not at all.
    void remove(const std::string& name, const char* shownAs);
    // A folder deleted with its files, which come back below `shownAs`.
    void removeFolder(const std::string& folder, const std::string& shownAs);
    // The long name of a deleted entry made another of its length (ASCII), as a
    // system that reuses a deleted entry's slots for a name may leave it.
    void renameDeleted(const std::string& longName, const std::string& to);
    // Files by path, the folders on their paths made with them.
    void tree(const std::vector<std::pair<std::string, u64>>& sizes);
    void resetFreeClusterHint();
    // Writers without a clock: the 8.3 files' write dates and times are 0, and
    // they come back with whatever time the recovery gives them.
    void clearTimes(const std::string& folder, const std::vector<std::string>& names);
    // The word at byte 20 of an 8.3 file's entry, which FAT12/16 leave to the
    // system (OS/2 keeps an extended-attribute handle there).
    void setHighWord(const std::string& name, u16 value);

private:
    // The byte offset of the entry of the 8.3 name in the image.
    u64 entryOffset(const std::string& name) const;

    FatShapeVolume& volume_;
    FatImage* image_;
    u32 seed_ = 0;
};

// The shape volume `name` (its cached image's suffix), made once per build by
// mkfs.fat with the options and filled by `fill`.
const FatShapeVolume& fatShapeVolume(const std::string& name, const FatImageOptions& options,
                                     const std::function<void(ShapeRecipe&)>& fill);

// bits: 12, 16 or 32.
const FatShapeVolume& fatTreeVolume(int bits);
// FAT32 of 64 MiB: folders a/a/... 1,030 deep, a file at levels 1, 500, 1023,
// 1024, 1025 and 1030.
const FatShapeVolume& fatDeepVolume();
const FatShapeVolume& fatReuseVolume();

// The folder holds exactly these files, and perhaps the ignored ones, with their
// bytes and modification times (a test failure per difference).
void expectRecovered(const std::string& folder, const CorpusFiles& files,
                     const std::set<std::string>& ignored = {});

} // namespace testutil
