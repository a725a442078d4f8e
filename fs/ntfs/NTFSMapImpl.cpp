#include "fs/ntfs/NTFSMapImpl.h"

#include "core/DateTime.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/NameConversions.h"
#include "fs/ntfs/MftRunlist.h"
#include "tree/FileEntry.h"
#include "tree/Recoverer.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace tree {

namespace {

// Clears the data reader's recoverer however streaming a file ends.
class RecovererScope {
public:
    RecovererScope(ntfs::RecovererDataReader& reader, Recoverer& recoverer) : reader_(reader) {
        reader_.setRecoverer(&recoverer);
    }
    ~RecovererScope() { reader_.setRecoverer(nullptr); }
    RecovererScope(const RecovererScope&) = delete;
    RecovererScope& operator=(const RecovererScope&) = delete;

private:
    ntfs::RecovererDataReader& reader_;
};

// The found-files pass polls at least this often, also over stretches of the
// MFT that read as zeros without touching the drive.
constexpr u64 POLL_RECORDS = 4096;

// What stands for a folder whose own record is lost.
Node lostFolderNode(u64 address) {
    Node node;
    node.setLink(FROM);
    node.setFlag(Node::DIRECTORY | Node::INVALID_DIRECTORY, true);
    node.setAddress(address);
    return node;
}

} // namespace

Runlist NTFSMapImpl::usableMftRunlist(const NTFSDrive& drive, const Runlist& mftRunlist) {
    Runlist usable;
    for (const NtfsRun& r : mftRunlist) {
        if (!r.isSparse() && !(r.isPlain() && r.storedInside(drive.getClusterCount()))) {
            logAt("NTFSMapImpl", 38) << ": the MFT run list ends at run " << usable.size() << " of "
                                     << mftRunlist.size() << '\n';
            break;
        }
        usable.push_back(r);
    }
    return usable;
}

u64 NTFSMapImpl::recordCount(const NTFSDrive& drive, const Runlist& mftRunlist) {
    const u64 volumeClusters = drive.getClusterCount();
    u64 clusters = 0;
    for (const NtfsRun& r : usableMftRunlist(drive, mftRunlist)) {
        // No MFT holds more records than its volume has room for, whatever gaps
        // its list leaves.
        clusters += std::min(r.clusters, volumeClusters - clusters);
        if (clusters == volumeClusters)
            break;
    }
    const u64 records = clusters * drive.getSectorsPerCluster() / drive.getSectorsPerFileRecord();
    return std::min(records, Bitmap::MAX_SIZE);
}

NTFSMapImpl::NTFSMapImpl(const SharedPtr<Driver>& driver, const NTFS_FS_PARAMS& params,
                         const Runlist& mftRunlist, const UnreadableSectors* unreadable)
    : MapImpl(ROOT_RECORD, false, true), drive_(driver, params, unreadable), parser_(drive_),
      dataReader_(drive_, &parser_.getRecordsCache()), records_(recordCount(drive_, mftRunlist)),
      built_(records_.size()), inRoot_(records_.size()), listedFiles_(records_.size()) {
    parser_.setMftRunlist(usableMftRunlist(drive_, mftRunlist));
    Node placeholder;
    Folder* root = loadFolder(ROOT_RECORD, placeholder);
    root->setParent(TOP_FOLDER);
    if (placeholder.hasFlag(Node::INVALID_DIRECTORY))
        setIncomplete(ROOT_RECORD, true);
}

NTFSMapImpl::~NTFSMapImpl() = default;

bool NTFSMapImpl::listLoadedFolder(u64 address, Folder& folder) {
    const u32 before = folder.size();
    const bool ok = parser_.listFolder(folder);
    // The root's index lists the root itself as "."; no folder is its own child.
    std::vector<Node>& nodes = folder.getNodes();
    nodes.erase(std::remove_if(nodes.begin() + before, nodes.end(),
                               [&](const Node& n) { return n.getAddress() == address; }),
                nodes.end());
    std::unordered_map<u64, u32>& positions = listed_[address];
    // The listing of the folder record just loaded.
    const bool live = !parser_.isDeleted();
    for (u32 i = before; i < folder.size(); ++i) {
        Node& n = folder.node(i);
        positions.emplace(n.getAddress(), i);
        if (!n.isDirectory()) {
            if (n.getAddress() < listedFiles_.size())
                listedFiles_.set(n.getAddress(), true);
            continue;
        }
        listers_.emplace(n.getAddress(), address);
        if (live)
            namedBy_.emplace(n.getAddress(), address);
        if (!lostInFound_.empty() && lostInFound_.count(n.getAddress()))
            claimLostFolder(address, folder, n);
    }
    return ok;
}

void NTFSMapImpl::claimLostFolder(u64 address, const Folder& listing, Node& entry) {
    const u64 record = entry.getAddress();
    Folder* lost = findFolder(record);
    // The listing must be about to be stored: one stored already is another
    // reading of a folder, and is dropped.
    if (!lost || lost->getParent() != FOUND_FOLDER || findFolder(address))
        return;
    // A listing that hangs below the lost folder cannot hold it: the two would
    // hang from each other, out of the tree's reach.
    if (isSelfOrAncestor(record, listing.getParent()))
        return;
    mergeRecord(entry, lostFolderNode(record));
    lost->setParent(address);
    lostInFound_.erase(record);
    // Its entry in "Found" goes in one sweep: taking out each alone would
    // search and close up "Found" once for every lost folder.
    claimed_.insert(record);
    if (foundAnalyzed_)
        dropClaimedFromFound();
}

void NTFSMapImpl::dropClaimedFromFound() {
    Folder* found = findFolder(FOUND_FOLDER);
    if (found && !claimed_.empty()) {
        std::vector<Node>& nodes = found->getNodes();
        nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                                   [&](const Node& n) {
                                       return n.isDirectory() && n.getLink() != TO &&
                                              claimed_.count(n.getAddress()) != 0;
                                   }),
                    nodes.end());
    }
    claimed_.clear();
}

bool NTFSMapImpl::loadRecord(u64 address) {
    if (address >= records_.size())
        return false;
    // Every record is tried once, and an extension record never on its own.
    if (records_.set(address, true))
        return false;
    if (!parser_.loadFile(address)) {
        // Any record that does not load lost what it held, but one of zeros
        // past the last record ever written: the MFT formats every record it
        // hands out, used or not.
        if (parser_.getRecordsCache().refusedBlank())
            firstBlank_ = std::min(firstBlank_, address);
        else
            recordsLost_ = true;
        return false;
    }
    parser_.markRecords(records_);
    // A copy of another record (the mirror's, where a rebuilt MFT run list
    // takes it in) waits until the record it copies has had its turn.
    const u64 copied = parser_.storedRecordNumber();
    if (copied != address && copied < records_.size() && !takingCopies_) {
        copies_.emplace_back(address, copied);
        return false;
    }
    lastWritten_ = std::max(lastWritten_, address);
    return true;
}

NTFSMapImpl::RecordEntry NTFSMapImpl::loadEntry(u64 address) {
    RecordEntry entry;
    if (!loadRecord(address))
        return entry;
    entry.loaded = true;
    entry.build = parser_.buildNode(entry.node, &entry.links);
    const bool inUse = !parser_.isDeleted();
    NtfsAttributeData data;
    if (inUse && entry.build == NodeBuild::WHOLE && !entry.node.isDirectory() &&
        parser_.getData(data)) {
        owners_.add(address, data.runs);
        if (address == MIRROR_RECORD)
            mirrorRuns_ = data.runs;
    }
    // The listings of its folders may have lost the entry of a file in use
    // that is not whole here: they are not settled as whole.
    if (inUse && entry.build == NodeBuild::NO_DATA) {
        unbuiltIn_.insert(entry.links.chosen.record);
        for (const auto& link : entry.links.more)
            unbuiltIn_.insert(link.first.record);
    }
    if (entry.placed())
        noteNode(address, entry);
    return entry;
}

void NTFSMapImpl::noteNode(u64 address, const RecordEntry& entry) {
    built_.set(address, true);
    const bool deleted = entry.node.hasFlag(Node::DELETED);
    if (entry.node.isDirectory())
        folderRecords_[address] = {parser_.sequence(), deleted};
    auto linksRoot = [&](const ParentRef& parent) {
        return parent.record == ROOT_RECORD && (!deleted || referenceHolds(parent));
    };
    if (linksRoot(entry.links.chosen))
        inRoot_.set(address, true);
    for (const auto& link : entry.links.more) {
        if (linksRoot(link.first))
            inRoot_.set(address, true);
        // Each further name of a whole file places it once more, once this
        // record's own placement is done.
        if (!entry.node.isDirectory() && entry.build == NodeBuild::WHOLE) {
            Node named = entry.node;
            named.setName(link.second);
            named.setAddress(address);
            pendingLinks_.emplace_back(link.first, named);
        }
    }
}

bool NTFSMapImpl::loadFoundEntry(u64 address, Node& out) {
    RecordEntry entry = loadEntry(address);
    // A listed file whose data does not read stays as its listing has it.
    if (entry.build != NodeBuild::WHOLE)
        return false;
    out = std::move(entry.node);
    return true;
}

std::optional<u32> NTFSMapImpl::listedAt(u64 folder, u64 record) const {
    const auto positions = listed_.find(folder);
    if (positions == listed_.end())
        return std::nullopt;
    const auto at = positions->second.find(record);
    if (at == positions->second.end())
        return std::nullopt;
    return at->second;
}

bool NTFSMapImpl::referenceHolds(const ParentRef& parent) const {
    const auto known = folderRecords_.find(parent.record);
    // A record that made a file's node is no folder now.
    if (known == folderRecords_.end())
        return parent.record >= built_.size() || !built_.test(parent.record);
    const u16 sequence = known->second.sequence;
    // Deleting a record moves its sequence number on, skipping 0.
    const u16 before = sequence == 1 ? 0xFFFF : static_cast<u16>(sequence - 1);
    return parent.sequence == sequence || (known->second.deleted && parent.sequence == before);
}

bool NTFSMapImpl::belongsInRoot(const Node& node) {
    // The placeholder of a folder whose record is lost has no name; its
    // record may have been used for a file of the root since.
    return !node.getName().empty() && node.getAddress() < inRoot_.size() &&
           inRoot_.test(node.getAddress());
}

void NTFSMapImpl::noteFailedListing(u64 address, Node& node) {
    node.setFlag(Node::INVALID_DIRECTORY, true);
    failedListings_.push_back(address);
}

void NTFSMapImpl::setIncomplete(u64 address, bool on) {
    if (address == ROOT_RECORD)
        findFolder(TOP_FOLDER)->node(0).setFlag(Node::INVALID_DIRECTORY, on);
    if (const Folder* folder = findFolder(address))
        flagFolderEntries(folder->getParent(), address, Node::INVALID_DIRECTORY, on);
}

void NTFSMapImpl::settleFailedListings() {
    if (!foundAnalyzed_ || recordsLost_ || firstBlank_ < lastWritten_)
        return;
    for (u64 address : failedListings_) {
        if (!unbuiltIn_.count(address))
            setIncomplete(address, false);
    }
}

Folder* NTFSMapImpl::loadFolder(u64 address, Node& out) {
    Folder folder(ATTACHED, NO_FOLDER);
    if (!loadFoundEntry(address, out)) {
        out = lostFolderNode(address);
        // Lost with its record: it hangs where a listing names it, under the
        // name listed there, and under "Found" until one does.
        const auto lister = listers_.find(address);
        if (lister != listers_.end())
            folder.setParent(lister->second);
        else
            lostInFound_.insert(address);
    } else {
        folder.setParent(parentOfFolder(address, out.getAddress()));
        if (!listLoadedFolder(address, folder))
            noteFailedListing(address, out);
    }
    out.setAddress(address);
    if (Folder* stored = tryQueueFolder(address, folder))
        return stored;
    return findFolder(address);
}

u64 NTFSMapImpl::parentOfFolder(u64 address, u64 reference) const {
    // A reference that names the folder itself, one of its own folders or a
    // file would take it, and all it holds, out of its place.
    const auto named = namedBy_.find(address);
    return named != namedBy_.end() ? named->second : reference;
}

void NTFSMapImpl::placeFoundFile(const ParentRef& parent, const Node& node) {
    const bool deleted = node.hasFlag(Node::DELETED);
    Folder* folder = findFolder(parent.record);
    // Asked before the parent is loaded too, so that a file's record is not
    // loaded as a folder; loading it tells what its record is now.
    if (!folder && (!deleted || referenceHolds(parent)))
        folder = bringFolder(parent.record, ATTACHED);
    if (!folder || (deleted && !referenceHolds(parent))) {
        insertNode(ROOT_RECORD, node);
        return;
    }
    addNode(parent.record, folder, node, listedAt(parent.record, node.getAddress()).value_or(0));
}

void NTFSMapImpl::placePendingLinks() {
    // Placing a name may load folders, and their records owe names in turn.
    while (!pendingLinks_.empty()) {
        std::vector<std::pair<ParentRef, Node>> batch;
        batch.swap(pendingLinks_);
        for (const auto& link : batch)
            placeFoundFile(link.first, link.second);
    }
}

void NTFSMapImpl::finishTree() {
    MapImpl::finishTree();
    while (!pendingLinks_.empty()) {
        placePendingLinks();
        MapImpl::finishTree();
    }
    settleFailedListings();
}

void NTFSMapImpl::placeFoundRecord(u64 record) {
    RecordEntry entry = loadEntry(record);
    if (entry.loaded && entry.build == NodeBuild::NO_NAME)
        placeNameless(record);
    if (!entry.placed())
        return;
    Node& node = entry.node;
    const ParentRef parent = entry.links.chosen;
    // A file whose data does not read stands as its folder's index lists it,
    // where one does.
    if (entry.build == NodeBuild::NO_DATA && listedAt(parent.record, record))
        return;
    node.setAddress(record);
    if (node.isDirectory()) {
        const bool named = namedBy_.count(record) != 0;
        Folder folder(ATTACHED, parentOfFolder(record, parent.record));
        if (!listLoadedFolder(record, folder))
            noteFailedListing(record, node);
        // Under the root unclaimed, which puts it under "Found".
        if (!named && node.hasFlag(Node::DELETED) && !referenceHolds(parent))
            folder.setParent(ROOT_RECORD);
        if (Folder* stored = tryQueueFolder(record, folder))
            addFoundNode(stored, node);
        reportFolderPath(record);
    } else {
        placeFoundFile(parent, node);
    }
    placePendingLinks();
}

void NTFSMapImpl::placeNameless(u64 record) {
    // The volume's reserved records are in use without a name, and so are
    // the mirror's copies of them.
    const u64 stored = parser_.storedRecordNumber();
    NtfsAttributeData data;
    // One that a listing names stands there under the name it gives.
    if (takingCopies_ || record < FIRST_USER_RECORD || stored < FIRST_USER_RECORD ||
        (record < listedFiles_.size() && listedFiles_.test(record)) || parser_.isDeleted() ||
        parser_.isDirectory() || !parser_.hasUnnamedData() || !parser_.getData(data))
        return;
    const u64 written = parser_.standardModificationTime();
    Node node(std::to_string(record), record, Node::NONE, data.size,
              written != 0 ? fileTimeToUnixTime(written) : NO_TIME);
    node.setFlag(Node::HAS_UNREADABLE, parser_.hasUnreadableData(data));
    node.setLink(FROM);
    logAt("NTFSMapImpl", 470) << ": record " << record << " in use has data but no name\n";
    owners_.add(record, data.runs);
    built_.set(record, true);
    nameless_.insert(record);
    // Some folder's index lost it, and none can be told: none is whole.
    recordsLost_ = true;
    insertNode(ROOT_RECORD, node);
}

void NTFSMapImpl::analyzeFoundFiles() {
    placePendingLinks();
    for (u64 record = 0; record < records_.size(); ++record) {
        if (record % POLL_RECORDS == 0)
            poll();
        if (!records_.test(record))
            placeFoundRecord(record);
    }
    // A copy stands in only for a record that could not be read itself.
    takingCopies_ = true;
    for (const auto& copy : copies_) {
        poll();
        if (built_.test(copy.second))
            continue;
        records_.set(copy.first, false);
        takenCopies_.insert(copy.first);
        placeFoundRecord(copy.first);
    }
    copies_.clear();
    // The MFT is the data of record 0; without that record, the list the
    // records were read through is all there is of it.
    // A list rebuilt from the records found takes in the mirror's copies too,
    // which are the mirror's data and no other file's.
    if (records_.size() != 0 && !built_.test(0)) {
        Runlist mft;
        for (const NtfsRun& r : parser_.getMftRunlist()) {
            if (!r.isSparse())
                addUncoveredRunParts(mft, r, mirrorRuns_.begin(), mirrorRuns_.end());
        }
        owners_.add(0, mft);
    }
    dropClaimedFromFound();
    foundAnalyzed_ = true;
    settleFailedListings();
    checkIntegrity();
}

void NTFSMapImpl::checkStatuses(Folder& folder) {
    // The flags were set when the nodes were built.
    folder.setState(STATUSES_CHECKED);
}

bool NTFSMapImpl::isEquivalent(const Node& listed, const Node& added) {
    // A folder whose record is lost has no name of its own: the index's holds.
    return listed.isDirectory() == added.isDirectory() &&
           (listed.getName() == added.getName() ||
            (added.isDirectory() && added.getName().empty()));
}

void NTFSMapImpl::mergeRecord(Node& listed, const Node& record) {
    MapImpl::mergeRecord(listed, record);
    // The index keeps the time the name was made; the record, the data's.
    if (record.getTime() != NO_TIME)
        listed.setTime(record.getTime());
    if (record.hasFlag(Node::INVALID_DIRECTORY))
        listed.setFlag(Node::INVALID_DIRECTORY, true);
}

bool NTFSMapImpl::recordIsNode(const Node& node) {
    const u64 stored = parser_.storedRecordNumber();
    // As the records' pass takes them: a number beyond the MFT names no
    // other record.
    if (stored != ~u64{0})
        return stored == node.getAddress() || stored >= records_.size() ||
               takenCopies_.count(node.getAddress()) != 0;
    // A record of the old layout carries no number; a listed entry's record
    // must carry the name the listing gives it.
    if (node.getLink() != TO)
        return true;
    Node own;
    FileLinks links;
    if (parser_.buildNode(own, &links) == NodeBuild::NO_NAME)
        return false;
    if (own.getName() == node.getName())
        return true;
    return std::any_of(links.more.begin(), links.more.end(),
                       [&](const auto& link) { return link.second == node.getName(); });
}

bool NTFSMapImpl::loadNodeData(const Node& node, NtfsAttributeData& data) {
    if (!parser_.loadFile(node.getAddress()))
        return false;
    // The MFT's run list may have been rebuilt from the records found: a
    // record read where another belongs is that other file's.
    if (!recordIsNode(node)) {
        logAt("NTFSMapImpl", 445) << ": the record read for " << node.getAddress()
                                  << " is another's\n";
        return false;
    }
    // A metadata file whose record holds no unnamed data stream ($Secure,
    // $Quota and the like) is empty; nothing of it is missing. Any other file without
    // one lost it, whatever size its listing states.
    if (!parser_.hasUnnamedData() && !parser_.isDirectory()) {
        data = NtfsAttributeData();
        return NtfsFileParser::isMetadataFile(node);
    }
    return parser_.getData(data);
}

bool NTFSMapImpl::recoverNode(Recoverer& recoverer, const std::vector<std::string>& path,
                              Node& node) {
    NtfsAttributeData data;
    if (!loadNodeData(node, data))
        return false;
    // The size announced is the size streamed: a listed entry's own size may be
    // older than its record's.
    recoverer.beginFile(FileEntry(node.getName(), data.size, node.getTime()), path);
    bool ok = false;
    {
        RecovererScope scope(dataReader_, recoverer);
        ok = dataReader_.read(data);
    }
    recoverer.endFile();
    // A torn record may hold stale bytes, and misplaced data is another's:
    // the user has the file and is told to check it.
    return ok && !parser_.isTorn() && !dataMisplaced(node, data) &&
           nameless_.count(node.getAddress()) == 0;
}

bool NTFSMapImpl::dataMisplaced(const Node& node, const NtfsAttributeData& data) {
    if (data.tailLost)
        return true;
    // Every record was read through the MFT's runs: a file that claims its
    // clusters is the one mistaken.
    if (node.getAddress() == 0 || !owners_.overlapsOthers(node.getAddress(), data.runs))
        return false;
    logAt("NTFSMapImpl", 520) << ": the data of record " << node.getAddress()
                              << " lies in clusters another file or the MFT holds\n";
    return true;
}

int NTFSMapImpl::readNodeData(Node& node, u8* buffer, u32 size, u64 offset) {
    NtfsAttributeData data;
    if (!loadNodeData(node, data))
        return -5;
    const u64 readable = std::min(data.size, node.getSize());
    if (offset >= readable)
        return 0;
    const u64 n = std::min<u64>({size, readable - offset, static_cast<u64>(INT_MAX)});
    if (n == 0)
        return 0;
    if (data.resident) {
        // The value lies inside its record, so these offsets stay below its size.
        const ConstArray record = parser_.getRecordsCache().getRecordArray(data.recordNumber);
        const ConstArray bytes(record, static_cast<u32>(data.valueOffset + offset),
                               static_cast<u32>(n));
        std::memcpy(buffer, bytes.data(), static_cast<std::size_t>(n));
        return static_cast<int>(n);
    }
    RunlistReader& reader = dataReader_.getRunlistReader();
    if (!reader.setRunlist(data.runs, data.initializedSize))
        return -5;
    const u64 sectorSize = drive_.getSectorSize();
    std::vector<u8> one(static_cast<std::size_t>(sectorSize));
    u64 sector = offset / sectorSize;
    const u64 within = offset % sectorSize;
    u64 left = n;
    u8* out = buffer;
    if (within != 0) {
        if (!reader.read(sector, 1, one.data()))
            return -5;
        const u64 k = std::min(sectorSize - within, left);
        std::memcpy(out, one.data() + within, static_cast<std::size_t>(k));
        out += k;
        left -= k;
        ++sector;
    }
    const u64 whole = left / sectorSize;
    if (whole != 0) {
        if (!reader.read(sector, whole, out))
            return -5;
        sector += whole;
        out += whole * sectorSize;
        left -= whole * sectorSize;
    }
    if (left != 0) {
        if (!reader.read(sector, 1, one.data()))
            return -5;
        std::memcpy(out, one.data(), static_cast<std::size_t>(left));
    }
    return static_cast<int>(n);
}

u64 NTFSMapImpl::getNodeLBA(u64 address) {
    return parser_.getRecordLBA(address);
}

void NTFSMapImpl::ostreamPartitionInfo(std::ostream& out) {
    out << _("NTFS Drive Parameters") << ":\n" << drive_.getParams();
}

void NTFSMapImpl::ostreamInfo(std::ostream& out, const MapPosition& position, Folder& folder,
                              Node& node) {
    (void)position;
    (void)folder;
    out << "---\n";
    // "Found" has no record of its own.
    if (hasSourceAddress(node))
        parser_.dumpRecord(out, node.getAddress());
    out << "---\n";
}

} // namespace tree
