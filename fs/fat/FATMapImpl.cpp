#include "fs/fat/FATMapImpl.h"

#include "core/Checked.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "devices/UnreadableSectors.h"
#include "fs/DirectoryEntry.h"
#include "tree/FileEntry.h"
#include "tree/Recoverer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace tree {

namespace {

constexpr u64 MAX_CLUSTER = 0xFFFFFFFFull;

u64 rootAddressOf(const FAT_FS_PARAMS& params) {
    return params.rootEntries == 0 ? params.rootCluster : FATMapImpl::FIXED_ROOT_ADDRESS;
}

// A node's address as a cluster number; 0 (never a valid cluster) when it is
// none.
u32 clusterOf(u64 address) {
    return address <= MAX_CLUSTER ? static_cast<u32>(address) : 0;
}

// Every sector of the buffer holds the pattern from its own start, as the scan's
// reader writes it, so that a later scan knows each such sector.
void fillUnreadableSectors(u8* buffer, u64 bytes) {
    for (u64 at = 0; at < bytes; at += SECTOR_BYTES)
        fillUnreadablePattern(buffer + at, std::min<u64>(SECTOR_BYTES, bytes - at));
}

// A live file of size 0 that keeps a chain: a copy cut short before its size
// was written, whose data cannot be told.
bool lostItsSize(const Node& node) {
    return !node.isDirectory() && node.getSize() == 0 && clusterOf(node.getAddress()) != 0 &&
           !node.hasFlag(Node::DELETED);
}

} // namespace

FATMapImpl::FATMapImpl(const SharedPtr<Driver>& driver, const FAT_FS_PARAMS& params,
                       const Bitmap& mirrorSectors, const UnreadableSectors* unreadable,
                       const FoundList<FoundDirectoryRun>& directoryRuns)
    : MapImpl(rootAddressOf(params), true, true), drive_(driver, params, mirrorSectors, unreadable),
      sectorSize_(drive_.getSectorSize()), sectorsPerCluster_(drive_.getParams().sectorsPerCluster),
      clusterBytes_(drive_.getClusterBytes()),
      clusterBuffer_(static_cast<std::size_t>(std::max(RUN_BYTES, clusterBytes_))),
      foundDirectoryRuns_(directoryRuns.begin(), directoryRuns.end()),
      walker_(&drive_.getFatsReader(), &drive_.getChainJoins()),
      deletedFolderStarts_(drive_.getFatsReader().getEntryLimit()) {
    Folder root(ATTACHED, TOP_FOLDER);
    const bool whole = drive_.loadRootDirectory(root);
    root.setParent(TOP_FOLDER);
    // A chain run into the root's first cluster runs into the root's clusters.
    if (params.rootEntries == 0)
        drive_.getChainJoins().noteStart(params.rootCluster);
    noteStarts(*attachFolder(getRootAddress(), root));
    if (!whole) {
        // The root is listed in no folder: its entry in the top folder carries
        // the mark that a subfolder's entry would.
        logAt("FATMapImpl", 52) << ": the root folder " << getRootAddress()
                                << " could not be read in full\n";
        findFolder(TOP_FOLDER)->node(0).setFlag(Node::INVALID_DIRECTORY, true);
    }
}

FATMapImpl::~FATMapImpl() = default;

void FATMapImpl::readFolderNode(u64 cluster, Folder& folder, Node& node, bool requireDots) {
    bool deleted = false;
    FATDrive::DirectoryRead how;
    how.requireDots = requireDots;
    how.markVisited = true;
    const u32 first = clusterOf(cluster);
    if (requireDots && drive_.getChainJoins().isFolderStart(first))
        how.namedBy = FATDrive::NamedBy::LIVE_FOLDER;
    else if (requireDots && first < deletedFolderStarts_.size() && deletedFolderStarts_.test(first))
        how.namedBy = FATDrive::NamedBy::DELETED_FOLDER;
    const bool ok = drive_.readDirectory(cluster, folder, deleted, how);
    // ".." names cluster 0 for a folder in the root; a ".." outside the volume
    // names nothing, and the folder is placed as one without it.
    const u64 parent = folder.getParent();
    if (parent == 0)
        folder.setParent(getRootAddress());
    else if (parent != NO_FOLDER && parent != getRootAddress() &&
             !drive_.getFatsReader().isValidCluster(clusterOf(parent)))
        folder.setParent(NO_FOLDER);
    node = Node();
    node.setAddress(cluster);
    node.setFlag(Node::DIRECTORY, true);
    node.setFlag(Node::DELETED, deleted);
    node.setFlag(Node::INVALID_DIRECTORY, !ok);
    node.setLink(FROM);
}

void FATMapImpl::noteStarts(const Folder& folder) {
    ChainJoins& joins = drive_.getChainJoins();
    for (const Node& node : folder.getNodes()) {
        const u32 first = clusterOf(node.getAddress());
        if (node.hasFlag(Node::DELETED)) {
            if (node.isDirectory() && first < deletedFolderStarts_.size())
                deletedFolderStarts_.set(first, true);
            continue;
        }
        if (node.isDirectory())
            joins.noteFolder(first);
        else
            joins.noteFile(first, static_cast<u32>(std::min<u64>(node.getSize(), 0xFFFFFFFFu)));
    }
}

Folder* FATMapImpl::loadFolder(u64 address, Node& out) {
    Folder folder(ATTACHED, NO_FOLDER);
    readFolderNode(address, folder, out, true);
    if (Folder* stored = tryQueueFolder(address, folder)) {
        noteStarts(*stored);
        return stored;
    }
    return findFolder(address);
}

bool FATMapImpl::loadFoundEntry(u64 address, Node& out) {
    (void)address;
    (void)out;
    return false;
}

void FATMapImpl::checkStatuses(Folder& folder) {
    for (Node& node : folder.getNodes()) {
        if (lostItsSize(node))
            node.setStatus(BAD_IN_FAT);
        if (node.isDirectory() || node.getSize() == 0 || node.getSize() == Node::NONE)
            continue;
        bool unreadable = false;
        const bool ok =
            drive_.checkChain(clusterOf(node.getAddress()), ceilDiv(node.getSize(), sectorSize_),
                              node.hasFlag(Node::DELETED), unreadable);
        node.setStatus(ok ? GOOD_IN_FAT : BAD_IN_FAT);
        node.setFlag(Node::HAS_UNREADABLE, unreadable);
    }
    folder.setState(STATUSES_CHECKED);
}

bool FATMapImpl::isEquivalent(const Node& listed, const Node& added) {
    // A folder that could not be read whole is still the folder its entry
    // names: entered there, it says that it is incomplete.
    return listed.isDirectory() && added.isDirectory();
}

void FATMapImpl::mergeRecord(Node& listed, const Node& record) {
    // Whether a folder was deleted its entry says; that its first cluster is
    // free says only, of a live one, that its chain is lost, and what was read
    // of it on by guess is incomplete.
    const bool deleted = listed.hasFlag(Node::DELETED);
    MapImpl::mergeRecord(listed, record);
    listed.setFlag(Node::DELETED, deleted);
    if (record.hasFlag(Node::INVALID_DIRECTORY) || (!deleted && record.hasFlag(Node::DELETED)))
        listed.setFlag(Node::INVALID_DIRECTORY, true);
}

bool FATMapImpl::listingClaims(u64 listing, const Node& listed, const Folder& folder) {
    if (listed.hasFlag(Node::DELETED))
        return false;
    const u64 named = folder.getParent();
    // Two live entries for one folder: a move cut short leaves one in each
    // folder, and the one its ".." agrees with is kept.
    return named == listing || named == NO_FOLDER || !listsLive(named, listed.getAddress());
}

bool FATMapImpl::listsLive(u64 parent, u64 cluster) {
    auto known = liveSubfolders_.find(parent);
    if (known == liveSubfolders_.end()) {
        // Each folder asked about is listed once, so that many folders whose
        // ".." names one large folder cost its size once.
        Folder read(ATTACHED, NO_FOLDER);
        const Folder* listing = findFolder(parent);
        if (!listing) {
            bool deleted = false;
            if (drive_.getFatsReader().isValidCluster(clusterOf(parent)))
                drive_.readDirectory(parent, read, deleted, FATDrive::DirectoryRead());
            listing = &read;
        }
        std::unordered_set<u64> live;
        for (const Node& n : listing->getNodes()) {
            if (n.isDirectory() && !n.hasFlag(Node::DELETED))
                live.insert(n.getAddress());
        }
        known = liveSubfolders_.emplace(parent, std::move(live)).first;
    }
    return known->second.count(cluster) != 0;
}

bool FATMapImpl::isPreferred(const Node& candidate, const Node& best) {
    const bool candidateDeleted = candidate.hasFlag(Node::DELETED);
    if (candidateDeleted != best.hasFlag(Node::DELETED))
        return !candidateDeleted;
    // A node without a time (all ones) wins over any dated one.
    return candidate.getTime() >= best.getTime();
}

std::vector<ClusterRun> FATMapImpl::clusterRuns() const {
    const FAT_FS_PARAMS& params = drive_.getParams();
    const u64 dataStart = params.dataClusterLBA;
    const u64 perCluster = params.sectorsPerCluster;
    const u64 end = dataStart + static_cast<u64>(params.get_cluster_count()) * perCluster;
    std::vector<ClusterRun> runs;
    for (const FoundDirectoryRun& found : foundDirectoryRuns_) {
        u64 lba = found.lba;
        u64 sectors = found.sectorCount;
        bool dots = found.startsWithDotEntries;
        if (lba >= end)
            break;
        if (lba < dataStart) {
            if (lba + sectors <= dataStart)
                continue;
            sectors -= dataStart - lba;
            lba = dataStart;
            dots = false;
        }
        if (!dots) {
            if ((lba - dataStart) % perCluster != 0)
                continue;
        } else if (found.dotCluster < 2 ||
                   lba != dataStart + (static_cast<u64>(found.dotCluster) - 2) * perCluster) {
            continue;
        }
        if (sectors > end - lba)
            sectors = end - lba;
        if (sectors == 0)
            continue;
        runs.push_back(ClusterRun{static_cast<u32>((lba - dataStart) / perCluster),
                                  static_cast<u32>(ceilDiv(sectors, perCluster))});
    }
    return runs;
}

bool FATMapImpl::continuesLiveFolder(u32 cluster) {
    FatsReader& fats = drive_.getFatsReader();
    const ClusterType type = fats.getClusterType(fats.getEntry(cluster));
    u8* sector = clusterBuffer_.data();
    return (type == NEXT_CLUSTER || type == EOF_CLUSTER) &&
           drive_.readClusters(cluster, sector, 1) && !isDotEntry(sector);
}

void FATMapImpl::loadFoundDirectory(u32 cluster) {
    // A live folder's cluster that no "." starts, and that no chain of a folder
    // the tree reached leads to, is what some folder lost: read in place where
    // its subfolders name that folder, else what it holds is there, but not
    // where it was.
    const bool continues = continuesLiveFolder(cluster);
    if (continues && placeInOwner(cluster))
        return;
    Folder folder(ATTACHED, NO_FOLDER);
    Node node;
    readFolderNode(cluster, folder, node, false);
    if (folder.empty())
        return;
    if (continues)
        node.setFlag(Node::INVALID_DIRECTORY, true);
    if (Folder* existing = findFolder(cluster)) {
        // A folder loaded by address that read less than now: what the tree had
        // already hung in it stays.
        for (const Node& n : existing->getNodes()) {
            if (n.isDirectory() && (n.getLink() == GOOD || n.getLink() == FROM))
                addNode(cluster, &folder, n, 0);
        }
        folder.setParent(existing->getParent());
        *existing = folder;
    } else if (Folder* stored = tryQueueFolder(cluster, folder)) {
        addFoundNode(stored, node);
    }
    reportFolderPath(cluster);
}

void FATMapImpl::forEachFoundCluster(std::unique_ptr<Bitmap>& fileClusters,
                                     const std::function<void(u32)>& visit) {
    FatsReader& fats = drive_.getFatsReader();
    Bitmap& visited = drive_.getVisitedClusters();
    for (const ClusterRun& run : clusterRuns()) {
        for (u64 i = 0; i < run.count; ++i) {
            const u64 index = static_cast<u64>(run.first) + i;
            if (index >= visited.size())
                break;
            if (visited.test(index))
                continue;
            const u32 cluster = static_cast<u32>(index + 2);
            const ClusterType type = fats.getClusterType(fats.getEntry(cluster));
            if (!fileClusters && (type == NEXT_CLUSTER || type == EOF_CLUSTER)) {
                fileClusters = std::make_unique<Bitmap>(fats.getEntryLimit());
                drive_.markFileClusters(*fileClusters);
            }
            if (fileClusters && fileClusters->test(cluster))
                continue;
            visit(cluster);
        }
    }
}

u64 FATMapImpl::namedParent(const Folder& folder) {
    u64 named = NO_FOLDER;
    u8* sector = clusterBuffer_.data();
    for (const Node& node : folder.getNodes()) {
        const u32 child = clusterOf(node.getAddress());
        if (!node.isDirectory() || node.hasFlag(Node::DELETED) ||
            !drive_.readClusters(child, sector, 1))
            continue;
        const u8* dotDot = sector + DIR_ENTRY_BYTES;
        if (!isDotEntry(sector) || drive_.entryCluster(sector) != child || !isDotDotEntry(dotDot))
            continue;
        const u32 parent = drive_.entryCluster(dotDot);
        const u64 address = parent == 0 ? getRootAddress() : parent;
        if (named != NO_FOLDER && named != address)
            return NO_FOLDER;
        named = address;
    }
    return named;
}

bool FATMapImpl::placeInOwner(u32 cluster) {
    // Read first to ask its subfolders, then as what follows the owner's last
    // cluster, so that a long name begun there is finished.
    Folder asked(ATTACHED, NO_FOLDER);
    bool deleted = false;
    drive_.readDirectory(cluster, asked, deleted, FATDrive::DirectoryRead());
    const u64 owner = namedParent(asked);
    Folder* stored = owner == NO_FOLDER ? nullptr : findFolder(owner);
    FATDrive::FullEnd end;
    if (!stored || !drive_.takeFullEnd(owner, end))
        return false;
    logAt("FATMapImpl", 250) << ": directory cluster " << cluster << " continues folder " << owner
                             << '\n';
    Folder folder(ATTACHED, NO_FOLDER);
    FATDrive::DirectoryRead how;
    how.markVisited = true;
    how.previous = end.lastCluster;
    drive_.readDirectory(cluster, folder, deleted, how);
    noteStarts(folder);
    for (Node node : folder.getNodes()) {
        node.setIndex(node.getIndex() + end.nextIndex);
        addListedNode(owner, stored, node);
    }
    return true;
}

void FATMapImpl::analyzeFoundFiles() {
    // Every folder the tree reaches has been read: the pass over the FAT for
    // the joins of chains runs here, under the build's progress and cancel,
    // rather than when a folder is first shown.
    setText(InterfaceCallback::TEXT_MAIN, _("Analyzing FATs"));
    drive_.getChainJoins().countLinks();
    // The clusters of live files, counted once a found directory lies in a
    // cluster the FAT gives to some chain: what a file holds is its own data,
    // folders and all (a disk image kept as a file), not this volume's.
    std::unique_ptr<Bitmap> fileClusters;
    // What continues a folder is read first, from the cluster its chain starts
    // at (which no other such chain leads to), so that it is read whole and the
    // subfolders found on their own hang in the entries it lists.
    FatsReader& fats = drive_.getFatsReader();
    Bitmap& visited = drive_.getVisitedClusters();
    std::unique_ptr<Bitmap> followed;
    std::vector<u32> continuing;
    forEachFoundCluster(fileClusters, [&](u32 cluster) {
        if (!continuesLiveFolder(cluster))
            return;
        if (!followed)
            followed = std::make_unique<Bitmap>(fats.getEntryLimit());
        continuing.push_back(cluster);
        // Each cluster is set once: all chains together cost their length.
        u32 c = fats.getEntry(cluster);
        for (u64 k = 0;
             k < drive_.getMaxDirectoryClusters() && fats.isValidCluster(c) && !followed->test(c);
             ++k, c = fats.getEntry(c))
            followed->set(c, true);
    });
    for (u32 cluster : continuing) {
        if (!followed->test(cluster) && !visited.test(cluster - 2))
            loadFoundDirectory(cluster);
    }
    forEachFoundCluster(fileClusters, [this](u32 cluster) { loadFoundDirectory(cluster); });
    checkIntegrity();
}

bool FATMapImpl::readRun(u32 first, u32 clusters, u64 sectors, u8* buffer) {
    bool whole = true;
    for (u32 i = 0; i < clusters; ++i) {
        const u64 at = static_cast<u64>(i) * sectorsPerCluster_;
        if (at >= sectors)
            break;
        const u64 count = std::min(sectorsPerCluster_, sectors - at);
        u8* data = buffer + at * SECTOR_BYTES;
        const u32 cluster = first + i;
        if (drive_.readClusters(cluster, data, count))
            continue;
        const u64 lba = drive_.getClusterLBA(cluster);
        bool failed = false;
        for (u64 s = 0; s < count; ++s) {
            if (!drive_.readSectors(lba + s, 1, data + s * SECTOR_BYTES)) {
                fillUnreadablePattern(data + s * SECTOR_BYTES, SECTOR_BYTES);
                failed = true;
            }
        }
        if (failed) {
            logAt("FATMapImpl", 105) << ": " << cluster << '\n';
            whole = false;
        }
    }
    return whole;
}

bool FATMapImpl::recoverNode(Recoverer& recoverer, const std::vector<std::string>& path,
                             Node& node) {
    recoverer.beginFile(FileEntry(node.getName(), node.getSize(), node.getTime()), path);
    bool ok = true;
    u64 remaining = node.getSize() == Node::NONE ? 0 : node.getSize();
    u8* buffer = clusterBuffer_.data();
    const u64 runLimit = clusterBuffer_.size() / clusterBytes_;
    const bool deleted = node.hasFlag(Node::DELETED);
    u32 cluster = remaining == 0 ? 0
                                 : walker_.start(clusterOf(node.getAddress()), deleted,
                                                 ceilDiv(remaining, clusterBytes_));
    // The cluster that could not be reached, for the log.
    u64 missing = node.getAddress();
    bool missingLogged = false;
    while (remaining > 0) {
        u64 bytes = 0;
        if (cluster == 0) {
            // The walk left the volume: the rest of the file stands as unreadable.
            if (!missingLogged)
                logAt("FATMapImpl", 105) << ": " << missing << '\n';
            missingLogged = true;
            bytes = std::min<u64>(remaining, clusterBuffer_.size());
            fillUnreadableSectors(buffer, bytes);
            ok = false;
        } else {
            const u64 wanted = std::min(ceilDiv(remaining, clusterBytes_), runLimit);
            const u32 run = walker_.extendRun(static_cast<u32>(wanted));
            bytes = std::min(remaining, run * clusterBytes_);
            const u64 sectors = ceilDiv(bytes, SECTOR_BYTES);
            if (!drive_.readClusters(cluster, buffer, sectors) &&
                !readRun(cluster, run, sectors, buffer))
                ok = false;
        }
        recoverer.write(buffer, static_cast<u32>(bytes));
        remaining -= bytes;
        if (remaining > 0 && cluster != 0) {
            const u32 last = walker_.current();
            cluster = walker_.next();
            missing = static_cast<u64>(last) + 1;
        }
    }
    recoverer.endFile();
    // What the chain did not give was read by guess: kept, since the guess
    // brings a file back more often than not, but never passed as whole. A
    // live file whose chain goes on past its size lost its end with its size.
    const bool sized = node.getSize() != 0 && node.getSize() != Node::NONE;
    return ok && !lostItsSize(node) &&
           !(sized && (walker_.strayed() || (!deleted && walker_.chainGoesOn())));
}

int FATMapImpl::readNodeData(Node& node, u8* buffer, u32 size, u64 offset) {
    if (size == 0)
        return 0;
    // The count must fit the result.
    if (size > static_cast<u32>(INT_MAX))
        return -5;
    const u32 first = clusterOf(node.getAddress());
    const bool deleted = node.hasFlag(Node::DELETED);
    const u64 fileClusters =
        node.getSize() == Node::NONE ? 0 : ceilDiv(node.getSize(), clusterBytes_);
    u64 k = offset / clusterBytes_;
    u64 within = offset % clusterBytes_;
    u64 left = size;
    u8* out = buffer;
    for (;;) {
        if (k > MAX_CLUSTER)
            return -5;
        const u32 cluster = walker_.seek(first, static_cast<u32>(k), deleted, fileClusters);
        if (cluster == 0)
            return -5;
        const u64 sectors = std::min(ceilDiv(within + left, sectorSize_), sectorsPerCluster_);
        if (!drive_.readClusters(cluster, clusterBuffer_.data(), sectors))
            return -5;
        const u64 n = std::min(clusterBytes_ - within, left);
        std::memcpy(out, clusterBuffer_.data() + within, static_cast<std::size_t>(n));
        out += n;
        left -= n;
        if (left == 0)
            return static_cast<int>(size);
        ++k;
        within = 0;
    }
}

u64 FATMapImpl::getNodeLBA(u64 address) {
    const u32 cluster = clusterOf(address);
    if (!drive_.getFatsReader().isValidCluster(cluster))
        return Node::NONE;
    return drive_.getClusterLBA(cluster);
}

void FATMapImpl::ostreamPartitionInfo(std::ostream& out) {
    out << _("FAT Drive Parameters") << ":\n" << drive_.getParams();
}

void FATMapImpl::ostreamInfo(std::ostream& out, const MapPosition& position, Folder& folder,
                             Node& node) {
    (void)folder;
    out << "---\n"
        << _("FAT Status") << ":\t"
        << (node.getStatus() == GOOD_IN_FAT ? _("GOOD_IN_FAT") : _("BAD_IN_FAT")) << '\n';
    drive_.printEntryInfo(out, position.folder, node);
    out << "---\n";
}

} // namespace tree
