#include "analysis/FsFilters.h"

#include "analysis/DumpLimit.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "devices/DriveGeometry.h"
#include "devices/Driver.h"
#include "fs/Params.h"
#include "fs/StructureChecks.h"
#include "fs/StructureDumps.h"

#include <algorithm>
#include <limits>
#include <sstream>
#include <vector>

namespace {

// A grid confirmed by this many subdirectory pairs stands without found FATs.
constexpr u32 CONFIRMED_GRID_PAIRS = 10;

// The pieces of evidence a candidate may carry.
u32 evidenceCount(const FsCandidate& c) {
    return static_cast<u32>(c.hasPartitionEntry) + c.hasBootSector + c.hasFats + c.hasRootDir +
           c.hasSubDirs + c.hasNtfsVolume + c.hasBootBackup;
}

char sign(bool present) {
    return present ? '+' : '-';
}

// The boot sector text with every line indented under its heading.
void writeBootParams(std::ostream& os, const BootParams& params) {
    std::ostringstream text;
    text << params;
    writeWithLinePrefix(os, text.str(), "  ");
}

// Where the root directory of a candidate lies: the one placed, else the one its
// FAT boot sector (or backup) names. False for anything else.
bool rootDirectoryOf(const FsCandidate& c, u32& lba) {
    if (c.hasRootDir) {
        lba = c.rootDirLBA;
        return true;
    }
    const BootParams* boot = nullptr;
    if (c.hasBootSector && c.bootSector.kind == FS_FAT)
        boot = &c.bootSector;
    else if (c.hasBootBackup && c.bootBackup.kind == FS_FAT)
        boot = &c.bootBackup;
    if (!boot)
        return false;
    const u64 at = static_cast<u64>(c.startLBA) + boot->fat.rootDirectoryLbaOffset;
    if (at > std::numeric_limits<u32>::max())
        return false;
    lba = static_cast<u32>(at);
    return true;
}

// Whether the root directory was found where a FAT boot sector of the
// candidate, or its backup, places it.
bool rootWhereBootPlacesIt(const FsCandidate& c) {
    if (!c.hasRootDir)
        return false;
    for (const BootParams* boot :
         {c.hasBootSector ? &c.bootSector : nullptr, c.hasBootBackup ? &c.bootBackup : nullptr}) {
        if (boot && boot->kind == FS_FAT &&
            static_cast<u64>(c.startLBA) + boot->fat.rootDirectoryLbaOffset == c.rootDirLBA)
            return true;
    }
    return false;
}

// Whether the candidate's FATs lie where its own FAT boot sector puts them,
// of the size it states, and were found there: a volume, wherever it lies and
// whatever its hidden sectors count (formatters write the partition's start
// there, none, or the start of the disk it was copied from).
bool bootSectorAndFatsAgree(const FsCandidate& c) {
    if (!c.hasBootSector || c.bootSector.kind != FS_FAT || !c.hasFats)
        return false;
    const FatBootParams& boot = c.bootSector.fat;
    if (u64{c.startLBA} + boot.reservedSectors != c.fatLBA || boot.sectorsPerFAT != c.fatSectors)
        return false;
    return (c.fatFound && c.fatMirrorFound) ||
           ((c.fatFound || c.fatMirrorFound) && rootWhereBootPlacesIt(c));
}

bool isFat12WithoutEntry(const FsCandidate& c) {
    return !c.hasPartitionEntry && c.ownFatWidth() == FAT12;
}

// Drops the FAT12 volumes without a partition entry that lie inside another
// volume of the list: a floppy image kept as a file of that volume is its
// contents, not a volume of the drive. The list need not be in order of start
// (the FAT placement moves starts in place).
void dropFat12InsideOthers(FsCandidateList& list) {
    struct Extent {
        u32 start;
        u64 end;
    };
    std::vector<Extent> extents;
    for (const FsCandidate& c : list) {
        const FsKind kind = candidateFsKind(c);
        if ((kind == FS_FAT || kind == FS_NTFS) && !isFat12WithoutEntry(c))
            extents.push_back({c.startLBA, u64{c.startLBA} + c.minSectors});
    }
    std::sort(extents.begin(), extents.end(),
              [](const Extent& a, const Extent& b) { return a.start < b.start; });
    // The furthest end of the volumes up to each one.
    for (std::size_t i = 1; i < extents.size(); ++i)
        extents[i].end = std::max(extents[i].end, extents[i - 1].end);
    auto inside = [&](const FsCandidate& c) {
        auto it = std::lower_bound(extents.begin(), extents.end(), c.startLBA,
                                   [](const Extent& e, u32 lba) { return e.start < lba; });
        return it != extents.begin() && std::prev(it)->end > c.startLBA;
    };
    list.erase(
        std::remove_if(list.begin(), list.end(),
                       [&](const FsCandidate& c) { return isFat12WithoutEntry(c) && inside(c); }),
        list.end());
}

// Whether the candidate's boot sectors are lost and both its FAT copies were
// found where the guess from its folders put them: a volume, where no entry
// names it (an old one outside the partitions, or one whose table is lost).
bool bothFatsPlaceIt(const FsCandidate& c) {
    return !c.hasBootSector && !c.hasBootBackup && c.hasFats && c.fatFound && c.fatMirrorFound;
}

} // namespace

bool hasSufficientEvidence(const FsCandidate& c, const Driver& driver) {
    const u32 pieces = evidenceCount(c);
    if (pieces == 0 || (pieces == 1 && !c.hasNtfsVolume))
        return false;
    FsKind kind = FS_NONE;
    FatType width = FAT_NONE;
    partitionTypeToFs(c.fscode(), kind, width);
    if (kind != FS_FAT)
        return true;
    // On a drive with partition tables a FAT12 volume stands in a partition;
    // found outside one, it needs its boot sector and FATs to agree, or, its
    // boot sectors lost, both FAT copies found where its folders place them
    // (the table that named it is lost, or it is an old volume outside the
    // partitions).
    // A floppy, and any source that holds no tables (a partition, a volume
    // image), keeps its volume in sector 0.
    if (width == FAT12 && !c.hasPartitionEntry && !volumeAtSectorZero(driver) &&
        !bootSectorAndFatsAgree(c) && !bothFatsPlaceIt(c))
        return false;
    const bool bothFatsFound = c.hasFats && c.fatFound && c.fatMirrorFound;
    // A boot sector whose FATs lie where it says is a volume even when its root
    // directory is empty (a fresh format) or one FAT copy begins damaged; and
    // one whose root directory lies where it says places its FATs as well,
    // even when both begin damaged past the tests of a FAT's first sector (a
    // link back to cluster 2, a sector of zeros): one bad chain does not lose
    // the volume.
    if ((c.hasBootSector || c.hasBootBackup) && c.hasFats &&
        (bothFatsFound || (c.hasRootDir && (c.fatFound || c.fatMirrorFound)) ||
         rootWhereBootPlacesIt(c)))
        return true;
    if (!c.hasRootDir && !c.hasSubDirs)
        return false;
    const bool gridConfirmed = c.hasSubDirs && c.subDirCount >= CONFIRMED_GRID_PAIRS;
    // A FAT partition entry places the volume whose boot sectors are lost:
    // FATs guessed inside it, between its start and the folders found in it,
    // stand even where their first sectors are lost too.
    const bool placedByEntry = c.hasFats && !c.hasBootSector && !c.hasBootBackup &&
                               c.hasPartitionEntry && isFatPartitionType(c.partitionType);
    return bothFatsFound || gridConfirmed || placedByEntry;
}

bool isPlausibleCandidate(const FsCandidate& c, int mode, Driver& driver) {
    if (mode != 1)
        return true;
    switch (candidateFsKind(c)) {
    case FS_FAT: {
        if (!c.hasFats || c.fatFound || c.fatMirrorFound)
            return true;
        // The FATs were only placed by inference; with one other piece beside
        // them, the inference rests on that piece alone.
        const u32 others = evidenceCount(c) - 1;
        const bool single = others == 1 && (c.hasPartitionEntry || c.hasBootSector || c.hasRootDir);
        return !single;
    }
    case FS_NTFS: {
        NTFS_FS_PARAMS params;
        return form_ntfs_fs_params(c, params, driver);
    }
    default:
        logAt("FSs", 1475) << '\n';
        return false;
    }
}

void filterFsByEvidence(FsCandidateList& out, const FsCandidateList& in, const Driver& driver) {
    FsCandidateList evident;
    for (const FsCandidate& c : in) {
        if (hasSufficientEvidence(c, driver))
            evident.push_back(c);
    }
    if (!volumeAtSectorZero(driver))
        dropFat12InsideOthers(evident);
    out.insert(out.end(), evident.begin(), evident.end());
}

void filterFsByPlausibility(FsCandidateList& out, const FsCandidateList& in, int mode,
                            Driver& driver) {
    for (const FsCandidate& c : in) {
        if (isPlausibleCandidate(c, mode, driver))
            out.push_back(c);
    }
}

void filterFsCollection(FsCandidateList& out, const FsCandidateList& collection, Driver& driver) {
    if (!Preferences::instance().filterInvalidFileSystems()) {
        out = collection;
        return;
    }
    FsCandidateList evident;
    filterFsByEvidence(evident, collection, driver);
    FsCandidateList plausible;
    filterFsByPlausibility(plausible, evident, 1, driver);
    out.swap(plausible);
    logAt("Analyzer", 262) << ": *** CreateFSCollection after filters ***\n";
    logAt("Analyzer", 263) << '\n';
    printFsCollection(logStream(), out, driver);
    logAt("Analyzer", 264) << ": *** End of CreateFSCollection after filters ***\n";
}

void dumpFsCandidate(std::ostream& os, u32 index, const FsCandidate& c, Driver& driver) {
    os << "Index:" << index << " LBA: " << c.startLBA << '\n';

    if (c.hasPartitionEntry)
        os << "Part+ " << partitionTypeName(c.partitionType) << " Sects:" << c.partitionSectors
           << " PTableLBA:" << c.partitionTableLBA << " PTableEntry:" << c.partitionEntryIndex;
    else
        os << "Part-";
    os << '\n';

    if (c.hasBootSector) {
        os << "Boot+\n";
        writeBootParams(os, c.bootSector);
    } else {
        os << "Boot-\n";
    }
    if (c.hasBootBackup) {
        os << "BootBackup+ LBA: " << c.bootBackupLBA << '\n';
        writeBootParams(os, c.bootBackup);
    } else {
        os << "BootBackup-\n";
    }

    if (c.hasFats) {
        os << "FATs+ ";
        writeFsTypeName(os, FS_FAT, c.fatType, 0);
        os << " FAT Sects:" << c.fatSectors << " FATLBA:" << c.fatLBA << " (" << sign(c.fatFound)
           << sign(c.fatMirrorFound) << ')';
    } else {
        os << "FATs-";
    }
    os << '\n';

    if (c.hasRootDir)
        os << "RootDir+ Root LBA:" << c.rootDirLBA << " \n        Last Cl:" << c.rootLastCluster;
    else
        os << "RootDir-";
    os << '\n';

    if (c.hasSubDirs) {
        os << "SubDir+ Cl.Sect:" << c.sectorsPerCluster << " Cl2.LBA:" << c.cluster2LBA
           << " \n        Last Cl:" << c.lastCluster << " max_this_cl:" << c.maxThisCluster
           << " Num:" << c.subDirCount << ' ';
        if (c.hasFats) {
            // The sizes between the last cluster used and the last one the FAT
            // can describe.
            const i64 s = c.sectorsPerCluster;
            const i64 dataOffset = static_cast<i64>(c.cluster2LBA) - c.startLBA;
            const i64 perSector = c.fatType == FAT32 ? 128 : 256;
            const i64 lo = (static_cast<i64>(c.lastCluster) - 1) * s + dataOffset;
            const i64 hi = (static_cast<i64>(c.fatSectors) * perSector - 2) * s + dataOffset;
            os << "Ss:[[" << lo << ':' << hi << ']';
        }
    } else {
        os << "SubDir-";
    }
    os << '\n';

    if (c.hasNtfsVolume) {
        // In 32 bits, as this line has always been written.
        const u32 s = c.ntfsSectorsPerCluster;
        const u32 bits = static_cast<u32>(c.bitmapSize) * 8;
        os << "NTFS_volume+ MFTLBA:" << c.mftLBA << " MFTMirrLBA:" << c.mftMirrLBA << "\n S/C=" << s
           << " S/FR=" << c.sectorsPerFileRecord << " BitmapSize=" << c.bitmapSize << "\nSs:[["
           << static_cast<u32>(s * (bits - 63)) << ':' << static_cast<u32>(s * bits + 1) << ']';
    } else {
        os << "NTFS_volume-";
    }
    os << '\n';

    os << "\nMinSs:" << c.minSectors << " MaxSs:" << c.maxSectors << '\n';

    u32 root = 0;
    if (rootDirectoryOf(c, root))
        dumpDirectorySector(os, root, driver);
}

void printFsCollection(std::ostream& os, const FsCandidateList& list, Driver& driver) {
    const std::size_t shown = std::min(list.size(), DumpLimit::FULL_DUMPS);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i != 0)
            os << '\n';
        os << (list[i].selected ? "(selected) " : "(not selected) ");
        dumpFsCandidate(os, static_cast<u32>(i), list[i], driver);
    }
    if (shown < list.size())
        os << "\n(" << list.size() - shown << " of " << list.size()
           << " candidates left out of this listing)\n";
}

void logFsCollection(const FsCandidateList& list, Driver& driver) {
    logAt("Analyzer", 241) << ": *** CreateFSCollection ***\n";
    logAt("Analyzer", 242) << '\n';
    printFsCollection(logStream(), list, driver);
    logAt("Analyzer", 243) << ": *** End of CreateFSCollection ***\n";
}

void printNtfsVolume(std::ostream& os, const FsCandidate& c) {
    os << _("NTFS Volume") << '\n'
       << _("$MFT LBA") << ": " << c.mftLBA << '\n'
       << _("$MFT Mirror LBA") << ": " << c.mftMirrLBA << '\n'
       << _("Sectors Per Cluster") << ": " << c.ntfsSectorsPerCluster << '\n'
       << _("Sectors Per File Record") << ": " << c.sectorsPerFileRecord << '\n'
       << _("$Bitmap File Size") << ": " << c.bitmapSize;
}
