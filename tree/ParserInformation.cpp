#include "tree/ParserInformation.h"

#include "core/Intl.h"

#include <memory>

namespace tree {

void ParserInformation::run(ParseTotals& totals, bool selectedOnly, FrTreeInterface* ui) {
    std::unique_ptr<MapIterator> cursor = makeIterator(map_, START_POSITION, true, false);
    std::vector<std::string> path;
    if (!cursor->down())
        return;
    selectedOnly_ = selectedOnly;
    std::unique_ptr<ProgressBoxIC> box = openProgressBox(ui, _("Collecting Information"));
    InterfaceCallbackScope scope(*this, box.get());
    parse(*cursor, path, totals);
}

void ParserInformation::processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                                         ParseTotals& totals) {
    (void)path;
    do {
        countEntry(totals.all, cursor);
        if (cursor.isSelected())
            countEntry(totals.selected, cursor);
    } while (cursor.next());
}

bool ParserInformation::acceptDirectory(MapIterator& cursor) {
    return !selectedOnly_ || cursor.isSelected();
}

} // namespace tree
