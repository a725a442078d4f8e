#pragma once

// The walk that performs a recovery: it goes through the selected visible part
// of a tree, announces each selected folder to the recoverer, has the map
// recover each selected file into it, writes one report line per file, and
// unmarks every file recovered without error (so that a second Recover picks up
// only what is still missing). When the recoverer fails, the user chooses
// whether to go on; a file larger than the destination holds concerns that file
// alone: the walk goes on without a question.
//
// The report never claims more than the destination holds. A file that did
// not reach it whole (no room, a quota, a file-size limit, an I/O error, a
// cancel in its middle) is taken off it and listed as not written, at its
// size in the tree; a written file is listed under the name it was written as
// (a name taken gets a free variant), below a header that names the
// destination folder it went to. The totals add up what was written: the files
// made and the folders made for them, not those that were there already. A
// folder's subtotal counts the files made in it and the folders made for them
// (its own, and those above it that held no file yet), so that the subtotals
// add up to the total, also when a No or a cancel ends the walk in it. A file
// that a cancel stopped before it was begun gets no line.

#include "tree/ParserReport.h"
#include "tree/ParserSelect.h"
#include "tree/Recoverer.h"

#include <exception>
#include <set>
#include <sstream>
#include <string>

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
    // could not be read, a cut file that could not be removed) or "not
    // written" after a failure; and the folders recovered from that are
    // incomplete, whose missing entries nothing else reports. A file that a
    // cancel cut is no error: the run says that it was cancelled.
    u32 getErrorCount() const { return errorCount_; }
    // Of those, the files that the destination could not take.
    u32 getUnwrittenCount() const { return unwrittenCount_; }
    u32 getSplitCount() const { return splitCount_; }
    // What reached the destination: the files left there, their bytes, and the
    // folders made for them (a folder is made only for a file that goes into
    // it). Kept up to date file
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
    // A level's listing: the destination folder its header named (none yet:
    // the lines wait in `pending`), and the files and folders recovered under
    // that header. The files of one tree folder all go to one destination
    // folder, unless it is shortened to fit the destination's path limit.
    struct Listing {
        bool header = false;
        std::string folder;
        std::ostringstream pending;
        Totals totals;
        std::ostream& lines(std::ostream& out);
    };

    // One selected file: its data, then its line and its marks as what reached
    // the destination says.
    void recoverFile(MapIterator& cursor, const std::vector<std::string>& path, Listing& listing);
    // Lines from here on go under the header of `folder`: the block before it
    // gets its subtotal.
    void listUnder(Listing& listing, const std::string& folder);
    // The level's last subtotal; lines still waiting go under the tree's folder.
    void closeListing(Listing& listing, const std::vector<std::string>& path);
    // Counts `folder` and the folders above it that the recoverer made, once.
    void countFolders(const std::string& folder, Totals& level);
    // The line of an incomplete folder that the recovery entered, or of one it
    // leaves out beyond the path limit, counted as an error.
    void noteIncompleteFolder(MapIterator& folder, Listing& listing);
    // An incomplete root that the walk could not enter (it lists nothing to
    // recover): its level, with its line alone, all the same.
    void noteHeldRoot(const std::vector<std::string>& path);

    Recoverer* recoverer_;
    ParserSelect selector_;
    u32 errorCount_ = 0;
    u32 unwrittenCount_ = 0;
    u32 splitCount_ = 0;
    Totals written_;
    // The destination folders already looked at for counting, and the last.
    std::set<std::string> countedFolders_;
    std::string lastFolder_;
    bool complete_ = false;
    bool cancelled_ = false;
    bool dontAsk_ = false;
};

} // namespace tree
