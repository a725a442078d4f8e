#pragma once

// The cluster grids of the candidate collection while the candidates adopt
// them: each candidate takes the unspent grid of the most subdirectory pairs
// (the first in list order of equal counts) that fits it, and that grid is
// spent.
//
// A partition entry may take any grid whose cluster 2 lies up to 0x400020
// sectors behind its start, so a disk full of copied partition tables and
// folder sectors would test every grid for every entry. The grids are kept
// instead by cluster size and needed FAT width, each such class ordered by
// cluster 2 and indexed by where its clusters end, so that one question costs
// a few binary searches in each class (O(log^2) of the class's grids) and a
// spent grid leaves every index at once.

#include "fs/FsCandidate.h"

#include <functional>
#include <vector>

class GridIndex {
public:
    using Fits = std::function<bool(const FsCandidate& grid)>;
    static constexpr std::size_t NONE = static_cast<std::size_t>(-1);

    // The grids in list order (by cluster 2, then as they came), each pair of
    // sectors per cluster and cluster 2 at most once. They must outlive the
    // index.
    explicit GridIndex(const FsCandidateList& grids);
    ~GridIndex();
    GridIndex(const GridIndex&) = delete;
    GridIndex& operator=(const GridIndex&) = delete;

    // The best unspent grid for a FAT partition entry, NONE when none fits.
    // `fits` is FatVolumeFitsPartition(partition) or a test of the same shape:
    // for a grid of one cluster size and one needed FAT width, it holds exactly
    // when cluster 2 lies at least some distance behind the partition start
    // (the same distance for the whole class), at most 0x400020 sectors behind
    // it, and the grid's highest cluster ends inside the partition.
    std::size_t bestInPartition(const FsCandidate& partition, const Fits& fits);
    // The best unspent grid with exactly this cluster 2 that `fits` takes.
    std::size_t bestAt(u32 cluster2, const Fits& fits) const;

    void spend(std::size_t grid);
    bool isSpent(std::size_t grid) const { return keys_[grid] == 0; }

private:
    class Class;

    const FsCandidateList& grids_;
    // Higher for the better grid: more subdirectory pairs, then the earlier
    // one; 0 once spent.
    std::vector<u64> keys_;
    std::vector<Class> classes_;
    // The classes' trees are built on the first partition asked about: a
    // flood of grids on a disk without partition tables never needs them.
    bool indexed_ = false;
    // The class of each grid, and its place in that class.
    std::vector<u32> classOf_;
    std::vector<u32> member_;
};
