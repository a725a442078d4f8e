#include "tree/ParserRecover.h"

#include "core/Intl.h"
#include "core/Log.h"

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
    splitCount_ = 0;
    std::unique_ptr<MapIterator> cursor = makeIterator(map_, START_POSITION, true, false);
    ParseTotals totals;
    std::vector<std::string> path;
    try {
        if (cursor->down())
            parse(*cursor, path, totals);
    } catch (const InterruptedException&) {
        writeInterrupted(*out_);
    }
    writeTotals(*out_, totals.selected);
}

void ParserRecover::processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                                     ParseTotals& totals) {
    bool headerWritten = false;
    do {
        if (!cursor.isSelected())
            continue;
        if (cursor.isDirectory()) {
            try {
                recoverer_->beginDirectory(cursor.getName(), path);
            } catch (const Recoverer::Exception& e) {
                askContinue(e);
            }
            addFolder(totals.selected);
            continue;
        }
        if (!headerWritten) {
            writeDirectoryHeader(*out_, path);
            headerWritten = true;
        }
        recoverFile(cursor, path, totals.selected);
    } while (cursor.next());
    if (headerWritten)
        writeDirectoryTotals(*out_, totals.selected);
}

void ParserRecover::recoverFile(MapIterator& cursor, const std::vector<std::string>& path,
                                Totals& selected) {
    writeFileLine(*out_, cursor, false);
    bool ok = false;
    try {
        ok = cursor.recover(*recoverer_, path);
    } catch (const Recoverer::Exception& e) {
        // The line stays open while the user is asked; a No ends the report
        // with the interrupted line, which starts on a line of its own.
        askContinue(e);
    }
    if (recoverer_->getVolumeCount() != 0) {
        *out_ << _(" (split file)");
        ++splitCount_;
    }
    if (ok) {
        // Clears the marks of the folders above that have nothing marked left.
        selector_.run(cursor.getPosition(), false, ui_);
    } else {
        *out_ << _(" (recovered with errors)");
        ++errorCount_;
    }
    addFile(selected, cursor);
    *out_ << '\n';
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
