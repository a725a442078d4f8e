#pragma once

// Decides for every node whether the views show it, from the filter word of the
// filter dialog, and keeps the marks consistent with what is shown: a hidden
// file is never selected, a folder is selected only while a selected file lies
// below it, and a hidden folder is collapsed.

#include "tree/FilterMask.h"
#include "tree/Parser.h"

namespace tree {

class ParserFilter : public Parser {
public:
    ParserFilter(Map* map, u32 filterWord) : Parser(map), mask_(filterWord) {}

    // Filters the whole tree; the "ROOT" entry ends selected exactly when a
    // selected file remains. ui may be null (no progress box).
    void run(FrTreeInterface* ui);

    void processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                          ParseTotals& totals) override;
    void leaveDirectory(MapIterator& cursor, ParseTotals& child) override;

private:
    FilterMask mask_;
};

} // namespace tree
