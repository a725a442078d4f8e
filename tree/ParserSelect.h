#pragma once

// Marks or unmarks an entry and everything visible below it for recovery,
// optionally only the files whose names match a mask, and then brings the marks
// of its ancestors in line: a folder is marked while something marked lies in it.
// A folder that could not be read whole, or lies beyond the walk's path limit,
// is marked as a whole when selecting.

#include "core/System.h"
#include "tree/Parser.h"

#include <string>

namespace tree {

class ParserSelect : public Parser {
public:
    // An empty mask takes every file; otherwise "*" and "?" without regard to case.
    ParserSelect(Map* map, const std::string& mask);

    // Marks (select) or unmarks the entry at start and its visible subtree.
    // Returns the entry's new mark: a folder ends marked only when a marked file
    // lies below it, or it or a folder below it is incomplete or left out of the
    // walk. A cancel goes on to the caller, ancestors unchanged. ui may be null
    // (no progress box).
    bool run(const MapPosition& start, bool select, FrTreeInterface* ui);

    void processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                          ParseTotals& totals) override;
    void leaveDirectory(MapIterator& cursor, ParseTotals& child) override;
    bool acceptDirectory(MapIterator& cursor) override;

private:
    // From the entry whose mark became `marked`, up through its ancestors.
    void markAncestors(MapIterator& cursor, bool marked);
    // Whether another visible entry of the cursor's level is marked.
    static bool levelHasSelected(MapIterator& cursor);
    // Whether a walk marked a file, or a folder (which holds marks, is
    // incomplete or was left out).
    static bool hasMarks(const Totals& selected);

    bool mode_ = true;
    FileMask compiled_;
    std::string mask_;
};

} // namespace tree
