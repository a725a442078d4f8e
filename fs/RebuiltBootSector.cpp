#include "fs/RebuiltBootSector.h"

#include "core/Array.h"
#include "devices/DriveGeometry.h"
#include "devices/Driver.h"
#include "fs/FsCandidate.h"
#include "fs/StructureChecks.h"

#include <cstring>

namespace {

// Offsets of the boot-sector fields written here.
constexpr u32 BS_JUMP = 0;
constexpr u32 BS_OEM_NAME = 3;
constexpr u32 BS_BYTES_PER_SECTOR = 0x0B;
constexpr u32 BS_SECTORS_PER_CLUSTER = 0x0D;
constexpr u32 BS_RESERVED_SECTORS = 0x0E;
constexpr u32 BS_FAT_COUNT = 0x10;
constexpr u32 BS_ROOT_ENTRIES = 0x11;
constexpr u32 BS_TOTAL_SECTORS_16 = 0x13;
constexpr u32 BS_MEDIA = 0x15;
constexpr u32 BS_SECTORS_PER_FAT_16 = 0x16;
constexpr u32 BS_SECTORS_PER_TRACK = 0x18;
constexpr u32 BS_HEADS = 0x1A;
constexpr u32 BS_HIDDEN_SECTORS = 0x1C;
constexpr u32 BS_TOTAL_SECTORS_32 = 0x20;
// FAT12/16 extended parameter block.
constexpr u32 BS16_DRIVE_NUMBER = 0x24;
constexpr u32 BS16_SIGNATURE = 0x26;
constexpr u32 BS16_FS_TYPE = 0x36;
// FAT32 parameter block.
constexpr u32 BS32_SECTORS_PER_FAT = 0x24;
constexpr u32 BS32_FLAGS = 0x28;
constexpr u32 BS32_VERSION = 0x2A;
constexpr u32 BS32_ROOT_CLUSTER = 0x2C;
constexpr u32 BS32_FSINFO_SECTOR = 0x30;
constexpr u32 BS32_BACKUP_SECTOR = 0x32;
constexpr u32 BS32_DRIVE_NUMBER = 0x40;
constexpr u32 BS32_SIGNATURE = 0x42;
constexpr u32 BS32_FS_TYPE = 0x52;
// NTFS parameter block.
constexpr u32 BSN_MARKER = 0x24;
constexpr u32 BSN_TOTAL_SECTORS = 0x28;
constexpr u32 BSN_MFT_CLUSTER = 0x30;
constexpr u32 BSN_MFT_MIRROR_CLUSTER = 0x38;
constexpr u32 BSN_CLUSTERS_PER_RECORD = 0x40;
constexpr u32 BSN_CLUSTERS_PER_INDEX = 0x44;

constexpr u8 EXTENDED_SIGNATURE = 0x29;
constexpr u8 MEDIA_FIXED = 0xF8;
constexpr u8 MEDIA_FLOPPY = 0xF0;
constexpr u32 DEFAULT_HIDDEN_SECTORS = 63;

enum class Layout { FixedRoot, RootCluster, Ntfs };

bool hasLayout(const BootParams& boot, Layout layout) {
    switch (layout) {
    case Layout::FixedRoot:
        return boot.kind == FS_FAT && boot.fat.rootEntries != 0 && boot.fat.sectorsPerFAT <= 0xFFFF;
    case Layout::RootCluster:
        return boot.kind == FS_FAT && boot.fat.rootEntries == 0;
    case Layout::Ntfs:
        return boot.kind == FS_NTFS;
    }
    return false;
}

// The found boot sector to build from: the primary, else the backup.
const BootParams* foundBootSector(const FsCandidate& c, Layout layout) {
    if (c.hasBootSector && hasLayout(c.bootSector, layout))
        return &c.bootSector;
    if (c.hasBootBackup && hasLayout(c.bootBackup, layout))
        return &c.bootBackup;
    return nullptr;
}

bool usesPartitionTables(const Driver& driver) {
    return driver.getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 1) != 0;
}

// What every image gets: a jump instruction (kept when it is one), the sector
// size, the geometry the user chose for repairs and the signature.
void writeCommon(const Array& s, const Driver& driver, u8 jumpOffset) {
    bool jumps =
        (s.getU8(BS_JUMP) == 0xEB && s.getU8(BS_JUMP + 2) == 0x90) || s.getU8(BS_JUMP) == 0xE9;
    if (!jumps) {
        s.setU8(BS_JUMP, 0xEB);
        s.setU8(BS_JUMP + 1, jumpOffset);
        s.setU8(BS_JUMP + 2, 0x90);
    }
    s.setLE16(BS_BYTES_PER_SECTOR, SECTOR_BYTES);
    DriveGeometry geometry = repairGeometry(driver);
    s.setLE16(BS_SECTORS_PER_TRACK, static_cast<u16>(geometry.sectorsPerTrack));
    s.setLE16(BS_HEADS, static_cast<u16>(geometry.heads));
    s.setLE16(SECTOR_SIGNATURE_OFFSET, SECTOR_SIGNATURE);
}

// Sectors before the volume: its distance from the table that describes it on a
// partitioned drive, a fixed value on a drive without tables.
void writeHiddenSectors(const Array& s, const FsCandidate& c, const Driver& driver,
                        u32 withoutTables, bool keepStart) {
    if (!usesPartitionTables(driver)) {
        s.setLE32(BS_HIDDEN_SECTORS, withoutTables);
        return;
    }
    if (keepStart && s.getLE32(BS_HIDDEN_SECTORS) == c.startLBA)
        return;
    u32 base = c.parentTableLBA <= c.startLBA ? c.parentTableLBA : 0;
    s.setLE32(BS_HIDDEN_SECTORS, c.startLBA - base);
}

void writeFatGeometry(const Array& s, const FatBootParams& f, u32 rootEntries) {
    s.setU8(BS_SECTORS_PER_CLUSTER, static_cast<u8>(f.sectorsPerCluster));
    s.setLE16(BS_RESERVED_SECTORS, static_cast<u16>(f.reservedSectors));
    s.setU8(BS_FAT_COUNT, 2);
    s.setLE16(BS_ROOT_ENTRIES, static_cast<u16>(rootEntries));
    bool small = f.totalSectors < 0x10000;
    s.setLE16(BS_TOTAL_SECTORS_16, small ? static_cast<u16>(f.totalSectors) : 0);
    s.setLE32(BS_TOTAL_SECTORS_32, small ? 0 : f.totalSectors);
}

// Drive number (kept when it names a hard disk), extended signature and the
// file-system type (kept when it is a readable name).
void writeExtendedBlock(const Array& s, u32 driveNumber, u32 signature, u32 typeName,
                        const char* defaultType) {
    u8 drive = s.getU8(driveNumber);
    if (drive < 0x80 || drive > 0x83)
        s.setU8(driveNumber, 0x80);
    s.setU8(signature, EXTENDED_SIGNATURE);
    if (!isSpacePaddedName(s.data() + typeName, 8))
        s.write(typeName, defaultType, 8);
}

// The clusters-per-record field: whole clusters when the record is a multiple
// of the cluster, else 2^-v bytes. False when neither can say it.
bool encodeClustersPerRecord(u32 sectorsPerRecord, u32 sectorsPerCluster, u32& out) {
    if (sectorsPerCluster != 0 && sectorsPerRecord % sectorsPerCluster == 0) {
        u32 clusters = sectorsPerRecord / sectorsPerCluster;
        // The byte is signed: 128 clusters and more read as a size in bytes.
        if (clusters >= 1 && clusters <= 127) {
            out = clusters;
            return true;
        }
    }
    if (sectorsPerRecord == 0 || (sectorsPerRecord & (sectorsPerRecord - 1)) != 0)
        return false;
    int log2 = 9; // 512 bytes per sector
    for (u32 r = sectorsPerRecord; r > 1; r >>= 1)
        ++log2;
    out = static_cast<u8>(-log2);
    return true;
}

} // namespace

namespace DL {

bool formBootSectorFat16(const FsCandidate& candidate, u8* sector, Driver& driver, bool fat12) {
    const BootParams* found = foundBootSector(candidate, Layout::FixedRoot);
    if (!found) {
        // Without a boot sector of its own the image has to be made up from the
        // FATs and directories found for the candidate; until that exists there
        // is nothing to build from.
        return false;
    }
    const FatBootParams& f = found->fat;
    Array s(sector, SECTOR_BYTES);
    writeCommon(s, driver, 0x00);
    writeFatGeometry(s, f, f.rootEntries);
    bool floppy = driver.getProperties().getUInt8(PROP_IS_FLOPPY, 0) != 0;
    s.setU8(BS_MEDIA, floppy ? MEDIA_FLOPPY : MEDIA_FIXED);
    s.setLE16(BS_SECTORS_PER_FAT_16, static_cast<u16>(f.sectorsPerFAT));
    writeHiddenSectors(s, candidate, driver, fat12 ? 0 : DEFAULT_HIDDEN_SECTORS, true);
    if (!fat12)
        writeExtendedBlock(s, BS16_DRIVE_NUMBER, BS16_SIGNATURE, BS16_FS_TYPE, "FAT16   ");
    return true;
}

bool formBootSectorFat32(const FsCandidate& candidate, u8* sector, Driver& driver) {
    const BootParams* found = foundBootSector(candidate, Layout::RootCluster);
    if (!found) {
        // As for FAT12/16: a boot sector from the candidate's other evidence
        // belongs here.
        return false;
    }
    const FatBootParams& f = found->fat;
    Array s(sector, SECTOR_BYTES);
    writeCommon(s, driver, 0x00);
    writeFatGeometry(s, f, 0);
    s.setU8(BS_MEDIA, MEDIA_FIXED);
    s.setLE16(BS_SECTORS_PER_FAT_16, 0);
    writeHiddenSectors(s, candidate, driver, DEFAULT_HIDDEN_SECTORS, true);
    s.setLE32(BS32_SECTORS_PER_FAT, f.sectorsPerFAT);
    s.setLE16(BS32_FLAGS, 0);
    s.setLE16(BS32_VERSION, 0);
    s.setLE32(BS32_ROOT_CLUSTER, f.rootCluster);
    s.setLE16(BS32_FSINFO_SECTOR, 1);
    s.setLE16(BS32_BACKUP_SECTOR, 6);
    writeExtendedBlock(s, BS32_DRIVE_NUMBER, BS32_SIGNATURE, BS32_FS_TYPE, "FAT32   ");
    return true;
}

bool formBootSectorNtfs(const FsCandidate& candidate, u8* sector, Driver& driver) {
    const BootParams* found = foundBootSector(candidate, Layout::Ntfs);
    u32 clustersPerRecord = 0;
    if (!found || !encodeClustersPerRecord(found->ntfs.sectorsPerFileRecord,
                                           found->ntfs.sectorsPerCluster, clustersPerRecord)) {
        // A volume placed only from its MFT records gets its boot sector from
        // that placement and default sizes; until that exists there is nothing
        // to build from.
        return false;
    }
    const NtfsBootParams& n = found->ntfs;
    Array s(sector, SECTOR_BYTES);
    writeCommon(s, driver, 0x52);
    s.write(BS_OEM_NAME, "NTFS    ", 8);
    s.setU8(BS_SECTORS_PER_CLUSTER, n.sectorsPerCluster);
    s.setU8(BS_FAT_COUNT, 0);
    s.setU8(BS_MEDIA, MEDIA_FIXED);
    s.setLE16(BS_SECTORS_PER_FAT_16, 0);
    writeHiddenSectors(s, candidate, driver, DEFAULT_HIDDEN_SECTORS, false);
    s.setLE32(BSN_MARKER, 0x00800080);
    s.setLE64(BSN_TOTAL_SECTORS, n.totalSectors);
    s.setLE64(BSN_MFT_CLUSTER, n.MFTCluster);
    s.setLE64(BSN_MFT_MIRROR_CLUSTER, n.MFTMirrCluster);
    s.setLE32(BSN_CLUSTERS_PER_RECORD, clustersPerRecord);
    u32 perIndex = n.sectorsPerCluster == 0   ? 0
                   : n.sectorsPerCluster <= 8 ? 8 / n.sectorsPerCluster
                                              : 1;
    s.setLE32(BSN_CLUSTERS_PER_INDEX, perIndex);
    return true;
}

} // namespace DL
