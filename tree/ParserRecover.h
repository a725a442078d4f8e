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
// size in the tree, with the system's reason; a written file is listed under
// the name it was written as (a name taken gets a free variant, a name the
// destination refuses a safe form), below a header that names the destination
// folder it went to, and a split file names its pieces in order. A folder that
// the run made for files of its level that were then not written, and that
// holds nothing when the walk leaves the level, is taken away again; the
// block of a level none of whose files was written is headed with its tree
// path and says that the folder was not made exactly when it is not on the
// destination then (the destination itself included). Such a block waits
// until that is known, and comes before the blocks of the folders below it in
// any case. The totals add up what was written: the files made and the
// folders made for them, not those that were there already. A folder's
// subtotal counts the files made in it and the folders made for them (its
// own, and those above it that held no file yet), so that the subtotals add
// up to the total, also when a No or a cancel ends the walk in it. A file that
// a cancel stopped before it was begun gets no line.

#include "tree/ParserReport.h"
#include "tree/ParserSelect.h"
#include "tree/Recoverer.h"

#include <deque>
#include <set>
#include <sstream>
#include <string>

namespace tree {

// What a recovery run counts beside its totals.
struct RecoveryCounts {
    // Files not recovered whole: marked "recovered with errors" (data that
    // could not be read, a cut file that could not be removed) or "not
    // written" after a failure; and the folders recovered from that are
    // incomplete, whose missing entries nothing else reports. A file that a
    // cancel cut is no error: the run says that it was cancelled.
    u32 errors = 0;
    // Of those, the files that the destination could not take.
    u32 unwritten = 0;
    // Of those, the files larger than any the destination holds (FAT32's
    // 4 GiB, a file-size limit), which a smaller File Size Limit would split.
    u32 tooLarge = 0;
    // Files written in pieces.
    u32 split = 0;
    // Of the errors, the incomplete folders.
    u32 incompleteFolders = 0;
};

class ParserRecover : public ParserReport {
public:
    // The report stream, the recoverer and the interface must outlive the walk.
    // ui asks the questions and may be null: with nobody to ask, a failure ends
    // the walk.
    ParserRecover(Map* map, std::ostream* report, Recoverer* recoverer, FrTreeInterface* ui);

    // One recovery walk; a cancel (or a No) ends the report with the interrupted
    // line. The grand total of what was recovered follows in any case.
    void run();

    // The counts of the last run.
    const RecoveryCounts& getCounts() const { return counts_; }
    u32 getErrorCount() const { return counts_.errors; }
    u32 getUnwrittenCount() const { return counts_.unwritten; }
    u32 getSplitCount() const { return counts_.split; }
    // What reached the destination: the files left there, their bytes, and the
    // folders made for them (a folder is made only for a file that goes into
    // it), however the last run ended.
    const Totals& getWritten() const { return written_; }
    // Whether the last run went through the whole selection.
    bool isComplete() const { return complete_; }
    // Whether a cancel or a No to going on ended the last run (with nobody to
    // ask, a failure counts as a No).
    bool isCancelled() const { return cancelled_; }

    void processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                          ParseTotals& totals) override;
    bool acceptDirectory(MapIterator& cursor) override;
    void leaveDirectory(MapIterator& cursor, ParseTotals& child) override;

private:
    // A level's listing: the destination folder its header named (none yet:
    // the lines wait in `pending`, and `unwrittenFile` says whether one of
    // them is a file not written), and the level's written totals when the
    // block under that header began. The files of one tree folder all go to
    // one destination folder, unless it is shortened to fit the destination's
    // path limit.
    struct Listing {
        bool header = false;
        std::string folder;
        std::ostringstream pending;
        bool unwrittenFile = false;
        Totals blockStart;
        std::ostream& lines(std::ostream& out);
    };

    // How the destination took a file: whole, with unreadable data replaced,
    // refused (its message asks whether to go on), too large for it, or cut
    // by a cancel or a No (which ends the walk).
    enum class Outcome { WHOLE, READ_ERRORS, REFUSED, TOO_LARGE, STOPPED };
    struct Attempt {
        Outcome outcome = Outcome::WHOLE;
        std::string message;
        std::string reason;
    };

    // One selected file: its data, then its line, its counts and its marks
    // as what reached the destination says. `level` holds the level's written
    // totals.
    void recoverFile(MapIterator& cursor, const std::vector<std::string>& path, Listing& listing,
                     Totals& level);
    // The file's data; what of it did not come whole is taken off the
    // destination (the recoverer says what stays). A cancel before the file
    // was begun passes on.
    Attempt attemptFile(MapIterator& cursor, const std::vector<std::string>& path);
    // The line of a file the destination holds, or of one it does not.
    void listWritten(MapIterator& cursor, const Attempt& attempt, Listing& listing, Totals& level);
    void listUnwritten(MapIterator& cursor, const Attempt& attempt, Listing& listing);
    // Lines from here on go under the header of `folder`: the block before it
    // gets its subtotal.
    void listUnder(Listing& listing, const std::string& folder, const Totals& level);
    // The level's last subtotal; lines still waiting go under the tree's
    // folder, in a block of their own that waits while one before it does or
    // while its folder's fate is open (a file of it was not written).
    void closeListing(Listing& listing, const std::vector<std::string>& path, const Totals& level);
    // Counts `folder` and the folders above it that the recoverer made, once.
    void countFolders(const std::string& folder, Totals& level);
    // The line of an incomplete folder that the recovery entered, or of one it
    // leaves out beyond the path limit, counted as an error.
    void noteIncompleteFolder(MapIterator& folder, Listing& listing);
    // An incomplete root that the walk could not enter (it lists nothing to
    // recover): its level, with its line alone, all the same.
    void noteHeldRoot(const std::vector<std::string>& path);
    // Asks whether to go on after the failure `message`; throws
    // InterruptedException for No. Once the user ticked "Don't ask me again",
    // goes on silently.
    void askContinue(const std::string& message);

    // One open level of the walk: whether the walk went into it, the files
    // written before it began, and what became of its own files that were
    // not written: whether one of them reached a folder, and which. From this
    // record alone its folder is taken away or kept and its header is told.
    struct LevelRecord {
        bool opened = false;
        u64 writtenBefore = 0;
        bool reached = false;
        std::string destination;
        // A folder that a level below it left empty when it took its own away:
        // made for the files below alone, it goes too when nothing was written.
        std::string emptied;
        // Its block waits in blocks_ under this number, undecided.
        bool waits = false;
        u64 block = 0;
    };
    // A block that cannot be written yet: its tree folder, its lines, and,
    // once decided, whether its header says that the folder was not made. Its
    // subtotal is nothing: none of its files was written.
    struct Block {
        std::string folder;
        std::string lines;
        bool decided = false;
        bool notMade = false;
    };
    // Ends the innermost open level: its folder goes when the run made it and
    // nothing was written in it or below, and its block is decided.
    void endLevel();
    // Every block that waits is decided: a file below made their folders.
    void decideMadeBelow();
    // Writes the waiting blocks from the first on, as far as they are decided.
    void flushBlocks();

    Recoverer* recoverer_;
    ParserSelect selector_;
    RecoveryCounts counts_;
    Totals written_;
    // The open levels, outermost first, each above the next; a folder entry
    // accepted but not entered has one that was never opened.
    std::vector<LevelRecord> levels_;
    // Blocks in walk order, blocks_.front() numbered firstBlock_.
    std::deque<Block> blocks_;
    u64 firstBlock_ = 0;
    // Files written so far in the run.
    u64 writtenFiles_ = 0;
    // The destination folders already looked at for counting, and the last.
    std::set<std::string> countedFolders_;
    std::string lastFolder_;
    bool complete_ = false;
    bool cancelled_ = false;
    bool dontAsk_ = false;
};

} // namespace tree
