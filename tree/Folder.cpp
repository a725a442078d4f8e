#include "tree/Folder.h"

#include "core/FileNames.h"
#include "core/Intl.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

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

// The name as a destination compares it: cleaned as the recoverer cleans it,
// without case. The destinations people recover to compare names without
// case, and two names that one cleaning makes equal ("a*.txt" and "a_.txt")
// would take one name there.
std::string destinationKey(const std::string& name) {
    std::string clean = name;
    sanitizeFileName(clean);
    return caseFoldedName(clean);
}

// `name` repaired and made unique against `taken`, which then holds it too;
// `key` is its destinationKey. `taken` holds names as destinationKey gives
// them, each with the last suffix number handed out for it.
std::string uniqueName(std::string name, std::string key,
                       std::unordered_map<std::string, u32>& taken) {
    repairName(name);
    // A name made unique by "-xxx" may itself be taken already (more than 1000
    // entries of one name); go on from that name, so no two entries of a folder
    // ever share a name.
    for (auto it = taken.find(key); it != taken.end(); it = taken.find(key)) {
        const std::size_t dot = name.rfind('.');
        const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
        const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
        std::string chosen;
        for (u32 k = it->second + 1; k <= MAX_SUFFIX; ++k) {
            std::string candidate = base + "-" + std::to_string(k) + ext;
            key = destinationKey(candidate);
            if (taken.find(key) == taken.end()) {
                it->second = k;
                chosen = std::move(candidate);
                break;
            }
        }
        if (chosen.empty()) {
            it->second = MAX_SUFFIX;
            chosen = name + "-xxx";
            key = destinationKey(chosen);
        }
        name = std::move(chosen);
    }
    taken.emplace(std::move(key), 0);
    return name;
}

// The order in which entries take names: live before deleted, so that a file
// saved anew beside its deleted old version, or a hard link beside a deleted
// twin, keeps its own name and the deleted entry becomes "-1"; then a name the
// destination takes as it is before one that is cleaned into it, so that a
// live "a_.txt" is found under its name rather than "a*.txt"; then as the
// folder sorts them, folders and the better-known first.
constexpr u32 NAMING_RANKS = 32;
u32 namingRank(const Node& n, bool cleaned) {
    return (n.hasFlag(Node::DELETED) ? 16u : 0u) + (cleaned ? 8u : 0u) +
           (n.hasFlag(Node::DIRECTORY) ? 0u : 4u) + (3u - static_cast<u32>(n.getLink()));
}

} // namespace

void Folder::sortAndFixNames() {
    ++generation_;
    const u32 count = size();
    std::vector<u32> shown(count);
    std::iota(shown.begin(), shown.end(), 0u);
    // A stable sort: which of two equal names is shown first follows the
    // listing's order, whatever the library's sort does.
    std::stable_sort(shown.begin(), shown.end(),
                     [&](u32 a, u32 b) { return NodeLess(nodes_[a], nodes_[b]); });

    // Among entries of one rank, the listing's order decides who keeps a name:
    // an NTFS folder's two names that differ only in case in the order of its
    // index, and a name shown before the folder was sorted again keeps it.
    // Repairing leaves the key as it is: the cleaning replaces what it does.
    std::vector<std::string> keys(count);
    std::vector<u8> ranks(count);
    std::array<u32, NAMING_RANKS + 1> next{};
    for (u32 i = 0; i < count; ++i) {
        std::string clean = nodes_[i].getName();
        sanitizeFileName(clean);
        ranks[i] = static_cast<u8>(namingRank(nodes_[i], clean != nodes_[i].getName()));
        ++next[ranks[i] + 1u];
        keys[i] = caseFoldedName(clean);
    }
    std::partial_sum(next.begin(), next.end(), next.begin());
    std::vector<u32> naming(count);
    for (u32 i = 0; i < count; ++i)
        naming[next[ranks[i]]++] = i;
    std::unordered_map<std::string, u32> taken;
    taken.reserve(nodes_.size() * 2);
    for (u32 i : naming)
        nodes_[i].setName(uniqueName(nodes_[i].getName(), std::move(keys[i]), taken));

    std::vector<Node> sorted;
    sorted.reserve(nodes_.size());
    for (u32 i : shown)
        sorted.push_back(std::move(nodes_[i]));
    nodes_.swap(sorted);
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
