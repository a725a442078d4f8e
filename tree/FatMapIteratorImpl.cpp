#include "tree/FatMapIteratorImpl.h"

#include "core/Intl.h"

namespace tree {

bool FatMapIteratorImpl::matchesFilter(u32 mask) const {
    const Node& n = getNode();
    if (n.hasFlag(Node::DIRECTORY))
        return true;
    // On FAT the link says little about a file; its chain says whether it can be
    // recovered, and that is what the two pairs filter on.
    const bool live = !n.hasFlag(Node::DELETED);
    const bool liveGood = live && n.getStatus() == GOOD_IN_FAT;
    const bool liveBad = live && n.getStatus() == BAD_IN_FAT;
    return matchesCommonPairs(mask) && !pairHides(mask, liveGood, FILTER_ONLY_TO, FILTER_HIDE_TO) &&
           !pairHides(mask, liveBad, FILTER_ONLY_FROM, FILTER_HIDE_FROM);
}

int FatMapIteratorImpl::getStatus(std::string& text, const bool& withText) const {
    const Node& n = getNode();
    if (n.hasFlag(Node::DIRECTORY))
        return linkStatus(text, withText);
    const bool deleted = n.hasFlag(Node::DELETED);
    int code;
    const char* label;
    if (n.getStatus() == GOOD_IN_FAT) {
        code = deleted ? STATUS_FOUND : STATUS_GOOD;
        label = deleted ? N_("Possible FAT") : N_("Valid FAT");
    } else {
        code = STATUS_POOR;
        label = deleted ? N_("Poor FAT") : N_("Invalid FAT");
    }
    if (withText)
        text = _(label);
    return code;
}

std::unique_ptr<MapIterator> FatMapIteratorImpl::clone() const {
    return std::make_unique<FatMapIteratorImpl>(*this);
}

} // namespace tree
