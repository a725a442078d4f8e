#include "analysis/DriveLayoutApply.h"

#include "analysis/DriveLayout.h"
#include "analysis/DumpLimit.h"
#include "analysis/FsFilters.h"
#include "core/Checked.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/Text.h"
#include "devices/Driver.h"
#include "fs/FatLayout.h"
#include "fs/RebuiltBootSector.h"
#include "fs/StructureChecks.h"
#include "fs/StructureDumps.h"
#include "fs/ntfs/VolumeHelpers.h"

#include <algorithm>
#include <array>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using Image = std::array<u8, SECTOR_BYTES>;
using Builder = std::function<bool(const FsCandidate&, u8*, Driver&)>;

// NTFS file records are 1 KiB, 4 KiB at most; the placement from the MFT
// records measures them by the distance of two records, which damage can make
// anything. No record larger than this is read.
constexpr u32 MAX_RECORD_SECTORS = 64;
constexpr u64 MAX_LBA32 = 0xFFFFFFFF;

// Every image here is 512 bytes: a source of another sector size is not read.
bool readSector(Driver& driver, u64 lba, Image& out) {
    return driver.getSectorSize() == SECTOR_BYTES && lba <= MAX_LBA32 &&
           driver.readSectors(lba, 1, out.data());
}

u32 differingBytes(const Image& a, const Image& b) {
    u32 n = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        n += a[i] != b[i];
    return n;
}

std::string described(const std::string& what, u64 lba) {
    return what + std::to_string(lba) + ")";
}

void addChange(SectorChanges& changes, u32 lba, const u8* newImage, const u8* oldImage,
               const std::string& description) {
    SectorChange change;
    change.lba = lba;
    std::copy(newImage, newImage + SECTOR_BYTES, change.newImage.begin());
    std::copy(oldImage, oldImage + SECTOR_BYTES, change.oldImage.begin());
    change.description = description;
    changes.push_back(change);
}

// The status of a rebuilt sector: 2 when it was already right, else 1 and a
// change to `image`.
u32 recordSector(SectorChanges& changes, u32 lba, bool changed, const Image& image,
                 const Image& old, const std::string& description) {
    if (!changed)
        return 2;
    addChange(changes, lba, image.data(), old.data(), description);
    return 1;
}

// The element's boot sector over the sector as read; when that differs, over
// zeros instead: of what was there only the volume's name, serial number and
// label are carried over. False when the builder has nothing to build from.
bool formImage(const Builder& build, const FsCandidate& element, Driver& driver, const Image& old,
               Image& out, int logLine, const char* what) {
    out = old;
    if (!build(element, out.data(), driver)) {
        logAt("DriveLayoutApply", 1)
            << ": (LBA:" << element.startLBA << ") no " << what << " built\n";
        return false;
    }
    if (out == old)
        return true;
    logAt("DL", logLine) << ": (LBA:" << element.startLBA << ") filling " << what
                         << " with zeroes\n";
    DL::clearKeepingVolumeName(out.data(), old.data());
    return build(element, out.data(), driver);
}

// Reads the sector at lba and forms the element's image over it (formImage).
// False, logged under readLine with the LBA, when the sector cannot be read.
bool readAndForm(const Builder& build, const FsCandidate& element, Driver& driver, u64 lba,
                 int readLine, int zeroLine, const char* what, Image& old, Image& formed) {
    if (!readSector(driver, lba, old)) {
        logAt("DL", readLine) << ": " << lba << '\n';
        return false;
    }
    return formImage(build, element, driver, old, formed, zeroLine, what);
}

// The first change of this repair at each LBA, indexed as the repair appends
// them to what earlier repairs left: a walk over the list for every lookup made
// the repair of a layout of many volumes quadratic.
class ChangeIndex {
public:
    explicit ChangeIndex(const SectorChanges& changes)
        : changes_(changes), indexed_(changes.size()) {}

    const SectorChange* find(u32 lba) {
        for (; indexed_ < changes_.size(); ++indexed_)
            firstAt_.emplace(changes_[indexed_].lba, indexed_);
        auto it = firstAt_.find(lba);
        return it == firstAt_.end() ? nullptr : &changes_[it->second];
    }

private:
    const SectorChanges& changes_;
    std::size_t indexed_;
    std::unordered_map<u32, std::size_t> firstAt_;
};

void rebuildFat16(FsCandidate& e, Driver& driver, SectorChanges& changes, bool fat12, bool dump) {
    const u32 start = e.startLBA;
    Builder build = [fat12](const FsCandidate& c, u8* sector, Driver& d) {
        return DL::formBootSectorFat16(c, sector, d, fat12);
    };
    Image old{};
    Image image{};
    if (!readAndForm(build, e, driver, start, 548, 554, "sector", old, image))
        return;
    e.bootStatus = recordSector(
        changes, start, image != old, image, old,
        described(fat12 ? "Boot Sector FAT12 (LBA:" : "Boot Sector FAT16 (LBA:", start));
    e.bootLBA = start;
    if (dump)
        dumpBootSector(logAt("DL", 573) << '\n', image.data(), start, driver, false, old.data());
}

// The log lines and names of the two kinds whose boot sector has a backup.
struct PairedKind {
    bool ntfs;
    const char* name;
    int readPrimary, zeroPrimary, defaultBackup, readBackup, zeroBackup, useBackup, dumpPrimary,
        dumpBackup;
};

constexpr PairedKind FAT32_KIND{false, "FAT32", 702, 708, 719, 722, 730, 747, 783, 785};
constexpr PairedKind NTFS_KIND{true, "NTFS", 949, 955, 966, 969, 977, 994, 1032, 1034};

// Where the backup boot sector lies when the scan found none: six sectors in
// on FAT32; on NTFS behind the volume its found boot sector states, else in
// the volume's last sector. A volume the source holds only part of (a copy cut
// short) is listed with what the source holds, but its backup lies where the
// volume ends, not on a sector of its data. False when that is no sector.
bool defaultBackupLba(const PairedKind& k, const FsCandidate& e, u64& out) {
    if (!k.ntfs) {
        out = static_cast<u64>(e.startLBA) + FAT32_BACKUP_SECTOR;
    } else if (e.hasBootSector && e.bootSector.kind == FS_NTFS) {
        out = saturatingAdd(e.startLBA, e.bootSector.ntfs.totalSectors);
    } else {
        if (e.layoutSectors < 2)
            return false;
        out = static_cast<u64>(e.startLBA) + e.layoutSectors - 1;
    }
    return out <= MAX_LBA32;
}

// Primary and backup boot sector: each is rebuilt over what the drive holds,
// and the image that differs less from its sector is taken for both, so that an
// intact copy wins over one rebuilt from a destroyed sector.
void rebuildPaired(const PairedKind& k, FsCandidate& e, Driver& driver, SectorChanges& changes,
                   bool dump) {
    const Builder build =
        k.ntfs ? Builder(DL::formBootSectorNtfs) : Builder(DL::formBootSectorFat32);
    const u32 start = e.startLBA;
    Image oldPrimary{};
    Image newPrimary{};
    if (!readAndForm(build, e, driver, start, k.readPrimary, k.zeroPrimary, "boot sector",
                     oldPrimary, newPrimary))
        return;
    const u32 dP = differingBytes(newPrimary, oldPrimary);

    u64 backup = e.bootBackupLBA;
    if (!e.hasBootBackup) {
        if (!defaultBackupLba(k, e, backup)) {
            logAt("DriveLayoutApply", 2)
                << ": no backup sector for the volume at " << start << '\n';
            return;
        }
        logAt("DL", k.defaultBackup) << ": using default LBA for backup " << backup << '\n';
    }
    Image oldBackup{};
    Image newBackup{};
    if (!readAndForm(build, e, driver, backup, k.readBackup, k.zeroBackup, "boot sector backup",
                     oldBackup, newBackup))
        return;
    const u32 dB = differingBytes(newBackup, oldBackup);

    const Image* winner = &newPrimary;
    if (dB < dP) {
        logAt("DL", k.useBackup) << ": (LBA:" << start << ") using backup boot sector\n";
        winner = &newBackup;
    }
    const std::string name = k.name;
    e.bootStatus = recordSector(changes, start, dP != 0, *winner, oldPrimary,
                                described("Boot Sector " + name + " (LBA:", start));
    e.bootLBA = start;
    const u32 backupLba = static_cast<u32>(backup);
    e.backupStatus = recordSector(changes, backupLba, dB != 0, *winner, oldBackup,
                                  described("Boot Sector Backup " + name + " (LBA:", backupLba));
    e.backupLBA = backupLba;

    if (k.ntfs)
        clearChkdskFlag(e, driver, changes);

    if (!dump)
        return;
    const Image& primaryNow = dP == 0 ? oldPrimary : *winner;
    const Image& backupNow = dB == 0 ? oldBackup : *winner;
    dumpBootSector(logAt("DL", k.dumpPrimary) << '\n', primaryNow.data(), start, driver, false,
                   oldPrimary.data());
    dumpBootSector(logAt("DL", k.dumpBackup) << '\n', backupNow.data(), backupLba, driver, true,
                   oldBackup.data());
}

// A sector of the report: the rebuilt image against the drive's when this
// repair changed it, else as the drive holds it.
void reportBootSector(std::ostream& report, const FsCandidate& e, Driver& driver,
                      ChangeIndex& changes, bool backup) {
    const u32 status = backup ? e.backupStatus : e.bootStatus;
    const u32 lba = backup ? e.backupLBA : e.bootLBA;
    if (status == 1) {
        const SectorChange* change = changes.find(lba);
        if (change == nullptr)
            throw std::runtime_error(backup ? "DL(1123)" : "DL(1108)");
        dumpBootSector(report, change->newImage.data(), lba, driver, backup,
                       change->oldImage.data());
    } else if (status == 2) {
        dumpBootSectorAt(report, lba, driver, backup);
    } else {
        return;
    }
    report << "\n\n";
}

void writeReport(std::ostream& report, FsCandidate& e, Driver& driver, ChangeIndex& changes,
                 bool usesPartitionTables, FsKind kind, FatType fatType, u8 code) {
    report << std::string(72, '-') << "\n\n";
    writeFsTypeName(report, kind, fatType, code);
    report << ' ' << _("File System") << ":\n\n";
    if (usesPartitionTables) {
        if (e.tableStatus == 1) {
            const SectorChange* change = changes.find(e.tableStatusLBA);
            if (change == nullptr)
                throw std::runtime_error("DL(1090)");
            dumpPartitionTable(report, change->newImage.data(), e.tableStatusLBA, driver,
                               change->oldImage.data());
        } else if (e.tableStatus == 2) {
            dumpPartitionTableAt(report, e.tableStatusLBA, driver);
        } else {
            throw std::runtime_error("DL(1102)");
        }
        report << "\n\n";
    }
    reportBootSector(report, e, driver, changes, false);
    reportBootSector(report, e, driver, changes, true);
    if (e.hasFats) {
        FatType type = e.fatType;
        dumpFatSector(report, e.fatLBA, driver, type);
        report << "\n\n";
        type = e.fatType;
        const u64 mirror = e.fatMirrorLBA();
        if (e.fatCount > 1 && mirror <= MAX_LBA32) {
            dumpFatSector(report, static_cast<u32>(mirror), driver, type);
            report << "\n\n";
        }
    }
    if (e.hasRootDir) {
        dumpDirectorySector(report, e.rootDirLBA, driver);
        report << "\n\n";
    }
    if (e.hasNtfsVolume) {
        printNtfsVolume(report, e);
        report << "\n\n";
    }
}

} // namespace

bool clearChkdskFlag(const FsCandidate& element, Driver& driver, SectorChanges& changes) {
    if (!element.hasNtfsVolume) {
        logAt("DL", 896) << '\n';
        return false;
    }
    const u32 r = element.sectorsPerFileRecord;
    const u64 at = element.mftLBA + 3 * static_cast<u64>(r);
    const u64 mirror = element.mftMirrLBA + 3 * static_cast<u64>(r);
    if (r == 0 || r > MAX_RECORD_SECTORS || element.mftLBA > MAX_LBA32 ||
        element.mftMirrLBA > MAX_LBA32 || at + r - 1 > MAX_LBA32 || mirror + r - 1 > MAX_LBA32 ||
        driver.getSectorSize() != SECTOR_BYTES) {
        logAt("DriveLayoutApply", 3)
            << ": no $Volume record of " << r << " sectors at " << at << '\n';
        return false;
    }
    std::vector<u8> old(static_cast<std::size_t>(r) * SECTOR_BYTES);
    if (!driver.readSectors(at, r, old.data())) {
        logAt("DL", 906) << ": " << at << '\n';
        return false;
    }
    std::vector<u8> record = old;
    if (!clear_NTFS_chkdsk_flag(record.data(), static_cast<u32>(record.size()))) {
        logAt("DL", 912) << ": "
                         << "!clear_NTFS_chkdsk_flag\n";
        return false;
    }
    for (u32 i = 0; i < r; ++i) {
        const u8* now = record.data() + static_cast<std::size_t>(i) * SECTOR_BYTES;
        const u8* was = old.data() + static_cast<std::size_t>(i) * SECTOR_BYTES;
        if (std::equal(now, now + SECTOR_BYTES, was))
            continue;
        const auto lba = static_cast<u32>(at + i);
        const auto copy = static_cast<u32>(mirror + i);
        addChange(changes, lba, now, was, described("Volume Information (LBA:", lba));
        // The mirror is not read: its copy of the record is taken to be the same.
        addChange(changes, copy, now, was, described("Volume Information Mirror (LBA:", copy));
    }
    return true;
}

namespace {

// One file system of the layout: its boot sectors by its type and its
// statuses. Only an element that is dumped (the first ones of a layout:
// DumpLimit) writes its sectors to the log and its part to the report.
void reconstructFileSystem(FsCandidate& element, Driver& driver, SectorChanges& changes,
                           ChangeIndex& index, std::ostream& report, bool usesPartitionTables,
                           bool dump) {
    const u8 code = element.fscode();
    FsKind kind = FS_NONE;
    FatType fatType = FAT_NONE;
    partitionTypeToFs(code, kind, fatType);
    logAt("DL", 1049) << ": "
                      << "DLReconstructFileSystem LBA:" << element.startLBA << '\n';
    writeFsTypeName(logAt("DL", 1050), kind, fatType, code);
    logStream() << '\n';
    if (code == 0)
        logAt("DL", 1053) << ": "
                          << "fscode == 0\n";

    if (kind == FS_FAT) {
        switch (fatType) {
        case FAT12:
        case FAT16:
            rebuildFat16(element, driver, changes, fatType == FAT12, dump);
            break;
        case FAT32:
            rebuildPaired(FAT32_KIND, element, driver, changes, dump);
            break;
        default:
            logAt("DL", 1063) << ": "
                              << "unknown fattype\n";
        }
    } else if (kind == FS_NTFS) {
        rebuildPaired(NTFS_KIND, element, driver, changes, dump);
    } else {
        logAt("DL", 1068) << ": "
                          << "unknown fstype\n";
    }

    // Only a drive with tables has a table that describes the element.
    if (usesPartitionTables) {
        element.tableStatus = 2;
        element.tableStatusLBA = element.parentTableLBA;
        if (index.find(element.parentTableLBA) != nullptr)
            element.tableStatus = 1;
    }
    if (dump)
        writeReport(report, element, driver, index, usesPartitionTables, kind, fatType, code);
}

} // namespace

namespace DL {

void apply(FsCandidateList& layout, Driver& driver, SectorChanges& changes, std::ostream& report,
           bool usesPartitionTables) {
    ChangeIndex index(changes);
    std::set<u32> volumeStarts;
    for (const FsCandidate& element : layout) {
        if (element.valid && !element.isPartitionTable)
            volumeStarts.insert(element.startLBA);
    }
    DumpLimit dumps;
    for (FsCandidate& element : layout) {
        if (!element.valid)
            throw std::runtime_error("DL(1169)");
        if (!element.isPartitionTable) {
            reconstructFileSystem(element, driver, changes, index, report, usesPartitionTables,
                                  dumps.take());
        } else if (usesPartitionTables) {
            // The sector is a volume's boot sector (a volume at LBA 0): a table
            // written there would be read in place of that boot sector.
            if (volumeStarts.count(element.startLBA) != 0) {
                logAt("DriveLayoutApply", 4) << ": (LBA:" << element.startLBA
                                             << ") a file system starts here; no partition table\n";
                continue;
            }
            writePartitionTable(element, driver, changes, dumps.take());
        }
    }
    if (dumps.leftOut() == 0)
        return;
    logAt("DriveLayoutApply", 5) << ": " << dumps.leftOut()
                                 << " more elements left out of the log and the report\n";
    const auto n = static_cast<unsigned long>(dumps.leftOut());
    report << std::string(72, '-') << "\n\n"
           << formatMessage(
                  ngettext_("%1 more element of the layout was left out of this report.",
                            "%1 more elements of the layout were left out of this report.", n),
                  n)
           << '\n';
}

} // namespace DL
