#include "tree/Parser.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "core/Text.h"
#include "tree/MapIteratorImpl.h"
#include "tree/Recoverer.h"

namespace tree {

// One open folder level below the start of a walk.
struct Parser::Level {
    MapPosition entry;       // the folder's entry in the level above
    u64 address;             // the folder
    bool inside;             // down succeeded: the cursor stands in this level
    std::size_t shownLength; // length of the progress path before this level's name
    ParseTotals totals;      // this level's and, once closed, its subfolders'
};

void Parser::setInterfaceCallback(InterfaceCallback* callback) {
    map_->setInterfaceCallback(callback);
    UsesInterfaceCallback::setInterfaceCallback(callback);
}

void Parser::processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                              ParseTotals& totals) {
    (void)cursor;
    (void)path;
    (void)totals;
}

void Parser::leaveDirectory(MapIterator& cursor, ParseTotals& child) {
    (void)cursor;
    (void)child;
}

bool Parser::acceptDirectory(MapIterator& cursor) {
    (void)cursor;
    return true;
}

void Parser::reportLevel(const std::string& shownPath) {
    if (!hasInterfaceCallback())
        return;
    setText(InterfaceCallback::TEXT_MAIN, shownPath);
    poll();
}

void Parser::openLevel(MapIterator& cursor, const std::vector<std::string>& path,
                       ParseTotals& totals) {
    const MapPosition first = cursor.getPosition();
    processDirectory(cursor, path, totals);
    cursor.setPosition(first);
}

bool Parser::mayEnter(u64 address, const std::string& name, std::size_t depth,
                      const std::unordered_set<u64>& entered) const {
    if (entered.count(address) != 0) {
        logAt("Parser", 10) << ": folder " << address << " walked already, not entering " << name
                            << '\n';
        return false;
    }
    if (depthLimit_ != 0 && depth >= depthLimit_) {
        logAt("Parser", 20) << ": depth limit " << depthLimit_ << " reached, not entering " << name
                            << " (folder " << address << ")\n";
        return false;
    }
    return true;
}

void Parser::returnToEntry(MapIterator& cursor, const MapPosition& entry, u64 address) {
    // up() finds the entry by the folder's address, which still finds it when
    // loading below sorted the level again; the remembered position holds when
    // the level is unchanged, and also when up() lands elsewhere (the folder
    // listed twice, or under another parent than the one its record names).
    const bool wentUp = cursor.up();
    const MapPosition found = cursor.getPosition();
    if (wentUp && found == entry)
        return;
    cursor.setPosition(entry);
    const bool entryMoved = !(cursor.isDirectory() && cursor.getAddress() == address);
    if (wentUp && found.folder == entry.folder && entryMoved)
        cursor.setPosition(found);
}

void Parser::parse(MapIterator& cursor, std::vector<std::string>& path, ParseTotals& totals) {
    const std::size_t startDepth = path.size();
    std::vector<Level> levels;
    std::unordered_set<u64> entered{cursor.getPosition().folder};
    // The progress text, kept joined as the path grows and shrinks.
    std::string shown = joinPath(path);

    auto levelTotals = [&]() -> ParseTotals& {
        return levels.empty() ? totals : levels.back().totals;
    };
    auto closeLevel = [&]() {
        Level level = levels.back();
        levels.pop_back();
        if (level.inside)
            returnToEntry(cursor, level.entry, level.address);
        path.resize(startDepth + levels.size());
        shown.resize(level.shownLength);
        leaveDirectory(cursor, level.totals);
        levelTotals() += level.totals;
    };

    try {
        reportLevel(shown);
        openLevel(cursor, path, totals);
        for (;;) {
            if (cursor.isDirectory() && acceptDirectory(cursor)) {
                const u64 address = cursor.getAddress();
                levels.push_back(Level{cursor.getPosition(), address, false, shown.size(), {}});
                if (!path.empty())
                    shown += '/';
                shown += cursor.getName();
                path.push_back(cursor.getName());
                // Judged once inside, so that entries that cannot be entered
                // anyway (link TO) are not reported as cut.
                if (cursor.down()) {
                    levels.back().inside = true;
                    if (mayEnter(address, path.back(), levels.size() - 1, entered)) {
                        entered.insert(address);
                        reportLevel(shown);
                        openLevel(cursor, path, levels.back().totals);
                        continue; // the new level's first entry may be a folder too
                    }
                }
                closeLevel(); // not walked: it is left with zero totals
            }
            while (!cursor.next()) {
                if (levels.empty())
                    return;
                closeLevel();
            }
        }
    } catch (const InterruptedException&) {
        while (!levels.empty())
            closeLevel();
        throw;
    } catch (...) {
        path.resize(startDepth);
        throw;
    }
}

std::unique_ptr<MapIterator> Parser::makeIterator(Map* map, const MapPosition& position,
                                                  bool visibleOnly, bool directoriesOnly) {
    return MapIteratorImpl::create(map, position, visibleOnly, directoriesOnly);
}

std::unique_ptr<ProgressBoxIC> Parser::openProgressBox(FrTreeInterface* ui, const char* title) {
    if (!ui)
        return std::unique_ptr<ProgressBoxIC>();
    return ui->createProgressBox(title);
}

void Parser::addFile(Totals& totals, const MapIterator& cursor) {
    totals.files += 1;
    totals.bytes += cursor.getSize();
}

void Parser::addFolder(Totals& totals) {
    totals.folders += 1;
}

void Parser::countEntry(Totals& totals, const MapIterator& cursor) {
    if (cursor.isDirectory())
        addFolder(totals);
    else
        addFile(totals, cursor);
}

void printTotals(std::ostream& out, const Totals& totals) {
    out << formatThousands(totals.files) << ' ' << _("file(s)") << ' '
        << formatThousands(totals.folders) << ' ' << _("folder(s)") << ' '
        << formatThousands(totals.bytes) << ' ' << _("bytes");
}

} // namespace tree
