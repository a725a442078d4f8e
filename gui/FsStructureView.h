#pragma once

// What the "View File System" window says about one candidate file system,
// apart from the window: which on-disk structures were found, created or
// changed by the layout repair, which of them can be dumped, and the dump of
// each. Nothing here touches a widget, so all of it is checked without a
// display; nothing here writes to the source.

#include "core/Types.h"

#include <ostream>
#include <string>
#include <vector>

class DriveDescr;
struct FsCandidate;

namespace gtk {

// The rows of the list of the file-system page.
struct FsListRow {
    std::string partition;  // "Partition 0", or "Found Files"
    std::string fileSystem; // "FAT32 File System", or "Raw Sectors"
    std::string size;
    // The index among the selected file systems of the layout; FOUND_FILES_ID
    // for the carved files.
    int id;
};
constexpr int FOUND_FILES_ID = -2;

// Every selected file system of the layout, then "Found Files" when content
// carving found anything (its size: the bytes up to where the last deep scan
// reached).
std::vector<FsListRow> fileSystemRows(DriveDescr& d);

// The structures of the view, numbered as its buttons answer.
enum FsComponent {
    COMPONENT_PARTITION_TABLE = 1,
    COMPONENT_BOOT_SECTOR,
    COMPONENT_FATS,
    COMPONENT_ROOT_DIRECTORY,
    COMPONENT_NTFS_VOLUME,
    COMPONENT_BOOT_BACKUP,
    COMPONENT_COUNT
};

enum ComponentStatus {
    STATUS_FOUND,
    STATUS_NOT_FOUND,
    STATUS_CREATED,
    STATUS_CHANGED,
    STATUS_NOT_CHANGED
};

// One piece of the information text; tag is "fg" (green), "fr" (red) or null.
struct StructureText {
    std::string text;
    const char* tag;
};

struct StructureSummary {
    std::vector<StructureText> text;
    // Which buttons can dump something, indexed by FsComponent.
    bool dumpable[COMPONENT_COUNT] = {};
};

// Found, or Not Found, turned by what the layout repair did to the sector
// (changeStatus 1: rewritten, 2: already right) into Created, Changed or Not
// Changed.
int componentStatus(bool found, u32 changeStatus);

// The information text and the buttons of the view. Sources without
// partition tables (anything but a whole drive) have no partition-table line.
StructureSummary describeStructures(const FsCandidate& c, bool usesPartitionTables);

// The dump of one structure into `out`, and its window title. For the FATs,
// `mirror` picks the second copy. False when there is nothing to dump.
bool dumpStructure(DriveDescr& d, const FsCandidate& c, int component, bool mirror,
                   std::ostream& out, std::string& title);

} // namespace gtk
