#include "gui/FsStructureView.h"

#include "analysis/DriveDescr.h"
#include "analysis/FsFilters.h"
#include "core/Checked.h"
#include "core/Intl.h"
#include "core/Text.h"
#include "devices/Driver.h"
#include "fs/FsCandidate.h"
#include "fs/StructureChecks.h"
#include "fs/StructureDumps.h"

#include <sstream>

namespace gtk {

namespace {

constexpr u64 SECTOR_BYTES = 512;

struct StatusStyle {
    const char* text;
    const char* tag;
};

const StatusStyle STATUS_STYLES[] = {
    {N_("Found"), "fg"},   {N_("Not Found"), "fr"},   {N_("Created"), "fg"},
    {N_("Changed"), "fg"}, {N_("Not Changed"), "fg"},
};

// "name - status\n", the status in its colour.
void addStatusLine(StructureSummary& s, const char* name, int status) {
    s.text.push_back({std::string(_(name)) + " - ", nullptr});
    s.text.push_back({_(STATUS_STYLES[status].text), STATUS_STYLES[status].tag});
    s.text.push_back({"\n", nullptr});
}

// A sector the layout rewrote in memory is dumped from its new image beside the
// old one; any other straight from the source.
template <typename FromImage, typename FromSource>
void dumpRebuilt(DriveDescr& d, u32 changeStatus, u32 lba, FromImage fromImage,
                 FromSource fromSource) {
    const u8* rebuilt = changeStatus == 1 ? findNewSectorImage(lba, d.getChanges()) : nullptr;
    if (rebuilt)
        fromImage(rebuilt, findOldSectorImage(lba, d.getChanges()));
    else
        fromSource();
}

} // namespace

std::vector<FsListRow> fileSystemRows(DriveDescr& d) {
    std::vector<FsListRow> rows;
    // One walk over the layout: the nth row is the nth selected file system,
    // which getSelectedFileSystem would look for from the front each time.
    const std::string partition = std::string(_("Partition")) + " ";
    const std::string fileSystem = std::string(" ") + _("File System");
    int n = 0;
    for (const FsCandidate& c : d.getLayout()) {
        if (!isSelectedFileSystem(c))
            continue;
        FsKind kind = FS_NONE;
        FatType fatType = FAT_NONE;
        const u8 code = c.fscode();
        partitionTypeToFs(code, kind, fatType);
        std::ostringstream name;
        writeFsTypeName(name, kind, fatType, code);
        rows.push_back({partition + std::to_string(n), name.str() + fileSystem,
                        formatSize(u64(c.layoutSectors) * SECTOR_BYTES), n});
        ++n;
    }
    if (!d.getCarvedFiles().empty()) {
        const Driver* driver = d.getDriveHolder().get();
        const u64 sectorSize = driver ? driver->getSectorSize() : SECTOR_BYTES;
        rows.push_back({_("Found Files"), _("Raw Sectors"),
                        formatSize(saturatingMul(sectorSize, d.getScanRange().getSecond())),
                        FOUND_FILES_ID});
    }
    return rows;
}

int componentStatus(bool found, u32 changeStatus) {
    if (changeStatus == 1)
        return found ? STATUS_CHANGED : STATUS_CREATED;
    if (changeStatus == 2 && !found)
        return STATUS_NOT_CHANGED;
    return found ? STATUS_FOUND : STATUS_NOT_FOUND;
}

StructureSummary describeStructures(const FsCandidate& c, bool usesPartitionTables) {
    FsKind kind = FS_NONE;
    FatType fatType = FAT_NONE;
    partitionTypeToFs(c.fscode(), kind, fatType);
    const bool fat = kind == FS_FAT;
    const bool ntfs = kind == FS_NTFS;
    const bool hasBoot = (fat && fatType >= FAT12 && fatType <= FAT16_32) || ntfs;
    const bool hasBackup = (fat && fatType == FAT32) || ntfs;

    StructureSummary s;
    s.text.push_back({std::string(_("LBA")) + ": " + std::to_string(c.startLBA) + "\n" + _("Size") +
                          ": " + formatSize(u64(c.layoutSectors) * SECTOR_BYTES) + "\n",
                      nullptr});
    if (usesPartitionTables) {
        const int status = componentStatus(c.hasPartitionEntry, c.tableStatus);
        addStatusLine(s, N_("Partition Table"), status);
        s.dumpable[COMPONENT_PARTITION_TABLE] = status != STATUS_NOT_FOUND;
    }
    // A structure the kind has no line for has no button either: a FAT16
    // volume has no backup boot sector to dump, whatever a stray find says.
    const int boot = componentStatus(c.hasBootSector, c.bootStatus);
    if (hasBoot)
        addStatusLine(s, N_("Boot Sector"), boot);
    s.dumpable[COMPONENT_BOOT_SECTOR] = hasBoot && boot != STATUS_NOT_FOUND;

    if (fat) {
        if (!c.hasFats || (!c.fatFound && !c.fatMirrorFound)) {
            addStatusLine(s, N_("FATs"), STATUS_NOT_FOUND);
        } else if (c.fatFound && c.fatMirrorFound) {
            addStatusLine(s, N_("FATs"), STATUS_FOUND);
        } else {
            s.text.push_back(
                {c.fatFound ? _("FAT mirror was not found\n") : _("FAT was not found\n"), "fr"});
        }
        s.dumpable[COMPONENT_FATS] = c.hasFats;
        addStatusLine(s, N_("Root Directory"), c.hasRootDir ? STATUS_FOUND : STATUS_NOT_FOUND);
        s.dumpable[COMPONENT_ROOT_DIRECTORY] = c.hasRootDir;
    }
    if (ntfs) {
        addStatusLine(s, N_("NTFS Volume"), c.hasNtfsVolume ? STATUS_FOUND : STATUS_NOT_FOUND);
        s.dumpable[COMPONENT_NTFS_VOLUME] = c.hasNtfsVolume;
    }
    const int backup = componentStatus(c.hasBootBackup, c.backupStatus);
    if (hasBackup)
        addStatusLine(s, N_("Boot Sector Backup"), backup);
    s.dumpable[COMPONENT_BOOT_BACKUP] = hasBackup && backup != STATUS_NOT_FOUND;

    if (c.hasSubDirs)
        s.text.push_back({std::to_string(c.subDirCount) + " " + _("Subdirectories - Found"), "fg"});
    return s;
}

bool dumpStructure(DriveDescr& d, const FsCandidate& c, int component, bool mirror,
                   std::ostream& out, std::string& title) {
    Driver& driver = *d.getDrive();
    switch (component) {
    case COMPONENT_PARTITION_TABLE: {
        const u32 lba = c.tableStatus != 0 ? c.tableStatusLBA : c.partitionTableLBA;
        dumpRebuilt(
            d, c.tableStatus, lba,
            [&](const u8* image, const u8* old) {
                dumpPartitionTable(out, image, lba, driver, old);
            },
            [&] { dumpPartitionTableAt(out, lba, driver); });
        title = _("Partition Table");
        return true;
    }
    case COMPONENT_BOOT_SECTOR:
    case COMPONENT_BOOT_BACKUP: {
        const bool backup = component == COMPONENT_BOOT_BACKUP;
        const u32 status = backup ? c.backupStatus : c.bootStatus;
        const u32 lba = backup ? (status != 0 ? c.backupLBA : c.bootBackupLBA)
                               : (status != 0 ? c.bootLBA : c.startLBA);
        dumpRebuilt(
            d, status, lba,
            [&](const u8* image, const u8* old) {
                dumpBootSector(out, image, lba, driver, backup, old);
            },
            [&] { dumpBootSectorAt(out, lba, driver, backup); });
        title = backup ? _("Boot Sector Backup") : _("Boot Sector");
        return true;
    }
    case COMPONENT_FATS: {
        FatType type = c.fatType;
        // A volume of one FAT has no mirror: its FAT is shown.
        dumpFatSector(out, mirror ? c.fatMirrorLBA() : c.fatLBA, driver, type);
        title = _("FAT");
        return true;
    }
    case COMPONENT_ROOT_DIRECTORY:
        dumpDirectorySector(out, c.rootDirLBA, driver);
        title = _("Root Directory");
        return true;
    case COMPONENT_NTFS_VOLUME:
        printNtfsVolume(out, c);
        title = _("NTFS Volume");
        return true;
    default:
        return false;
    }
}

} // namespace gtk
