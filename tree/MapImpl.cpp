#include "tree/MapImpl.h"

#include "core/DateTime.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "tree/DriveDescription.h"

#include <algorithm>
#include <set>
#include <sstream>
#include <stdexcept>

namespace tree {

MapImpl::MapImpl(u64 rootAddress, bool searchAllEquivalents, bool sortNames)
    : rootAddress_(rootAddress), sortNames_(sortNames),
      searchAllEquivalents_(searchAllEquivalents) {
    Folder top(ELEMS_SORTED, NO_FOLDER);
    Node root(_("ROOT"), rootAddress, Node::NONE, Node::NONE, NO_TIME);
    root.setFlag(Node::DIRECTORY, true);
    root.setLink(GOOD);
    top.addNode(root);
    attachFolder(TOP_FOLDER, top);
}

MapImpl::~MapImpl() = default;

void MapImpl::setInterfaceCallback(InterfaceCallback* callback) {
    if (Drive* drive = getDrive())
        drive->setInterfaceCallback(callback);
    UsesInterfaceCallback::setInterfaceCallback(callback);
}

bool MapImpl::isPreferred(const Node& candidate, const Node& best) {
    (void)candidate;
    (void)best;
    return false;
}

void MapImpl::mergeRecord(Node& listed, const Node& record) {
    listed.setLink(GOOD);
    listed.setFlag(Node::DELETED, record.hasFlag(Node::DELETED));
    listed.setSize(record.getSize());
    if (record.hasFlag(Node::HAS_UNREADABLE))
        listed.setFlag(Node::HAS_UNREADABLE, true);
}

Folder* MapImpl::findFolder(u64 address) {
    auto it = folders_.find(address);
    return it == folders_.end() ? nullptr : &it->second;
}

const Folder* MapImpl::findFolder(u64 address) const {
    auto it = folders_.find(address);
    return it == folders_.end() ? nullptr : &it->second;
}

Folder* MapImpl::store(u64 address, const Folder& folder, bool required) {
    auto result = folders_.emplace(address, folder);
    if (!result.second) {
        if (required)
            throw std::runtime_error("MapImpl(45)");
        logAt("MapImpl", 50) << ": folder " << address << " is known already\n";
        return nullptr;
    }
    Folder* stored = &result.first->second;
    // A chain that ended at this address, not loaded then, goes on from here now.
    if (!chain_.empty() && chain_.front() == address)
        ++parentChanges_;
    return stored;
}

Folder* MapImpl::attachFolder(u64 address, const Folder& folder) {
    return store(address, folder, true);
}

Folder* MapImpl::queueFolder(u64 address, const Folder& folder) {
    // Attached first, so that a refused address leaves the queue as it was too.
    Folder* stored = attachFolder(address, folder);
    pending_.push_back(address);
    return stored;
}

Folder* MapImpl::tryAttachFolder(u64 address, const Folder& folder) {
    return store(address, folder, false);
}

Folder* MapImpl::tryQueueFolder(u64 address, const Folder& folder) {
    Folder* stored = tryAttachFolder(address, folder);
    if (stored)
        pending_.push_back(address);
    return stored;
}

bool MapImpl::isSelfOrAncestor(u64 candidate, u64 address) {
    if (candidate == address)
        return true;
    if (chainChanges_ != parentChanges_) {
        forgetChainFrom(0);
        chainChanges_ = parentChanges_;
    }
    // Up from address to where its chain meets the one known, or to its top.
    std::vector<u64> climbed;
    std::size_t keep = 0;
    for (u64 a = address;;) {
        const auto known = chainAt_.find(a);
        if (known != chainAt_.end()) {
            keep = known->second + 1;
            break;
        }
        // More steps than folders: the chain loops (which the map never builds,
        // but an engine might). What was climbed holds the loop; nothing is kept.
        if (climbed.size() > folders_.size())
            return std::find(climbed.begin(), climbed.end(), candidate) != climbed.end();
        climbed.push_back(a);
        const Folder* f = findFolder(a);
        if (!f || f->getParent() == NO_FOLDER)
            break;
        a = f->getParent();
    }
    forgetChainFrom(keep);
    for (auto it = climbed.rbegin(); it != climbed.rend(); ++it) {
        chainAt_[*it] = chain_.size();
        chain_.push_back(*it);
        // Only a folder the chain holds can make it wrong by changing its
        // parent: folders of other branches change theirs without cost, which
        // keeps a tree whose folders learn their parents late linear.
        if (Folder* f = findFolder(*it))
            f->watchParent(&parentChanges_);
    }
    return chainAt_.count(candidate) != 0;
}

void MapImpl::forgetChainFrom(std::size_t keep) {
    for (std::size_t i = keep; i < chain_.size(); ++i) {
        chainAt_.erase(chain_[i]);
        if (Folder* f = findFolder(chain_[i]))
            f->watchParent(nullptr);
    }
    chain_.resize(keep);
}

void MapImpl::appendToFolder(u64 address, Folder& folder, const Node& node) {
    Node n = node;
    if (n.getName().empty())
        n.setName(std::string(_("Found")) + "." + std::to_string(n.getAddress()));
    // An enterable entry for this folder or one of its ancestors would let every
    // walk down the tree go round for ever; it is shown, but cannot be entered.
    if (n.hasFlag(Node::DIRECTORY) && n.getLink() != TO &&
        isSelfOrAncestor(n.getAddress(), address)) {
        logAt("MapImpl", 100) << ": folder " << n.getAddress() << " would contain itself in "
                              << address << '\n';
        n.setLink(TO);
    }
    folder.addNode(n);
    if (folder.getState() > STATUSES_CHECKED)
        folder.setState(STATUSES_CHECKED);
}

Folder& MapImpl::foundFolder() {
    if (Folder* found = findFolder(FOUND_FOLDER))
        return *found;
    Folder* found = attachFolder(FOUND_FOLDER, Folder(ATTACHED, rootAddress_));
    Folder* root = findFolder(rootAddress_);
    if (!root)
        throw std::runtime_error("MapImpl(110)");
    Node entry(_("Found"), FOUND_FOLDER, Node::NONE, Node::NONE, NO_TIME);
    entry.setFlag(Node::DIRECTORY, true);
    entry.setLink(GOOD);
    root->addNode(entry);
    if (root->getState() > STATUSES_CHECKED)
        root->setState(STATUSES_CHECKED);
    return *found;
}

namespace {
// Below this a plain search is as fast as keeping an index.
constexpr u32 INDEXED_FOLDER_SIZE = 256;
} // namespace

const std::vector<u32>* MapImpl::positionsOf(Folder& folder, u64 address) {
    AddressIndex& index = addressIndex_[&folder];
    if (index.generation != folder.getGeneration() || index.indexed > folder.size()) {
        index.positions.clear();
        index.indexed = 0;
        index.generation = folder.getGeneration();
    }
    for (; index.indexed < folder.size(); ++index.indexed)
        index.positions[folder.node(index.indexed).getAddress()].push_back(index.indexed);
    auto it = index.positions.find(address);
    return it == index.positions.end() ? nullptr : &it->second;
}

template <typename Visit>
void MapImpl::visitEntriesNaming(Folder& folder, u64 address, u32 from, u32 to, Visit visit) {
    if (folder.size() < INDEXED_FOLDER_SIZE) {
        const Folder& f = folder;
        for (u32 i = from; i < to; ++i) {
            if (f.node(i).getAddress() == address && visit(i))
                return;
        }
        return;
    }
    const std::vector<u32>* positions = positionsOf(folder, address);
    if (!positions)
        return;
    for (auto it = std::lower_bound(positions->begin(), positions->end(), from);
         it != positions->end() && *it < to; ++it) {
        if (visit(*it))
            return;
    }
}

i64 MapImpl::findEquivalentNode(Folder& folder, const Node& node, u32 from, u32 to, i64 best) {
    visitEntriesNaming(folder, node.getAddress(), from, to, [&](u32 i) {
        const Node& candidate = folder.node(i);
        if (candidate.getLink() != TO || !isEquivalent(candidate, node))
            return false;
        if (best < 0) {
            best = i;
            return !searchAllEquivalents_;
        }
        if (searchAllEquivalents_ && isPreferred(candidate, folder.node(static_cast<u32>(best))))
            best = i;
        return false;
    });
    return best;
}

i64 MapImpl::findFolderEntry(u64 parent, u64 address, bool visibleOnly) {
    Folder* folder = findFolder(parent);
    if (!folder)
        return -1;
    i64 found = -1;
    visitEntriesNaming(*folder, address, 0, folder->size(), [&](u32 i) {
        const Node& n = folder->node(i);
        if (!n.hasFlag(Node::DIRECTORY) || n.getLink() == TO ||
            (visibleOnly && !n.hasFlag(Node::VISIBLE)))
            return false;
        found = i;
        return true;
    });
    return found;
}

bool MapImpl::mergeIntoListed(u64 address, Folder* folder, const Node& n, u32 start) {
    if (!folder)
        throw std::runtime_error("MapImpl(120)");
    const u32 size = folder->size();
    start = std::min(start, size);
    i64 best = findEquivalentNode(*folder, n, start, size, -1);
    if (best < 0 || searchAllEquivalents_)
        best = findEquivalentNode(*folder, n, 0, start, best);
    if (best < 0)
        return false;
    Node& b = folder->node(static_cast<u32>(best));
    if (n.hasFlag(Node::DIRECTORY) && isSelfOrAncestor(n.getAddress(), address)) {
        logAt("MapImpl", 130) << ": folder " << n.getAddress() << " would contain itself in "
                              << address << '\n';
        return true;
    }
    mergeRecord(b, n);
    return true;
}

void MapImpl::addListedNode(u64 address, Folder* folder, const Node& node) {
    // A copy: the node may live in a folder that the append reallocates.
    const Node n = node;
    if (!mergeIntoListed(address, folder, n, 0))
        appendToFolder(address, *folder, n);
}

void MapImpl::addNode(u64 address, Folder* folder, const Node& node, u32 start) {
    // A copy: the node may live in a folder that the appends below reallocate.
    const Node n = node;
    if (mergeIntoListed(address, folder, n, start))
        return;
    if (address == rootAddress_ && !belongsInRoot(n)) {
        Folder& found = foundFolder();
        appendToFolder(FOUND_FOLDER, found, n);
        if (n.hasFlag(Node::DIRECTORY) && !isReserved(n.getAddress()) &&
            n.getAddress() != rootAddress_) {
            if (Folder* child = findFolder(n.getAddress()))
                child->setParent(FOUND_FOLDER);
        }
        return;
    }
    appendToFolder(address, *folder, n);
}

void MapImpl::flagFolderEntries(u64 parent, u64 address, u32 mask, bool on) {
    Folder* folder = findFolder(parent);
    if (!folder)
        return;
    visitEntriesNaming(*folder, address, 0, folder->size(), [&](u32 i) {
        Node& n = folder->node(i);
        if (n.isDirectory())
            n.setFlag(mask, on);
        return false;
    });
}

void MapImpl::insertNode(u64 address, const Node& node) {
    if (address == NO_FOLDER || address == TOP_FOLDER)
        address = rootAddress_;
    Folder* folder = bringFolder(address, ATTACHED);
    if (!folder) {
        // Only a reserved address can be missing here; nothing of it can be loaded.
        address = rootAddress_;
        folder = bringFolder(address, ATTACHED);
    }
    addNode(address, folder, node, 0);
}

void MapImpl::addFoundNode(Folder* folder, const Node& node) {
    if (!folder)
        throw std::runtime_error("MapImpl(140)");
    if (node.getAddress() == rootAddress_) {
        // The root hangs from the "ROOT" entry and nowhere else.
        folder->setParent(TOP_FOLDER);
        return;
    }
    std::set<u64> visited{NO_FOLDER, TOP_FOLDER, node.getAddress()};
    // The parent that a folder may keep: one not met on this walk up, and not a
    // reserved address that does not exist. Anything else puts it under the root.
    auto parentOf = [&](Folder* f) {
        const u64 p = f->getParent();
        if (visited.count(p) || (isReserved(p) && !findFolder(p))) {
            f->setParent(rootAddress_);
            return rootAddress_;
        }
        visited.insert(p);
        return p;
    };
    Node n = node;
    u64 p = parentOf(folder);
    for (;;) {
        if (Folder* existing = findFolder(p)) {
            addNode(p, existing, n, 0);
            return;
        }
        Node placeholder;
        Folder* loaded = loadFolder(p, placeholder);
        if (!loaded)
            throw std::runtime_error("MapImpl(150)");
        // The loaded folder's own parent is settled before anything hangs in it, so
        // that a chain about to be cut never looks like a loop to addNode.
        const u64 next = parentOf(loaded);
        addNode(p, loaded, n, 0);
        n = placeholder;
        p = next;
    }
}

Folder* MapImpl::bringFolder(u64 address, FolderState target) {
    Folder* folder = findFolder(address);
    if (!folder) {
        if (isReserved(address)) {
            logAt("MapImpl", 160) << ": no folder " << address << '\n';
            return nullptr;
        }
        Node placeholder;
        folder = loadFolder(address, placeholder);
        if (!folder)
            throw std::runtime_error("MapImpl(170)");
        addFoundNode(folder, placeholder);
    }
    FolderState s = folder->getState();
    if (s == ATTACHED && target >= LINKS_CHECKED) {
        checkLinks(address, *folder);
        s = LINKS_CHECKED;
    }
    if (s == LINKS_CHECKED && target >= STATUSES_CHECKED) {
        checkStatuses(*folder);
        s = STATUSES_CHECKED;
    }
    if (s == STATUSES_CHECKED && target == ELEMS_SORTED) {
        if (sortNames_)
            folder->sortAndFixNames();
        folder->setState(ELEMS_SORTED);
    }
    return folder;
}

Folder* MapImpl::getFolder(u64 address) {
    return bringFolder(address, ELEMS_SORTED);
}

void MapImpl::checkLinks(u64 address, Folder& folder) {
    const u32 count = folder.size();
    for (u32 i = 0; i < count; ++i) {
        // A copy: the folder's nodes may move while entries are added below.
        const Node n = folder.node(i);
        Node m;
        u64 p = NO_FOLDER;
        Folder* loadedFolder = nullptr;
        if (!n.hasFlag(Node::DIRECTORY)) {
            if (!loadFoundEntry(n.getAddress(), m))
                continue;
            p = m.getAddress();
            m.setAddress(n.getAddress());
        } else {
            if (isReserved(n.getAddress()) || findFolder(n.getAddress()))
                continue;
            loadedFolder = loadFolder(n.getAddress(), m);
            if (!loadedFolder)
                throw std::runtime_error("MapImpl(180)");
            if ((loadedFolder->getParent() == NO_FOLDER && listingHoldsOrphans()) ||
                listingClaims(address, n, *loadedFolder))
                loadedFolder->setParent(address);
            p = loadedFolder->getParent();
        }
        if (p == address)
            addNode(address, &folder, m, i);
        else if (!loadedFolder)
            insertNode(p, m);
        else
            addFoundNode(loadedFolder, m);
    }
    folder.setState(LINKS_CHECKED);
}

void MapImpl::finishTree() {
    bringFolder(rootAddress_, LINKS_CHECKED);
    while (!pending_.empty()) {
        std::list<u64> batch;
        batch.swap(pending_);
        for (u64 address : batch) {
            bringFolder(address, LINKS_CHECKED);
            reportFolderPath(address);
        }
    }
    dropEmptyFound();
}

void MapImpl::dropEmptyFound() {
    const Folder* found = findFolder(FOUND_FOLDER);
    if (!found || !found->empty())
        return;
    // What was put there has found its place since: the folder stands for
    // nothing. No walk is under way here to be upset by an entry that goes.
    if (Folder* parent = findFolder(found->getParent())) {
        std::vector<Node>& nodes = parent->getNodes();
        nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                                   [](const Node& n) {
                                       return n.isDirectory() && n.getAddress() == FOUND_FOLDER;
                                   }),
                    nodes.end());
    }
    addressIndex_.erase(found);
    folders_.erase(FOUND_FOLDER);
    ++parentChanges_;
}

std::string MapImpl::folderPath(u64 address) {
    u64 steps = 0;
    return folderPath(address, steps);
}

std::string MapImpl::folderPath(u64 address, u64& steps) {
    // The names from the folder up, joined once at the end.
    std::vector<const std::string*> names;
    // False when the walk went on longer than a chain of distinct folders can:
    // the chain loops (which the map never builds, but an engine might), and is
    // walked again with each folder once.
    auto walk = [&](std::set<u64>* seen) {
        names.clear();
        for (u64 a = address, level = 0;; ++level, ++steps) {
            if (seen ? !seen->insert(a).second : level > folders_.size())
                return seen != nullptr;
            const Folder* f = findFolder(a);
            if (!f || f->getParent() == NO_FOLDER)
                return true;
            const u64 parent = f->getParent();
            const i64 at = findFolderEntry(parent, a, false);
            if (at >= 0)
                names.push_back(&findFolder(parent)->node(static_cast<u32>(at)).getName());
            if (parent == rootAddress_)
                return true;
            a = parent;
        }
    };
    std::set<u64> seen;
    if (!walk(nullptr))
        walk(&seen);
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!path.empty())
            path += '\\';
        path += **it;
    }
    return path;
}

namespace {
// Steps up the tree that each folder reported earns. A path costs a step a
// level, so deep trees show every so many folders' path and not each one's,
// and the walks for the progress text stay linear in the folders.
constexpr u64 REPORT_CREDIT = 32;
} // namespace

void MapImpl::reportFolderPath(u64 address) {
    if (!hasInterfaceCallback() || address == lastReported_)
        return;
    lastReported_ = address;
    reportCredit_ += REPORT_CREDIT;
    if (reportCredit_ >= lastReportCost_) {
        u64 steps = 0;
        setText(InterfaceCallback::TEXT_MAIN, folderPath(address, steps));
        reportCredit_ = 0;
        lastReportCost_ = steps;
    }
    poll();
}

bool MapImpl::checkIntegrity() {
    logAt("MapImpl", 411) << ": checkIntegrity\n";
    bool ok = true;
    const bool fat = getKind() == MAP_FAT;
    for (const auto& entry : folders_) {
        const u64 address = entry.first;
        const Folder& folder = entry.second;
        const u64 parent = folder.getParent();
        if (parent == NO_FOLDER) {
            if (address != TOP_FOLDER) {
                logAt("MapImpl", 451) << ": No parent for " << address << '\n';
                ok = false;
            }
        } else if (Folder* pf = findFolder(parent)) {
            std::string names[3];
            bool seen[3] = {false, false, false};
            visitEntriesNaming(*pf, address, 0, pf->size(), [&](u32 i) {
                const Node& n = pf->node(i);
                if (n.hasFlag(Node::DIRECTORY)) {
                    const int kind = n.getLink() == FROM ? 1 : n.getLink() == GOOD ? 2 : 0;
                    names[kind] = n.getName();
                    seen[kind] = true;
                }
                return false;
            });
            if (seen[0] + seen[1] + seen[2] >= 2)
                logAt("MapImpl", 447) << ": TO/FROM/GOOD in " << parent << " to " << address << " "
                                      << names[0] << "/" << names[1] << "/" << names[2] << '\n';
        } else {
            // Engines keep every parent present; one that is not is worth knowing.
            logAt("MapImpl", 460) << ": Missing parent " << parent << " of " << address << '\n';
            ok = false;
        }
        if (!fat)
            continue;
        for (const Node& n : folder.getNodes()) {
            if (!n.hasFlag(Node::DIRECTORY) && !n.hasFlag(Node::DELETED) &&
                n.getStatus() != GOOD_IN_FAT) {
                logAt("MapImpl", 466)
                    << ": Bad not deleted file " << n.getName() << " in " << address << '\n';
                ok = false;
            }
        }
    }
    return ok;
}

void MapImpl::printNodeInformation(std::ostream& out, const MapPosition& position) {
    Folder* folder = findFolder(position.folder);
    if (!folder)
        throw std::runtime_error("MapImpl(88)");
    const Node& cnode = static_cast<const Folder*>(folder)->node(position.index);
    Node& node = folder->node(position.index);

    // What a node does not have reads "none": its marks are no numbers.
    std::ostringstream text;
    text << _("Name") << ":\t\t" << cnode.getName() << '\n' << _("Address") << ":\t";
    printValue(text, hasSourceAddress(cnode) ? cnode.getAddress() : Node::NONE);
    text << '\n' << _("Index") << ":\t\t";
    printValue(text, cnode.getIndex());
    text << '\n';
    // A folder of a FAT volume has no size of its own: its entry says 0, and
    // the node holds the mark of a size that is not there.
    if (cnode.getSize() != Node::NONE)
        text << _("Size") << ":\t\t" << cnode.getSize() << '\n';
    text << _("Time") << ":\t\t";
    printValue(text, cnode.getTime() == NO_TIME ? Node::NONE : cnode.getTime());
    text << '\n'
         << _("Link") << ":\t\t" << linkName(cnode.getLink()) << '\n'
         << _("Flags") << ":\t\t";
    out << text.str();
    printFlags(out, cnode.getFlags());
    out << '\n';
    ostreamInfo(out, position, *folder, node);
    out << "\n--- " << _("Node Information") << " ---\n" << _("Parent") << ":\t";
    printValue(out, isSourceFolder(folder->getParent()) ? folder->getParent() : Node::NONE);
    out << '\n' << _("State") << ":\t";
    printFolderState(out, folder->getState());
}

void MapImpl::printDriveInformation(std::ostream& out) {
    Drive* drive = getDrive();
    if (drive && drive->getDriver())
        printDriverDescription(out, *drive->getDriver());
}

} // namespace tree
