#include "fs/fat/ChainJoins.h"

namespace {

// The pass over the FAT polls once per this many clusters.
constexpr u32 POLL_CLUSTERS = 1u << 16;

} // namespace

ChainJoins::ChainJoins(FatsReader* fats, UsesInterfaceCallback* progress)
    : fats_(fats), progress_(progress), starts_(fats->getEntryLimit()) {}

void ChainJoins::noteStart(u32 cluster) {
    if (fats_->isValidCluster(cluster))
        starts_.set(cluster, true);
}

bool ChainJoins::isJoin(u32 cluster) {
    if (!fats_->isValidCluster(cluster))
        return false;
    if (starts_.test(cluster))
        return true;
    if (!linkedTwice_)
        countLinks();
    return linkedTwice_->test(cluster);
}

void ChainJoins::countLinks() {
    const u32 limit = fats_->getEntryLimit();
    Bitmap linkedOnce(limit);
    auto linkedTwice = std::make_unique<Bitmap>(limit);
    fats_->forEachEntry([&](u32 cluster, u32 entry) {
        if (progress_ && cluster % POLL_CLUSTERS == 0)
            progress_->poll();
        if (fats_->getClusterType(entry) == NEXT_CLUSTER && fats_->isValidCluster(entry) &&
            linkedOnce.set(entry, true))
            linkedTwice->set(entry, true);
    });
    // Kept only once whole: a cancel during the pass leaves it to be counted again.
    linkedTwice_ = std::move(linkedTwice);
}
