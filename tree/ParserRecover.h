#pragma once

// The walk that performs a recovery: it goes through the selected visible part
// of a tree, announces each selected folder to the recoverer, has the map
// recover each selected file into it, writes one report line per file, and
// unmarks every file recovered without error (so that a second Recover picks up
// only what is still missing). When the recoverer fails, the user chooses
// whether to go on; a file larger than the destination holds concerns that file
// alone: it stays cut and the walk goes on without a question.
//
// The report never claims more than the destination holds: a line gives the
// bytes that were written, a file cut short is marked with errors and one not
// made at all as not written, and the totals add up what was written: the
// files made and the folders that hold one. A folder's subtotal counts the
// files made in it and the folders made for them (its own, and those above it
// that held no file yet), so that the subtotals add up to the total. A file
// that a cancel stopped before it was begun gets no line.

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

    // Files not recovered whole: marked "recovered with errors" (data that
    // could not be read, a file cut short) or "not written" (not made at
    // all); and the folders recovered from that are incomplete, whose missing
    // entries nothing else reports.
    u32 getErrorCount() const { return errorCount_; }
    // Of those, the files that the destination could not take: nothing of
    // them reached it, or they are larger than the largest file it holds (cut
    // there, without a question: the next file may fit).
    u32 getUnwrittenCount() const { return unwrittenCount_; }
    u32 getSplitCount() const { return splitCount_; }
    // What reached the destination: the files made there (whole or not), their
    // bytes, and the selected folders that hold one of them at any depth (a
    // folder is made only for a file that goes into it). Kept up to date file
    // by file, so that it holds even when something else than a cancel ended
    // the walk.
    const Totals& getWritten() const { return written_; }
    // Whether the last run went through the whole selection.
    bool isComplete() const { return complete_; }
    // Whether a cancel or a No to going on ended the last run (with nobody to
    // ask, a failure counts as a No).
    bool isCancelled() const { return cancelled_; }

    // Asks whether to go on after the failure e; throws InterruptedException
    // for No. Once the user ticked "Don't ask me again", goes on silently.
    void askContinue(const std::exception& e);

    void processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                          ParseTotals& totals) override;
    bool acceptDirectory(MapIterator& cursor) override;

private:
    // One selected file: its data, then its line and its marks as what reached
    // the destination says. Writes the level's header first when `header` is
    // still false.
    void recoverFile(MapIterator& cursor, const std::vector<std::string>& path, Totals& selected,
                     bool& header);
    // The line of an incomplete folder that the recovery entered, or of one it
    // leaves out beyond the path limit, counted as an error; the level's header
    // first when `header` is still false.
    void noteIncompleteFolder(MapIterator& folder, const std::vector<std::string>& path,
                              bool& header);
    // An incomplete root that the walk could not enter (it lists nothing to
    // recover): its level, with its line alone, all the same.
    void noteHeldRoot(const std::vector<std::string>& path, ParseTotals& totals);

    Recoverer* recoverer_;
    ParserSelect selector_;
    u32 errorCount_ = 0;
    u32 unwrittenCount_ = 0;
    u32 splitCount_ = 0;
    Totals written_;
    // For each folder of the path walked, whether a file was made in it or
    // below it (and so the folder counted as written).
    std::vector<bool> folderMade_;
    bool complete_ = false;
    bool cancelled_ = false;
    bool dontAsk_ = false;
};

} // namespace tree
