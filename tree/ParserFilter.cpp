#include "tree/ParserFilter.h"

#include "core/Intl.h"

#include <memory>

namespace tree {

void ParserFilter::run(FrTreeInterface* ui) {
    std::unique_ptr<MapIterator> cursor = makeIterator(map_, START_POSITION, false, false);
    ParseTotals totals;
    std::vector<std::string> path;
    const u64 root = cursor->getAddress();
    if (cursor->down()) {
        {
            std::unique_ptr<ProgressBoxIC> box = openProgressBox(ui, _("Applying Filter"));
            InterfaceCallbackScope scope(*this, box.get());
            parse(*cursor, path, totals);
        }
        returnToEntry(*cursor, START_POSITION, root);
    }
    cursor->setSelected(totals.selected.files != 0);
}

void ParserFilter::processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                                    ParseTotals& totals) {
    (void)path;
    do {
        if (cursor.isDirectory())
            continue; // leaveDirectory judges folders by what lies below them
        const bool shown = cursor.matchesFilter(mask_.get());
        bool selected = cursor.isSelected();
        cursor.setVisible(shown);
        if (selected && !shown) {
            cursor.setSelected(false);
            selected = false;
        }
        if (shown) {
            addFile(totals.all, cursor);
            if (selected)
                addFile(totals.selected, cursor);
        }
    } while (cursor.next());
}

void ParserFilter::leaveDirectory(MapIterator& cursor, ParseTotals& child) {
    const bool shown = !(child.all.files == 0 && (mask_.get() & FILTER_HIDE_EMPTY_FOLDERS) != 0);
    cursor.setVisible(shown);
    bool selected = cursor.isSelected();
    if (selected && child.selected.files == 0) {
        cursor.setSelected(false);
        selected = false;
    }
    if (shown)
        addFolder(child.all);
    if (selected)
        addFolder(child.selected);
    // A shown folder has just counted itself, so this collapses hidden ones only.
    if (child.all.folders == 0 && cursor.isExpanded())
        cursor.setExpanded(false);
}

} // namespace tree
