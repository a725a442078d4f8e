#include "cbr/CbrMapImpl.h"

#include "core/AppDirectory.h"
#include "core/Checked.h"
#include "core/Config.h"
#include "core/DateTime.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/Text.h"
#include "tree/Recoverer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <stdexcept>

namespace tree {
namespace cbr {

namespace {

constexpr const char* BLANKS = " \t";

// gettext("") answers with the catalogue's header, not with "".
std::string translated(const std::string& text) {
    return text.empty() ? text : std::string(_(text.c_str()));
}

Node folderNode(const std::string& name, u64 address) {
    Node node(name, address, Node::NONE, Node::NONE, NO_TIME);
    node.setFlag(Node::DIRECTORY, true);
    node.setLink(GOOD);
    return node;
}

} // namespace

MapImpl::MapImpl(const SharedPtr<Driver>& driver, const UnreadableSectors* unreadable,
                 const std::vector<::cbr::FileInfo>* files)
    : MapImpl(driver, unreadable, files, appFilePath(appDirectory(), "cbr.directories")) {}

MapImpl::MapImpl(const SharedPtr<Driver>& driver, const UnreadableSectors* unreadable,
                 const std::vector<::cbr::FileInfo>* files, const std::string& directoriesPath)
    : tree::MapImpl(ROOT_ADDRESS, false, false), drive_(driver, unreadable), files_(files) {
    build(directoriesPath);
}

MapImpl::~MapImpl() = default;

std::string MapImpl::fileName(const ::cbr::FileInfo& file) {
    // A stored name ends at its first NUL, as the text it was read from did: a
    // file name cannot carry one.
    std::string name = file.getAttributes().get("name", "");
    name = trim(name.substr(0, name.find('\0')), BLANKS);
    if (name.empty())
        name = std::to_string(file.getStart() / SECTOR_BYTES);
    return name + "." + file.getType();
}

void MapImpl::build(const std::string& directoriesPath) {
    std::vector<PropertyMap> records;
    if (!loadConfigFileRecords(records, directoriesPath.c_str(), "Type", '#')) {
        logAt("CbrMapImpl", 56) << ": " << directoriesPath << '\n';
        throw std::runtime_error("CbrMapImpl(57)");
    }
    const u64 otherAddress = records.size();

    Folder root(ATTACHED, TOP_FOLDER);
    Folder typeFolder(ATTACHED, ROOT_ADDRESS);
    std::string currentType;
    // Counted in 64 bits: a 32-bit counter would wrap to 0 after a thousand types
    // and collide with the sub-folder addresses.
    u64 typeAddress = ROOT_ADDRESS & 0xFFFFFFFFu;
    std::map<std::string, u64> folderOfType;

    auto closeTypeFolder = [&]() {
        if (currentType.empty())
            return;
        root.addNode(folderNode(translated(currentType), typeAddress));
        attachFolder(typeAddress, typeFolder);
    };

    for (u64 i = 0; i < records.size(); ++i) {
        const PropertyMap& record = records[i];
        const std::string type = record.getString("Type", "");
        if (type.empty()) {
            // Its sub-folder would hang from a type folder that is never made and
            // the files sent there would be out of reach; they go to "Other".
            logAt("CbrMapImpl", 90) << ": record " << i << " has no Type\n";
            continue;
        }
        if (type != currentType) {
            closeTypeFolder();
            ++typeAddress;
            currentType = type;
            typeFolder = Folder(ATTACHED, ROOT_ADDRESS);
        }
        typeFolder.addNode(folderNode(translated(record.getString("Subtype", "")), i));
        attachFolder(i, Folder(ELEMS_SORTED, typeAddress));

        std::vector<std::string> pieces;
        split(record.getString("Files", ""), pieces, ' ');
        for (const std::string& piece : pieces) {
            const std::string fileType = trim(piece, BLANKS);
            if (!fileType.empty())
                folderOfType[fileType] = i;
        }
    }
    closeTypeFolder();

    root.addNode(folderNode(_("Other"), otherAddress));
    attachFolder(otherAddress, Folder(ELEMS_SORTED, ROOT_ADDRESS));
    attachFolder(ROOT_ADDRESS, root);

    if (files_ == nullptr)
        return;
    Driver* driver = drive_.getDriver();
    const u64 sourceBytes =
        driver != nullptr ? driver->getSectorCount() * driver->getSectorSize() : ~u64(0);
    for (const ::cbr::FileInfo& file : *files_) {
        auto it = folderOfType.find(file.getType());
        const u64 address = it == folderOfType.end() ? otherAddress : it->second;
        Folder* folder = findFolder(address);
        if (folder == nullptr) {
            logAt("CbrMapImpl", 124) << ": " << address << '\n';
            continue;
        }
        // The scanner never reports bytes past the source's end; a loaded scan
        // might, and recovering them would write the unreadable fill without end.
        u64 size = file.getSize();
        const u64 start = file.getStart();
        const u64 available = start < sourceBytes ? sourceBytes - start : 0;
        if (size > available) {
            logAt("CbrMapImpl", 135)
                << ": " << start << ' ' << size << " cut to " << available << '\n';
            size = available;
        }
        const u64 firstSector = start / SECTOR_BYTES;
        Node node(fileName(file), firstSector, Node::NONE, size,
                  file.getAttributes().getUInt32("time", NO_TIME));
        node.setLink(GOOD);
        if (drive_.isUnreadable(firstSector, ceilDiv(size, SECTOR_BYTES)))
            node.setFlag(Node::HAS_UNREADABLE, true);
        folder->addNode(node);
    }
}

bool MapImpl::readChunk(u64 lba, u64 count, u8* buffer) {
    if (drive_.readSectors(lba, count, buffer))
        return true;
    logAt("CbrMapImpl", 148) << ": " << lba << ' ' << count << '\n';
    // Only the sectors that fail are lost: the rest of the chunk is read one by
    // one, as the other engines do.
    bool whole = true;
    for (u64 s = 0; s < count; ++s) {
        u8* sector = buffer + s * SECTOR_BYTES;
        if (!drive_.readSectors(lba + s, 1, sector)) {
            fillUnreadablePattern(sector, SECTOR_BYTES);
            whole = false;
        }
    }
    return whole;
}

bool MapImpl::recoverNode(Recoverer& recoverer, const std::vector<std::string>& path, Node& node) {
    recoverer.beginFile(FileEntry(node.getName(), node.getSize(), node.getTime()), path);
    bool ok = true;
    u64 remaining = node.getSize() == Node::NONE ? 0 : node.getSize();
    std::vector<u8> buffer(remaining == 0 ? 0 : CHUNK_SECTORS * SECTOR_BYTES);
    u64 lba = node.getAddress();
    while (remaining > 0) {
        const u64 bytes = std::min(remaining, CHUNK_SECTORS * SECTOR_BYTES);
        const u64 count = ceilDiv(bytes, SECTOR_BYTES);
        if (!readChunk(lba, count, buffer.data()))
            ok = false;
        recoverer.write(buffer.data(), static_cast<u32>(bytes));
        remaining -= bytes;
        lba += count;
    }
    recoverer.endFile();
    return ok;
}

int MapImpl::readNodeData(Node& node, u8* buffer, u32 size, u64 offset) {
    if (size == 0)
        return 0;
    // The count must fit the result.
    if (size > static_cast<u32>(INT_MAX))
        return -5;
    u64 lba = node.getAddress() + offset / SECTOR_BYTES;
    const u32 within = static_cast<u32>(offset % SECTOR_BYTES);
    u8 sector[SECTOR_BYTES];
    u8* out = buffer;
    u32 left = size;
    if (within != 0) {
        if (!drive_.readSectors(lba, 1, sector)) {
            logAt("CbrMapImpl", 172) << '\n';
            return -5;
        }
        const u32 n = std::min(static_cast<u32>(SECTOR_BYTES) - within, left);
        std::memcpy(out, sector + within, n);
        out += n;
        left -= n;
        ++lba;
        if (left == 0)
            return static_cast<int>(size);
    }
    const u64 whole = left / SECTOR_BYTES;
    if (whole > 0) {
        if (!drive_.readSectors(lba, whole, out)) {
            logAt("CbrMapImpl", 191) << '\n';
            return -5;
        }
        out += whole * SECTOR_BYTES;
        left -= static_cast<u32>(whole * SECTOR_BYTES);
        lba += whole;
    }
    if (left > 0) {
        if (!drive_.readSectors(lba, 1, sector)) {
            logAt("CbrMapImpl", 204) << '\n';
            return -5;
        }
        std::memcpy(out, sector, left);
    }
    return static_cast<int>(size);
}

u64 MapImpl::getNodeLBA(u64 address) {
    return address;
}

void MapImpl::ostreamPartitionInfo(std::ostream& out) {
    (void)out;
    logAt("CbrMapImpl", 262) << ": ostreamPartitionInfo\n";
}

Folder* MapImpl::loadFolder(u64 address, Node& out) {
    logAt("CbrMapImpl", 232) << ": " << address << '\n';
    out.setFlag(Node::DIRECTORY, true);
    out.setAddress(address);
    return queueFolder(address, Folder(ELEMS_SORTED, ROOT_ADDRESS));
}

bool MapImpl::loadFoundEntry(u64 address, Node& out) {
    (void)address;
    (void)out;
    return false;
}

void MapImpl::checkStatuses(Folder& folder) {
    // Statuses were settled when the tree was built.
    folder.setState(STATUSES_CHECKED);
}

bool MapImpl::isEquivalent(const Node& listed, const Node& added) {
    (void)listed;
    (void)added;
    return true;
}

void MapImpl::ostreamInfo(std::ostream& out, const MapPosition& position, Folder& folder,
                          Node& node) {
    (void)out;
    (void)position;
    (void)folder;
    (void)node;
    logAt("CbrMapImpl", 256) << ": ostreamInfo\n";
}

} // namespace cbr
} // namespace tree
