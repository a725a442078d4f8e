#include "fs/fat/FATDrive.h"

#include "core/Array.h"
#include "core/Checked.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "fs/DirectoryEntry.h"
#include "fs/StructureChecks.h"
#include "tree/MapPosition.h"
#include "tree/Node.h"

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace {

// What a directory's first cluster says about the rest of it.
enum class DirectoryMode { UNDECIDED, FOLLOW_FAT, CONSECUTIVE };

// What stands in the place of "." (slot 0) or ".." (slot 1) is no entry of
// another folder: it is that dot entry with its first byte hit, or bytes that
// are no entry. Zeros are left to the end mark's rules.
bool dotSlotHurt(const u8* entry, u32 slot) {
    return entry[DE_NAME] != ENTRY_FREE &&
           (isHitDotEntry(entry, slot) || !isValidShortDirEntry(entry));
}

// The most 512-byte sectors per cluster a boot sector can state: a byte of
// sectors of up to 4,096 bytes. Sizes that no formatter writes (3, 255) still
// describe a readable volume.
constexpr u32 MAX_SECTORS_PER_CLUSTER = 255 * (MAX_FAT_SECTOR_BYTES / SECTOR_BYTES);

// Refuses, before anything is sized from them, parameters that the caller
// should never have formed: an allocation of two clusters follows.
u64 checkedClusterBytes(const FAT_FS_PARAMS& params) {
    if (!params.isValid() || params.sectorsPerCluster > MAX_SECTORS_PER_CLUSTER)
        throw std::runtime_error("FATDrive(20)");
    return static_cast<u64>(SECTOR_BYTES) * params.sectorsPerCluster;
}

// Puts a stream's fill character and flags back when a dump is done with it.
class StreamStateSaver {
public:
    explicit StreamStateSaver(std::ostream& os) : os_(os), fill_(os.fill()), flags_(os.flags()) {}
    ~StreamStateSaver() {
        os_.fill(fill_);
        os_.flags(flags_);
    }
    StreamStateSaver(const StreamStateSaver&) = delete;
    StreamStateSaver& operator=(const StreamStateSaver&) = delete;

private:
    std::ostream& os_;
    char fill_;
    std::ios_base::fmtflags flags_;
};

std::ostream& digits(std::ostream& os, int width, u32 value) {
    return os << std::setw(width) << std::setfill('0') << std::dec << value;
}

void printDate(std::ostream& os, const char* label, u16 date) {
    os << "  " << _(label) << _(" [month:day:year]") << ":\t[";
    digits(os, 2, dosMonth(date)) << ':';
    digits(os, 2, dosDay(date)) << ':';
    digits(os, 4, dosYear(date)) << "]\n";
}

} // namespace

FATDrive::FATDrive(const SharedPtr<Driver>& driver, const FAT_FS_PARAMS& params,
                   const Bitmap& mirrorSectors, const UnreadableSectors* unreadable)
    : Drive(driver, unreadable), fats_(driver.get(), params, mirrorSectors), joins_(&fats_, this),
      params_(params), clusterBytes_(checkedClusterBytes(params)),
      entriesPerCluster_(clusterBytes_ / DIR_ENTRY_BYTES),
      tableBytes_(clusterBytes_ * (fats_.getTableLimit() - 2)),
      maxDirectoryClusters_(ceilDiv(MAX_DIRECTORY_ENTRIES * DIR_ENTRY_BYTES, clusterBytes_)),
      clusterPair_(new u8[static_cast<std::size_t>(2 * clusterBytes_)]),
      visitedClusters_(params.get_cluster_count()) {}

FATDrive::~FATDrive() = default;

u64 FATDrive::getClusterLBA(u32 cluster) {
    if (!fats_.isValidCluster(cluster)) {
        logAt("FATDrive", 577) << '\n';
        return ~0ull;
    }
    return params_.dataClusterLBA + static_cast<u64>(params_.sectorsPerCluster) * (cluster - 2);
}

bool FATDrive::readClusters(u32 cluster, u8* buffer, u64 sectors) {
    if (!fats_.isValidCluster(cluster)) {
        logAt("FATDrive", 565) << '\n';
        return false;
    }
    if (sectors == 0)
        sectors = params_.sectorsPerCluster;
    const u64 lba = getClusterLBA(cluster);
    // The clusters end where the last valid one does; nothing past it is read.
    const u64 end = getClusterLBA(fats_.getEntryLimit() - 1) + params_.sectorsPerCluster;
    if (sectors > end - lba) {
        logAt("FATDrive", 571) << ": " << cluster << ' ' << sectors << '\n';
        return false;
    }
    return readSectors(lba, sectors, buffer);
}

bool FATDrive::holdsChain(u32 first, u32 size, bool directory) {
    if (!fats_.isValidCluster(first))
        return false;
    if (directory) {
        const ClusterType type = fats_.getClusterType(fats_.getEntry(first));
        return type == NEXT_CLUSTER || type == EOF_CLUSTER;
    }
    // Folders are still being read, so not every first cluster is known yet:
    // whether a chain runs into another file's is left to checkChain.
    bool unreadable = false;
    return size != 0 &&
           followChain(first, ceilDiv(u64{size}, SECTOR_BYTES), false, false, unreadable);
}

void FATDrive::markFileClusters(Bitmap& clusters) {
    for (const ChainJoins::File& file : joins_.files()) {
        bool unreadable = false;
        const u64 sectors = ceilDiv(u64{file.size}, SECTOR_BYTES);
        if (!followChain(file.first, sectors, false, true, unreadable))
            continue;
        u32 cluster = file.first;
        for (u64 k = ceilDiv(u64{file.size}, clusterBytes_); k > 0; --k) {
            clusters.set(cluster, true);
            cluster = fats_.getEntry(cluster);
        }
    }
}

bool FATDrive::checkChain(u32 first, u64 sectors, bool contiguous, bool& hasUnreadable) {
    return followChain(first, sectors, contiguous, true, hasUnreadable);
}

bool FATDrive::followChain(u32 first, u64 sectors, bool contiguous, bool joins,
                           bool& hasUnreadable) {
    // Another live entry starts there too: which of them the chain is cannot be
    // told.
    if (joins && !contiguous && joins_.isSharedStart(first))
        return false;
    u64 step = params_.sectorsPerCluster;
    u32 cluster = first;
    // A chain that comes back to a cluster is caught within twice its length
    // (Brent): `mark` is a cluster met earlier, moved ever further along.
    u32 mark = 0;
    u64 sinceMark = 0;
    u64 markDistance = 1;
    while (sectors > 0) {
        if (!fats_.isValidCluster(cluster))
            return false;
        if (step > sectors)
            step = sectors;
        if (!hasUnreadable && isUnreadable(getClusterLBA(cluster), step))
            hasUnreadable = true;
        const u32 entry = fats_.getEntry(cluster);
        if (contiguous) {
            if (entry != 0 || fats_.isUnknown(cluster))
                return false;
            ++cluster;
        } else {
            const ClusterType type = fats_.getClusterType(entry);
            if (type != (step == sectors ? EOF_CLUSTER : NEXT_CLUSTER))
                return false;
            if (entry == mark)
                return false;
            // The file goes on in the cluster the link names; an end names none.
            if (joins && type == NEXT_CLUSTER && joins_.isJoin(entry))
                return false;
            if (++sinceMark == markDistance) {
                mark = cluster;
                sinceMark = 0;
                markDistance *= 2;
            }
            cluster = entry;
        }
        sectors -= step;
        poll();
    }
    return true;
}

u32 FATDrive::entryCluster(const u8* entry) const {
    const u32 cluster = dirEntryStartCluster(entry);
    return fats_.getFatType() == FAT32 ? cluster : cluster & 0xFFFF;
}

bool FATDrive::readDirectory(u64 first, tree::Folder& folder, bool& readAsDeleted,
                             const DirectoryRead& how) {
    DirectoryRead rules = how;
    const bool markVisited = how.markVisited;
    const bool live = how.live;
    DirEntryCursor cursor(entriesPerCluster_);
    DirectoryMode mode = DirectoryMode::UNDECIDED;
    u8* const halves[2] = {clusterPair_.get(), clusterPair_.get() + clusterBytes_};
    u64 firstIndex = 0;
    u64 cluster = first;
    // Nothing of the directory was lost on the way; its end mark was met.
    bool whole = true;
    bool ended = false;
    // The first cluster's FAT entry lies in a FAT sector that cannot be read.
    bool unknownChain = false;
    // The cluster before the first, for long names that began there.
    const u8* before = nullptr;
    if (fats_.isValidCluster(how.previous) && readClusters(how.previous, halves[1], 0))
        before = halves[1];
    for (u64 k = 0;; ++k) {
        if (cluster > 0xFFFFFFFFull || !fats_.isValidCluster(static_cast<u32>(cluster)))
            return false;
        const u32 c = static_cast<u32>(cluster);
        // A deleted directory read on in the clusters that follow ends where
        // another directory begins; a chain that runs into one is broken.
        const bool nextDirectory = k > 0 && mode == DirectoryMode::CONSECUTIVE;
        if (markVisited && visitedClusters_.test(c - 2))
            return nextDirectory;
        const u32 entry = fats_.getEntry(c);
        const ClusterType type = fats_.getClusterType(entry);
        if (k == 0) {
            // An entry no copy of the FAT gives is no free one: the directory
            // is not taken for deleted, and only its first cluster is known.
            unknownChain = fats_.isUnknown(c);
            if (type == NEXT_CLUSTER || type == EOF_CLUSTER)
                mode = DirectoryMode::FOLLOW_FAT;
            else if (type == FREE_CLUSTER && !live && !unknownChain)
                mode = DirectoryMode::CONSECUTIVE;
        } else {
            rules.requireDots = false;
            rules.rejectDots = true;
        }
        // The cluster read just before stays in the other half, for long names
        // that began there.
        u8* current = halves[k % 2];
        const u8* previous = k == 0 ? before : halves[(k + 1) % 2];
        readAsDeleted = mode == DirectoryMode::CONSECUTIVE;
        // A cluster read in part keeps the entries of the sectors that read;
        // those that failed stand as free entries, and the folder as incomplete.
        const u64 sectorsRead = readDirectoryCluster(c, current);
        const bool partial = sectorsRead < params_.sectorsPerCluster;
        if (sectorsRead != 0) {
            if (partial)
                whole = false;
            cursor.set(current, previous);
            bool hasDotDot = false;
            u32 dotDotCluster = 0;
            ParsedEntries parsed;
            if (!parseDirectory(cursor, firstIndex, rules, readAsDeleted, hasDotDot, dotDotCluster,
                                folder, parsed))
                return nextDirectory;
            if (markVisited)
                visitedClusters_.set(c - 2, true);
            if (k == 0 && hasDotDot)
                folder.setParent(dotDotCluster);
            // A directory's entries end at the first free one; entries behind it
            // stood where something was lost (a sector or cluster of zeros), and
            // so did a chained cluster of nothing but free entries behind a full
            // one: a cluster is added to a directory for an entry.
            const bool emptyAfterFull =
                mode == DirectoryMode::FOLLOW_FAT && k > 0 && parsed.free == entriesPerCluster_;
            if (parsed.afterEnd || parsed.dotsLost ||
                (ended ? parsed.free < entriesPerCluster_ : emptyAfterFull))
                whole = false;
            ended = ended || parsed.free != 0;
            if (mode != DirectoryMode::FOLLOW_FAT) {
                // A free or broken entry ends a deleted directory with this
                // cluster, the only guide to where it ends.
                if (!parsed.clean())
                    return !partial &&
                           (mode == DirectoryMode::CONSECUTIVE || (!live && !unknownChain));
            } else if (parsed.invalid != 0) {
                // One entry that is no entry does not end a folder: its chain is
                // read on. A cluster that holds more of what is no entry than of
                // entries is no directory either, and is not followed further.
                whole = false;
                if (parsed.invalid > parsed.entries)
                    return false;
            }
        } else {
            // Its chain leads past a cluster that cannot be read; without a chain
            // the directory ends there.
            if (mode != DirectoryMode::FOLLOW_FAT)
                return false;
            std::memset(current, 0, static_cast<std::size_t>(clusterBytes_));
            whole = false;
            if (markVisited)
                visitedClusters_.set(c - 2, true);
        }
        switch (mode) {
        case DirectoryMode::FOLLOW_FAT:
            if (type == EOF_CLUSTER) {
                if (markVisited && !ended)
                    fullEnds_[first] = FullEnd{firstIndex + entriesPerCluster_, c};
                return whole;
            }
            if (type != NEXT_CLUSTER)
                return false;
            cluster = entry;
            break;
        case DirectoryMode::CONSECUTIVE:
            ++cluster;
            break;
        case DirectoryMode::UNDECIDED:
            // Only the first cluster is known: of a live directory, or of one
            // whose FAT entry cannot be read, the chain that went on from it is
            // lost.
            return !live && !unknownChain;
        }
        firstIndex += entriesPerCluster_;
        if (k + 1 == maxDirectoryClusters_) {
            logAt("FATDrive", 304) << ": " << first << '\n';
            return false;
        }
    }
}

bool FATDrive::takeFullEnd(u64 first, FullEnd& end) {
    const auto it = fullEnds_.find(first);
    if (it == fullEnds_.end())
        return false;
    end = it->second;
    fullEnds_.erase(it);
    return true;
}

u64 FATDrive::readEachSector(u64 lba, u64 sectors, u8* buffer) {
    if (readSectors(lba, sectors, buffer))
        return sectors;
    // One bad sector must not hide a whole directory block: what still reads
    // is listed, and a sector that does not reads as free entries.
    logAt("FATDrive", 150) << ": " << lba << ' ' << sectors << '\n';
    u64 read = 0;
    for (u64 s = 0; s < sectors; ++s) {
        u8* at = buffer + s * SECTOR_BYTES;
        if (readSectors(lba + s, 1, at))
            ++read;
        else
            std::memset(at, 0, SECTOR_BYTES);
    }
    return read;
}

u64 FATDrive::readDirectoryCluster(u32 cluster, u8* buffer) {
    if (readClusters(cluster, buffer, 0))
        return params_.sectorsPerCluster;
    if (!fats_.isValidCluster(cluster))
        return 0;
    return readEachSector(getClusterLBA(cluster), params_.sectorsPerCluster, buffer);
}

bool FATDrive::loadRootDirectory(tree::Folder& folder) {
    if (params_.rootEntries == 0) {
        bool deleted = false;
        DirectoryRead root;
        root.rejectDots = true;
        root.markVisited = true;
        root.live = true;
        return readDirectory(params_.rootCluster, folder, deleted, root);
    }
    u64 sectors = params_.dataClusterLBA - static_cast<u64>(params_.rootDirectoryLBA);
    // A boot sector's 16-bit count cannot place more; parameters that do were
    // damaged, and what lies past is left out and marked.
    const bool capped = sectors > MAX_ROOT_SECTORS;
    if (capped) {
        logAt("FATDrive", 153) << ": " << sectors << '\n';
        sectors = MAX_ROOT_SECTORS;
    }
    if (sectors == 0)
        return true;
    std::vector<u8> block(static_cast<std::size_t>(sectors * SECTOR_BYTES));
    const u64 read = readEachSector(params_.rootDirectoryLBA, sectors, block.data());
    if (read == 0)
        return false;
    DirEntryCursor cursor(block.size() / DIR_ENTRY_BYTES);
    cursor.set(block.data(), nullptr);
    bool hasDotDot = false;
    u32 dotDotCluster = 0;
    ParsedEntries parsed;
    DirectoryRead root;
    root.rejectDots = true;
    return parseDirectory(cursor, 0, root, false, hasDotDot, dotDotCluster, folder, parsed) &&
           read == sectors && !capped && !parsed.afterEnd && parsed.invalid == 0;
}

bool FATDrive::readLongName(DirEntryCursor& cursor, const u8* shortEntry, bool deleted,
                            std::string& name) {
    std::vector<u16> units;
    // A deleted entry has lost its first character, and with it the checksum its
    // long-name entries carry: the first of them sets the one the others need.
    u8 checksum = deleted ? 0 : lfnChecksum(shortEntry);
    bool checksumKnown = !deleted;
    u32 sequence = 1;
    bool found = false;
    while (const u8* part = cursor.previous()) {
        if (!isLongNameEntry(part))
            break;
        const u8 order = part[LFN_ORDER];
        const u8 sum = part[LFN_CHECKSUM];
        if (deleted) {
            if (order != ENTRY_DELETED && order != ENTRY_FREE)
                break;
            if (!checksumKnown) {
                checksum = sum;
                checksumKnown = true;
            } else if (sum != checksum) {
                break;
            }
            appendLfnUnits(part, units);
            found = true;
            continue;
        }
        const u8 flags = order & ~LFN_SEQUENCE_MASK;
        if ((flags != 0 && flags != LFN_LAST_ENTRY) || (order & LFN_SEQUENCE_MASK) != sequence ||
            sum != checksum)
            return false;
        appendLfnUnits(part, units);
        if (flags == LFN_LAST_ENTRY) {
            found = true;
            break;
        }
        ++sequence;
    }
    if (!found)
        return false;
    std::string text = lfnUnitsToUtf8(units);
    if (text.empty())
        return false;
    name.swap(text);
    return true;
}

namespace {

// What the places of "." and ".." say about whose a directory's first cluster
// is, decided once before its entries are read.
class DotEvidence {
public:
    enum class Verdict {
        // Nothing is asked of them: they hold entries like any other place.
        UNASKED,
        // One of the two stands, or a live folder's entry names the cluster:
        // it is the folder's, and what lies in their places, overwritten,
        // zeroed or marked deleted, costs nothing but itself.
        OWN,
        // A deleted folder's entry names the cluster, which no chain holds, and
        // what stands in both places is no other entry: the folder's if every
        // other entry reads, else some file's data now.
        OWN_IF_ENTRIES_READ,
        // Neither stands and nothing names it: an entry in their places is not
        // the folder's, nor is the cluster.
        FOREIGN,
    };

    DotEvidence(const DirEntryCursor& cursor, const FATDrive::DirectoryRead& how, bool markDeleted)
        : verdict_(judge(cursor, how, markDeleted)) {}

    Verdict verdict() const { return verdict_; }
    bool asked() const { return verdict_ != Verdict::UNASKED; }
    bool own() const {
        return verdict_ == Verdict::OWN || verdict_ == Verdict::OWN_IF_ENTRIES_READ;
    }

private:
    static Verdict judge(const DirEntryCursor& cursor, const FATDrive::DirectoryRead& how,
                         bool markDeleted) {
        if (!how.requireDots)
            return Verdict::UNASKED;
        if (cursor.count() < 2)
            return Verdict::FOREIGN;
        const u8* dot = cursor.entry(0);
        const u8* dotDot = cursor.entry(1);
        if (isDotEntry(dot) || isDotDotEntry(dotDot) ||
            how.namedBy == FATDrive::NamedBy::LIVE_FOLDER)
            return Verdict::OWN;
        if (how.namedBy == FATDrive::NamedBy::DELETED_FOLDER && markDeleted &&
            dotSlotHurt(dot, 0) && dotSlotHurt(dotDot, 1))
            return Verdict::OWN_IF_ENTRIES_READ;
        return Verdict::FOREIGN;
    }

    Verdict verdict_;
};

} // namespace

bool FATDrive::parseDirectory(DirEntryCursor& cursor, u64 firstIndex, const DirectoryRead& how,
                              bool markDeleted, bool& hasDotDot, u32& dotDotCluster,
                              tree::Folder& folder, ParsedEntries& parsed) {
    parsed = ParsedEntries();
    hasDotDot = false;
    const u64 count = cursor.count();
    const DotEvidence dots(cursor, how, markDeleted);
    // Kept apart until the cluster is known to be the folder's.
    std::vector<tree::Node> nodes;
    // Dot entries zeroed in a cluster that is its folder's: no end mark, since
    // no directory ends before its own two entries.
    u64 zeroedDots = 0;
    for (u64 i = 0; i < count; ++i) {
        const u8* entry = cursor.entry(i);
        if (entry[DE_NAME] == ENTRY_FREE) {
            if (i < 2 && dots.own()) {
                ++zeroedDots;
                continue;
            }
            // No directory starts empty: its own two entries are gone (a
            // cluster of zeros where they stood, however few entries it held).
            if (i < 2 && dots.asked())
                parsed.dotsLost = true;
            ++parsed.free;
            continue;
        }
        if (parsed.free != 0)
            parsed.afterEnd = true;
        if (i < 2) {
            const bool dot = i == 0 ? isDotEntry(entry) : isDotDotEntry(entry);
            if (dot && i == 1) {
                hasDotDot = true;
                dotDotCluster = entryCluster(entry);
            }
            if (dot && how.rejectDots)
                return false;
            if (dot)
                continue;
            if (dots.verdict() == DotEvidence::Verdict::FOREIGN)
                return false;
            if (dots.own()) {
                logAt("FATDrive", 420) << ": entry " << i << " is no dot entry, skipped\n";
                continue;
            }
        }
        if (!isValidShortDirEntry(entry)) {
            ++parsed.invalid;
            continue;
        }
        ++parsed.entries;
        // Long-name parts are read with the short entry they precede; the volume
        // label names the volume, not a file.
        if (isLongNameEntry(entry) || isVolumeLabelEntry(entry))
            continue;
        const u8 attributes = dirEntryAttributes(entry);
        const u32 cluster = entryCluster(entry);
        const u32 size = dirEntrySize(entry);
        const bool directory = (attributes & ATTR_DIRECTORY) != 0;
        const bool deleted = entry[DE_NAME] == ENTRY_DELETED;
        bool valid = true;
        // Entries that name clusters past what the source holds are listed all
        // the same: their data is missing, not their place in the folder. A live
        // file of size 0 that keeps a chain is a copy cut short before its size
        // was written: it is listed, and its recovery says what it lost.
        if (directory)
            valid = size == 0 && fats_.isTableCluster(cluster);
        else if (size == 0)
            valid = cluster == 0 || (!deleted && fats_.isTableCluster(cluster));
        else
            valid = size <= tableBytes_ && (cluster == 0 || fats_.isTableCluster(cluster));
        if (!valid) {
            ++parsed.invalid;
            continue;
        }
        std::string name;
        cursor.seek(i);
        if (!readLongName(cursor, entry, deleted, name))
            shortEntryName(entry, name, '#');
        tree::Node node(name, cluster, firstIndex + i, size, dirEntryTime(entry));
        node.setFlag(tree::Node::DIRECTORY, directory);
        node.setFlag(tree::Node::SYSTEM, (attributes & ATTR_SYSTEM) != 0);
        // An entry of a folder read as deleted that is not deleted itself and
        // still holds its own chain is a live file in a folder whose clusters
        // were freed: its chain, not the free clusters, gives its data.
        node.setFlag(tree::Node::DELETED,
                     deleted || (markDeleted && !holdsChain(cluster, size, directory)));
        nodes.push_back(std::move(node));
    }
    // Bytes where the dots stood and anything but sound entries after them:
    // what the deleted folder's entry names is some file's data now.
    if (dots.verdict() == DotEvidence::Verdict::OWN_IF_ENTRIES_READ &&
        (parsed.invalid != 0 || parsed.entries == 0))
        return false;
    // Zeros where the dots stood and nothing after them: a cluster wiped, not
    // two entries hurt.
    if (zeroedDots != 0 && parsed.entries == 0 && parsed.invalid == 0)
        parsed.dotsLost = true;
    // The folder's list is touched only for entries, since touching it drops
    // the map's index of the folder.
    if (!nodes.empty()) {
        std::vector<tree::Node>& listed = folder.getNodes();
        listed.insert(listed.end(), std::make_move_iterator(nodes.begin()),
                      std::make_move_iterator(nodes.end()));
    }
    return true;
}

u32 FATDrive::directoryCluster(u64 first, u64 j) {
    if (first > 0xFFFFFFFFull || !fats_.isValidCluster(static_cast<u32>(first)) ||
        j >= maxDirectoryClusters_)
        return 0;
    u32 cluster = static_cast<u32>(first);
    if (j == 0)
        return cluster;
    // A deleted directory lies in consecutive clusters.
    if (fats_.getClusterType(fats_.getEntry(cluster)) == FREE_CLUSTER) {
        const u64 c = cluster + j;
        return c <= 0xFFFFFFFFull && fats_.isValidCluster(static_cast<u32>(c)) ? static_cast<u32>(c)
                                                                               : 0;
    }
    for (u64 step = 0; step < j; ++step) {
        const u32 entry = fats_.getEntry(cluster);
        if (fats_.getClusterType(entry) != NEXT_CLUSTER || !fats_.isValidCluster(entry))
            return 0;
        cluster = entry;
    }
    return cluster;
}

void FATDrive::printClusterLine(std::ostream& os, const char* label, u64 cluster) {
    // The root's entry lies in no folder, and "Found" is no folder on the disk.
    if (tree::isReserved(cluster)) {
        os << '\n' << _(label) << ":\t";
        tree::printValue(os, cluster);
        os << '\n';
        return;
    }
    os << '\n' << _(label) << ' ' << cluster << ":\t";
    if (cluster > 0xFFFFFFFFull || !fats_.isValidCluster(static_cast<u32>(cluster))) {
        os << _("Invalid cluster");
    } else {
        const u32 entry = fats_.getEntry(static_cast<u32>(cluster));
        os << entry << '(' << _(clusterTypeName(fats_.getClusterType(entry))) << ')';
    }
    os << '\n';
}

void FATDrive::printEntryInfo(std::ostream& os, u64 folderAddress, const tree::Node& node) {
    const u64 index = node.getIndex();
    if (index == tree::Node::NONE) {
        os << _("Invalid Index") << '\n';
    } else {
        os << _("Node Address") << ":\t";
        tree::printValue(os, folderAddress);
        os << "\n---\n";
        std::vector<u8> buffer;
        if (params_.rootEntries != 0 && folderAddress == 1) {
            const u64 perSector = DIR_ENTRIES_PER_SECTOR;
            const u64 sector = index / perSector;
            const u64 rootSectors =
                params_.dataClusterLBA - static_cast<u64>(params_.rootDirectoryLBA);
            const u64 lba = params_.rootDirectoryLBA + sector;
            buffer.resize(SECTOR_BYTES);
            if (sector >= rootSectors)
                os << _("Too big index") << '\n';
            else if (!readSectors(lba, 1, buffer.data()))
                os << _("Cannot read LBA") << ' ' << lba << '\n';
            else
                printDirEntry(os, buffer.data() + (index % perSector) * DIR_ENTRY_BYTES);
        } else {
            const u32 cluster = directoryCluster(folderAddress, index / entriesPerCluster_);
            buffer.resize(static_cast<std::size_t>(clusterBytes_));
            if (cluster == 0)
                os << _("Cannot trace FAT chain") << '\n';
            else if (!readClusters(cluster, buffer.data(), 0))
                os << _("Cannot read cluster") << ' ' << cluster << '\n';
            else
                printDirEntry(os, buffer.data() + (index % entriesPerCluster_) * DIR_ENTRY_BYTES);
        }
    }
    printClusterLine(os, "Entry first cluster", node.getAddress());
    printClusterLine(os, "Node first cluster", folderAddress);
}

namespace {

// Enough folders to outvote a chance match, few enough to cost nothing.
constexpr std::size_t MOST_FOLDERS = 16;

// Appends the first clusters of the live subfolders the entries list, up to
// MOST_FOLDERS in all; false at the entries' end mark.
bool appendFolders(const u8* entries, u64 count, std::vector<u32>& folders) {
    for (u64 i = 0; i < count && folders.size() < MOST_FOLDERS; ++i) {
        const u8* entry = entries + i * DIR_ENTRY_BYTES;
        if (entry[DE_NAME] == ENTRY_FREE)
            return false;
        const u32 cluster = dirEntryStartCluster(entry) & 0xFFFF;
        if (entry[DE_NAME] != ENTRY_DELETED && isValidShortDirEntry(entry) &&
            !isLongNameEntry(entry) && !isVolumeLabelEntry(entry) && !isDotEntry(entry) &&
            !isDotDotEntry(entry) && (dirEntryAttributes(entry) & ATTR_DIRECTORY) != 0 &&
            cluster >= 2)
            folders.push_back(cluster);
    }
    return true;
}

// Whether the folder's first sector, with clusters of `sectorsPerCluster`,
// reads and starts with its "." entry; the sector is left in `sector`.
bool isPlaced(Driver& driver, const FAT_FS_PARAMS& params, u32 sectorsPerCluster, u32 folder,
              u8* sector) {
    const u64 lba = params.dataClusterLBA + u64{sectorsPerCluster} * (folder - 2);
    return lba < params.endLBA() && driver.readSectors(lba, 1, sector) && isDotEntry(sector) &&
           (dirEntryStartCluster(sector) & 0xFFFF) == folder;
}

// How many folders, from the root's down through the first sectors of those
// placed, the size places. Cluster 2 lies at the data area's start whatever
// the size: it is followed, not counted.
u64 placedFolders(Driver& driver, const FAT_FS_PARAMS& params, u32 sectorsPerCluster,
                  std::vector<u32> folders) {
    std::vector<u8> sector(SECTOR_BYTES);
    u64 count = 0;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (!isPlaced(driver, params, sectorsPerCluster, folders[i], sector.data()))
            continue;
        if (folders[i] != 2)
            ++count;
        appendFolders(sector.data(), DIR_ENTRIES_PER_SECTOR, folders);
    }
    return count;
}

} // namespace

FAT_FS_PARAMS withPlacedFolders(Driver& driver, const FAT_FS_PARAMS& params) {
    if (params.rootEntries == 0 || !params.isValid() || driver.getSectorSize() != SECTOR_BYTES)
        return params;
    std::vector<u32> root;
    const u64 sectors = std::min<u64>(params.dataClusterLBA - u64{params.rootDirectoryLBA},
                                      FATDrive::MAX_ROOT_SECTORS);
    std::vector<u8> sector(SECTOR_BYTES);
    for (u64 s = 0; s < sectors && root.size() < MOST_FOLDERS; ++s) {
        if (driver.readSectors(params.rootDirectoryLBA + s, 1, sector.data()) &&
            !appendFolders(sector.data(), DIR_ENTRIES_PER_SECTOR, root))
            break;
    }
    // The stated size first, then the sizes formatters write.
    std::vector<u32> sizes{params.sectorsPerCluster};
    for (u32 size = 1; size <= 128; size *= 2) {
        if (size != params.sectorsPerCluster)
            sizes.push_back(size);
    }
    u32 best = params.sectorsPerCluster;
    u64 bestCount = 0;
    for (u32 size : sizes) {
        const u64 count = placedFolders(driver, params, size, root);
        if (size == params.sectorsPerCluster && count != 0)
            return params;
        if (count > bestCount) {
            best = size;
            bestCount = count;
        }
    }
    FAT_FS_PARAMS placed = params;
    placed.sectorsPerCluster = best;
    if (best == params.sectorsPerCluster || !placed.isValid())
        return params;
    logAt("FATDrive", 620) << ": clusters of " << best << " sectors place " << bestCount
                           << " folders, of " << params.sectorsPerCluster << " none\n";
    return placed;
}

void printDirEntry(std::ostream& os, const u8* entry) {
    const ConstArray e(entry, DIR_ENTRY_BYTES);
    StreamStateSaver saved(os);
    std::string name;
    shortEntryName(entry, name, '#');
    os << _("DOS Name") << ":\t" << name << '\n'
       << _("Size") << ":\t\t" << std::dec << dirEntrySize(entry) << '\n'
       << _("Cluster") << ":\t" << dirEntryStartCluster(entry) << '\n'
       << _("Attributes") << ":\t";
    static const struct {
        u8 bit;
        const char* name;
    } ATTRIBUTE_NAMES[] = {{ATTR_READ_ONLY, N_("read-only")}, {ATTR_HIDDEN, N_("hidden")},
                           {ATTR_SYSTEM, N_("system")},       {ATTR_VOLUME_LABEL, N_("volume")},
                           {ATTR_DIRECTORY, N_("directory")}, {ATTR_ARCHIVE, N_("archive")}};
    const u8 attributes = e.getU8(DE_ATTRIBUTES);
    for (const auto& a : ATTRIBUTE_NAMES) {
        if (attributes & a.bit)
            os << _(a.name) << ' ';
    }
    os << '\n' << _("Dates") << ":\n";
    printDate(os, "DOS Date", e.getLE16(DE_WRITE_DATE));
    printDate(os, "Creation", e.getLE16(DE_CREATION_DATE));
    printDate(os, "Last Access", e.getLE16(DE_ACCESS_DATE));

    const u16 writeTime = e.getLE16(DE_WRITE_TIME);
    os << "  " << _("DOS Time [hour:minute:second/2]") << ":\t\t[";
    digits(os, 2, dosHours(writeTime)) << ':';
    digits(os, 2, dosMinutes(writeTime)) << ':';
    digits(os, 2, dosTwoSeconds(writeTime)) << "]\n";

    const u16 creationTime = e.getLE16(DE_CREATION_TIME);
    const u8 tenths = e.getU8(DE_CREATION_TENTHS);
    os << "  " << _("Creation Time [hour:minute:second:hundreds]") << ":\t[";
    digits(os, 2, dosHours(creationTime)) << ':';
    digits(os, 2, dosMinutes(creationTime)) << ':';
    digits(os, 2, 2 * dosTwoSeconds(creationTime) + (tenths >> 7)) << ':';
    digits(os, 3, tenths & 0x7F) << "]\n";
}
