#pragma once

// The walk that performs a recovery: it goes through the selected visible part
// of a tree, announces each selected folder to the recoverer, has the map
// recover each selected file into it, writes one report line per file, and
// unmarks every file recovered without error (so that a second Recover picks up
// only what is still missing). When the recoverer fails, the user chooses
// whether to go on.

#include "tree/ParserReport.h"
#include "tree/ParserSelect.h"
#include "tree/Recoverer.h"

#include <exception>

namespace tree {

class ParserRecover : public ParserReport {
public:
    // The report stream, the recoverer and the interface must outlive the walk.
    // ui asks the questions and may be null: with nobody to ask, a failure ends
    // the walk.
    ParserRecover(Map* map, std::ostream* report, Recoverer* recoverer, FrTreeInterface* ui);

    // One recovery walk; a cancel (or a No) ends the report with the interrupted
    // line. The grand total of what was recovered follows in any case.
    void run();

    u32 getErrorCount() const { return errorCount_; }
    u32 getSplitCount() const { return splitCount_; }

    // Asks whether to go on after the failure e; throws InterruptedException
    // for No. Once the user ticked "Don't ask me again", goes on silently.
    void askContinue(const std::exception& e);

    void processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                          ParseTotals& totals) override;
    bool acceptDirectory(MapIterator& cursor) override;

private:
    // One selected file: its line, its data, its marks.
    void recoverFile(MapIterator& cursor, const std::vector<std::string>& path, Totals& selected);

    Recoverer* recoverer_;
    ParserSelect selector_;
    u32 errorCount_ = 0;
    u32 splitCount_ = 0;
    bool dontAsk_ = false;
};

} // namespace tree
