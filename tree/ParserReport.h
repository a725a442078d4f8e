#pragma once

// A plain-text listing of the visible part of a tree, one block per folder:
// the entries with their sizes and dates (or, in address mode, the engine's
// address, the first sector and the status), the folder's totals, and the grand
// total at the end. The recover walk writes its report with the same lines.

#include "core/UserInterface.h"
#include "tree/Parser.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace tree {

class ParserReport : public Parser {
public:
    // Names are padded to this many characters before the size column.
    static constexpr std::size_t NAME_COLUMN = 32;
    static constexpr int NUMBER_COLUMN = 10;

    // The stream and the interface must outlive the walker; ui may be null (no
    // progress box).
    ParserReport(Map* map, std::ostream* out, bool addressMode, FrTreeInterface* ui);

    // The whole report; a cancel ends the listing with the interrupted line, and
    // the grand total follows in any case. Nothing when the tree is empty, unless
    // its root is incomplete: that is said all the same.
    void run();

    void processDirectory(MapIterator& cursor, const std::vector<std::string>& path,
                          ParseTotals& totals) override;

    // "\nDirectory of /a/b\n\n" ("/" alone for the root level). Names here
    // and in the lines are shown in their printable form (printableName).
    static void writeDirectoryHeader(std::ostream& out, const std::vector<std::string>& path);
    // The same for a folder given as "a/b" ("" for the root level), with
    // `note` after it when there is one.
    static void writeDirectoryHeader(std::ostream& out, const std::string& folder,
                                     const char* note = nullptr);
    // The entry's line without its line end. An incomplete folder says so (in
    // address mode through its status).
    static void writeFileLine(std::ostream& out, MapIterator& cursor, bool addressMode);
    // The same with `size` in a file's size column (what a recovery wrote); a
    // folder `leftOut` of the walk says that it is incomplete too.
    static void writeFileLine(std::ostream& out, MapIterator& cursor, bool addressMode, u64 size,
                              bool leftOut = false);
    // A tab, the totals, a line end.
    static void writeDirectoryTotals(std::ostream& out, const Totals& totals);
    // The framed "Total" line and the totals.
    static void writeTotals(std::ostream& out, const Totals& totals);
    static void writeInterrupted(std::ostream& out);
    // "Deleted: Possible FAT SE"; with colour the "[cX]" marks of the text editor.
    static std::string statusText(MapIterator& cursor, bool colour);

protected:
    // The entry's line under `name` (a recovered file's: the name it was
    // written as).
    static void writeLine(std::ostream& out, MapIterator& cursor, const std::string& name,
                          bool addressMode, u64 size, bool leftOut);

    // The root has no line in any folder's listing: while its entry (where the
    // cursor stands before the walk goes down) is an incomplete folder, it is
    // held here until the root level's listing names it first.
    void holdIncompleteRoot(const MapIterator& root);
    // Its line, once: the first listing the walk writes is the root level's.
    void writeHeldRoot();

    std::unique_ptr<MapIterator> incompleteRoot_;
    std::ostream* out_;
    FrTreeInterface* ui_;
    bool addressMode_;
};

} // namespace tree
