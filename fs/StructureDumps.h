#pragma once

// On-disk structures as text: a partition table, a boot sector field by field,
// a FAT sector as a grid of entries and a run of directory sectors as a listing.
// The structure view and the debug log of the layout repair share these
// functions, so a structure reads the same wherever it is shown.
//
// A sector that the layout repair rebuilt in memory is dumped from its new
// image with the image read from the disk beside it: every value that differs
// is followed by "(Changed from <old value>)". Sector contents never make a
// dump throw; a sector that cannot be read gives one "Cannot read LBA" line.

#include "core/Types.h"
#include "fs/FsTypes.h"
#include "fs/SectorChange.h"

#include <ostream>

class Driver;

// Reads `count` sectors into `buffer` (count x the driver's sector size
// bytes); on failure writes "Cannot read LBA <lba> (<count> sectors)" and
// returns false.
bool readDumpSectors(std::ostream& os, u32 lba, u32 count, u8* buffer, Driver& driver);

// Matches the changes of one LBA.
struct SectorLbaEquals {
    u32 lba;
    bool operator()(const SectorChange& change) const { return change.lba == lba; }
};

// The images of the first change with that LBA (512 bytes), or null.
const u8* findNewSectorImage(u32 lba, const SectorChanges& changes);
const u8* findOldSectorImage(u32 lba, const SectorChanges& changes);

// The dumps of a 512-byte image. `oldImage` (the sector as the disk holds it)
// may be null: nothing then shows as changed. The driver gives the CHS
// geometry.
void dumpPartitionTable(std::ostream& os, const u8* sector, u32 lba, const Driver& driver,
                        const u8* oldImage);
void dumpBootSector(std::ostream& os, const u8* sector, u32 lba, const Driver& driver,
                    bool isBackup, const u8* oldImage);

// The same of the sector read from the source; false (after the error line)
// when it cannot be read.
bool dumpPartitionTableAt(std::ostream& os, u32 lba, Driver& driver);
bool dumpBootSectorAt(std::ostream& os, u32 lba, Driver& driver, bool isBackup);

// The FAT sector at lba as entries of width `type`. With FAT_NONE the width is
// guessed from the sector (which then has to be the first of a FAT); a sector
// that fits FAT16 and FAT32 alike is shown as FAT16, and `type` becomes FAT16 so
// that the next sectors of the same FAT follow without the note. False when the
// sector cannot be read.
bool dumpFatSector(std::ostream& os, u32 lba, Driver& driver, FatType& type);

// The directory entries from lba on: up to 16 sectors, ending at the end mark,
// at the start of another directory or at a sector that cannot be read. Nothing
// when the first sector is no directory sector; false when it cannot be read.
bool dumpDirectorySector(std::ostream& os, u32 lba, Driver& driver);

// Text pieces of the dumps.
// "(cylinder;head;sector;LBA=lba)" under the driver's geometry.
void writeLbaAndChs(std::ostream& os, u32 lba, const Driver& driver);
// "RHSVDA", with "-" for each clear bit.
void writeAttributeFlags(std::ostream& os, u8 attributes);
// Printable ASCII as it is, every other byte as ".".
void writePrintable(std::ostream& os, const u8* bytes, u32 n);
// The characters of one long-name entry, padded to 13 unless noPadding.
void writeLfnEntryName(std::ostream& os, const u8* entry, bool noPadding);
// One row under the partition-table header, no newline.
void writePartitionEntryRow(std::ostream& os, int index, const u8* entry);
// One row under the directory header, no newline.
void writeDirEntryRow(std::ostream& os, const u8* entry);
