#include "gui/TreeInterface.h"

#include "core/Intl.h"
#include "core/System.h"
#include "gui/FilterDialog.h"
#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "gui/TextEditor.h"
#include "tree/MapIteratorImpl.h"
#include "tree/Parser.h"
#include "tree/ParserFilter.h"
#include "tree/ParserInformation.h"
#include "tree/ParserReport.h"

#include <ctime>
#include <sstream>

namespace {

// One row of the filter listing: its label and bits, by map kind.
struct ListingRow {
    const char* label;
    u32 hideBit;
    u32 onlyBit;
};

const ListingRow NTFS_LISTING[] = {
    {N_("Good Files"), tree::FILTER_HIDE_GOOD, tree::FILTER_ONLY_GOOD},
    {N_("Found Files"), tree::FILTER_HIDE_FROM, tree::FILTER_ONLY_FROM},
    {N_("Deleted Files"), tree::FILTER_HIDE_DELETED, tree::FILTER_ONLY_DELETED},
    {N_("System Files"), tree::FILTER_HIDE_SYSTEM, tree::FILTER_ONLY_SYSTEM},
    {N_("Invalid Files"), tree::FILTER_HIDE_TO, tree::FILTER_ONLY_TO},
    {N_("Files With Sector Errors"), tree::FILTER_HIDE_UNREADABLE, tree::FILTER_ONLY_UNREADABLE},
    {nullptr, 0, 0},
};

const ListingRow OTHER_LISTING[] = {
    {N_("Files with Valid FAT"), tree::FILTER_HIDE_TO, tree::FILTER_ONLY_TO},
    {N_("Deleted Files"), tree::FILTER_HIDE_DELETED, tree::FILTER_ONLY_DELETED},
    {N_("System Files"), tree::FILTER_HIDE_SYSTEM, tree::FILTER_ONLY_SYSTEM},
    {N_("Files With Invalid FAT"), tree::FILTER_HIDE_FROM, tree::FILTER_ONLY_FROM},
    {N_("Files With Sector Errors"), tree::FILTER_HIDE_UNREADABLE, tree::FILTER_ONLY_UNREADABLE},
    {nullptr, 0, 0},
};

} // namespace

void TreeInterface::applyFilter() {
    tree::ParserFilter filter(getMap(), filter_.get());
    filter.run(getInterface());
    reload();
}

void TreeInterface::editFilter() {
    const int kind = getMap()->getKind();
    if (gtk::editMapFilter(nullptr, filter_, kind))
        applyFilter();
}

std::unique_ptr<tree::MapIterator> TreeInterface::openCursor(const tree::MapPosition& position,
                                                             bool visibleOnly,
                                                             bool directoriesOnly) {
    tree::Map* map = getMap();
    tree::Folder* folder = map->getFolder(position.folder);
    if (!folder || position.index >= folder->size())
        return nullptr;
    return tree::MapIteratorImpl::create(map, position, visibleOnly, directoriesOnly);
}

bool TreeInterface::nextNodeDepthFirst(tree::MapIterator& it, std::unordered_set<u64>& entered) {
    if (it.isDirectory() && entered.insert(it.getAddress()).second && it.down())
        return true;
    if (it.next())
        return true;
    for (;;) {
        if (!it.up())
            return false;
        if (it.next())
            return true;
    }
}

void TreeInterface::find(bool next) {
    if (!next && !runFindFileDialog(parentWindow(), findParams_))
        return;
    tree::MapPosition start = tree::START_POSITION;
    if (next && !getSelectedFileNode(start))
        start = tree::START_POSITION;
    std::unique_ptr<tree::MapIterator> cursor = openCursor(start, true, false);
    if (!cursor)
        return;
    std::unordered_set<u64> entered;
    bool more = !next || nextNodeDepthFirst(*cursor, entered);
    // Anywhere in the name, without regard to case.
    const FileMask pattern(("*" + findParams_.mask() + "*").c_str());
    while (more) {
        if (!cursor->isDirectory() && pattern.match(cursor->getName().c_str()) &&
            (!findParams_.useDates() || findParams_.timeInRange(cursor->getTime()))) {
            selectNode(cursor->getPosition());
            return;
        }
        more = nextNodeDepthFirst(*cursor, entered);
    }
    information(false, _("Search complete"));
}

void TreeInterface::showTotals() {
    tree::ParseTotals totals;
    tree::ParserInformation information(getMap());
    information.run(totals, false, getInterface());
    std::ostringstream text;
    text << _("Total Files and Folders") << ":\n";
    tree::printTotals(text, totals.all);
    text << "\n\n" << _("Total files selected to be recovered") << ":\n";
    tree::printTotals(text, totals.selected);
    this->information(false, gtk::escapeMarkup(text.str()));
}

void TreeInterface::showProperties() {
    tree::MapPosition node;
    if (getCurrentNode(node))
        showNodeProperties(node);
}

void TreeInterface::showNodeProperties(const tree::MapPosition& node) {
    std::ostringstream text;
    getMap()->printNodeInformation(text, node);
    showText(_("Properties"), text.str(), TextEditor::Layout::LABEL_COLUMNS);
}

void TreeInterface::report(bool addressMode) {
    const char* title = addressMode ? _("Address/LBA Map of Current File System")
                                    : _("Structural Listing of Current File System");
    std::ostringstream text;
    writeReportHeader(text, title, true, !addressMode, false, addressMode);
    tree::ParserReport parser(getMap(), &text, addressMode, getInterface());
    parser.run();
    showText(_("Report"), text.str());
}

void TreeInterface::writeReportHeader(std::ostream& out, const char* title, bool withFilterListing,
                                      bool withDateColumn, bool withMd5Column, bool addressMode) {
    out << title << "\n\n";
    writeDateLine(out);
    tree::Map* map = getMap();
    map->printDriveInformation(out);
    if (addressMode) {
        map->ostreamPartitionInfo(out);
        out << "\n\n";
    }
    if (withFilterListing) {
        const int kind = map->getKind();
        writeFilterListing(out, filter_, kind);
    }
    out << headerColumns(withDateColumn, withMd5Column, addressMode);
}

void TreeInterface::writeDateLine(std::ostream& out) {
    const std::time_t now = std::time(nullptr);
    char buffer[64] = {};
    // ctime's form, ending with its own line end.
    if (!ctime_r(&now, buffer))
        buffer[0] = '\0';
    out << _("Date") << ": " << buffer << '\n';
}

void TreeInterface::writeFilterListing(std::ostream& out, const tree::FilterMask& mask,
                                       const int& kind) {
    const u32 word = mask.get();
    out << _("Filters applied to create the listing below") << ":\n";
    for (const ListingRow* row = kind == tree::MAP_NTFS ? NTFS_LISTING : OTHER_LISTING; row->label;
         ++row) {
        const char* mark = (word & row->hideBit)   ? _("Hide")
                           : (word & row->onlyBit) ? _("Only")
                                                   : _("----");
        out << '[' << mark << "] " << _(row->label) << '\n';
    }
    out << ((word & tree::FILTER_HIDE_EMPTY_FOLDERS) ? "[x] " : "[ ] ") << _("Hide Empty Folders")
        << '\n'
        << '\n';
}

void TreeInterface::addHeaderColumn(std::string& line, const std::string& text,
                                    std::size_t column) {
    const std::size_t length = g_utf8_strlen(line.c_str(), static_cast<gssize>(line.size()));
    if (length < column)
        line.append(column - length, '-');
    line += ' ';
    line += text;
    line += ' ';
}

std::string TreeInterface::headerColumns(bool withDateColumn, bool withMd5Column,
                                         bool addressMode) {
    std::string line;
    addHeaderColumn(line, _("Name"), 2);
    addHeaderColumn(line, _("Size"), 32);
    std::size_t start = 46;
    if (withDateColumn) {
        addHeaderColumn(line, _("Date"), start);
        start += 20;
    }
    if (withMd5Column) {
        addHeaderColumn(line, _("MD5"), start);
        start += 20;
    }
    if (addressMode) {
        const char* address = _("Address");
        // The word Address ends 7 characters after the column start, whatever
        // its translation's length.
        const std::size_t length = g_utf8_strlen(address, -1);
        const std::size_t column = start + 7 > length ? start + 7 - length : 0;
        addHeaderColumn(line, std::string(address) + " / " + _("LBA"), column);
        start += 21;
        addHeaderColumn(line, _("Status"), start);
    }
    return line + "--\n";
}

GtkWindow* TreeInterface::parentWindow() {
    auto* ui = dynamic_cast<gtk::Interface*>(getInterface());
    return ui ? ui->getParentWindow() : nullptr;
}

int TreeInterface::information(bool withOk, const std::string& text, const char* checkLabel,
                               bool checked) {
    // The same box as gtk::Interface::information, whose result (the check box)
    // the Recover command needs.
    return messageDialog(withOk ? MESSAGE_INFO_OK : MESSAGE_INFO_CLOSE, text.c_str(),
                         parentWindow(), false, checkLabel, checked);
}

void TreeInterface::showText(const char* title, const std::string& text,
                             TextEditor::Layout layout) {
    TextEditor editor(*getContext(), title);
    editor.show(text, layout);
}
