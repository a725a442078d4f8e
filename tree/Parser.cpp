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
    std::size_t pathBytes;   // its path's length, as the path limit counts it
    ParseTotals totals;      // this level's and, once closed, its subfolders'
};

namespace {

// A name counts with the separator that joins it to the path.
std::size_t pathBytesOf(std::size_t levelBytes, const std::string& name) {
    return levelBytes + name.size() + 1;
}

} // namespace

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

bool Parser::mayEnter(u64 address, const std::string& name, std::size_t pathBytes,
                      const std::unordered_set<u64>& entered) const {
    if (entered.count(address) != 0) {
        logAt("Parser", 10) << ": folder " << address << " walked already, not entering " << name
                            << '\n';
        return false;
    }
    if (pathLimit_ != 0 && pathBytes > pathLimit_) {
        logAt("Parser", 20) << ": path limit " << pathLimit_ << " reached, not entering " << name
                            << " (folder " << address << ")\n";
        return false;
    }
    return true;
}

bool Parser::isBeyondLimit(MapIterator& cursor) const {
    return pathLimit_ != 0 && cursor.isDirectory() &&
           pathBytesOf(levelPathBytes_, cursor.getName()) > pathLimit_ && cursor.canGoDown();
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
    std::size_t startBytes = 0;
    for (const std::string& name : path)
        startBytes = pathBytesOf(startBytes, name);
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
        levelPathBytes_ = levels.empty() ? startBytes : levels.back().pathBytes;
        if (level.inside)
            returnToEntry(cursor, level.entry, level.address);
        path.resize(startDepth + levels.size());
        shown.resize(level.shownLength);
        leaveDirectory(cursor, level.totals);
        levelTotals() += level.totals;
    };

    try {
        levelPathBytes_ = startBytes;
        reportLevel(shown);
        openLevel(cursor, path, totals);
        for (;;) {
            if (cursor.isDirectory() && acceptDirectory(cursor)) {
                const u64 address = cursor.getAddress();
                const std::size_t bytes = pathBytesOf(levelPathBytes_, cursor.getName());
                levels.push_back(
                    Level{cursor.getPosition(), address, false, shown.size(), bytes, {}});
                if (!path.empty())
                    shown += '/';
                shown += cursor.getName();
                path.push_back(cursor.getName());
                // Judged once inside, so that entries that cannot be entered
                // anyway (link TO) are not reported as cut.
                if (cursor.down()) {
                    levels.back().inside = true;
                    if (mayEnter(address, path.back(), bytes, entered)) {
                        entered.insert(address);
                        levelPathBytes_ = bytes;
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
        // What the open levels counted still reaches the caller.
        for (const Level& level : levels)
            totals += level.totals;
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
