#pragma once

// The walker behind filter, select, report, information and recover: it goes
// depth-first through a subtree of a map with one cursor, keeps the names of the
// folders from the start, and calls three hooks that the walks override.
//
// The walk keeps its open levels in a list of its own instead of on the call
// stack, so a tree that a damaged disk makes a hundred thousand folders deep
// cannot exhaust the stack. It enters every folder at most once per walk (two
// entries naming one folder, or a folder naming its own ancestor, cannot make it
// go round), and it does not go into a folder whose path is longer than a path
// limit: past it every path a walk writes (report headers, progress texts,
// output folders) would make a chain of folders cost the square of its depth.
// The walks see such a folder (isBeyondLimit) and say that it was left out.

#include "core/Progress.h"
#include "core/Types.h"
#include "core/UserInterface.h"
#include "tree/Map.h"
#include "tree/MapIterator.h"

#include <memory>
#include <ostream>
#include <string>
#include <unordered_set>
#include <vector>

namespace tree {

struct Totals {
    u64 files = 0;
    u64 bytes = 0;
    u64 folders = 0;

    Totals& operator+=(const Totals& o) {
        files += o.files;
        bytes += o.bytes;
        folders += o.folders;
        return *this;
    }
};

// What was walked, and what of it was selected or acted on.
struct ParseTotals {
    Totals all;
    Totals selected;

    ParseTotals& operator+=(const ParseTotals& o) {
        all += o.all;
        selected += o.selected;
        return *this;
    }
};

class Parser : public UsesInterfaceCallback {
public:
    // Bytes of a folder's path below the walk's start, each name counted with
    // one separator: the longest path Linux takes whole (PATH_MAX), longer
    // than the paths any system makes, short enough that the paths of one walk
    // stay small.
    static constexpr std::size_t DEFAULT_PATH_LIMIT = 4096;

    // The map must outlive the walker.
    explicit Parser(Map* map) : map_(map) {}
    ~Parser() override = default;
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    // The map first, so that its loading reports into the same sink.
    void setInterfaceCallback(InterfaceCallback* callback) override;

    // Once per folder level, the cursor on its first entry; the walk puts the
    // cursor back where it was afterwards.
    virtual void processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                                  ParseTotals& totals);
    // After a folder entry was walked (or could not be entered), the cursor on it.
    virtual void leaveDirectory(MapIterator& cursor, ParseTotals& child);
    // Whether to go into the folder entry under the cursor.
    virtual bool acceptDirectory(MapIterator& cursor);

    // Walks the level the cursor stands in (on its first entry) and everything
    // below it that acceptDirectory lets in; each folder's totals are added to
    // its level's after leaveDirectory. A cancel runs leaveDirectory on every
    // open level, innermost first, adds their totals, and then goes on to the
    // caller; the cursor is left on the entry of this level it had reached.
    // Any other exception adds the open levels' totals to `totals` alone.
    void parse(MapIterator& cursor, std::vector<std::string>& path, ParseTotals& totals);

    // The longest path that parse goes into, in bytes as above; 0: no limit.
    void setPathLimit(std::size_t bytes) { pathLimit_ = bytes; }
    std::size_t getPathLimit() const { return pathLimit_; }

    static std::unique_ptr<MapIterator> makeIterator(Map* map, const MapPosition& position,
                                                     bool visibleOnly, bool directoriesOnly);
    static void addFile(Totals& totals, const MapIterator& cursor);
    static void addFolder(Totals& totals);
    // addFolder for a folder entry, addFile for a file.
    static void countEntry(Totals& totals, const MapIterator& cursor);

protected:
    // A progress box titled `title` (translated already); none when ui is null.
    static std::unique_ptr<ProgressBoxIC> openProgressBox(FrTreeInterface* ui, const char* title);
    // From anywhere in the folder `address`, back to the entry of it at `entry`
    // in the level above.
    static void returnToEntry(MapIterator& cursor, const MapPosition& entry, u64 address);
    // Whether the cursor stands on a folder entry of the level being walked
    // (in processDirectory, acceptDirectory or leaveDirectory) that holds
    // something the walk would list but that lies beyond the path limit: the
    // walk leaves it out.
    bool isBeyondLimit(MapIterator& cursor) const;

    Map* map_;

private:
    struct Level;
    // Shows the path of the level just entered and polls.
    void reportLevel(const std::string& shownPath);
    // Calls processDirectory and puts the cursor back.
    void openLevel(MapIterator& cursor, const std::vector<std::string>& path, ParseTotals& totals);
    // Whether the folder `name` at `address`, whose path is `pathBytes` long,
    // may be walked; logs the cut.
    bool mayEnter(u64 address, const std::string& name, std::size_t pathBytes,
                  const std::unordered_set<u64>& entered) const;

    std::size_t pathLimit_ = DEFAULT_PATH_LIMIT;
    // The path length of the level being walked.
    std::size_t levelPathBytes_ = 0;
};

// "1,234 file(s) 5 folder(s) 1,234,567 bytes", translated, no line end.
void printTotals(std::ostream& out, const Totals& totals);

} // namespace tree
