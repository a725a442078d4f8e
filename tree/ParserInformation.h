#pragma once

// Counts the files, bytes and folders of the visible tree, all and selected,
// for the information dialog.

#include "core/UserInterface.h"
#include "tree/Parser.h"

namespace tree {

class ParserInformation : public Parser {
public:
    explicit ParserInformation(Map* map) : Parser(map) {}

    // Adds the counts to totals (which are not zeroed first). With selectedOnly
    // only selected folders are entered. A cancel goes on to the caller with
    // what was counted. ui may be null (no progress box).
    void run(ParseTotals& totals, bool selectedOnly, FrTreeInterface* ui);

    void processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                          ParseTotals& totals) override;
    bool acceptDirectory(MapIterator& cursor) override;

private:
    bool selectedOnly_ = false;
};

} // namespace tree
