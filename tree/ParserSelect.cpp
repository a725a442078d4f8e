#include "tree/ParserSelect.h"

#include "core/Intl.h"
#include "core/Log.h"

#include <memory>
#include <unordered_set>

namespace tree {

ParserSelect::ParserSelect(Map* map, const std::string& mask)
    : Parser(map), compiled_(mask.c_str()), mask_(mask) {}

bool ParserSelect::run(const MapPosition& start, bool select, FrTreeInterface* ui) {
    std::unique_ptr<MapIterator> cursor = makeIterator(map_, start, true, false);
    const bool was = cursor->isSelected();
    bool result = select;
    if (cursor->isDirectory()) {
        ParseTotals totals;
        std::vector<std::string> path;
        const u64 address = cursor->getAddress();
        if (cursor->down()) {
            mode_ = select;
            {
                std::unique_ptr<ProgressBoxIC> box = openProgressBox(ui, _("Selecting Files"));
                InterfaceCallbackScope scope(*this, box.get());
                parse(*cursor, path, totals);
            }
            returnToEntry(*cursor, start, address);
        }
        // An empty folder, or one whose files the mask passed over, stays
        // unmarked; an incomplete one may have held anything.
        result = hasMarks(totals.selected) || (select && cursor->isIncomplete());
    }
    if (result == was)
        return result;
    cursor->setSelected(result);
    markAncestors(*cursor, result);
    return result;
}

void ParserSelect::markAncestors(MapIterator& cursor, bool marked) {
    // The parents of a sound tree never repeat; if an engine ever breaks that,
    // the climb stops instead of going round.
    std::unordered_set<u64> passed;
    for (;;) {
        if (!marked)
            marked = levelHasSelected(cursor);
        if (!passed.insert(cursor.getPosition().folder).second) {
            logAt("ParserSelect", 10)
                << ": folder " << cursor.getPosition().folder << " met twice going up\n";
            return;
        }
        if (!cursor.up() || cursor.isSelected() == marked)
            return;
        cursor.setSelected(marked);
    }
}

bool ParserSelect::levelHasSelected(MapIterator& cursor) {
    // Forward first: the recover walk unmarks a folder's files in order, so the
    // marks still to come lie ahead, and a folder of n files costs n steps in
    // all instead of n * n / 2.
    const MapPosition from = cursor.getPosition();
    while (cursor.next()) {
        if (cursor.isSelected())
            return true;
    }
    cursor.setPosition(from);
    while (cursor.previous()) {
        if (cursor.isSelected())
            return true;
    }
    return false;
}

void ParserSelect::processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                                    ParseTotals& totals) {
    (void)path;
    do {
        if (cursor.isDirectory())
            continue;
        if (mask_.empty() || compiled_.match(cursor.getName().c_str()))
            cursor.setSelected(mode_);
        if (cursor.isSelected())
            addFile(totals.selected, cursor);
    } while (cursor.next());
}

bool ParserSelect::hasMarks(const Totals& selected) {
    return selected.files != 0 || selected.folders != 0;
}

void ParserSelect::leaveDirectory(MapIterator& cursor, ParseTotals& child) {
    // A folder the walk leaves out, or one that could not be read whole, may
    // hold anything: marked, it takes the recovery down to it, which says so.
    const bool marked =
        hasMarks(child.selected) || (mode_ && (isBeyondLimit(cursor) || cursor.isIncomplete()));
    cursor.setSelected(marked);
    if (marked)
        addFolder(child.selected);
}

bool ParserSelect::acceptDirectory(MapIterator& cursor) {
    // Unmarking need not go where nothing is marked.
    return mode_ || cursor.isSelected();
}

} // namespace tree
