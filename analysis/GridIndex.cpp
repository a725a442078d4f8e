#include "analysis/GridIndex.h"

#include <algorithm>
#include <limits>
#include <map>
#include <utility>

namespace {

constexpr u32 NO_MEMBER = std::numeric_limits<u32>::max();
// FatVolumeFitsPartition puts cluster 2 at most this far behind the start.
constexpr u64 MAX_DATA_GAP = 0x400020;

// Clusters from cluster 2 to the highest cluster m, which ends m - 1 clusters
// behind it.
u64 clustersUpTo(u32 highest) {
    return highest == 0 ? 0 : highest - 1;
}

} // namespace

// The grids of one cluster size and one needed FAT width, ordered by cluster 2
// (one grid per cluster 2 here). Over that order lies a merge-sort tree: level
// L cuts it into blocks of 2^L members, each block ordered by where its grids'
// clusters end, with a max tree over every level that answers "the best grid
// among the first k of a block". A range of members and an end limit then take
// one block per level and side.
class GridIndex::Class {
public:
    explicit Class(u32 sectorsPerCluster) : s(sectorsPerCluster) {}

    // Members come in cluster-2 order.
    u32 add(u32 grid, const FsCandidate& g) {
        grids.push_back(grid);
        cluster2.push_back(g.cluster2LBA);
        ends.push_back(g.cluster2LBA + s * clustersUpTo(g.maxThisCluster));
        fewest = std::min(fewest, g.maxThisCluster);
        return static_cast<u32>(grids.size() - 1);
    }

    void build(const std::vector<u64>& keys) {
        const std::size_t n = grids.size();
        std::size_t levels = 1;
        while ((std::size_t{1} << (levels - 1)) < n)
            ++levels;
        order.assign(levels, std::vector<u32>(n));
        trees.assign(levels, std::vector<u32>(2 * n, NO_MEMBER));
        for (u32 i = 0; i < n; ++i)
            order[0][i] = i;
        auto byEnd = [this](u32 a, u32 b) { return endsBefore(a, b); };
        for (std::size_t level = 1; level < levels; ++level) {
            std::vector<u32>& o = order[level];
            o = order[level - 1];
            const std::size_t half = std::size_t{1} << (level - 1);
            for (std::size_t start = 0; start + half < n; start += 2 * half)
                std::inplace_merge(o.begin() + start, o.begin() + start + half,
                                   o.begin() + std::min(start + 2 * half, n), byEnd);
        }
        for (std::size_t level = 0; level < levels; ++level) {
            std::vector<u32>& t = trees[level];
            std::copy(order[level].begin(), order[level].end(), t.begin() + n);
            for (std::size_t i = n; i-- > 1;)
                t[i] = better(t[2 * i], t[2 * i + 1], keys);
        }
    }

    // The best member among [first, last) whose clusters end at or before
    // `endLimit`; NO_MEMBER when there is none (a spent one may come back:
    // its key says so).
    u32 best(std::size_t first, std::size_t last, u64 endLimit,
             const std::vector<u64>& keys) const {
        u32 result = NO_MEMBER;
        for (std::size_t level = 0; first < last; ++level, first >>= 1, last >>= 1) {
            if (first & 1)
                result = better(result, inBlock(level, first++, endLimit, keys), keys);
            if (last & 1)
                result = better(result, inBlock(level, --last, endLimit, keys), keys);
        }
        return result;
    }

    // Called once the member's key is 0.
    void spend(u32 member, const std::vector<u64>& keys) {
        const std::size_t n = grids.size();
        for (std::size_t level = 0; level < order.size(); ++level) {
            const std::size_t start = (member >> level) << level;
            const std::vector<u32>& o = order[level];
            auto at = std::lower_bound(o.begin() + start, o.begin() + blockEnd(level, start),
                                       member, [this](u32 a, u32 b) { return endsBefore(a, b); });
            std::vector<u32>& t = trees[level];
            for (std::size_t i = (static_cast<std::size_t>(at - o.begin()) + n) / 2; i >= 1; i /= 2)
                t[i] = better(t[2 * i], t[2 * i + 1], keys);
        }
    }

    u32 s;
    // The smallest highest cluster of the class: its grids reach least far.
    u32 fewest = std::numeric_limits<u32>::max();
    std::vector<u32> grids;    // list index of each member
    std::vector<u32> cluster2; // ascending
    std::vector<u64> ends;     // the LBA where the member's highest cluster starts

private:
    // Blocks are ordered by end, then by member.
    bool endsBefore(u32 a, u32 b) const {
        return std::make_pair(ends[a], a) < std::make_pair(ends[b], b);
    }

    std::size_t blockEnd(std::size_t level, std::size_t start) const {
        return std::min(start + (std::size_t{1} << level), grids.size());
    }

    u32 better(u32 a, u32 b, const std::vector<u64>& keys) const {
        if (a == NO_MEMBER)
            return b;
        if (b == NO_MEMBER)
            return a;
        return keys[grids[a]] >= keys[grids[b]] ? a : b;
    }

    u32 inBlock(std::size_t level, std::size_t block, u64 endLimit,
                const std::vector<u64>& keys) const {
        const std::size_t start = block << level;
        const std::vector<u32>& o = order[level];
        auto stop =
            std::upper_bound(o.begin() + start, o.begin() + blockEnd(level, start), endLimit,
                             [this](u64 limit, u32 m) { return limit < ends[m]; });
        std::size_t lo = start + trees[level].size() / 2;
        std::size_t hi = static_cast<std::size_t>(stop - o.begin()) + trees[level].size() / 2;
        const std::vector<u32>& t = trees[level];
        u32 result = NO_MEMBER;
        for (; lo < hi; lo /= 2, hi /= 2) {
            if (lo & 1)
                result = better(result, t[lo++], keys);
            if (hi & 1)
                result = better(result, t[--hi], keys);
        }
        return result;
    }

    std::vector<std::vector<u32>> order;
    std::vector<std::vector<u32>> trees;
};

GridIndex::GridIndex(const FsCandidateList& grids)
    : grids_(grids), keys_(grids.size()), classOf_(grids.size()), member_(grids.size()) {
    std::map<std::pair<u32, u32>, u32> classes;
    for (std::size_t i = 0; i < grids.size(); ++i) {
        const FsCandidate& g = grids[i];
        keys_[i] = static_cast<u64>(g.subDirCount) << 32 |
                   (std::numeric_limits<u32>::max() - static_cast<u32>(i));
        const FatType needed = neededFatType(g.maxThisCluster);
        auto known = classes.emplace(std::make_pair(g.sectorsPerCluster, static_cast<u32>(needed)),
                                     static_cast<u32>(classes_.size()));
        if (known.second)
            classes_.emplace_back(g.sectorsPerCluster);
        classOf_[i] = known.first->second;
        member_[i] = classes_[known.first->second].add(static_cast<u32>(i), g);
    }
}

GridIndex::~GridIndex() = default;

std::size_t GridIndex::bestInPartition(const FsCandidate& partition, const Fits& fits) {
    if (!indexed_) {
        for (Class& c : classes_)
            c.build(keys_);
        indexed_ = true;
    }
    const u64 start = partition.startLBA;
    const u64 sectors = partition.partitionSectors;
    std::size_t best = NONE;
    FsCandidate probe;
    for (const Class& c : classes_) {
        // Every grid of the class reaches at least this far behind its cluster
        // 2; none fits when that is more than the partition holds.
        const u64 reach = c.s * clustersUpTo(c.fewest);
        if (reach > sectors)
            continue;
        // Behind `farthest` every grid lies too far from the start or ends
        // beyond the partition.
        const u64 farthest = start + std::min(MAX_DATA_GAP, sectors - reach);
        const std::size_t first = static_cast<std::size_t>(
            std::lower_bound(c.cluster2.begin(), c.cluster2.end(), start) - c.cluster2.begin());
        const std::size_t last = static_cast<std::size_t>(
            std::upper_bound(c.cluster2.begin(), c.cluster2.end(), farthest) - c.cluster2.begin());
        if (first >= last)
            continue;
        // A grid of the class that reaches least far, put at a member's cluster
        // 2: within [first, last) the test fails before some cluster 2 and
        // holds from there on, which a binary search finds.
        probe.sectorsPerCluster = c.s;
        probe.maxThisCluster = c.fewest;
        auto holds = [&](std::size_t member) {
            probe.cluster2LBA = c.cluster2[member];
            return fits(probe);
        };
        if (!holds(last - 1))
            continue;
        std::size_t lo = first;
        std::size_t hi = last - 1;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (holds(mid))
                hi = mid;
            else
                lo = mid + 1;
        }
        // From there on a grid fits exactly when its own clusters end inside
        // the partition.
        const u32 m = c.best(lo, last, start + sectors, keys_);
        if (m == NO_MEMBER)
            continue;
        const std::size_t grid = c.grids[m];
        if (keys_[grid] != 0 && (best == NONE || keys_[grid] > keys_[best]))
            best = grid;
    }
    return best;
}

std::size_t GridIndex::bestAt(u32 cluster2, const Fits& fits) const {
    auto it = std::lower_bound(grids_.begin(), grids_.end(), cluster2,
                               [](const FsCandidate& g, u32 lba) { return g.cluster2LBA < lba; });
    std::size_t best = NONE;
    for (; it != grids_.end() && it->cluster2LBA == cluster2; ++it) {
        const std::size_t i = static_cast<std::size_t>(it - grids_.begin());
        if (keys_[i] == 0 || !fits(*it))
            continue;
        if (best == NONE || keys_[i] > keys_[best])
            best = i;
    }
    return best;
}

void GridIndex::spend(std::size_t grid) {
    if (keys_[grid] == 0)
        return;
    keys_[grid] = 0;
    if (indexed_)
        classes_[classOf_[grid]].spend(member_[grid], keys_);
}
