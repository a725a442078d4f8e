#include "tree/ParserRecover.h"

#include "core/Intl.h"
#include "core/Log.h"

#include <exception>
#include <memory>

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
            noteHeldRoot(path, totals);
        }
        complete_ = true;
    } catch (const InterruptedException&) {
        cancelled_ = true;
        writeInterrupted(*out_);
    }
    writeTotals(*out_, written_);
}

void ParserRecover::processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                                     ParseTotals& totals) {
    bool headerWritten = false;
    // The level's own folder has no file made in it yet.
    folderMade_.resize(path.size());
    if (!path.empty())
        folderMade_.back() = false;
    if (incompleteRoot_) {
        noteIncompleteFolder(*incompleteRoot_, path, headerWritten);
        incompleteRoot_.reset();
    }
    do {
        if (!cursor.isSelected())
            continue;
        if (!cursor.isDirectory()) {
            recoverFile(cursor, path, totals.selected, headerWritten);
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
            noteIncompleteFolder(cursor, path, headerWritten);
    } while (cursor.next());
    if (headerWritten)
        writeDirectoryTotals(*out_, totals.selected);
}

void ParserRecover::recoverFile(MapIterator& cursor, const std::vector<std::string>& path,
                                Totals& selected, bool& header) {
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
        // Only this file is too large for the destination: it stays cut and the
        // walk goes on without a question.
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
    const bool made = recoverer_->isFileMade();
    // Cancelled before anything of it was made: it was never begun.
    if (stop && !failed && !made)
        std::rethrow_exception(stop);

    if (!header) {
        writeDirectoryHeader(*out_, path);
        header = true;
    }
    const u64 bytes = recoverer_->getFileBytes();
    writeFileLine(*out_, cursor, false, bytes);
    if (recoverer_->getVolumeCount() != 0) {
        *out_ << _(" (split file)");
        ++splitCount_;
    }
    if (ok && made) {
        // Clears the marks of the folders above that have nothing marked left.
        selector_.run(cursor.getPosition(), false, ui_);
    } else {
        *out_ << (made ? _(" (recovered with errors)") : _(" (not written)"));
        ++errorCount_;
        if (!made || tooLarge)
            ++unwrittenCount_;
    }
    *out_ << '\n';
    if (made) {
        for (Totals* totals : {&selected, &written_}) {
            ++totals->files;
            totals->bytes += bytes;
        }
        // Folders are made only for the files that go into them: the file's
        // folders that held none yet exist now, and count in its level's
        // subtotal. Those above a folder that held one were counted with it.
        for (std::size_t i = folderMade_.size(); i-- > 0 && !folderMade_[i];) {
            folderMade_[i] = true;
            for (Totals* totals : {&selected, &written_})
                addFolder(*totals);
        }
    }
    if (stop)
        std::rethrow_exception(stop);
}

void ParserRecover::noteIncompleteFolder(MapIterator& folder, const std::vector<std::string>& path,
                                         bool& header) {
    if (!header) {
        writeDirectoryHeader(*out_, path);
        header = true;
    }
    writeFileLine(*out_, folder, false, folder.getSize(), true);
    *out_ << '\n';
    ++errorCount_;
}

void ParserRecover::noteHeldRoot(const std::vector<std::string>& path, ParseTotals& totals) {
    if (!incompleteRoot_)
        return;
    bool header = false;
    noteIncompleteFolder(*incompleteRoot_, path, header);
    incompleteRoot_.reset();
    writeDirectoryTotals(*out_, totals.selected);
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
