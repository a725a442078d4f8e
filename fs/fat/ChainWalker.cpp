#include "fs/fat/ChainWalker.h"

#include "core/Checked.h"

ChainWalker::ChainWalker(FatsReader* fats, ChainJoins* joins)
    : fats_(fats), joins_(joins), passed_(fats->getEntryLimit()) {}

void ChainWalker::clearMarks() {
    for (u32 c : passedList_)
        passed_.set(c, false);
    passedList_.clear();
}

void ChainWalker::moveTo(u32 cluster, Mode mode) {
    mode_ = mode;
    current_ = cluster;
    if (mode == CONSECUTIVE)
        strayed_ = true;
    if (mode == FOLLOW_FAT && ((joins_ && joins_->isJoin(cluster)) || isFreed(cluster)))
        strayed_ = true;
    // Whether a deleted file's cluster is free cannot be told where no copy of
    // the FAT gives its entry.
    if (mode == FREE_ONLY && fats_->isUnknown(cluster))
        strayed_ = true;
    mark(cluster, mode);
}

void ChainWalker::mark(u32 cluster, Mode mode) {
    if (mode == FOLLOW_FAT) {
        passed_.set(cluster, true);
        passedList_.push_back(cluster);
    }
}

u32 ChainWalker::start(u32 first, bool deleted, u64 fileClusters) {
    clearMarks();
    first_ = first;
    deleted_ = deleted;
    position_ = 0;
    strayed_ = false;
    skipBudget_ =
        deleted ? saturatingAdd(saturatingMul(fileClusters, SKIP_PER_CLUSTER), SKIP_BASE) : 0;
    if (!fats_->isValidCluster(first)) {
        current_ = 0;
        mode_ = ENDED;
        return 0;
    }
    // The first cluster is the file's own, whatever links to it, unless
    // another live entry starts there too; a deleted file's is its own only
    // while no live chain holds it.
    mode_ = deleted ? FREE_ONLY : FOLLOW_FAT;
    current_ = first;
    mark(first, mode_);
    strayed_ = deleted ? isTaken(first) || fats_->isUnknown(first)
                       : (joins_ && joins_->isSharedStart(first)) || isFreed(first);
    return first;
}

bool ChainWalker::isFreed(u32 cluster) {
    return !fats_->isUnknown(cluster) &&
           fats_->getClusterType(fats_->getEntry(cluster)) == FREE_CLUSTER;
}

bool ChainWalker::isTaken(u32 cluster) {
    const ClusterType type = fats_->getClusterType(fats_->getEntry(cluster));
    return type == NEXT_CLUSTER || type == EOF_CLUSTER;
}

bool ChainWalker::chainGoesOn() {
    return mode_ == FOLLOW_FAT && fats_->getClusterType(fats_->getEntry(current_)) == NEXT_CLUSTER;
}

u32 ChainWalker::following(Mode& mode, u64& skipped) {
    mode = mode_;
    skipped = 0;
    if (mode == FOLLOW_FAT) {
        const u32 entry = fats_->getEntry(current_);
        if (fats_->getClusterType(entry) == NEXT_CLUSTER && fats_->isValidCluster(entry) &&
            !passed_.test(entry))
            return entry;
        mode = CONSECUTIVE;
    }
    if (mode == ENDED)
        return 0;
    // Valid clusters lie below 2^28, so none of these can wrap.
    u32 cluster = current_ + 1;
    while (mode == FREE_ONLY && fats_->isValidCluster(cluster) && isTaken(cluster)) {
        if (++skipped > skipBudget_)
            break;
        ++cluster;
    }
    if (skipped > skipBudget_) {
        mode = ENDED;
        return 0;
    }
    if (fats_->isValidCluster(cluster))
        return cluster;
    mode = ENDED;
    return 0;
}

u32 ChainWalker::next() {
    if (mode_ == ENDED)
        return 0;
    Mode mode;
    u64 skipped = 0;
    const u32 cluster = following(mode, skipped);
    if (cluster == 0) {
        mode_ = ENDED;
        current_ = 0;
        return 0;
    }
    skipBudget_ -= skipped;
    ++position_;
    moveTo(cluster, mode);
    return cluster;
}

u32 ChainWalker::seek(u32 first, u32 k, bool deleted, u64 fileClusters) {
    if (first != first_ || deleted != deleted_ || k < position_ ||
        (mode_ == ENDED && position_ == 0)) {
        if (start(first, deleted, fileClusters) == 0)
            return 0;
    }
    while (position_ < k) {
        if (next() == 0)
            return 0;
    }
    return current_;
}

u32 ChainWalker::extendRun(u32 most) {
    if (mode_ == ENDED)
        return 0;
    u32 length = 1;
    while (length < most) {
        // A run has no clusters stepped over: nothing is taken from the budget.
        Mode mode;
        u64 skipped = 0;
        const u32 cluster = following(mode, skipped);
        if (cluster != current_ + 1)
            break;
        ++position_;
        moveTo(cluster, mode);
        ++length;
    }
    return length;
}
