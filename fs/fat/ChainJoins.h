#pragma once

// Where a live file's chain runs into clusters that are not its own alone. A
// cluster that a live entry starts at is that entry's; a cluster that two FAT
// entries link to is where two chains merge, and which of the two links is
// wrong cannot be told. A chain that reaches either by a link has run into
// another file's clusters: what it reads from there on may be that file's data.
// The entry whose own first cluster another chain runs into is not spoiled by
// that link. A cluster that two live entries start at is neither's alone: each
// of them may hold the other's data.
//
// The map notes the first clusters as it reads the tree's folders, all of them
// before it checks a chain or reads a file. The links are counted in one pass
// over the FAT, while the tree is built (with its progress and cancel), or the
// first time a join is asked for. One bit per cluster is kept for each (and
// one more while counting), never a map: FAT32 volumes have millions.

#include "core/Progress.h"
#include "core/Types.h"
#include "fs/Bitmap.h"
#include "fs/fat/FatsReader.h"

#include <memory>
#include <unordered_set>
#include <vector>

class ChainJoins {
public:
    // The reader must outlive this. progress (may be null) is polled during the
    // passes over the FAT, so that a cancel ends them.
    ChainJoins(FatsReader* fats, UsesInterfaceCallback* progress);

    // A live entry starts at the cluster (one that is not valid is passed over).
    void noteStart(u32 cluster);
    // A live folder's entry starts there.
    void noteFolder(u32 cluster);
    // A live file of `size` bytes starts there.
    void noteFile(u32 cluster, u32 size);
    struct File {
        u32 first;
        u32 size;
    };
    const std::vector<File>& files() const { return files_; }
    // Whether a chain that reaches the cluster by a link runs into another
    // file's clusters there.
    bool isJoin(u32 cluster);
    // Whether more than one live entry starts at the cluster.
    bool isSharedStart(u32 cluster) const { return sharedStarts_.count(cluster) != 0; }
    // Whether a live folder's entry, and no other live entry, starts there:
    // the cluster is that folder's first.
    bool isFolderStart(u32 cluster) const;
    // Counts the links now, if that was not done.
    void countLinks();

private:
    void poll(u64 step);

    FatsReader* fats_;
    UsesInterfaceCallback* progress_;
    Bitmap starts_;
    Bitmap folderStarts_;
    std::vector<File> files_;
    std::unordered_set<u32> sharedStarts_;
    // Clusters that two or more FAT entries link to; null until counted.
    std::unique_ptr<Bitmap> linkedTwice_;
};
