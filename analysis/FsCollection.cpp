#include "analysis/FsCollection.h"

#include "analysis/DumpLimit.h"
#include "analysis/FsFilters.h"
#include "analysis/GridIndex.h"
#include "core/Array.h"
#include "core/Checked.h"
#include "core/Log.h"
#include "devices/Driver.h"
#include "fs/DirectoryEntry.h"
#include "fs/Params.h"
#include "fs/StructureChecks.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace {

constexpr u64 U32_MAX = std::numeric_limits<u32>::max();
constexpr std::size_t NONE = static_cast<std::size_t>(-1);

// A root directory lies at most this many sectors before cluster 2.
constexpr u32 ROOT_BEFORE_DATA = 128;
// A grid with clusters above this can only be FAT32.
constexpr u32 FAT16_HIGHEST_CLUSTER = 65525;
// A FAT directory holds at most 65536 entries; a run claiming more is no
// directory we read further.
constexpr u32 MAX_DIRECTORY_SECTORS = 65536 * DIR_ENTRY_BYTES / SECTOR_BYTES;
// Guessing FAT positions stops after this many proposals.
constexpr u32 MAX_FAT_PROPOSALS = 5;
// Hidden sectors of a first partition on a drive with partition tables.
constexpr u32 CLASSIC_HIDDEN_SECTORS = 63;
// The cluster sizes (in sectors) that a volume can have.
constexpr u32 CLUSTER_SIZES[] = {1, 2, 4, 8, 16, 32, 64, 128};
constexpr u32 LARGEST_CLUSTER = CLUSTER_SIZES[7];

bool isFatWidth(FatType type) {
    return fatEntryWidthOf(type) != FAT_NONE;
}

bool fitsU32(u64 value) {
    return value <= U32_MAX;
}

bool isFloppy(const Driver& driver) {
    return driver.getProperties().getUInt8(PROP_IS_FLOPPY, 0) != 0;
}

// Reads single sectors of the source into a buffer of its sector size.
class SectorReader {
public:
    explicit SectorReader(Driver& driver)
        : driver_(driver), size_(static_cast<std::size_t>(driver.getSectorSize())) {
        // Whatever this source's sectors are, our structures are 512-byte ones.
        if (size_ < SECTOR_BYTES || size_ > (1u << 20))
            size_ = 0;
        buffer_.resize(size_);
    }
    // False when the sector cannot be read (or lies beyond what an LBA reaches).
    bool read(u64 lba) { return size_ != 0 && driver_.readSectors(lba, 1, buffer_.data()); }
    const std::vector<u8>& data() const { return buffer_; }

private:
    Driver& driver_;
    std::size_t size_;
    std::vector<u8> buffer_;
};

// ---- Phases 1 and 2: a pool that finds candidates by start ----

// The candidates of the first two phases in the order they came. Their list
// order is that order sorted stably by start: nothing moves a start before phase
// 5, so "inserted after every candidate with a lower or equal start" is exactly a
// stable sort, and the first of a start is the earliest of that start.
class CandidatePool {
public:
    std::size_t add(const FsCandidate& c) {
        items_.push_back(c);
        byStart_[c.startLBA].push_back(items_.size() - 1);
        return items_.size() - 1;
    }
    FsCandidate& at(std::size_t i) { return items_[i]; }
    const FsCandidate& at(std::size_t i) const { return items_[i]; }

    // The earliest candidate of that start with a partition entry that may hold
    // a volume of that kind and width, else, for a FAT volume, with an entry of
    // a FAT type of another width: a partition formatted anew keeps its type,
    // and the volume's own FAT decides. Entries come only in phase 1, so the
    // answer never changes once asked.
    std::size_t firstCompatibleEntry(u32 start, FsKind kind, FatType width) {
        const auto key = std::make_tuple(start, static_cast<u32>(kind), static_cast<u32>(width));
        auto cached = compatible_.find(key);
        if (cached != compatible_.end())
            return cached->second;
        std::size_t found = firstEntry(
            start, [&](u8 type) { return isPartitionTypeCompatible(type, kind, width); });
        if (found == NONE && kind == FS_FAT)
            found = firstEntry(start, isFatPartitionType);
        compatible_.emplace(key, found);
        return found;
    }

    FsCandidateList ordered() const {
        FsCandidateList list(items_);
        std::stable_sort(list.begin(), list.end());
        return list;
    }

private:
    // The earliest candidate of that start with a partition entry whose type
    // passes.
    template <class TypeTest> std::size_t firstEntry(u32 start, TypeTest passes) const {
        auto bucket = byStart_.find(start);
        if (bucket == byStart_.end())
            return NONE;
        for (std::size_t i : bucket->second) {
            const FsCandidate& c = items_[i];
            if (c.hasPartitionEntry && passes(c.partitionType))
                return i;
        }
        return NONE;
    }

    FsCandidateList items_;
    std::map<u32, std::vector<std::size_t>> byStart_;
    std::map<std::tuple<u32, u32, u32>, std::size_t> compatible_;
};

void collectPartitionEntries(CandidatePool& pool, const CreateFSCollectionParameters& p) {
    const u64 last = p.lastLBA();
    // A source that keeps its volume in sector 0 holds its boot code there:
    // bytes of it that read as entries name no partition.
    const bool bootCodeInSectorZero = volumeAtSectorZero(*p.driver);
    for (const FoundPartitionTable& table : *p.partitionTables) {
        if (table.lba == 0 && bootCodeInSectorZero)
            continue;
        for (u32 slot = 0; slot < table.entries.size(); ++slot) {
            const FoundPartitionEntry& e = table.entries[slot];
            if (e.type == 0 || isExtendedPartitionType(e.type))
                continue;
            const u64 s = e.startLba;
            const u64 n = e.sectorCount;
            if (s >= last || n == 0 || n > last || s + n > last)
                continue;
            FsCandidate c;
            c.startLBA = e.startLba;
            c.hasPartitionEntry = true;
            c.partitionType = e.type;
            c.partitionSectors = e.sectorCount;
            c.partitionTableLBA = table.lba;
            c.partitionEntryIndex = slot;
            pool.add(c);
        }
    }
}

// The boot sectors of the second phase: where each primary reading went, so
// that a backup of the same volume finds it.
class BootSectorCollector {
public:
    explicit BootSectorCollector(CandidatePool& pool) : pool_(pool) {}

    void primary(u32 start, const BootParams& params, FatType width) {
        const std::size_t i = orNew(pool_.firstCompatibleEntry(start, params.kind, width), start);
        FsCandidate& c = pool_.at(i);
        c.hasBootSector = true;
        c.bootSector = params;
        // One find per LBA, so one primary reading per start.
        primaryAt_[start] = i;
    }

    void backup(u32 start, const BootParams& params, FatType width, u32 lba) {
        std::size_t i = pool_.firstCompatibleEntry(start, params.kind, width);
        auto holder = primaryAt_.find(start);
        if (holder != primaryAt_.end() && holder->second < i &&
            equalBootParams(pool_.at(holder->second).bootSector, params))
            i = holder->second;
        FsCandidate& c = pool_.at(orNew(i, start));
        c.hasBootBackup = true;
        c.bootBackup = params;
        c.bootBackupLBA = lba;
    }

    // A primary reading of these parameters was taken at `start`.
    bool hasPrimary(u32 start, const BootParams& params) const {
        auto holder = primaryAt_.find(start);
        return holder != primaryAt_.end() &&
               equalBootParams(pool_.at(holder->second).bootSector, params);
    }

private:
    // The candidate found, or a new one of that start: a boot sector that joins
    // no partition entry is a candidate of its own.
    std::size_t orNew(std::size_t found, u32 start) {
        if (found != NONE)
            return found;
        FsCandidate c;
        c.startLBA = start;
        return pool_.add(c);
    }

    CandidatePool& pool_;
    std::map<u32, std::size_t> primaryAt_;
};

void collectBootSectors(CandidatePool& pool, const CreateFSCollectionParameters& p) {
    const u64 last = p.lastLBA();
    // A FAT volume is offered as its tree is built: while the source holds at
    // least half of it (a copy cut short), whatever the slack.
    const u64 sourceSectors = p.driver->getSectorCount();
    BootSectorCollector collector(pool);
    for (const FoundBootSector& find : *p.bootSectors) {
        const u64 lba = find.lba;
        if (find.params.kind == FS_FAT) {
            const u64 total = find.params.fat.totalSectors;
            const FatType width = find.params.fat.fatType();
            if (sourceHoldsVolume(lba, total, sourceSectors))
                collector.primary(find.lba, find.params, width);
            if (width != FAT32)
                continue;
            // A FAT32 backup lies FAT32_BACKUP_SECTOR sectors into its volume,
            // sectors of the size its boot sector states. A saved scan does not
            // keep that size: such a backup belongs to the primary of its
            // parameters six sectors of some size in front of it, and without
            // one lies six of 512 bytes in.
            const u32 own = find.params.fat.bytesPerSector / SECTOR_BYTES;
            u32 offset = FAT32_BACKUP_SECTOR * std::max(own, 1u);
            for (u32 bytes = SECTOR_BYTES; own == 0 && isFatSectorSize(bytes); bytes *= 2) {
                const u32 at = FAT32_BACKUP_SECTOR * (bytes / SECTOR_BYTES);
                if (find.lba >= at && collector.hasPrimary(find.lba - at, find.params)) {
                    offset = at;
                    break;
                }
            }
            if (find.lba >= offset && sourceHoldsVolume(lba - offset, total, sourceSectors))
                collector.backup(find.lba - offset, find.params, width, find.lba);
        } else if (find.params.kind == FS_NTFS) {
            const u64 total = find.params.ntfs.totalSectors;
            // The NTFS backup is the sector behind the volume.
            if (total < last && lba + total + 1 <= last)
                collector.primary(find.lba, find.params, FAT_NONE);
            if (lba >= total)
                collector.backup(static_cast<u32>(lba - total), find.params, FAT_NONE, find.lba);
        }
    }
}

// ---- Phase 3: cluster grids from subdirectories ----

class GridCollector {
public:
    // A pair of consecutive subdirectories that agree on a grid.
    void addPair(const FoundDirectoryRun& previous, const FoundDirectoryRun& current) {
        if (previous.dotCluster >= current.dotCluster || current.dotCluster < 2)
            return;
        const u32 s = (current.lba - previous.lba) / (current.dotCluster - previous.dotCluster);
        if (!isValidSectorsPerCluster(s))
            return;
        const u64 offset = static_cast<u64>(current.dotCluster - 2) * s;
        if (offset + 3 > current.lba)
            return;
        const u32 cluster2 = static_cast<u32>(current.lba - offset);
        const u32 last =
            std::max({previous.highestCluster, current.highestCluster, current.dotCluster});
        auto known = index_.find({s, cluster2});
        if (known != index_.end()) {
            FsCandidate& g = grids_[known->second];
            g.lastCluster = std::max(g.lastCluster, last);
            g.maxThisCluster = std::max(g.maxThisCluster, current.dotCluster);
            ++g.subDirCount;
            return;
        }
        FsCandidate g;
        g.startLBA = cluster2;
        g.hasSubDirs = true;
        g.sectorsPerCluster = s;
        g.cluster2LBA = cluster2;
        g.lastCluster = last;
        g.maxThisCluster = current.dotCluster;
        g.subDirCount = 2;
        index_.emplace(std::make_pair(s, cluster2), grids_.size());
        grids_.push_back(g);
    }

    // The grids in list order (by cluster 2, then as they came).
    FsCandidateList take() {
        index_.clear();
        std::stable_sort(grids_.begin(), grids_.end());
        return std::move(grids_);
    }

private:
    FsCandidateList grids_;
    std::map<std::pair<u32, u32>, std::size_t> index_;
};

// The grid a candidate adopts, or NONE: the best that fits its partition entry
// when it has neither boot sector, else the best at the cluster 2 its boot
// sector (or only the backup) names.
std::size_t gridFor(const FsCandidate& c, GridIndex& grids) {
    if (!c.hasBootSector && !c.hasBootBackup) {
        if (!c.hasPartitionEntry || !isFatPartitionType(c.partitionType))
            return NONE;
        return grids.bestInPartition(c, FatVolumeFitsPartition(c));
    }
    const bool backup = !c.hasBootSector;
    const BootParams& boot = backup ? c.bootBackup : c.bootSector;
    if (boot.kind != FS_FAT)
        return NONE;
    const u64 cluster2 = static_cast<u64>(c.startLBA) + boot.fat.dataLbaOffset;
    if (!fitsU32(cluster2))
        return NONE;
    return grids.bestAt(static_cast<u32>(cluster2), FatVolumeFitsBootSector(c, backup));
}

void collectDirectoryClusters(FsCandidateList& list, const CreateFSCollectionParameters& p) {
    GridCollector collector;
    const FoundDirectoryRun* previous = nullptr;
    for (const FoundDirectoryRun& run : *p.directoryRuns) {
        if (!run.startsWithDotEntries)
            continue;
        if (previous)
            collector.addPair(*previous, run);
        previous = &run;
    }
    const FsCandidateList grids = collector.take();
    if (grids.empty())
        return;
    GridIndex index(grids);
    for (FsCandidate& c : list) {
        const std::size_t g = gridFor(c, index);
        if (g == NONE)
            continue;
        const FsCandidate& grid = grids[g];
        c.hasSubDirs = true;
        c.sectorsPerCluster = grid.sectorsPerCluster;
        c.cluster2LBA = grid.cluster2LBA;
        c.lastCluster = grid.lastCluster;
        c.maxThisCluster = grid.maxThisCluster;
        c.subDirCount = grid.subDirCount;
        index.spend(g);
    }
    FsCandidateList rest;
    for (std::size_t i = 0; i < grids.size(); ++i) {
        if (!index.isSpent(i))
            rest.push_back(grids[i]);
    }
    insertCandidates(list, rest);
}

// ---- Phase 4: root directories ----

// Narrows the FAT widths still possible to one width (none when it is no
// width at all).
void narrowTo(bool possible[4], FatType width) {
    for (u32 t = FAT12; t <= FAT32; ++t) {
        if (t != width)
            possible[t] = false;
    }
}

// Whether a grid candidate may have a fixed-size root directory just before
// cluster 2: FAT12 or FAT16 must still be possible for its clusters and for
// whatever its boot sectors say. A partition's type does not narrow them: a
// partition formatted anew keeps its type.
bool fixedRootPossible(const FsCandidate& c) {
    const i64 n = static_cast<i64>(c.lastCluster) - 1;
    bool possible[4] = {false, n < 0xFF5, n < 0xFFF5, true};
    if (c.hasBootSector && c.bootSector.kind == FS_FAT)
        narrowTo(possible, c.bootSector.fat.fatType());
    if (c.hasBootBackup && c.bootBackup.kind == FS_FAT)
        narrowTo(possible, c.bootBackup.fat.fatType());
    if (!possible[FAT12] && !possible[FAT16] && !possible[FAT32]) {
        logAt("FSs", 689) << ": " << c.startLBA << '\n';
        return false;
    }
    // FAT32 keeps its root directory in clusters.
    return possible[FAT12] || possible[FAT16];
}

// The root directory LBA that a FAT boot sector of the candidate names.
bool bootRootLba(const FsCandidate& c, const BootParams& boot, u32& lba) {
    if (boot.kind != FS_FAT)
        return false;
    const u64 at = static_cast<u64>(c.startLBA) + boot.fat.rootDirectoryLbaOffset;
    lba = static_cast<u32>(at);
    return fitsU32(at);
}

void takeRootDirectory(FsCandidate& c, const FoundDirectoryRun& run) {
    c.hasRootDir = true;
    c.rootDirLBA = run.lba;
    c.rootLastCluster = run.highestCluster;
}

// The start clusters of the folder entries of a directory run, up to its end
// mark; false when a sector of it cannot be read.
bool folderClusters(const FoundDirectoryRun& run, SectorReader& reader, std::vector<u32>& out) {
    out.clear();
    const u32 sectors = std::min(run.sectorCount, MAX_DIRECTORY_SECTORS);
    for (u32 i = 0; i < sectors; ++i) {
        if (!reader.read(static_cast<u64>(run.lba) + i))
            return false;
        const std::vector<u8>& sector = reader.data();
        ConstArray view(sector.data(), static_cast<u32>(sector.size()));
        for (u32 at = 0; at + DIR_ENTRY_BYTES <= view.length(); at += DIR_ENTRY_BYTES) {
            if (view.getU8(at) == ENTRY_FREE)
                return true;
            const u8 attributes = view.getU8(at + DE_ATTRIBUTES);
            if (attributes == ATTR_LONG_NAME || (attributes & ATTR_DIRECTORY) == 0)
                continue;
            out.push_back(static_cast<u32>(view.getLE16(at + DE_CLUSTER_HIGH)) << 16 |
                          view.getLE16(at + DE_CLUSTER_LOW));
        }
    }
    return true;
}

using GridKey = std::pair<u32, u32>; // sectors per cluster, cluster 2

// The "." clusters of the first-level directories (".." is 0) of each of the
// grids asked for: the grids they would sit on, each sorted.
std::map<GridKey, std::vector<u32>>
firstLevelDirectories(const FoundList<FoundDirectoryRun>& runs,
                      std::map<GridKey, std::vector<u32>> byGrid) {
    for (const FoundDirectoryRun& run : runs) {
        if (!run.startsWithDotEntries || run.dotDotCluster != 0 || run.dotCluster < 2)
            continue;
        for (u32 s : CLUSTER_SIZES) {
            const u64 offset = static_cast<u64>(run.dotCluster - 2) * s;
            if (offset > run.lba)
                continue;
            auto grid = byGrid.find({s, static_cast<u32>(run.lba - offset)});
            if (grid != byGrid.end())
                grid->second.push_back(run.dotCluster);
        }
    }
    for (auto& entry : byGrid) {
        std::sort(entry.second.begin(), entry.second.end());
        entry.second.erase(std::unique(entry.second.begin(), entry.second.end()),
                           entry.second.end());
    }
    return byGrid;
}

// A plain directory run that names at least one first-level directory of the
// grids being searched, with how many of one grid's it names.
struct ScoredRun {
    std::size_t run; // index among the plain runs, which are in LBA order
    u32 named;
};

// The run of the highest score among `scored` from index `from` on, the first
// of equal scores, for every `from`: best[i] answers from i.
std::vector<std::size_t> bestFrom(const std::vector<ScoredRun>& scored) {
    std::vector<std::size_t> best(scored.size() + 1, NONE);
    for (std::size_t i = scored.size(); i-- > 0;) {
        const std::size_t later = best[i + 1];
        best[i] = later != NONE && scored[later].named > scored[i].named ? later : i;
    }
    return best;
}

// A FAT32 grid without a root directory: the directory run that names the most
// of the grid's first-level directories becomes its root (a point more for
// lying at cluster 2, the first of equal scores, and none for a run before
// cluster 2).
//
// Every plain run is read once, and indexed by the first-level directories it
// names. Grids with the same first-level directories score every run alike but
// for the point at cluster 2: they are scored together, from the runs that name
// their directories only, so that a flood of grids and runs (a disk of copied
// folder sectors) costs what the runs cost, not runs times grids.
//
// Grids whose directory sets all differ but share one that every run names
// would still cost grids times runs, and no exact search for the best overlap
// is much cheaper. So the entries of those index lists that the groups walk
// are bounded: a floor that no real disk comes near (a few grids whose
// first-level directories one or two runs name each) plus a share per plain
// run and group. The cheapest groups are scored first; the groups left over
// once the budget is spent are the ones whose directories the most runs name,
// and they are rooted as though no run named their directories.
constexpr u64 ROOT_SEARCH_FLOOR = u64(1) << 22;
constexpr u64 ROOT_SEARCH_PER_FIND = 64;
// Walking those lists polls this often, so that a cancel comes soon.
constexpr u64 ROOT_SEARCH_POLL_EVERY = 1024;

void searchFat32Roots(FsCandidateList& list, CreateFSCollectionParameters& p) {
    auto needsSearch = [](const FsCandidate& c) {
        return !c.hasRootDir && c.hasSubDirs &&
               std::max(c.lastCluster, c.maxThisCluster) > FAT16_HIGHEST_CLUSTER;
    };
    std::map<GridKey, std::vector<u32>> asked;
    for (const FsCandidate& c : list) {
        if (needsSearch(c))
            asked[{c.sectorsPerCluster, c.cluster2LBA}];
    }
    if (asked.empty())
        return;
    const FoundList<FoundDirectoryRun>& runs = *p.directoryRuns;
    const auto firstLevel = firstLevelDirectories(runs, std::move(asked));

    // The searches, grouped by their first-level directories.
    std::map<std::vector<u32>, std::vector<FsCandidate*>> groups;
    std::set<u32> wanted;
    u32 from = std::numeric_limits<u32>::max();
    for (FsCandidate& c : list) {
        if (!needsSearch(c))
            continue;
        const std::vector<u32>& clusters = firstLevel.at({c.sectorsPerCluster, c.cluster2LBA});
        if (clusters.empty())
            continue;
        groups[clusters].push_back(&c);
        wanted.insert(clusters.begin(), clusters.end());
        from = std::min(from, c.cluster2LBA);
    }
    if (groups.empty())
        return;

    // The plain runs from the first cluster 2 on, and for each wanted
    // directory the runs that name it (a run once per entry naming it).
    SectorReader reader(*p.driver);
    std::vector<const FoundDirectoryRun*> plain;
    std::map<u32, std::vector<std::size_t>> namedBy;
    std::vector<u32> named;
    for (auto it = runs.lower_bound(from); it != runs.end(); ++it) {
        if (it->startsWithDotEntries)
            continue;
        p.poll();
        // A run that cannot be read keeps only its position point.
        if (!folderClusters(*it, reader, named))
            named.clear();
        for (u32 cluster : named) {
            if (wanted.count(cluster) != 0)
                namedBy[cluster].push_back(plain.size());
        }
        plain.push_back(&*it);
    }
    auto plainAt = [&](u64 lba) {
        return static_cast<std::size_t>(
            std::lower_bound(plain.begin(), plain.end(), lba,
                             [](const FoundDirectoryRun* r, u64 at) { return r->lba < at; }) -
            plain.begin());
    };

    // The runs from index `first` on that name a directory, in LBA order.
    const std::vector<std::size_t> namedByNone;
    auto naming = [&](u32 cluster, std::size_t first) {
        auto found = namedBy.find(cluster);
        const std::vector<std::size_t>& indexes =
            found == namedBy.end() ? namedByNone : found->second;
        return std::make_pair(std::lower_bound(indexes.begin(), indexes.end(), first),
                              indexes.end());
    };

    // A group walks each of its directories' lists from the first run at or
    // after its lowest cluster 2: runs before that score for none of its grids.
    struct Group {
        const std::vector<u32>* clusters;
        const std::vector<FsCandidate*>* grids;
        std::size_t firstRun;
        u64 entries; // of the lists it walks
    };
    std::vector<Group> order;
    for (const auto& group : groups) {
        u32 lowest = std::numeric_limits<u32>::max();
        for (const FsCandidate* c : group.second)
            lowest = std::min(lowest, c->cluster2LBA);
        Group g{&group.first, &group.second, plainAt(lowest), 0};
        for (u32 cluster : group.first) {
            const auto walked = naming(cluster, g.firstRun);
            g.entries += static_cast<u64>(walked.second - walked.first);
        }
        order.push_back(g);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const Group& a, const Group& b) { return a.entries < b.entries; });
    const u64 allowed = ROOT_SEARCH_FLOOR + ROOT_SEARCH_PER_FIND * (plain.size() + order.size());
    u64 budget = allowed;

    // A group's counts per run, and the runs counted; both left empty for the
    // next group.
    std::vector<u32> counts(plain.size(), 0);
    std::vector<std::size_t> counted;
    std::vector<ScoredRun> scored;
    u64 sincePoll = 0;
    std::size_t grids = 0;
    std::size_t unscored = 0;
    for (const Group& group : order) {
        grids += group.grids->size();
        p.poll();
        scored.clear();
        if (group.entries <= budget) {
            budget -= group.entries;
            for (u32 cluster : *group.clusters) {
                const auto walked = naming(cluster, group.firstRun);
                for (auto run = walked.first; run != walked.second; ++run) {
                    if (counts[*run]++ == 0)
                        counted.push_back(*run);
                    if (++sincePoll == ROOT_SEARCH_POLL_EVERY) {
                        sincePoll = 0;
                        p.poll();
                    }
                }
            }
            // Runs from one list come in order: a flood's group walks only one.
            if (!std::is_sorted(counted.begin(), counted.end()))
                std::sort(counted.begin(), counted.end());
            for (std::size_t run : counted) {
                scored.push_back({run, counts[run]});
                counts[run] = 0;
            }
            counted.clear();
        } else {
            // Every group after it costs as much or more: none is scored.
            unscored += group.grids->size();
        }
        const std::vector<std::size_t> best = bestFrom(scored);
        for (FsCandidate* c : *group.grids) {
            const u32 cluster2 = c->cluster2LBA;
            const std::size_t at = plainAt(cluster2);
            // The run at cluster 2 (its point, and what it names) against the
            // best of those behind it.
            u32 score = 0;
            const FoundDirectoryRun* found = nullptr;
            auto k = std::lower_bound(scored.begin(), scored.end(), at,
                                      [](const ScoredRun& r, std::size_t i) { return r.run < i; });
            if (at < plain.size() && plain[at]->lba == cluster2) {
                found = plain[at];
                score = 1;
                if (k != scored.end() && k->run == at) {
                    score += k->named;
                    ++k;
                }
            }
            const std::size_t behind = best[static_cast<std::size_t>(k - scored.begin())];
            if (behind != NONE && scored[behind].named > score)
                found = plain[scored[behind].run];
            if (found)
                takeRootDirectory(*c, *found);
        }
    }
    if (unscored != 0) {
        logAt("FSs", 694) << ": " << unscored << " of " << grids
                          << " FAT32 grids left unscored: scoring them too would count more than "
                          << allowed << " directory entries naming first-level folders\n";
    }
}

// Whether a directory run lies inside the second of two FAT copies whose first
// sectors were found, as far apart as the FATs of a fixed root's volume may
// be: a FAT12's links can read as directory entries where they spill into a
// sector of their own.
bool liesInAFat(u32 lba, const FoundList<FoundFatSector>& fats) {
    constexpr u32 MAX_FIXED_ROOT_FAT_SECTORS = 256;
    auto second = fats.upper_bound(lba);
    if (second == fats.begin())
        return false;
    --second;
    if (second == fats.begin())
        return false;
    const u32 size = second->lba - std::prev(second)->lba;
    return size <= MAX_FIXED_ROOT_FAT_SECTORS && lba - second->lba < size;
}

void collectDirectoryRuns(FsCandidateList& list, CreateFSCollectionParameters& p) {
    const bool floppy = isFloppy(*p.driver);
    // Where each candidate would take a run: at the root LBA its boot sectors
    // name, or with cluster 2 at most 128 sectors behind the run. No candidate
    // has a root directory yet, and the first that matches a run takes it.
    std::multimap<u32, std::size_t> byBootRoot;
    std::multimap<u32, std::size_t> byCluster2;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const FsCandidate& c = list[i];
        u32 lba = 0;
        if (c.hasBootSector && bootRootLba(c, c.bootSector, lba))
            byBootRoot.emplace(lba, i);
        if (c.hasBootBackup && bootRootLba(c, c.bootBackup, lba))
            byBootRoot.emplace(lba, i);
        if (c.hasSubDirs && fixedRootPossible(c))
            byCluster2.emplace(c.cluster2LBA, i);
    }

    FsCandidateList added;
    for (const FoundDirectoryRun& run : *p.directoryRuns) {
        if (run.startsWithDotEntries)
            continue;
        std::size_t best = NONE;
        auto consider = [&](std::size_t i) {
            if (!list[i].hasRootDir && i < best)
                best = i;
        };
        auto exact = byBootRoot.equal_range(run.lba);
        for (auto it = exact.first; it != exact.second; ++it)
            consider(it->second);
        // The root directory lies behind every FAT of its volume: a run in a
        // FAT, or that a FAT-sector find follows before cluster 2, is no
        // grid's root.
        u64 to = liesInAFat(run.lba, *p.fatSectors) ? 0 : u64{run.lba} + ROOT_BEFORE_DATA;
        const auto nextFat = p.fatSectors->upper_bound(run.lba);
        if (nextFat != p.fatSectors->end())
            to = std::min<u64>(to, nextFat->lba);
        for (auto it = byCluster2.upper_bound(run.lba); it != byCluster2.end() && it->first <= to;
             ++it)
            consider(it->second);
        if (best != NONE) {
            takeRootDirectory(list[best], run);
            // A taken candidate takes nothing more.
            for (auto it = byCluster2.find(list[best].cluster2LBA);
                 it != byCluster2.end() && it->first == list[best].cluster2LBA; ++it) {
                if (it->second == best) {
                    byCluster2.erase(it);
                    break;
                }
            }
        } else if (floppy) {
            FsCandidate c;
            c.startLBA = run.lba;
            takeRootDirectory(c, run);
            added.push_back(c);
        }
    }
    insertCandidates(list, added);
    searchFat32Roots(list, p);
}

// ---- Phase 5: FAT positions ----

struct FatHypothesis {
    u32 fatLBA = 0;
    u32 sectors = 0;
    u32 volumeStart = 0;
    FatType width = FAT_NONE;
    u32 copies = FAT_COPIES;
    // For a guess: the sector below which no FAT was looked for.
    u64 floor = 0;
    bool guessed = false;
};

// The reserved sectors are counted in 16 bits: a FAT starts at most this far
// into its volume.
constexpr i64 MAX_RESERVED_SECTORS = 0xFFFF;

// What a FAT of one width may look like for the candidate being placed.
struct FatLimits {
    i64 end = -1;            // last sector a FAT may end on; -1 when the width is out
    i64 first = 0;           // first sector a FAT may start on
    i64 lastStart = U32_MAX; // last sector it may start on
    i64 minSectors = 0;
    i64 maxSectors = 0;
    i64 reserved = 0;

    bool fits(i64 q) const { return q >= minSectors && q <= maxSectors; }
};

constexpr u64 NO_ROOM_LIMIT = std::numeric_limits<u64>::max();

// What a guessed volume's evidence tells of its FATs: where a FAT of each
// width may lie, the clusters the evidence numbers (its highest named cluster
// less one), the most clusters its partition leaves room for, and the sector
// below which no FAT was looked for.
struct GuessScope {
    FatLimits limits[4];
    i64 clusters = 0;
    u64 roomClusters = NO_ROOM_LIMIT;
    u64 floor = 0;
};

// The ends of the partitions the tables name, so that the FAT guess of one
// volume takes no FAT sector of a volume before it.
class NamedPartitions {
public:
    explicit NamedPartitions(const FsCandidateList& list) {
        for (const FsCandidate& c : list) {
            if (c.hasPartitionEntry)
                ends_.push_back(u64{c.startLBA} + c.partitionSectors);
        }
        std::sort(ends_.begin(), ends_.end());
    }

    // The last end at or before `lba`, 0 when there is none: a sector before
    // it lies in a named partition that does not hold `lba` (one that holds
    // both ends behind `lba`), or before one.
    u64 endBefore(u64 lba) const {
        auto it = std::upper_bound(ends_.begin(), ends_.end(), lba);
        return it == ends_.begin() ? 0 : *std::prev(it);
    }

private:
    std::vector<u64> ends_;
};

class FatPlacer {
public:
    FatPlacer(CreateFSCollectionParameters& p, SectorReader& reader, const NamedPartitions& named)
        : p_(p), fats_(*p.fatSectors), reader_(reader), named_(named), floppy_(isFloppy(*p.driver)),
          atSectorZero_(volumeAtSectorZero(*p.driver)) {}

    void place(FsCandidate& c) {
        hypotheses_.clear();
        if (c.hasBootSector && c.bootSector.kind == FS_FAT)
            fromBootSector(c, c.bootSector);
        else if (c.hasBootBackup && c.bootBackup.kind == FS_FAT)
            fromBootSector(c, c.bootBackup);
        else if (c.hasSubDirs || c.hasRootDir)
            guess(c);
        if (hypotheses_.empty())
            return;
        const FatHypothesis& h = hypotheses_[winner()];
        if (!isFatWidth(h.width))
            throw std::runtime_error("FSs(270)");
        if (!c.hasPartitionEntry)
            c.startLBA = h.guessed ? guessedStart(c, h) : h.volumeStart;
        c.hasFats = true;
        c.fatLBA = h.fatLBA;
        c.fatSectors = h.sectors;
        c.fatType = h.width;
        c.fatCount = h.copies;
        c.fatFound = foundAt(h.fatLBA);
        c.fatMirrorFound = foundAt(c.fatMirrorLBA());
    }

private:
    bool foundAt(u64 lba) const { return fitsU32(lba) && fats_.count(static_cast<u32>(lba)) != 0; }

    // Polled before every try, taken or not: whether the hypothesis fits 32
    // bits and is not yet held.
    bool isNew(i64 fatLBA, i64 sectors, i64 volumeStart, u32 copies) {
        p_.poll();
        if (fatLBA < 0 || volumeStart < 0 || sectors <= 0 || !fitsU32(fatLBA) ||
            !fitsU32(sectors) || !fitsU32(volumeStart))
            return false;
        return std::none_of(hypotheses_.begin(), hypotheses_.end(), [&](const FatHypothesis& h) {
            return h.fatLBA == fatLBA && h.sectors == sectors && h.copies == copies;
        });
    }

    // The FATs where the boot sector puts them, of the width and count it
    // states.
    void fromBootSector(const FsCandidate& c, const BootParams& boot) {
        const u32 copies = boot.fat.fatCount();
        const i64 fatLBA = static_cast<i64>(c.startLBA) + boot.fat.reservedSectors;
        if (copies != 0 && isNew(fatLBA, boot.fat.sectorsPerFAT, c.startLBA, copies) &&
            isFatWidth(boot.fat.fatType()))
            hypotheses_.push_back({static_cast<u32>(fatLBA), boot.fat.sectorsPerFAT, c.startLBA,
                                   boot.fat.fatType(), copies});
    }

    // Where a guessed volume without partition entry starts. On a source that
    // keeps its volume in sector 0, there, where the reserved sectors reach
    // the FAT and no named partition lies before it. Else the guess supposed
    // the fewest reserved sectors in front of the FAT. mkfs.fat pads them to
    // a whole cluster, so that the data area starts on one: where that start
    // lies where partitions start and the fewest's does not, it is taken.
    u32 guessedStart(const FsCandidate& c, const FatHypothesis& h) const {
        if (atSectorZero_ && h.floor == 0)
            return h.fatLBA > 0 && h.fatLBA <= MAX_RESERVED_SECTORS ? 0 : h.volumeStart;
        if (!c.hasSubDirs || startsLikeAPartition(h.volumeStart))
            return h.volumeStart;
        const u64 s = c.sectorsPerCluster;
        const u64 padded = ceilDiv(u64{h.fatLBA} - h.volumeStart, s) * s;
        if (padded > h.fatLBA || h.fatLBA - padded < h.floor)
            return h.volumeStart;
        const u64 start = h.fatLBA - padded;
        const bool dataOnACluster = c.cluster2LBA >= start && (c.cluster2LBA - start) % s == 0;
        return dataOnACluster && startsLikeAPartition(start) ? static_cast<u32>(start)
                                                             : h.volumeStart;
    }

    // The widths a guessed FAT of that place, size and count may have: those
    // whose limits end the FATs where they end (a FAT of another width ending
    // there would leave its root directory no room, or the wrong room), whose
    // FAT holds every cluster the evidence names, and whose count of clusters
    // the FAT's size and the partition's room allow. A FAT16 volume has at
    // least 4,085 clusters: a FAT16 of fewer than 16 sectors, or one in a
    // partition too small for that many, is a FAT12. A FAT16 or FAT32 that no
    // FAT-sector find confirms is no larger than its partition's clusters
    // need, but for the sectors that align the data area on a cluster
    // (mkfs.fat pads only FAT12 further).
    void widthsOf(u32 fatLBA, u32 sectors, u32 copies, bool widths[4]) const {
        const i64 end = i64{fatLBA} + i64{copies} * sectors - 1;
        const u64 clusters = static_cast<u64>(std::max<i64>(scope_.clusters, 0));
        const bool confirmed = foundAt(fatLBA) || (copies > 1 && foundAt(u64{fatLBA} + sectors));
        const u64 room = confirmed ? NO_ROOM_LIMIT : scope_.roomClusters;
        for (FatType t : {FAT12, FAT16, FAT32}) {
            const u64 entries = fatEntryCount(t, sectors);
            const u64 fewest = t == FAT16 ? u64{maxClusterCount(FAT12)} + 1 : 0;
            const bool roomNeedsIt =
                t == FAT12 || room == NO_ROOM_LIMIT ||
                sectors <= ceilDiv(room + 2, fatEntryCount(t, 1)) + LARGEST_CLUSTER;
            widths[t] = scope_.limits[t].end >= 0 && scope_.limits[t].end == end &&
                        entries >= clusters + 2 && entries - 2 >= fewest &&
                        scope_.roomClusters >= fewest && roomNeedsIt;
        }
    }

    // The width a guessed FAT's first sector shows (its first entries and the
    // values it holds) of those its place and size allow; else the width its
    // size gives, where they allow it; else none.
    // mkfs.fat pads the FAT12 of large clusters or sectors to 16 sectors and
    // more, the size of a FAT16.
    FatType guessedWidth(u32 fatLBA, u32 sectors, u32 copies) {
        bool widths[4] = {false, false, false, false};
        widthsOf(fatLBA, sectors, copies, widths);
        FatType bySize = fatTypeBySectorsPerFat(sectors);
        if (!widths[bySize])
            bySize = FAT_NONE;
        if (!reader_.read(fatLBA))
            return bySize;
        const u64 clusters = static_cast<u64>(std::max<i64>(scope_.clusters, 0));
        const std::vector<u8> first = reader_.data();
        // Where the sector reads alike at two widths (a FAT12 of one-cluster
        // files is all end marks, read at FAT16 too), the width at which the
        // highest cluster the evidence names is in use. Only a sector that
        // opens as two widths can read alike at them: no other has its FAT's
        // entries read for it.
        u32 opens = 0;
        for (FatType t : {FAT12, FAT16, FAT32})
            opens += widths[t] && isFatStartSector(first.data(), t);
        FatType preferred = bySize;
        u32 inUse = 0;
        for (FatType t : {FAT12, FAT16, FAT32}) {
            if (opens > 1 && widths[t] && clusters > 0 &&
                entryInUse(fatLBA, sectors, t, clusters + 1)) {
                preferred = t;
                ++inUse;
            }
        }
        const FatType shown =
            leastOddFatWidth(first.data(), widths, inUse == 1 ? preferred : bySize);
        return shown != FAT_NONE ? shown : bySize;
    }

    // Whether the FAT entry of the cluster, at that width, is not free (false
    // when its sectors cannot be read). Three sectors hold whole entries at
    // every width, so the entry is read from the three it lies in.
    bool entryInUse(u32 fatLBA, u32 sectors, FatType type, u64 cluster) {
        const u64 perGroup = fatEntryCount(type, 3);
        const u64 start = cluster / perGroup * 3;
        std::vector<u8> group(3 * SECTOR_BYTES, 0);
        for (u64 i = 0; i < 3 && start + i < sectors; ++i) {
            if (!reader_.read(u64{fatLBA} + start + i))
                return false;
            std::copy_n(reader_.data().begin(), SECTOR_BYTES, group.begin() + i * SECTOR_BYTES);
        }
        const ConstArray view(group.data(), static_cast<u32>(group.size()));
        return getFatEntry(type, static_cast<u32>(cluster % perGroup), view, 0) != 0;
    }

    // Proposes the FATs that the candidate's finds and layout allow. A
    // candidate that a partition entry names is guessed inside that
    // partition, from its start; any other from sector 0 on. Either takes no
    // FAT sector of a named partition that lies wholly before its root
    // directory or data area. Every width is guessed wherever the evidence's
    // clusters allow it, a partition's type whatever it says: a partition
    // formatted anew keeps its type, and the FAT decides.
    void guess(const FsCandidate& c) {
        scope_ = GuessScope();
        FatLimits* limits = scope_.limits;
        const i64 root = c.rootDirLBA;
        const i64 cluster2 = c.cluster2LBA;
        i64 k = 0;
        if (c.hasSubDirs && c.hasRootDir) {
            if (root < cluster2) {
                limits[FAT12].end = limits[FAT16].end = root - 1;
            } else {
                limits[FAT32].end = cluster2 - 1;
            }
            k = static_cast<i64>(std::max(c.rootLastCluster, c.lastCluster)) - 1;
        } else if (c.hasSubDirs) {
            limits[FAT12].end = cluster2 - 15;
            limits[FAT16].end = cluster2 - 33;
            limits[FAT32].end = cluster2 - 1;
            k = static_cast<i64>(c.lastCluster) - 1;
        } else {
            limits[FAT12].end = limits[FAT16].end = limits[FAT32].end = root - 1;
            k = static_cast<i64>(c.rootLastCluster) - 1;
        }
        const bool named = c.hasPartitionEntry;
        const bool allowed[4] = {false, true, !floppy_, !floppy_};
        const i64 n = k + 2;
        // FAT12 entries take a byte and a half, the fraction dropped first.
        limits[FAT12].minSectors = (n * 3 / 2 + 511) / 512;
        limits[FAT16].minSectors = (n * 2 + 511) / 512;
        limits[FAT32].minSectors = (n * 4 + 511) / 512;
        limits[FAT12].maxSectors = 12;
        limits[FAT16].maxSectors = 256;
        limits[FAT32].maxSectors = 0x200000;
        limits[FAT12].reserved = limits[FAT16].reserved = 1;
        limits[FAT32].reserved = 32;

        const i64 base = named ? static_cast<i64>(c.startLBA) : 0;
        const bool rootFirst = c.hasRootDir && (!c.hasSubDirs || root < cluster2);
        const i64 floor =
            std::max<i64>(base, static_cast<i64>(named_.endBefore(rootFirst ? root : cluster2)));
        scope_.clusters = k;
        scope_.floor = static_cast<u64>(floor);
        // The data area of a partition holds no more clusters than fit behind
        // cluster 2 up to its end.
        if (named && c.hasSubDirs && c.sectorsPerCluster != 0) {
            const u64 end = u64{c.startLBA} + c.partitionSectors;
            scope_.roomClusters =
                end > u64{c.cluster2LBA} ? (end - c.cluster2LBA) / c.sectorsPerCluster : 0;
        }
        for (FatType t : {FAT12, FAT16, FAT32}) {
            FatLimits& l = limits[t];
            if (!allowed[t] || k > static_cast<i64>(maxClusterCount(t)))
                l.end = -1;
            l.first = floor + l.reserved;
            if (named)
                l.lastStart = base + MAX_RESERVED_SECTORS;
        }

        proposals_ = 0;
        for (FatType t : {FAT12, FAT16, FAT32}) {
            if (!proposeFromFatSectors(limits[t]))
                return;
        }
        // Two FATs right behind the fewest reserved sectors: of a partition's
        // start, else of the first partition of a disk (of none on a source
        // that keeps its volume in sector 0). No FAT sector was found there
        // to tell the width: their size does.
        const i64 hidden = named ? base : atSectorZero_ ? 0 : CLASSIC_HIDDEN_SECTORS;
        for (FatType t : {FAT16, FAT32}) {
            const FatLimits& l = limits[t];
            const i64 a = l.reserved + hidden;
            if (hidden < floor || l.end < 0 || a >= l.end || (l.end - a + 1) % 2 != 0)
                continue;
            const i64 q = (l.end - a + 1) / 2;
            if (l.fits(q) && !propose(a, q, hidden))
                return;
        }
    }

    // False once the proposals are used up.
    bool propose(i64 fatLBA, i64 sectors, i64 volumeStart, u32 copies = FAT_COPIES) {
        if (isNew(fatLBA, sectors, volumeStart, copies)) {
            const FatType width =
                guessedWidth(static_cast<u32>(fatLBA), static_cast<u32>(sectors), copies);
            if (isFatWidth(width))
                hypotheses_.push_back({static_cast<u32>(fatLBA), static_cast<u32>(sectors),
                                       static_cast<u32>(volumeStart), width, copies, scope_.floor,
                                       true});
        }
        return ++proposals_ < MAX_FAT_PROPOSALS;
    }

    // Every FAT-sector find f that could start the mirror (or the first FAT) of
    // a FAT pair ending at `end`. Only the finds for which a first proposal
    // holds are visited: q = end - f + 1 within the limits, the first FAT f - q
    // from l.first to l.lastStart. Then a single FAT (mkfs.fat -f 1) that a
    // find f starts and `end` ends, right behind the reserved sectors: one
    // that the pairs' finds do not reach.
    bool proposeFromFatSectors(const FatLimits& l) {
        if (l.end < 0)
            return true;
        const i64 lo = std::max({l.first, l.end + 1 - l.maxSectors, (l.first + l.end + 2) / 2});
        // The last find that leaves a FAT of the fewest sectors.
        const i64 last = std::min(l.end, l.end + 1 - l.minSectors);
        const i64 hi = std::min(last, (l.lastStart + l.end + 1) / 2);
        if (lo <= hi && lo <= static_cast<i64>(U32_MAX)) {
            for (auto it = fats_.lower_bound(static_cast<u32>(lo));
                 it != fats_.end() && static_cast<i64>(it->lba) <= hi; ++it) {
                const i64 f = it->lba;
                const i64 q = l.end - f + 1;
                if (!propose(f - q, q, f - q - l.reserved))
                    return false;
                if (q % 2 == 0 && l.fits(q / 2) && f <= l.lastStart &&
                    !propose(f, q / 2, f - l.reserved))
                    return false;
            }
        }
        const i64 single = std::max(l.first, l.end + 1 - l.maxSectors);
        const i64 singleEnd = std::min({lo, last + 1, l.lastStart + 1});
        if (single > static_cast<i64>(U32_MAX))
            return true;
        for (auto it = fats_.lower_bound(static_cast<u32>(single));
             it != fats_.end() && static_cast<i64>(it->lba) < singleEnd; ++it) {
            const i64 f = it->lba;
            if (!propose(f, l.end - f + 1, f - l.reserved, 1))
                return false;
        }
        return true;
    }

    // How many of five sector pairs of the two FAT copies are equal, and not
    // zeros: the free tail of a FAT equals whatever else is empty, and a FAT
    // of one copy has none to agree with.
    u32 mirrorScore(const FatHypothesis& h) {
        if (h.copies < 2)
            return 0;
        const u64 size = h.sectors;
        u32 equal = 0;
        for (u64 offset : {u64{0}, size - 1, size / 2, size / 4, 3 * size / 4}) {
            const u64 first = static_cast<u64>(h.fatLBA) + offset;
            if (!reader_.read(first))
                continue;
            const std::vector<u8> a = reader_.data();
            const bool zeros = std::all_of(a.begin(), a.end(), [](u8 b) { return b == 0; });
            if (!zeros && reader_.read(first + size) && reader_.data() == a)
                ++equal;
        }
        return equal;
    }

    // The hypothesis of the highest score, the first of equal ones. A single one
    // needs no reading.
    std::size_t winner() {
        if (hypotheses_.empty())
            throw std::runtime_error("FSs(245)");
        if (hypotheses_.size() == 1)
            return 0;
        std::size_t best = 0;
        u32 bestScore = 0;
        for (std::size_t i = 0; i < hypotheses_.size(); ++i) {
            const FatHypothesis& h = hypotheses_[i];
            const u32 score =
                mirrorScore(h) + (foundAt(h.fatLBA) ? 3 : 0) +
                (h.copies > 1 && foundAt(static_cast<u64>(h.fatLBA) + h.sectors) ? 3 : 0);
            if (i == 0 || score > bestScore) {
                best = i;
                bestScore = score;
            }
        }
        return best;
    }

    CreateFSCollectionParameters& p_;
    const FoundList<FoundFatSector>& fats_;
    SectorReader& reader_;
    const NamedPartitions& named_;
    bool floppy_;
    bool atSectorZero_;
    std::vector<FatHypothesis> hypotheses_;
    GuessScope scope_;
    u32 proposals_ = 0;
};

void collectFatTables(FsCandidateList& list, CreateFSCollectionParameters& p) {
    SectorReader reader(*p.driver);
    const NamedPartitions named(list);
    FatPlacer placer(p, reader, named);
    for (FsCandidate& c : list)
        placer.place(c);
}

// ---- Phase 6: NTFS volumes ----

class NtfsVolumeCollector {
public:
    using Records = FoundList<FoundNtfsSystemRecord>;

    explicit NtfsVolumeCollector(const Records& records) : records_(records) {}

    // An $MFT record with $MFTMirr and $Bitmap behind it, and the copy of the
    // first two in $MFTMirr further on: their distance over the distance of the
    // two LCNs is the cluster size, which places the volume.
    void fromMftRecords() {
        for (auto it = records_.begin(); it != records_.end(); ++it) {
            auto mirror = nextOf(it, NTFS_MFT_RECORD, NTFS_MFT_MIRROR_RECORD);
            if (mirror == records_.end())
                continue;
            auto bitmap = std::next(mirror);
            if (bitmap == records_.end() || bitmap->info.which != NTFS_BITMAP_RECORD)
                continue;
            const u64 mftLcn = it->info.lcn;
            const u64 mirrorLcn = mirror->info.lcn;
            if (mftLcn == ~0ull || mirrorLcn == ~0ull || mftLcn >= mirrorLcn)
                continue;
            // Only cluster sizes a volume can have are tried, each naming the one
            // place the copy can be: a scan full of look-alike records must not
            // make a volume of every pair of them.
            for (u32 s : CLUSTER_SIZES) {
                u64 distance = 0;
                u64 mftOffset = 0;
                if (!checkedMul(mirrorLcn - mftLcn, s, distance) ||
                    !checkedMul(mftLcn, s, mftOffset))
                    break;
                if (distance > U32_MAX - it->lba)
                    break;
                if (mftOffset > it->lba || !isMirrorCopy(it->lba + distance, mftLcn, mirrorLcn))
                    continue;
                FsCandidate v;
                v.startLBA = static_cast<u32>(it->lba - mftOffset);
                v.hasNtfsVolume = true;
                v.mftLBA = it->lba;
                v.mftMirrLBA = it->lba + distance;
                v.ntfsSectorsPerCluster = s;
                v.sectorsPerFileRecord = mirror->lba - it->lba;
                v.bitmapSize = bitmap->info.size;
                add(v);
            }
        }
    }

    // An NTFS boot sector whose $MFT (or its copy) the scan found where the
    // boot sector puts it, of a volume that ends before `last`.
    void fromBootSectors(const FsCandidateList& list, u64 last) {
        for (const FsCandidate& c : list) {
            if (c.hasBootSector && c.bootSector.kind == FS_NTFS) {
                const u64 total = c.bootSector.ntfs.totalSectors;
                if (total < last && c.startLBA + total <= last - 1)
                    propose(c.startLBA, c.bootSector.ntfs);
            }
            if (c.hasBootBackup && c.bootBackup.kind == FS_NTFS) {
                const u64 total = c.bootBackup.ntfs.totalSectors;
                if (total <= c.bootBackupLBA && c.bootBackupLBA + 1 <= last)
                    propose(static_cast<u32>(c.bootBackupLBA - total), c.bootBackup.ntfs);
            }
        }
    }

    // Each volume joins the first candidate of its start that is NTFS by a boot
    // sector or its partition type; the rest become candidates of their own.
    void attach(FsCandidateList& list) {
        std::stable_sort(volumes_.begin(), volumes_.end());
        std::map<u32, std::size_t> firstNtfs;
        for (std::size_t i = 0; i < list.size(); ++i) {
            const FsCandidate& c = list[i];
            const bool ntfs = (c.hasBootSector && c.bootSector.kind == FS_NTFS) ||
                              (c.hasBootBackup && c.bootBackup.kind == FS_NTFS) ||
                              (c.hasPartitionEntry &&
                               isPartitionTypeCompatible(c.partitionType, FS_NTFS, FAT_NONE));
            if (ntfs)
                firstNtfs.emplace(c.startLBA, i);
        }
        FsCandidateList added;
        for (const FsCandidate& v : volumes_) {
            auto found = firstNtfs.find(v.startLBA);
            if (found == firstNtfs.end()) {
                added.push_back(v);
                continue;
            }
            FsCandidate& c = list[found->second];
            c.hasNtfsVolume = true;
            c.mftLBA = v.mftLBA;
            c.mftMirrLBA = v.mftMirrLBA;
            c.ntfsSectorsPerCluster = v.ntfsSectorsPerCluster;
            c.sectorsPerFileRecord = v.sectorsPerFileRecord;
            c.bitmapSize = v.bitmapSize;
        }
        insertCandidates(list, added);
    }

    // Where the volumes found so far start.
    const std::set<u32>& starts() const { return starts_; }

private:
    // The record after `it` when `it` is of kind `first` and the next of `second`.
    Records::const_iterator nextOf(Records::const_iterator it, u32 first, u32 second) const {
        if (it == records_.end() || it->info.which != first)
            return records_.end();
        auto next = std::next(it);
        if (next == records_.end() || next->info.which != second)
            return records_.end();
        return next;
    }

    bool isMirrorCopy(u64 lba, u64 mftLcn, u64 mirrorLcn) const {
        auto copy = records_.find(static_cast<u32>(lba));
        auto next = nextOf(copy, NTFS_MFT_RECORD, NTFS_MFT_MIRROR_RECORD);
        return next != records_.end() && copy->info.lcn == mftLcn && next->info.lcn == mirrorLcn;
    }

    bool isMftAt(u64 lba) const {
        if (!fitsU32(lba))
            return false;
        auto it = records_.find(static_cast<u32>(lba));
        return it != records_.end() && it->info.which == NTFS_MFT_RECORD;
    }

    void propose(u32 start, const NtfsBootParams& boot) {
        const u64 s = boot.sectorsPerCluster;
        if (s == 0 || starts_.count(start) != 0)
            return;
        u64 mft = 0;
        u64 mirror = 0;
        if (!checkedMul(s, boot.MFTCluster, mft) || !checkedMul(s, boot.MFTMirrCluster, mirror) ||
            mft > ~0ull - start || mirror > ~0ull - start)
            return;
        mft += start;
        mirror += start;
        if (!isMftAt(mft) && !isMftAt(mirror))
            return;
        FsCandidate v;
        v.startLBA = start;
        v.hasNtfsVolume = true;
        v.mftLBA = mft;
        v.mftMirrLBA = mirror;
        v.ntfsSectorsPerCluster = static_cast<u32>(s);
        v.sectorsPerFileRecord = boot.sectorsPerFileRecord;
        const u64 clusters = boot.totalSectors / s + (boot.totalSectors % s != 0 ? 1 : 0);
        v.bitmapSize = clusters / 8 + (clusters % 8 != 0 ? 1 : 0);
        add(v);
    }

    void add(const FsCandidate& v) {
        starts_.insert(v.startLBA);
        volumes_.push_back(v);
    }

    const Records& records_;
    FsCandidateList volumes_;
    std::set<u32> starts_;
};

void collectNtfsVolumes(FsCandidateList& list, const CreateFSCollectionParameters& p) {
    NtfsVolumeCollector collector(*p.ntfsSystemRecords);
    collector.fromMftRecords();
    collector.fromBootSectors(list, p.lastLBA());
    collector.attach(list);
}

// ---- Phase 7: size limits ----

// The entries a FAT of that width and size describes, capped at what the width
// can number.
u64 fatEntries(FatType type, u32 sectors) {
    switch (type) {
    case FAT12:
        return std::min<u64>(static_cast<u64>(sectors) * 1024 / 3, 0xFF0);
    case FAT16:
        return std::min<u64>(static_cast<u64>(sectors) * 256, 0xFFF0);
    case FAT32:
        return std::min<u64>(static_cast<u64>(sectors) * 128, 0xFFFFFFF0);
    default:
        return 0;
    }
}

// The volume size a boot sector states (an NTFS volume has its backup boot
// sector behind it); false for no FAT or NTFS boot sector.
bool bootSectorSize(const BootParams& boot, u64& size) {
    if (boot.kind == FS_FAT)
        size = boot.fat.totalSectors;
    else if (boot.kind == FS_NTFS)
        size = saturatingAdd(boot.ntfs.totalSectors, 1);
    else
        return false;
    return true;
}

// How far `lba` lies behind the volume start; 0 when it lies before it.
u64 behind(u64 lba, u64 start) {
    return lba > start ? lba - start : 0;
}

// The FAT sectors read, at most, to tell whether a volume holds data from one
// cluster on: a FAT that fits its volume leaves fewer entries than that
// behind its last cluster.
constexpr u64 MAX_FAT_TAIL_SECTORS = 64;

// Where the volumes of the list that a user is shown, and whose start a
// partition entry, a boot sector or the MFT's two copies give, begin; and the
// extended boot records that hold such entries. No volume whose size is
// guessed reaches into one.
std::vector<u32> knownStarts(const FsCandidateList& list, Driver& driver) {
    std::vector<u32> starts;
    for (const FsCandidate& c : list) {
        if (!(c.hasPartitionEntry || c.hasBootSector || c.hasBootBackup || c.hasNtfsVolume) ||
            !hasSufficientEvidence(c, driver))
            continue;
        starts.push_back(c.startLBA);
        if (c.hasPartitionEntry && c.partitionTableLBA != 0)
            starts.push_back(c.partitionTableLBA);
    }
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    return starts;
}

// Whether every entry of the candidate's first FAT from the cluster that holds
// the sector `lba` on, to the FAT's end, is free: the volume keeps nothing
// there, and another volume may begin. False when that cannot be told (no
// cluster grid, a sector that cannot be read, a tail longer than a FAT that
// fits its volume leaves): a volume that holds another's image keeps it.
bool fatFreeFrom(const FsCandidate& c, u64 lba, SectorReader& reader) {
    if (!c.hasFats || !c.hasSubDirs || !isFatWidth(c.fatType) || lba < c.cluster2LBA)
        return false;
    const u64 cluster = 2 + (lba - c.cluster2LBA) / c.sectorsPerCluster;
    // Where the entry begins, in half bytes: an odd FAT12 entry shares its
    // first byte with the entry before it, and owns only its upper half.
    const u64 halves = cluster * (c.fatType == FAT12 ? 3 : c.fatType == FAT16 ? 4 : 8);
    u64 byte = halves / 2;
    u8 firstMask = halves % 2 != 0 ? 0xF0 : 0xFF;
    const u64 end = u64{c.fatSectors} * SECTOR_BYTES;
    if (byte >= end)
        return true;
    if ((end - byte + SECTOR_BYTES - 1) / SECTOR_BYTES > MAX_FAT_TAIL_SECTORS)
        return false;
    for (u64 sector = byte / SECTOR_BYTES; sector < c.fatSectors; ++sector) {
        if (!reader.read(u64{c.fatLBA} + sector))
            return false;
        const std::vector<u8>& data = reader.data();
        for (u64 at = byte % SECTOR_BYTES; at < SECTOR_BYTES; ++at) {
            if ((data[at] & firstMask) != 0)
                return false;
            firstMask = 0xFF;
        }
        byte = 0;
    }
    return true;
}

// Whether the volume may end where another begins at `lba`: an NTFS volume
// placed from its MFT, whose $Bitmap bounds its size from below, and a FAT
// volume whose FAT keeps nothing from there on.
bool mayEndBefore(const FsCandidate& c, u64 lba, SectorReader& reader) {
    switch (candidateFsKind(c)) {
    case FS_FAT:
        return fatFreeFrom(c, lba, reader);
    case FS_NTFS:
        return c.hasNtfsVolume;
    default:
        return false;
    }
}

void computeSizeLimits(FsCandidateList& list, CreateFSCollectionParameters& p) {
    const u64 sectorCount = p.driver->getSectorCount();
    const std::vector<u32> starts = knownStarts(list, *p.driver);
    SectorReader reader(*p.driver);
    DumpLimit dumps;
    for (std::size_t index = 0; index < list.size(); ++index) {
        FsCandidate& c = list[index];
        const u64 start = c.startLBA;
        const u64 room = behind(sectorCount, start);
        u64 lo = 1;
        u64 hi = room;
        if (c.hasSubDirs) {
            const u64 dataOffset = behind(c.cluster2LBA, start);
            lo = std::max(lo, dataOffset);
            const u64 e = c.hasFats ? fatEntries(c.fatType, c.fatSectors) : 0;
            // A data area before the volume start would make no size at all.
            if (e > 1 && c.cluster2LBA >= start) {
                const u64 size =
                    saturatingAdd(saturatingMul(e - 2, c.sectorsPerCluster), dataOffset);
                if (size <= room)
                    hi = size;
            }
        }
        if (c.hasFats)
            lo = std::max(lo, behind(static_cast<u64>(c.fatLBA) +
                                         u64{c.fatCount} * static_cast<u64>(c.fatSectors),
                                     start));
        if (c.hasRootDir)
            lo = std::max(lo, behind(c.rootDirLBA, start));
        if (c.hasNtfsVolume) {
            const u64 s = c.ntfsSectorsPerCluster;
            const u64 bits = saturatingMul(c.bitmapSize, 8);
            if (bits > 63)
                lo = std::max(lo, saturatingMul(s, bits - 63));
            hi = std::min(hi, saturatingAdd(saturatingMul(s, bits), 1));
        }
        u64 exact = 0;
        auto within = [&](const BootParams& boot) {
            return bootSectorSize(boot, exact) && exact >= lo && exact <= hi;
        };
        bool isExact =
            (c.hasBootSector && within(c.bootSector)) || (c.hasBootBackup && within(c.bootBackup));
        if (!isExact && c.hasPartitionEntry && c.partitionSectors >= lo &&
            c.partitionSectors <= hi) {
            exact = c.partitionSectors;
            isExact = true;
        }
        if (isExact)
            lo = hi = exact;
        if (lo == 0)
            lo = 1;
        if (hi > room)
            hi = room;
        // A copy cut short holds less than the evidence makes of its volume (an
        // NTFS $Bitmap counts all of it): the volume is what the source holds.
        if (lo > hi && hi == room && room != 0)
            lo = room;
        // A size the evidence leaves open stops where the next volume shown
        // begins, unless the FAT says this one holds data there.
        auto next = std::upper_bound(starts.begin(), starts.end(), c.startLBA);
        if (!isExact && next != starts.end() && *next - start < hi && *next - start >= lo &&
            mayEndBefore(c, *next, reader))
            hi = *next - start;
        if (hi < lo) {
            logAt("FSs", 1228) << ": min > max: " << lo << '/' << hi << '\n';
            if (dumps.take()) {
                logAt("FSs", 1229) << '\n';
                dumpFsCandidate(logStream(), static_cast<u32>(index), c, *p.driver);
            }
            hi = lo;
        }
        // Sizes beyond 32 bits (a volume on a disk past 2 TiB) stick at the
        // largest rather than wrap around to a small one.
        c.minSectors = static_cast<u32>(std::min(lo, U32_MAX));
        c.maxSectors = static_cast<u32>(std::min(hi, U32_MAX));
    }
    if (dumps.leftOut() != 0)
        logAt("FsCollection", 1) << ": " << dumps.leftOut()
                                 << " more candidates with min > max left undumped\n";
}

} // namespace

std::set<u32> ntfsVolumeStarts(const FoundList<FoundNtfsSystemRecord>& records) {
    NtfsVolumeCollector collector(records);
    collector.fromMftRecords();
    return collector.starts();
}

void CreateFSCollection(FsCandidateList& out, CreateFSCollectionParameters& p) {
    out.clear();
    CandidatePool pool;
    collectPartitionEntries(pool, p);
    out = pool.ordered();
    p.poll();
    collectBootSectors(pool, p);
    out = pool.ordered();
    p.poll();

    // Each later phase works on a copy, so that a cancel leaves the list as the
    // last finished phase made it.
    FsCandidateList list = out;
    collectDirectoryClusters(list, p);
    out = list;
    p.poll();
    collectDirectoryRuns(list, p);
    out = list;
    p.poll();
    collectFatTables(list, p);
    out = list;
    p.poll();
    collectNtfsVolumes(list, p);
    out = list;
    p.poll();
    computeSizeLimits(list, p);
    out.swap(list);
    p.poll();

    logFsCollection(out, *p.driver);
}
