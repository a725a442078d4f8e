#include "fs/ntfs/NTFSMapImpl.h"

#include "core/Intl.h"
#include "core/Log.h"
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
      dataReader_(drive_, &parser_.getRecordsCache()), records_(recordCount(drive_, mftRunlist)) {
    parser_.setMftRunlist(usableMftRunlist(drive_, mftRunlist));
    Node placeholder;
    Folder* root = loadFolder(ROOT_RECORD, placeholder);
    root->setParent(TOP_FOLDER);
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
    for (u32 i = before; i < folder.size(); ++i)
        positions.emplace(folder.node(i).getAddress(), i);
    return ok;
}

bool NTFSMapImpl::loadFoundEntry(u64 address, Node& out) {
    if (address >= records_.size())
        return false;
    // Every record is tried once, and an extension record never on its own.
    if (records_.set(address, true))
        return false;
    if (!parser_.loadFile(address))
        return false;
    parser_.markRecords(records_);
    return parser_.buildNode(out);
}

Folder* NTFSMapImpl::loadFolder(u64 address, Node& out) {
    Folder folder(ATTACHED, NO_FOLDER);
    if (!loadFoundEntry(address, out)) {
        out = Node();
        out.setLink(FROM);
        out.setFlag(Node::DIRECTORY | Node::INVALID_DIRECTORY, true);
    } else {
        folder.setParent(out.getAddress());
        if (!listLoadedFolder(address, folder))
            out.setFlag(Node::INVALID_DIRECTORY, true);
    }
    out.setAddress(address);
    if (Folder* stored = tryQueueFolder(address, folder))
        return stored;
    return findFolder(address);
}

void NTFSMapImpl::placeFoundFile(u64 parent, const Node& node) {
    Folder* folder = bringFolder(parent, ATTACHED);
    if (!folder) {
        insertNode(parent, node);
        return;
    }
    u32 start = 0;
    const auto positions = listed_.find(parent);
    if (positions != listed_.end()) {
        const auto at = positions->second.find(node.getAddress());
        if (at != positions->second.end())
            start = at->second;
    }
    addNode(parent, folder, node, start);
}

void NTFSMapImpl::analyzeFoundFiles() {
    for (u64 record = 0; record < records_.size(); ++record) {
        if (record % POLL_RECORDS == 0)
            poll();
        if (records_.test(record))
            continue;
        Node node;
        if (!loadFoundEntry(record, node))
            continue;
        const u64 parent = node.getAddress();
        node.setAddress(record);
        if (parser_.isDirectory()) {
            Folder folder(ATTACHED, parent);
            if (!listLoadedFolder(record, folder))
                node.setFlag(Node::INVALID_DIRECTORY, true);
            if (Folder* stored = tryQueueFolder(record, folder))
                addFoundNode(stored, node);
            reportFolderPath(record);
        } else {
            placeFoundFile(parent, node);
        }
    }
    checkIntegrity();
}

void NTFSMapImpl::checkStatuses(Folder& folder) {
    // The flags were set when the nodes were built.
    folder.setState(STATUSES_CHECKED);
}

bool NTFSMapImpl::isEquivalent(const Node& listed, const Node& added) {
    return listed.isDirectory() == added.isDirectory() && listed.getName() == added.getName();
}

bool NTFSMapImpl::loadNodeData(const Node& node, NtfsAttributeData& data) {
    if (!parser_.loadFile(node.getAddress()))
        return false;
    // A file whose record holds no unnamed data stream ($Secure, $Quota and
    // the like) is empty; nothing of it is missing.
    if (!parser_.hasUnnamedData() && !parser_.isDirectory()) {
        data = NtfsAttributeData();
        return true;
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
    // A torn record may hold stale bytes: the user has the file and is told
    // to check it.
    return ok && !parser_.isTorn();
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
    parser_.dumpRecord(out, node.getAddress());
    out << "---\n";
}

} // namespace tree
