#pragma once

// A position in the clusters of one file, for reading its data in order. The
// FAT chain is followed while it holds; where it breaks (a free, bad or end
// entry, a link outside the volume, or a link back to a cluster the walk has
// already passed) the walk goes on in the clusters that follow on the disk, as a
// file with a damaged chain is laid out most often. A deleted file has no chain
// left: it is read from its first cluster on in the clusters that follow, passing
// over those the FAT gives to a live file, whose bytes cannot be the deleted
// file's; so that a full volume does not make every deleted file a walk over
// the whole FAT, it passes over no more than SKIP_PER_CLUSTER clusters per
// cluster of the file and SKIP_BASE more. Every walk ends at the volume's last
// cluster. A chain that runs into another file's clusters, that another live
// entry starts as well, or that reaches a cluster the FAT says is free, is
// followed on, as the FAT says, but the walk has strayed.

#include "core/Types.h"
#include "fs/Bitmap.h"
#include "fs/fat/ChainJoins.h"
#include "fs/fat/FatsReader.h"

#include <vector>

class ChainWalker {
public:
    // The reader and the joins must outlive the walker; without joins no chain
    // runs into another.
    explicit ChainWalker(FatsReader* fats, ChainJoins* joins = nullptr);

    static constexpr u64 SKIP_PER_CLUSTER = 16;
    static constexpr u64 SKIP_BASE = 4096;

    // Starts a walk at the file's first cluster (of a deleted file of
    // `fileClusters` clusters when `deleted`): that cluster, or 0 when it is not
    // valid (the walk has ended).
    u32 start(u32 first, bool deleted = false, u64 fileClusters = 0);
    // The next cluster of the file; 0 once the walk has ended.
    u32 next();
    // The cluster at position k of the file starting at `first`, continuing from
    // where the walker stands when it can; 0 when the file has no such cluster.
    u32 seek(u32 first, u32 k, bool deleted = false, u64 fileClusters = 0);
    // Moves on over the clusters that directly follow the current one on the
    // disk, at most `most` - 1 of them: the length of the run that ends where the
    // walker then stands, the current cluster included (0 when ended).
    u32 extendRun(u32 most);

    u32 first() const { return first_; }
    u32 position() const { return position_; }
    u32 current() const { return current_; }
    bool ended() const { return mode_ == ENDED; }
    // The walk read what the FAT does not give the file alone: a live file's
    // clusters past a break in its chain, where its chain runs into another
    // file's or into a free cluster, or a deleted file's first cluster that a
    // live chain holds. Its data from there on is a guess.
    bool strayed() const { return strayed_; }
    // The walk follows the FAT and the FAT links the cluster it stands on to
    // another: the chain goes on past where the walk stopped.
    bool chainGoesOn();

private:
    enum Mode : u32 { FOLLOW_FAT = 0, CONSECUTIVE = 1, FREE_ONLY = 2, ENDED = 3 };

    // The cluster after the current one, the mode it is reached in and the
    // clusters of live files stepped over on the way.
    u32 following(Mode& mode, u64& skipped);
    // The FAT gives the cluster to a file: it links on or ends a chain.
    bool isTaken(u32 cluster);
    // The FAT says the cluster is free: a live chain that reaches it, by its
    // entry or by a link, reads what was freed (zeros, or a deleted file's
    // bytes), not the file's.
    bool isFreed(u32 cluster);
    // Steps to a cluster the walk reached from the one before.
    void moveTo(u32 cluster, Mode mode);
    // Notes a cluster passed while the FAT is followed.
    void mark(u32 cluster, Mode mode);
    void clearMarks();

    FatsReader* fats_;
    ChainJoins* joins_;
    u32 first_ = 0;
    bool deleted_ = false;
    // Clusters of live files a deleted file's walk may still pass over.
    u64 skipBudget_ = 0;
    u32 position_ = 0;
    u32 current_ = 0;
    Mode mode_ = ENDED;
    bool strayed_ = false;
    // The clusters passed while the FAT was followed, so that a chain that comes
    // back on itself is caught at its first repeated cluster.
    Bitmap passed_;
    std::vector<u32> passedList_;
};
