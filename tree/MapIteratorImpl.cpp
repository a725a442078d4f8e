#include "tree/MapIteratorImpl.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "tree/FatMapIteratorImpl.h"

#include <stdexcept>
#include <string>

namespace tree {

std::unique_ptr<MapIterator> MapIteratorImpl::create(Map* map, const MapPosition& position,
                                                     bool visibleOnly, bool directoriesOnly) {
    if (map->getKind() == MAP_FAT)
        return std::make_unique<FatMapIteratorImpl>(map, position, visibleOnly, directoriesOnly);
    return std::make_unique<MapIteratorImpl>(map, position, visibleOnly, directoriesOnly);
}

MapIteratorImpl::MapIteratorImpl(Map* map, const MapPosition& position, bool visibleOnly,
                                 bool directoriesOnly)
    : map_(map), position_(position), visibleOnly_(visibleOnly), directoriesOnly_(directoriesOnly) {
    reload();
}

void MapIteratorImpl::setPosition(const MapPosition& position) {
    position_ = position;
    reload();
}

void MapIteratorImpl::reload() {
    folder_ = map_->getFolder(position_.folder);
    if (!folder_)
        throw std::runtime_error("MapIteratorImpl(235)");
    current_ = &folder_->node(position_.index);
    if (!passes(*current_))
        logAt("MapIteratorImpl", 246)
            << ": name: " << current_->getName() << ", address: " << current_->getAddress()
            << ", visibleOnly_: " << (visibleOnly_ ? 1 : 0)
            << ", directoriesOnly_: " << (directoriesOnly_ ? 1 : 0) << '\n';
}

bool MapIteratorImpl::passes(const Node& node) const {
    if (visibleOnly_ && !node.hasFlag(Node::VISIBLE))
        return false;
    if (directoriesOnly_ && !node.hasFlag(Node::DIRECTORY))
        return false;
    return true;
}

i64 MapIteratorImpl::findPassing(i64 from, int step) const {
    // Read through the const folder: the writable list would start a new
    // generation, and the map would index the folder again at every move.
    const Folder& folder = *folder_;
    const i64 size = folder.size();
    for (i64 i = from; i >= 0 && i < size; i += step) {
        if (passes(folder.node(static_cast<u32>(i))))
            return i;
    }
    return -1;
}

bool MapIteratorImpl::hasPrevious() {
    return findPassing(i64(position_.index) - 1, -1) >= 0;
}

bool MapIteratorImpl::hasNext() {
    return findPassing(i64(position_.index) + 1, 1) >= 0;
}

bool MapIteratorImpl::previous() {
    const i64 i = findPassing(i64(position_.index) - 1, -1);
    if (i < 0)
        return false;
    position_.index = static_cast<u32>(i);
    current_ = &folder_->node(position_.index);
    return true;
}

bool MapIteratorImpl::next() {
    const i64 i = findPassing(i64(position_.index) + 1, 1);
    if (i < 0)
        return false;
    position_.index = static_cast<u32>(i);
    current_ = &folder_->node(position_.index);
    return true;
}

bool MapIteratorImpl::downTarget(MapPosition& target) {
    // A folder known only from its parent's listing is not entered: nothing says
    // that what lies at its address is that folder.
    if (!current_->hasFlag(Node::DIRECTORY) || current_->getLink() == TO)
        return false;
    const u64 address = current_->getAddress();
    Folder* f = map_->getFolder(address);
    if (!f)
        throw std::runtime_error("MapIteratorImpl(319)");
    // Loading a folder may add entries to the one the cursor stands in.
    current_ = &folder_->node(position_.index);
    const Folder& inside = *f;
    for (u32 i = 0; i < inside.size(); ++i) {
        if (passes(inside.node(i))) {
            target = MapPosition{address, i};
            return true;
        }
    }
    return false;
}

bool MapIteratorImpl::upTarget(MapPosition& target) {
    const u64 parent = folder_->getParent();
    if (parent == NO_FOLDER)
        return false;
    if (!map_->getFolder(parent))
        throw std::runtime_error("MapIteratorImpl(293)");
    current_ = &folder_->node(position_.index);
    const i64 at = map_->findFolderEntry(parent, position_.folder, visibleOnly_);
    if (at < 0)
        return false;
    target = MapPosition{parent, static_cast<u32>(at)};
    return true;
}

bool MapIteratorImpl::canGoDown() {
    MapPosition target;
    return downTarget(target);
}

bool MapIteratorImpl::canGoUp() {
    MapPosition target;
    return upTarget(target);
}

bool MapIteratorImpl::down() {
    MapPosition target;
    if (!downTarget(target))
        return false;
    setPosition(target);
    return true;
}

bool MapIteratorImpl::up() {
    MapPosition target;
    if (!upTarget(target))
        return false;
    setPosition(target);
    return true;
}

bool MapIteratorImpl::recover(Recoverer& recoverer, const std::vector<std::string>& path) {
    return map_->recoverNode(recoverer, path, *current_);
}

int MapIteratorImpl::readData(u8* buffer, u32 size, u64 offset) {
    return map_->readNodeData(*current_, buffer, size, offset);
}

u64 MapIteratorImpl::getLBA() {
    return map_->getNodeLBA(current_->getAddress());
}

bool MapIteratorImpl::pairHides(u32 mask, bool has, u32 hideWithout, u32 hideWith) {
    return has ? (mask & hideWith) != 0 : (mask & hideWithout) != 0;
}

bool MapIteratorImpl::matchesCommonPairs(u32 mask) const {
    const Node& n = *current_;
    return !pairHides(mask, n.hasFlag(Node::HAS_UNREADABLE), FILTER_ONLY_UNREADABLE,
                      FILTER_HIDE_UNREADABLE) &&
           !pairHides(mask, n.hasFlag(Node::SYSTEM), FILTER_ONLY_SYSTEM, FILTER_HIDE_SYSTEM) &&
           !pairHides(mask, n.hasFlag(Node::DELETED), FILTER_ONLY_DELETED, FILTER_HIDE_DELETED);
}

bool MapIteratorImpl::matchesFilter(u32 mask) const {
    if (current_->hasFlag(Node::DIRECTORY))
        return true;
    const NodeLink link = current_->getLink();
    return matchesCommonPairs(mask) &&
           !pairHides(mask, link == TO, FILTER_ONLY_TO, FILTER_HIDE_TO) &&
           !pairHides(mask, link == FROM, FILTER_ONLY_FROM, FILTER_HIDE_FROM) &&
           !pairHides(mask, link == GOOD, FILTER_ONLY_GOOD, FILTER_HIDE_GOOD);
}

bool MapIteratorImpl::isIncomplete() const {
    return current_->hasFlag(Node::DIRECTORY) && current_->hasFlag(Node::INVALID_DIRECTORY);
}

int MapIteratorImpl::linkStatus(std::string& text, const bool& withText) const {
    int code = STATUS_POOR;
    const char* label = N_("Invalid");
    switch (current_->getLink()) {
    case GOOD:
        code = STATUS_GOOD;
        label = N_("Valid");
        break;
    case FROM:
        code = STATUS_FOUND;
        label = N_("Found");
        break;
    case TO:
        break;
    }
    const bool incomplete = isIncomplete();
    if (incomplete)
        code = STATUS_POOR;
    if (withText) {
        text = _(label);
        if (incomplete)
            text += std::string(" ") + _("(incomplete)");
    }
    return code;
}

int MapIteratorImpl::getStatus(std::string& text, const bool& withText) const {
    return linkStatus(text, withText);
}

std::unique_ptr<MapIterator> MapIteratorImpl::clone() const {
    return std::make_unique<MapIteratorImpl>(*this);
}

} // namespace tree
