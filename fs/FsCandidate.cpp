#include "fs/FsCandidate.h"

#include "core/Checked.h"
#include "devices/DriveGeometry.h"
#include "devices/Driver.h"
#include "fs/FatLayout.h"
#include "fs/StructureChecks.h"

#include <algorithm>
#include <limits>

namespace {

constexpr u8 TYPE_FAT12 = 0x01;
constexpr u8 TYPE_FAT16 = 0x04;
constexpr u8 TYPE_FAT16_BIG = 0x06;
constexpr u8 TYPE_NTFS = 0x07;
constexpr u8 TYPE_FAT32 = 0x0B;

// The type byte of a FAT width; 0 for anything that is no volume width.
u8 codeOfFatType(u32 type) {
    switch (type) {
    case FAT12:
        return TYPE_FAT12;
    case FAT16:
        return TYPE_FAT16;
    case FAT32:
        return TYPE_FAT32;
    default:
        return 0;
    }
}

// The FAT type that a hidden one (0x11 to 0x1E) hides, and 0x0E (FAT16 reached
// by LBA) as 0x06, which holds the same volumes; any other type as it is.
u8 unhiddenFatType(u8 type) {
    switch (type) {
    case 0x11:
    case 0x14:
    case 0x16:
    case 0x1B:
    case 0x1C:
    case 0x1E:
        type = static_cast<u8>(type - 0x10);
        break;
    default:
        break;
    }
    return type == 0x0E ? TYPE_FAT16_BIG : type;
}

// Sectors between a partition's start and its data area that the smallest volume
// of each width needs: boot sector and two FATs (plus the root directory of
// FAT12/16, and the 32 reserved sectors of FAT32).
u64 minimalDataGap(FatType type) {
    switch (type) {
    case FAT12:
        return 3;
    case FAT16:
        return 33;
    default:
        return 1056;
    }
}

} // namespace

FsCandidate& insertCandidate(FsCandidateList& list, const FsCandidate& candidate) {
    std::size_t at = list.size();
    while (at > 0 && list[at - 1].startLBA > candidate.startLBA)
        --at;
    return *list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), candidate);
}

void insertCandidates(FsCandidateList& list, const FsCandidateList& added) {
    if (added.empty())
        return;
    // The last candidate of `list` with a start <= x is the last index whose
    // suffix minimum is <= x; suffix minima never fall, so that is a binary
    // search even when the list is out of order.
    const std::size_t n = list.size();
    std::vector<u32> suffixMin(n);
    for (std::size_t i = n; i-- > 0;)
        suffixMin[i] = i + 1 < n ? std::min(list[i].startLBA, suffixMin[i + 1]) : list[i].startLBA;
    // Each new record lands in the gap behind that candidate; within one gap the
    // new records end up ordered by start, the earlier one first on equal starts.
    struct Placed {
        std::size_t gap; // the count of old candidates in front of it
        std::size_t order;
    };
    std::vector<Placed> placed(added.size());
    for (std::size_t k = 0; k < added.size(); ++k) {
        auto it = std::upper_bound(suffixMin.begin(), suffixMin.end(), added[k].startLBA);
        placed[k] = {static_cast<std::size_t>(it - suffixMin.begin()), k};
    }
    std::stable_sort(placed.begin(), placed.end(), [&](const Placed& a, const Placed& b) {
        if (a.gap != b.gap)
            return a.gap < b.gap;
        return added[a.order].startLBA < added[b.order].startLBA;
    });
    FsCandidateList merged;
    merged.reserve(n + added.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i <= n; ++i) {
        while (next < placed.size() && placed[next].gap == i)
            merged.push_back(added[placed[next++].order]);
        if (i < n)
            merged.push_back(list[i]);
    }
    list.swap(merged);
}

FatType FsCandidate::ownFatWidth() const {
    const BootParams* boot = hasBootSector ? &bootSector : hasBootBackup ? &bootBackup : nullptr;
    if (boot != nullptr)
        return boot->kind == FS_FAT ? boot->fat.fatType() : FAT_NONE;
    return hasFats ? static_cast<FatType>(fatType) : FAT_NONE;
}

u8 FsCandidate::fscode() const {
    // A partition is formatted anew without its type being changed: where the
    // entry says another width than the volume's own FAT, the FAT decides.
    const BootParams* boot = hasBootSector ? &bootSector : hasBootBackup ? &bootBackup : nullptr;
    const FatType ownWidth = ownFatWidth();
    FsKind entryKind = FS_NONE;
    FatType entryWidth = FAT_NONE;
    if (hasPartitionEntry)
        partitionTypeToFs(partitionType, entryKind, entryWidth);
    const bool widthDisagrees =
        entryKind == FS_FAT && codeOfFatType(ownWidth) != 0 && ownWidth != entryWidth;
    u8 code = 0;
    if (hasPartitionEntry && partitionType != TYPE_FAT16_BIG && !widthDisagrees) {
        code = partitionType;
    } else if (boot != nullptr) {
        if (boot->kind == FS_FAT) {
            if (u8 c = codeOfFatType(boot->fat.fatType()))
                code = c;
        } else if (boot->kind == FS_NTFS) {
            code = TYPE_NTFS;
        }
    } else if (hasFats) {
        if (u8 c = codeOfFatType(fatType))
            code = c;
    } else if (hasNtfsVolume) {
        code = TYPE_NTFS;
    }
    // Hidden and volume-set NTFS types are written back as plain NTFS.
    FsKind kind = FS_NONE;
    FatType width = FAT_NONE;
    partitionTypeToFs(code, kind, width);
    if (kind == FS_NTFS)
        code = TYPE_NTFS;
    return code;
}

void partitionTypeToFs(u8 type, FsKind& kind, FatType& fatType) {
    kind = FS_NONE;
    fatType = FAT_NONE;
    switch (unhiddenFatType(type)) {
    case 0x01:
        kind = FS_FAT;
        fatType = FAT12;
        break;
    case 0x04:
    case 0x06:
        kind = FS_FAT;
        fatType = FAT16;
        break;
    case 0x0B:
    case 0x0C:
        kind = FS_FAT;
        fatType = FAT32;
        break;
    case 0x07:
    case 0x17:
    case 0x86:
    case 0x87:
        kind = FS_NTFS;
        break;
    default:
        break;
    }
}

bool isFatPartitionType(u8 type) {
    FsKind kind = FS_NONE;
    FatType width = FAT_NONE;
    partitionTypeToFs(type, kind, width);
    return kind == FS_FAT;
}

bool isPartitionTypeCompatible(u8 type, FsKind kind, FatType fatType) {
    if (kind == FS_NTFS)
        return type == 0x07 || type == 0x17 || type == 0x86 || type == 0x87;
    if (kind != FS_FAT)
        return false;
    const bool fat12 = fatType == FAT12;
    const bool fat16 = fatType == FAT16 || fatType == FAT16_32;
    const bool fat32 = fatType == FAT32 || fatType == FAT16_32;
    switch (unhiddenFatType(type)) {
    case 0x01:
        return fat12;
    case 0x04:
        return fat16;
    case 0x06:
        return fat12 || fat16;
    case 0x0B:
    case 0x0C:
        return fat32;
    default:
        return false;
    }
}

FsKind candidateFsKind(const FsCandidate& c) {
    FsKind entryKind = FS_NONE;
    FatType entryFat = FAT_NONE;
    if (c.hasPartitionEntry)
        partitionTypeToFs(c.partitionType, entryKind, entryFat);
    auto bootSays = [&](FsKind kind) {
        return (c.hasBootSector && c.bootSector.kind == kind) ||
               (c.hasBootBackup && c.bootBackup.kind == kind);
    };
    if (entryKind == FS_FAT || bootSays(FS_FAT) || c.hasFats || c.hasRootDir || c.hasSubDirs)
        return FS_FAT;
    if (entryKind == FS_NTFS || bootSays(FS_NTFS) || c.hasNtfsVolume)
        return FS_NTFS;
    return FS_NONE;
}

bool isSelectedFileSystem(const FsCandidate& c) {
    return c.selected && !c.isPartitionTable;
}

const FsCandidate* getSelectedFileSystem(const FsCandidateList& list, u32 index) {
    for (const FsCandidate& c : list) {
        if (!isSelectedFileSystem(c))
            continue;
        if (index == 0)
            return &c;
        --index;
    }
    return nullptr;
}

FsCandidate* getSelectedFileSystem(FsCandidateList& list, u32 index) {
    return const_cast<FsCandidate*>(
        getSelectedFileSystem(static_cast<const FsCandidateList&>(list), index));
}

FatType neededFatType(u32 maxThisCluster) {
    // Clusters are numbered from 2: the highest one m means m - 1 clusters.
    const u64 n = maxThisCluster == 0 ? 0 : maxThisCluster - 1;
    if (n <= 4084)
        return FAT12;
    if (n < 65525)
        return FAT16;
    return FAT32;
}

FatVolumeFitsPartition::FatVolumeFitsPartition(const FsCandidate& partition)
    : start_(partition.startLBA), sectors_(partition.partitionSectors),
      type_(partition.partitionType) {}

bool FatVolumeFitsPartition::operator()(const FsCandidate& volume) const {
    if (!isFatPartitionType(type_) || volume.sectorsPerCluster == 0)
        return false;
    const FatType needed = neededFatType(volume.maxThisCluster);
    const u64 p = start_;
    const u64 c = volume.cluster2LBA;
    const u64 s = volume.sectorsPerCluster;
    if (c < p)
        return false;
    // Sectors from the partition start to cluster 2.
    const u64 gap = c - p;
    if (gap < minimalDataGap(needed) || gap > 0x400020)
        return false;
    // The grid's clusters (the highest one m ends m - 1 clusters after cluster 2)
    // end inside the partition.
    const u64 clusters = volume.maxThisCluster == 0 ? 0 : volume.maxThisCluster - 1;
    if (u64{sectors_} < gap + s * clusters)
        return false;
    // The FATs between the partition start and cluster 2 must be able to
    // describe every cluster that the rest of the partition holds: a single
    // FAT (mkfs.fat -f 1) may fill all of that room. A partition formatted
    // anew keeps its type: its FAT may be of any width that the grid's
    // clusters and the partition's size allow.
    const u64 clustersNeeded = sectors_ > gap ? ceilDiv(sectors_ - gap, s) : 0;
    auto describes = [&](FatType w) {
        const u64 reserved = w == FAT32 ? 32 : 1;
        const u64 perSector = w == FAT32 ? FAT32_ENTRIES_PER_SECTOR : FAT16_ENTRIES_PER_SECTOR;
        const u64 fatRoom = gap > reserved ? gap - reserved : 0;
        return std::min<u64>(perSector * fatRoom, maxClusterCount(w)) >= clustersNeeded;
    };
    for (FatType w : {FAT12, FAT16, FAT32}) {
        if (w >= needed && describes(w))
            return true;
    }
    return false;
}

FatVolumeFitsBootSector::FatVolumeFitsBootSector(const FsCandidate& candidate, bool backup)
    : start_(candidate.startLBA), boot_(backup ? candidate.bootBackup : candidate.bootSector) {}

bool FatVolumeFitsBootSector::operator()(const FsCandidate& volume) const {
    if (boot_.kind != FS_FAT)
        return false;
    if (boot_.fat.fatType() < neededFatType(volume.maxThisCluster))
        return false;
    return static_cast<u64>(start_) + boot_.fat.dataLbaOffset == volume.cluster2LBA;
}

CreateFSCollectionParameters::CreateFSCollectionParameters(const ScanResults& results,
                                                           Driver& driver, u32 slackSectors)
    : partitionTables(&results.partitionTables), bootSectors(&results.bootSectors),
      fatSectors(&results.fatSectors), directoryRuns(&results.directoryRuns),
      ntfsSystemRecords(&results.ntfsSystemRecords), driver(&driver), slackSectors(slackSectors) {}

u64 CreateFSCollectionParameters::lastLBA() const {
    return driver->getSectorCount() + slackSectors;
}

u32 CreateFSCollectionParameters::defaultSlackSectors(const Driver& driver) {
    const u64 heads = driver.getProperties().getUInt64(PROP_HEADS, DEFAULT_HEADS);
    const u64 sectors = driver.getProperties().getUInt64(PROP_SECTORS, DEFAULT_SECTORS_PER_TRACK);
    constexpr u64 MAX = std::numeric_limits<u32>::max();
    if (heads != 0 && sectors != 0 && (heads > MAX / 4 || sectors > MAX / (4 * heads)))
        return static_cast<u32>(MAX);
    return static_cast<u32>(4 * heads * sectors);
}

bool startsLikeAPartition(u64 lba) {
    constexpr u64 MIB_SECTORS = 2048;
    return lba % DEFAULT_SECTORS_PER_TRACK == 0 || lba % MIB_SECTORS == 0;
}

bool volumeAtSectorZero(const Driver& driver) {
    const Attributes& p = driver.getProperties();
    return p.getUInt8(PROP_IS_FLOPPY, 0) != 0 || p.getUInt8(PROP_USES_PARTITION_TABLES, 1) == 0;
}
