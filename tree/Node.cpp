#include "tree/Node.h"

#include "core/Intl.h"
#include "tree/MapPosition.h"

#include <utility>

namespace tree {

Node::Node() : Node(std::string(), NONE, NONE, NONE, 0xFFFFFFFFu) {}

Node::Node(std::string name, u64 address, u64 index, u64 size, u32 time)
    : name_(std::move(name)), address_(address), index_(index), size_(size), time_(time),
      flags_(VISIBLE) {}

int compareNamesNoCase(const std::string& a, const std::string& b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        // Only the ASCII letters fold: names are 8-bit text of unknown charset.
        unsigned ca = static_cast<unsigned char>(a[i]);
        unsigned cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z')
            ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z')
            cb += 'a' - 'A';
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool NodeLess(const Node& a, const Node& b) {
    const bool da = a.hasFlag(Node::DIRECTORY);
    const bool db = b.hasFlag(Node::DIRECTORY);
    if (da != db)
        return da;
    if (a.getLink() != b.getLink())
        return a.getLink() > b.getLink();
    return compareNamesNoCase(a.getName(), b.getName()) < 0;
}

const char* linkName(NodeLink link) {
    switch (link) {
    case TO:
        return _("TO");
    case FROM:
        return _("FROM");
    case GOOD:
        return _("GOOD");
    }
    // Bits 8-9 can hold 3, which no engine writes.
    return "?";
}

void printLink(std::ostream& out, NodeLink link) {
    out << linkName(link);
}

void printValue(std::ostream& out, u64 value) {
    if (isReserved(value))
        out << _("none");
    else
        out << value;
}

void printFlags(std::ostream& out, u32 flags) {
    static const struct {
        u32 bit;
        const char* name;
    } NAMES[] = {
        {Node::DIRECTORY, N_("DIRECTORY")},
        {Node::DELETED, N_("DELETED")},
        {Node::VISIBLE, N_("VISIBLE")},
        {Node::SELECTED, N_("SELECTED")},
        {Node::EXPANDED, N_("EXPANDED")},
        {Node::INVALID_DIRECTORY, N_("INVALID_DIRECTORY")},
        {Node::HAS_UNREADABLE, N_("HAS_UNREADABLE")},
    };
    for (const auto& n : NAMES) {
        if (flags & n.bit)
            out << _(n.name) << ' ';
    }
}

} // namespace tree
