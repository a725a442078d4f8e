#include "fs/fat/ChainJoins.h"

namespace {

// The passes over the FAT poll once per this many clusters.
constexpr u32 POLL_CLUSTERS = 1u << 16;

} // namespace

ChainJoins::ChainJoins(FatsReader* fats, UsesInterfaceCallback* progress)
    : fats_(fats), progress_(progress), starts_(fats->getEntryLimit()),
      folderStarts_(fats->getEntryLimit()) {}

void ChainJoins::poll(u64 step) {
    if (progress_ && step % POLL_CLUSTERS == 0)
        progress_->poll();
}

void ChainJoins::noteStart(u32 cluster) {
    if (!fats_->isValidCluster(cluster))
        return;
    if (starts_.set(cluster, true))
        sharedStarts_.insert(cluster);
}

void ChainJoins::noteFolder(u32 cluster) {
    noteStart(cluster);
    if (fats_->isValidCluster(cluster))
        folderStarts_.set(cluster, true);
}

bool ChainJoins::isFolderStart(u32 cluster) const {
    return fats_->isValidCluster(cluster) && folderStarts_.test(cluster) && !isSharedStart(cluster);
}

void ChainJoins::noteFile(u32 cluster, u32 size) {
    noteStart(cluster);
    if (fats_->isValidCluster(cluster) && size != 0)
        files_.push_back(File{cluster, size});
}

bool ChainJoins::isJoin(u32 cluster) {
    if (!fats_->isValidCluster(cluster))
        return false;
    if (starts_.test(cluster))
        return true;
    countLinks();
    return linkedTwice_->test(cluster);
}

void ChainJoins::countLinks() {
    if (linkedTwice_)
        return;
    poll(0);
    const u32 limit = fats_->getEntryLimit();
    Bitmap linkedOnce(limit);
    auto linkedTwice = std::make_unique<Bitmap>(limit);
    fats_->forEachEntry([&](u32 cluster, u32 entry) {
        poll(cluster);
        if (fats_->getClusterType(entry) == NEXT_CLUSTER && fats_->isValidCluster(entry) &&
            linkedOnce.set(entry, true))
            linkedTwice->set(entry, true);
    });
    // Kept only once whole: a cancel during the pass leaves it to be counted again.
    linkedTwice_ = std::move(linkedTwice);
}
