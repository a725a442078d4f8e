#include "tree/Folder.h"

#include "core/Intl.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace tree {

Folder::Folder(const Folder& other)
    : state_(other.state_), parent_(other.parent_), nodes_(other.nodes_),
      generation_(other.generation_) {}

Folder& Folder::operator=(const Folder& other) {
    if (this == &other)
        return *this;
    state_ = other.state_;
    setParent(other.parent_);
    nodes_ = other.nodes_;
    // Past both histories: an index kept for either list must not take this one
    // for the list it knew.
    generation_ = std::max(generation_, other.generation_) + 1;
    return *this;
}

void Folder::setParent(u64 parent) {
    if (parent != parent_ && parentChanges_)
        ++*parentChanges_;
    parent_ = parent;
}

Node& Folder::node(u32 i) {
    if (i >= nodes_.size())
        throw std::runtime_error("Node(209)");
    return nodes_[i];
}

const Node& Folder::node(u32 i) const {
    if (i >= nodes_.size())
        throw std::runtime_error("Node(203)");
    return nodes_[i];
}

namespace {

constexpr u32 MAX_SUFFIX = 999;

void repairName(std::string& name) {
    if (name.empty()) {
        name = "_";
        return;
    }
    for (char& c : name) {
        if (c == '\0' || c == '/')
            c = '_';
    }
}

// `name` repaired and made unique against `taken`, which then holds it too.
std::string uniqueName(std::string name, std::unordered_map<std::string, u32>& taken) {
    repairName(name);
    // A name made unique by "-xxx" may itself be taken already (more than 1000
    // entries of one name); go on from that name, so no two entries of a folder
    // ever share a name.
    for (auto it = taken.find(name); it != taken.end(); it = taken.find(name)) {
        const std::size_t dot = name.rfind('.');
        const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
        const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
        std::string chosen;
        for (u32 k = it->second + 1; k <= MAX_SUFFIX; ++k) {
            std::string candidate = base + "-" + std::to_string(k) + ext;
            if (taken.find(candidate) == taken.end()) {
                it->second = k;
                chosen = std::move(candidate);
                break;
            }
        }
        if (chosen.empty()) {
            it->second = MAX_SUFFIX;
            chosen = name + "-xxx";
        }
        name = std::move(chosen);
    }
    taken.emplace(name, 0);
    return name;
}

} // namespace

void Folder::sortAndFixNames() {
    ++generation_;
    // A stable sort: which of two equal names keeps it and which becomes "-1"
    // follows the listing's order, whatever the library's sort does.
    std::stable_sort(nodes_.begin(), nodes_.end(), NodeLessOrder());

    // Name (exact bytes) -> the last suffix number handed out for it.
    std::unordered_map<std::string, u32> taken;
    taken.reserve(nodes_.size() * 2);
    // Live entries take their names before deleted ones: a file saved anew beside
    // its deleted old version, or a hard link beside a deleted twin, keeps its own
    // name, and the deleted entry becomes "-1" whatever the sort order says.
    for (const bool deleted : {false, true}) {
        for (Node& n : nodes_) {
            if (n.hasFlag(Node::DELETED) == deleted)
                n.setName(uniqueName(n.getName(), taken));
        }
    }
}

void printFolderState(std::ostream& out, FolderState state) {
    switch (state) {
    case ATTACHED:
        out << _("ATTACHED");
        return;
    case LINKS_CHECKED:
        out << _("LINKS_CHECKED");
        return;
    case STATUSES_CHECKED:
        out << _("STATUSES_CHECKED");
        return;
    case ELEMS_SORTED:
        out << _("ELEMS_SORTED");
        return;
    }
    out << static_cast<u32>(state);
}

} // namespace tree
