#include "tree/ParserRecover.h"

#include "core/Intl.h"
#include "core/Log.h"

#include <exception>
#include <memory>
#include <sstream>

namespace tree {

namespace {

// The low bits of a message box's answer: 0 is Yes.
constexpr int ANSWER_MASK = 0x0F;
constexpr int CHECK_TICKED = 0x10;

} // namespace

ParserRecover::ParserRecover(Map* map, std::ostream* report, Recoverer* recoverer,
                             FrTreeInterface* ui)
    : ParserReport(map, report, false, ui), recoverer_(recoverer), selector_(map, std::string()) {}

void ParserRecover::run() {
    errorCount_ = 0;
    unwrittenCount_ = 0;
    splitCount_ = 0;
    written_ = Totals();
    countedFolders_.clear();
    lastFolder_.clear();
    complete_ = false;
    cancelled_ = false;
    std::unique_ptr<MapIterator> cursor = makeIterator(map_, START_POSITION, true, false);
    // The root counts when something in it is recovered, and when it lists
    // nothing to recover at all: then nothing can be marked in it.
    const bool rootSelected = cursor->isSelected();
    holdIncompleteRoot(*cursor);
    ParseTotals totals;
    std::vector<std::string> path;
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
        writeInterrupted(*out_);
    }
    writeTotals(*out_, written_);
}

std::ostream& ParserRecover::Listing::lines(std::ostream& out) {
    return header ? out : pending;
}

void ParserRecover::processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                                     ParseTotals& totals) {
    (void)totals;
    Listing listing;
    // A No or a cancel ends the walk inside this level: what it listed still
    // gets its subtotal, so that the subtotals add up to the total.
    try {
        if (incompleteRoot_) {
            noteIncompleteFolder(*incompleteRoot_, listing);
            incompleteRoot_.reset();
        }
        do {
            if (!cursor.isSelected())
                continue;
            if (!cursor.isDirectory()) {
                recoverFile(cursor, path, listing);
                continue;
            }
            // Announcing a folder makes nothing: it counts once a file makes it.
            try {
                recoverer_->beginDirectory(cursor.getName(), path);
            } catch (const Recoverer::Exception& e) {
                askContinue(e);
                continue;
            }
            if (cursor.isIncomplete() || isBeyondLimit(cursor))
                noteIncompleteFolder(cursor, listing);
        } while (cursor.next());
    } catch (...) {
        closeListing(listing, path);
        throw;
    }
    closeListing(listing, path);
}

void ParserRecover::listUnder(Listing& listing, const std::string& folder) {
    if (listing.header && listing.folder == folder)
        return;
    if (listing.header) {
        writeDirectoryTotals(*out_, listing.totals);
        listing.totals = Totals();
    }
    writeDirectoryHeader(*out_, folder);
    listing.header = true;
    listing.folder = folder;
    *out_ << listing.pending.str();
    listing.pending.str(std::string());
}

void ParserRecover::closeListing(Listing& listing, const std::vector<std::string>& path) {
    // Lines of files that went nowhere are listed in the tree's folder.
    if (!listing.header && !listing.pending.str().empty())
        listUnder(listing, joinPath(path));
    if (listing.header)
        writeDirectoryTotals(*out_, listing.totals);
}

void ParserRecover::countFolders(const std::string& folder, Totals& level) {
    if (folder.empty() || folder == lastFolder_)
        return;
    lastFolder_ = folder;
    for (std::size_t end = folder.find('/');; end = folder.find('/', end + 1)) {
        const std::string prefix = folder.substr(0, end);
        if (countedFolders_.insert(prefix).second && recoverer_->madeFolder(prefix)) {
            addFolder(level);
            addFolder(written_);
        }
        if (end == std::string::npos)
            return;
    }
}

void ParserRecover::recoverFile(MapIterator& cursor, const std::vector<std::string>& path,
                                Listing& listing) {
    recoverer_->clearFileCounts();
    bool ok = false;
    bool failed = false;
    bool tooLarge = false;
    // A No to the question, or a cancel, ends the walk, but only once the line
    // of a file begun says what became of it.
    std::exception_ptr stop;
    try {
        ok = cursor.recover(*recoverer_, path);
    } catch (const Recoverer::FileTooLarge&) {
        // Only this file is too large for the destination: the walk goes on
        // without a question, as the next file may fit.
        failed = true;
        tooLarge = true;
    } catch (const Recoverer::Exception& e) {
        failed = true;
        try {
            askContinue(e);
        } catch (const InterruptedException&) {
            stop = std::current_exception();
        }
    } catch (const InterruptedException&) {
        stop = std::current_exception();
    }
    bool made = recoverer_->isFileMade();
    // Cancelled before anything of it was made: it was never begun.
    if (stop && !failed && !made)
        std::rethrow_exception(stop);
    // A file that did not reach the destination whole (no room, a limit, an
    // I/O error, a cancel in the middle) is not left there under its name.
    if (made && (failed || stop) && recoverer_->discardFile())
        made = false;

    if (!made) {
        std::ostream& out = listing.lines(*out_);
        writeFileLine(out, cursor, false, cursor.getSize());
        if (stop && !failed) {
            // The user stopped it: nothing failed, and the run says it was cancelled.
            out << _(" (not written: the recovery was cancelled)");
        } else {
            out << _(" (not written)");
            ++errorCount_;
            ++unwrittenCount_;
        }
        out << '\n';
        if (stop)
            std::rethrow_exception(stop);
        return;
    }

    listUnder(listing, recoverer_->getFileFolder());
    const u64 bytes = recoverer_->getFileBytes();
    writeLine(*out_, cursor, recoverer_->getFileName(), false, bytes, false);
    if (recoverer_->getVolumeCount() != 0) {
        *out_ << _(" (split file)");
        ++splitCount_;
    }
    if (ok && !failed && !stop) {
        // Clears the marks of the folders above that have nothing marked left.
        selector_.run(cursor.getPosition(), false, ui_);
    } else {
        // Unreadable data was replaced, or what was cut could not be removed.
        *out_ << _(" (recovered with errors)");
        ++errorCount_;
        if (tooLarge)
            ++unwrittenCount_;
    }
    *out_ << '\n';
    for (Totals* totals : {&listing.totals, &written_}) {
        ++totals->files;
        totals->bytes += bytes;
    }
    // Folders are made only for the files that go into them, and one that was
    // there already is no folder recovered.
    countFolders(recoverer_->getFileFolder(), listing.totals);
    if (stop)
        std::rethrow_exception(stop);
}

void ParserRecover::noteIncompleteFolder(MapIterator& folder, Listing& listing) {
    writeFileLine(listing.lines(*out_), folder, false, folder.getSize(), true);
    listing.lines(*out_) << '\n';
    ++errorCount_;
}

void ParserRecover::noteHeldRoot(const std::vector<std::string>& path) {
    if (!incompleteRoot_)
        return;
    Listing listing;
    noteIncompleteFolder(*incompleteRoot_, listing);
    incompleteRoot_.reset();
    closeListing(listing, path);
}

bool ParserRecover::acceptDirectory(MapIterator& cursor) {
    return cursor.isSelected();
}

void ParserRecover::askContinue(const std::exception& e) {
    if (dontAsk_)
        return;
    if (!ui_) {
        logAt("ParserRecover", 10) << ": " << e.what() << " (nobody to ask: stopping)\n";
        throw InterruptedException();
    }
    const std::string text = std::string(e.what()) + "\n" + _("Do you want to continue?");
    const int answer = ui_->message(true, text.c_str(), true, _("_Don't ask me again"));
    if ((answer & ANSWER_MASK) != 0)
        throw InterruptedException();
    dontAsk_ = (answer & CHECK_TICKED) != 0;
}

} // namespace tree
