#include "tree/ParserRecover.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "core/Text.h"

#include <memory>
#include <sstream>
#include <utility>

namespace tree {

namespace {

// The low bits of a message box's answer: 0 is Yes.
constexpr int ANSWER_MASK = 0x0F;
constexpr int CHECK_TICKED = 0x10;

// Calls `done` once when the scope ends, however it ends.
template <typename Done> class AtScopeEnd {
public:
    explicit AtScopeEnd(Done done) : done_(std::move(done)) {}
    ~AtScopeEnd() { done_(); }
    AtScopeEnd(const AtScopeEnd&) = delete;
    AtScopeEnd& operator=(const AtScopeEnd&) = delete;

private:
    Done done_;
};

// What was counted between `from` and `to`.
Totals since(const Totals& from, const Totals& to) {
    Totals block;
    block.files = to.files - from.files;
    block.bytes = to.bytes - from.bytes;
    block.folders = to.folders - from.folders;
    return block;
}

} // namespace

ParserRecover::ParserRecover(Map* map, std::ostream* report, Recoverer* recoverer,
                             FrTreeInterface* ui)
    : ParserReport(map, report, false, ui), recoverer_(recoverer), selector_(map, std::string()) {}

void ParserRecover::run() {
    counts_ = RecoveryCounts();
    written_ = Totals();
    countedFolders_.clear();
    lastFolder_.clear();
    levels_.clear();
    blocks_.clear();
    firstBlock_ = 0;
    writtenFiles_ = 0;
    complete_ = false;
    cancelled_ = false;
    std::unique_ptr<MapIterator> cursor = makeIterator(map_, START_POSITION, true, false);
    // The root counts when something in it is recovered, and when it lists
    // nothing to recover at all: then nothing can be marked in it.
    const bool rootSelected = cursor->isSelected();
    holdIncompleteRoot(*cursor);
    // The walk's books: each level counts what it wrote, and the walk adds
    // up the levels, also those a failure leaves open.
    ParseTotals totals;
    std::vector<std::string> path;
    // However the walk ended, the levels still open end, and the books are
    // what the levels wrote.
    auto settle = [&] {
        while (!levels_.empty())
            endLevel();
        written_ = totals.selected;
    };
    try {
        if (cursor->down()) {
            if (!rootSelected)
                incompleteRoot_.reset();
            parse(*cursor, path, totals);
        } else {
            noteHeldRoot(path);
        }
        complete_ = true;
    } catch (const InterruptedException&) {
        cancelled_ = true;
    } catch (...) {
        settle();
        throw;
    }
    settle();
    if (cancelled_)
        writeInterrupted(*out_);
    writeTotals(*out_, written_);
}

std::ostream& ParserRecover::Listing::lines(std::ostream& out) {
    return header ? out : pending;
}

void ParserRecover::processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                                     ParseTotals& totals) {
    // The root's level has no entry that was accepted for it.
    if (levels_.empty() || levels_.back().opened)
        levels_.emplace_back();
    levels_.back().opened = true;
    levels_.back().writtenBefore = writtenFiles_;
    Totals& level = totals.selected;
    Listing listing;
    // A No or a cancel ends the walk inside this level: what it listed still
    // gets its subtotal, so that the subtotals add up to the total.
    AtScopeEnd close([&] { closeListing(listing, path, level); });
    if (incompleteRoot_) {
        noteIncompleteFolder(*incompleteRoot_, listing);
        incompleteRoot_.reset();
    }
    do {
        if (!cursor.isSelected())
            continue;
        if (!cursor.isDirectory()) {
            recoverFile(cursor, path, listing, level);
            continue;
        }
        // Announcing a folder makes nothing: it counts once a file makes it.
        try {
            recoverer_->beginDirectory(cursor.getName(), path);
        } catch (const Recoverer::Exception& e) {
            askContinue(e.what());
            continue;
        }
        if (cursor.isIncomplete() || isBeyondLimit(cursor))
            noteIncompleteFolder(cursor, listing);
    } while (cursor.next());
}

void ParserRecover::listUnder(Listing& listing, const std::string& folder, const Totals& level) {
    if (listing.header && listing.folder == folder)
        return;
    if (listing.header)
        writeDirectoryTotals(*out_, since(listing.blockStart, level));
    listing.blockStart = level;
    writeDirectoryHeader(*out_, folder);
    listing.header = true;
    listing.folder = folder;
    *out_ << listing.pending.str();
    listing.pending.str(std::string());
}

void ParserRecover::closeListing(Listing& listing, const std::vector<std::string>& path,
                                 const Totals& level) {
    // Lines of files that went nowhere are listed in the tree's folder. When
    // one of them is a file of it, what became of its folder is known only
    // once the walk leaves the level: a file below may make it, or it goes.
    if (!listing.header && !listing.pending.str().empty()) {
        if (listing.unwrittenFile || !blocks_.empty()) {
            Block block;
            block.folder = joinPath(path);
            block.lines = listing.pending.str();
            block.decided = !listing.unwrittenFile;
            if (listing.unwrittenFile) {
                levels_.back().waits = true;
                levels_.back().block = firstBlock_ + blocks_.size();
            }
            blocks_.push_back(std::move(block));
            return;
        }
        listUnder(listing, joinPath(path), level);
    }
    if (listing.header)
        writeDirectoryTotals(*out_, since(listing.blockStart, level));
}

void ParserRecover::leaveDirectory(MapIterator& cursor, ParseTotals& child) {
    (void)cursor;
    (void)child;
    // Each accepted folder entry is left once, innermost first.
    if (!levels_.empty())
        endLevel();
}

void ParserRecover::endLevel() {
    const LevelRecord record = levels_.back();
    levels_.pop_back();
    if (!record.opened)
        return;
    const bool wrote = writtenFiles_ > record.writtenBefore;
    // The destination itself is the user's folder, and never taken away.
    bool gone = !record.reached;
    std::string removed;
    if (!wrote && record.reached && !record.destination.empty()) {
        gone = recoverer_->removeFolder(record.destination);
        if (gone)
            removed = record.destination;
    }
    if (!wrote && !record.emptied.empty() && recoverer_->removeFolder(record.emptied))
        removed = record.emptied;
    // The folder above the one taken away may have been made for it alone.
    const std::size_t slash = removed.rfind('/');
    if (slash != std::string::npos && !levels_.empty())
        levels_.back().emptied = removed.substr(0, slash);
    if (record.waits && record.block >= firstBlock_) {
        Block& block = blocks_[record.block - firstBlock_];
        if (!block.decided) {
            block.decided = true;
            block.notMade = !wrote && gone;
        }
    }
    flushBlocks();
}

void ParserRecover::decideMadeBelow() {
    for (Block& block : blocks_)
        block.decided = true;
    flushBlocks();
}

void ParserRecover::flushBlocks() {
    while (!blocks_.empty() && blocks_.front().decided) {
        const Block& block = blocks_.front();
        writeDirectoryHeader(*out_, block.folder,
                             block.notMade ? _("(not made: none of its files was written)")
                                           : nullptr);
        *out_ << block.lines;
        writeDirectoryTotals(*out_, Totals());
        blocks_.pop_front();
        ++firstBlock_;
    }
}

void ParserRecover::countFolders(const std::string& folder, Totals& level) {
    if (folder.empty() || folder == lastFolder_)
        return;
    lastFolder_ = folder;
    for (std::size_t end = folder.find('/');; end = folder.find('/', end + 1)) {
        const std::string prefix = folder.substr(0, end);
        if (countedFolders_.insert(prefix).second && recoverer_->madeFolder(prefix))
            addFolder(level);
        if (end == std::string::npos)
            return;
    }
}

void ParserRecover::recoverFile(MapIterator& cursor, const std::vector<std::string>& path,
                                Listing& listing, Totals& level) {
    const Attempt attempt = attemptFile(cursor, path);
    if (recoverer_->isFileMade())
        listWritten(cursor, attempt, listing, level);
    else
        listUnwritten(cursor, attempt, listing);
    // A No to the question, or a cancel, ends the walk, but only once the line
    // of a file begun says what became of it. A file too large for the
    // destination concerns that file alone: the next one may fit, and nobody
    // is asked.
    if (attempt.outcome == Outcome::REFUSED)
        askContinue(attempt.message);
    else if (attempt.outcome == Outcome::STOPPED)
        throw InterruptedException();
}

ParserRecover::Attempt ParserRecover::attemptFile(MapIterator& cursor,
                                                  const std::vector<std::string>& path) {
    recoverer_->clearFileCounts();
    Attempt attempt;
    try {
        if (!cursor.recover(*recoverer_, path))
            attempt.outcome = Outcome::READ_ERRORS;
        return attempt;
    } catch (const Recoverer::FileTooLarge& e) {
        attempt = Attempt{Outcome::TOO_LARGE, e.what(), e.reason()};
    } catch (const Recoverer::Exception& e) {
        attempt = Attempt{Outcome::REFUSED, e.what(), e.reason()};
    } catch (const InterruptedException&) {
        // Cancelled before anything of it was made: it was never begun.
        if (!recoverer_->isFileMade())
            throw;
        attempt.outcome = Outcome::STOPPED;
    }
    // A file that did not reach the destination whole (no room, a limit, an
    // I/O error, a cancel in the middle) is not left there under its name.
    recoverer_->discardFile();
    return attempt;
}

void ParserRecover::listWritten(MapIterator& cursor, const Attempt& attempt, Listing& listing,
                                Totals& level) {
    // Every block still waiting is of a level above this file, whose folder
    // it made.
    ++writtenFiles_;
    decideMadeBelow();
    listUnder(listing, recoverer_->getFileFolder(), level);
    const u64 bytes = recoverer_->getFileBytes();
    writeLine(*out_, cursor, recoverer_->getFileName(), false, bytes, false);
    if (recoverer_->getVolumeCount() != 0) {
        std::string pieces;
        for (const std::string& volume : recoverer_->getFileVolumes())
            pieces += (pieces.empty() ? "" : ", ") + volume;
        *out_ << formatMessage(_(" (split file: the pieces %1 joined in this order make the file)"),
                               pieces);
        ++counts_.split;
    }
    if (attempt.outcome == Outcome::WHOLE) {
        // Clears the marks of the folders above that have nothing marked left.
        selector_.run(cursor.getPosition(), false, ui_);
    } else {
        // Unreadable data was replaced, or what was cut could not be removed.
        *out_ << _(" (recovered with errors)");
        ++counts_.errors;
        if (attempt.outcome == Outcome::TOO_LARGE) {
            ++counts_.unwritten;
            ++counts_.tooLarge;
        }
    }
    *out_ << '\n';
    ++level.files;
    level.bytes += bytes;
    // Folders are made only for the files that go into them, and one that was
    // there already is no folder recovered.
    countFolders(recoverer_->getFileFolder(), level);
}

void ParserRecover::listUnwritten(MapIterator& cursor, const Attempt& attempt, Listing& listing) {
    std::ostream& out = listing.lines(*out_);
    writeFileLine(out, cursor, false, cursor.getSize());
    listing.unwrittenFile = true;
    // Where the recoverer got to with it; a file the map gave up before it
    // began it got nowhere, whatever the file before it did.
    std::string folder;
    if ((attempt.outcome == Outcome::REFUSED || attempt.outcome == Outcome::TOO_LARGE ||
         attempt.outcome == Outcome::STOPPED) &&
        recoverer_->attemptFolder(folder)) {
        levels_.back().reached = true;
        levels_.back().destination = folder;
    }
    if (attempt.outcome == Outcome::STOPPED) {
        // The user stopped it: nothing failed, and the run says it was cancelled.
        out << _(" (not written: the recovery was cancelled)");
    } else {
        if (attempt.reason.empty())
            out << _(" (not written)");
        else
            out << formatMessage(_(" (not written: %1)"), attempt.reason);
        ++counts_.errors;
        ++counts_.unwritten;
        if (attempt.outcome == Outcome::TOO_LARGE)
            ++counts_.tooLarge;
    }
    out << '\n';
}

void ParserRecover::noteIncompleteFolder(MapIterator& folder, Listing& listing) {
    writeFileLine(listing.lines(*out_), folder, false, folder.getSize(), true);
    listing.lines(*out_) << '\n';
    ++counts_.errors;
    ++counts_.incompleteFolders;
}

void ParserRecover::noteHeldRoot(const std::vector<std::string>& path) {
    if (!incompleteRoot_)
        return;
    Listing listing;
    noteIncompleteFolder(*incompleteRoot_, listing);
    incompleteRoot_.reset();
    closeListing(listing, path, Totals());
}

bool ParserRecover::acceptDirectory(MapIterator& cursor) {
    if (!cursor.isSelected())
        return false;
    // Opened when the walk goes in; ended when it leaves the entry.
    levels_.emplace_back();
    return true;
}

void ParserRecover::askContinue(const std::string& message) {
    if (dontAsk_)
        return;
    if (!ui_) {
        logAt("ParserRecover", 10) << ": " << message << " (nobody to ask: stopping)\n";
        throw InterruptedException();
    }
    const std::string text = message + "\n" + _("Do you want to continue?");
    const int answer = ui_->message(true, text.c_str(), true, _("_Don't ask me again"));
    if ((answer & ANSWER_MASK) != 0)
        throw InterruptedException();
    dontAsk_ = (answer & CHECK_TICKED) != 0;
}

} // namespace tree
