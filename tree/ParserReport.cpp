#include "tree/ParserReport.h"

#include "core/DateTime.h"
#include "core/Intl.h"
#include "core/Text.h"
#include "tree/Recoverer.h"

#include <iomanip>
#include <memory>

namespace tree {

namespace {

// The report polls this often within one folder, besides once per folder.
constexpr u32 POLL_EVERY = 100;

// Characters of a UTF-8 text; bytes of a name that is not UTF-8 count as one
// each, except those that look like continuation bytes.
std::size_t utf8Length(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) {
        if ((static_cast<u8>(c) & 0xC0) != 0x80)
            ++n;
    }
    return n;
}

} // namespace

ParserReport::ParserReport(Map* map, std::ostream* out, bool addressMode, FrTreeInterface* ui)
    : Parser(map), out_(out), ui_(ui), addressMode_(addressMode) {}

void ParserReport::run() {
    std::unique_ptr<MapIterator> cursor = makeIterator(map_, START_POSITION, true, false);
    holdIncompleteRoot(*cursor);
    ParseTotals totals;
    std::vector<std::string> path;
    if (!cursor->down()) {
        if (!incompleteRoot_)
            return;
        // A root that gave nothing at all still says why.
        writeDirectoryHeader(*out_, path);
        writeHeldRoot();
        writeDirectoryTotals(*out_, totals.all);
        writeTotals(*out_, totals.all);
        return;
    }
    {
        std::unique_ptr<ProgressBoxIC> box = openProgressBox(ui_, _("Creating Report"));
        InterfaceCallbackScope scope(*this, box.get());
        try {
            parse(*cursor, path, totals);
        } catch (const InterruptedException&) {
            writeInterrupted(*out_);
        }
    }
    writeTotals(*out_, totals.all);
}

void ParserReport::processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                                    ParseTotals& totals) {
    writeDirectoryHeader(*out_, path);
    writeHeldRoot();
    u32 sincePoll = 0;
    do {
        writeFileLine(*out_, cursor, addressMode_, cursor.getSize(), isBeyondLimit(cursor));
        *out_ << '\n';
        countEntry(totals.all, cursor);
        if (++sincePoll == POLL_EVERY) {
            sincePoll = 0;
            poll();
        }
    } while (cursor.next());
    writeDirectoryTotals(*out_, totals.all);
}

void ParserReport::writeDirectoryHeader(std::ostream& out, const std::vector<std::string>& path) {
    writeDirectoryHeader(out, joinPath(path));
}

void ParserReport::writeDirectoryHeader(std::ostream& out, const std::string& folder,
                                        const char* note) {
    out << '\n' << _("Directory of") << " /" << printableName(folder);
    if (note)
        out << ' ' << note;
    out << "\n\n";
}

void ParserReport::writeFileLine(std::ostream& out, MapIterator& cursor, bool addressMode) {
    writeFileLine(out, cursor, addressMode, cursor.getSize());
}

void ParserReport::writeFileLine(std::ostream& out, MapIterator& cursor, bool addressMode, u64 size,
                                 bool leftOut) {
    writeLine(out, cursor, cursor.getName(), addressMode, size, leftOut);
}

void ParserReport::writeLine(std::ostream& out, MapIterator& cursor, const std::string& name,
                             bool addressMode, u64 size, bool leftOut) {
    const bool incomplete = cursor.isIncomplete();
    const std::string shown = printableName(name);
    out << shown;
    const std::size_t length = utf8Length(shown);
    if (length < NAME_COLUMN)
        out << std::string(NAME_COLUMN - length, ' ');
    out << ' ' << std::right << std::setw(NUMBER_COLUMN);
    if (cursor.isDirectory())
        out << _("<DIR>");
    else
        out << size;
    out << ' ';
    if (!addressMode) {
        out << formatTime(cursor.getTime());
        if (incomplete || leftOut)
            out << ' ' << _("(incomplete)");
        return;
    }
    // A folder the program made ("Found", the carved files' kinds) has no
    // place on the source to show.
    const bool placed = cursor.hasSourceAddress();
    out << std::right << std::setw(NUMBER_COLUMN);
    if (placed)
        out << cursor.getAddress();
    else
        out << _("none");
    out << " / " << std::setw(NUMBER_COLUMN);
    const u64 lba = placed ? cursor.getLBA() : Node::NONE;
    if (lba == Node::NONE)
        out << _("Invalid");
    else
        out << lba;
    out << ' ' << statusText(cursor, false);
    if (leftOut && !incomplete)
        out << ' ' << _("(incomplete)");
}

std::string ParserReport::statusText(MapIterator& cursor, bool colour) {
    std::string status;
    const int code = cursor.getStatus(status, true);
    std::string text;
    if (cursor.isDeleted()) {
        if (colour)
            text += "[cc]";
        text += _("Deleted");
        text += ": ";
    }
    if (colour) {
        switch (code) {
        case STATUS_GOOD:
            text += "[ca]";
            break;
        case STATUS_FOUND:
            text += "[c2]";
            break;
        default:
            text += "[cc]";
            break;
        }
    }
    text += status;
    if (cursor.hasUnreadable()) {
        if (colour)
            text += "[cc]";
        text += ' ';
        text += _("SE");
    }
    if (colour)
        text += "[cf]";
    return text;
}

void ParserReport::holdIncompleteRoot(const MapIterator& root) {
    incompleteRoot_.reset();
    if (root.isIncomplete())
        incompleteRoot_ = root.clone();
}

void ParserReport::writeHeldRoot() {
    if (!incompleteRoot_)
        return;
    writeFileLine(*out_, *incompleteRoot_, addressMode_);
    *out_ << '\n';
    incompleteRoot_.reset();
}

void ParserReport::writeDirectoryTotals(std::ostream& out, const Totals& totals) {
    out << '\t';
    printTotals(out, totals);
    out << '\n';
}

void ParserReport::writeTotals(std::ostream& out, const Totals& totals) {
    const std::string frame(16, '=');
    out << '\n' << frame << ' ' << _("Total") << ' ' << frame << '\n';
    writeDirectoryTotals(out, totals);
}

void ParserReport::writeInterrupted(std::ostream& out) {
    out << "\n\n*** " << _("Interrupted") << " ***\n";
}

} // namespace tree
