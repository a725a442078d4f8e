#pragma once

// Tests on partition tables, partition types and FAT sectors, the access to and
// classification of FAT entries, and the FAT width rules. The scan runs the
// sector tests on every sector it reads; the FAT engine and the structure dumps
// share the entry helpers. All are pure functions of the bytes or values given;
// none reads the source, logs or throws (but for a view passed too short).

#include "core/Array.h"
#include "core/Types.h"
#include "fs/FsTypes.h"

#include <ostream>
#include <string>

// Partition table sector (MBR or extended boot record): four 16-byte entries.
constexpr u32 PARTITION_TABLE_OFFSET = 446;
constexpr u32 PARTITION_ENTRY_BYTES = 16;
constexpr u32 PARTITION_ENTRY_COUNT = 4;
constexpr u32 SECTOR_SIGNATURE_OFFSET = 510;
constexpr u16 SECTOR_SIGNATURE = 0xAA55;

// Offsets within a partition entry.
constexpr u32 PE_BOOT_INDICATOR = 0;
constexpr u32 PE_START_CHS = 1;
constexpr u32 PE_TYPE = 4;
constexpr u32 PE_END_CHS = 5;
constexpr u32 PE_START_LBA = 8;
constexpr u32 PE_SECTOR_COUNT = 12;

// Entries of one 512-byte FAT sector that the sector tests look at.
constexpr u32 FAT12_ENTRIES_PER_SECTOR = 340;
constexpr u32 FAT16_ENTRIES_PER_SECTOR = 256;
constexpr u32 FAT32_ENTRIES_PER_SECTOR = 128;
// One of those by width; 0 for FAT16_32 and anything else.
u32 fatEntriesPerSector(FatType type);

// The type is one of those that the partition-table test checks: the FAT types
// (hidden ones too), NTFS (0x07, 0x17, 0x86) and the extended ones.
bool isKnownPartitionType(u8 type);
// Boot indicator 0x00 or 0x80; then type 0, or start and count both not 0.
bool isValidPartitionEntry(const u8* entry);
// The signature, every entry of a known type sane, at least one such entry and
// not all four empty.
bool isValidMbr(const u8* sector);
// 0x05 or 0x0F.
bool isExtendedPartitionType(u8 type);
// The short name of a partition type ("FAT 32"), or "(9Fh)" for a type without
// one. Never translated.
std::string partitionTypeName(u8 type);

// The FAT entry `index` of `table` of that width; 0 for any other type.
// halfByteShift (0 or 1) is where FAT12 entry 0 begins within the table, in half
// bytes, so that a buffer starting in the middle of an entry pair can be read.
// Reading past the view throws std::out_of_range.
u32 getFatEntry(FatType type, u32 index, ConstArray table, u32 halfByteShift);
// Writes the entry; FAT32 keeps the top four bits of the stored word. Other
// types change nothing.
void setFatEntry(FatType type, u32 index, Array table, u32 value, u32 halfByteShift);

// The value with every bit above the width set (FAT32 and anything else: the
// top four), so that the reserved, bad and end marks of all widths compare
// alike, from 0xFFFFFFF0 on.
u32 widenedFatEntry(FatType width, u32 value);
// The class of an entry value as a scanned FAT sector is judged: a 2 counts as
// implausible (NOT_CLUSTER), since a link back to the first data cluster is what
// random data looks like far more often than a real chain.
ClusterType classifyFatEntry(FatType width, u32 value);
// The class of an entry value while a chain is followed: there a 2 is a link to
// cluster 2, so a file fragmented onto the first data cluster reads correctly.
ClusterType classifyChainEntry(FatType width, u32 value);
// FAT12, FAT16 and FAT32 stay; FAT16_32 and anything else give FAT_NONE.
FatType fatEntryWidthOf(FatType type);
// "FREE", "RSRV", "BAD", "EOF", or the value in decimal, for the FAT dumps.
std::string fatEntryText(FatType type, u32 value);
// The name of a class ("NEXT_CLUSTER"); empty for a value that is no class.
const char* clusterTypeName(u32 type);

// How FAT drivers tell the width of a volume from its boot sector: FAT32 when
// its root lies in clusters (the boot sector has FAT32's fields: no root
// entries, 16-bit sectors per FAT 0), else the count of its data clusters:
// below 4085 FAT12, from there on FAT16. The size of the FAT tells nothing
// there: formatters pad the FAT of a FAT12 volume of large clusters or sectors
// to 16 sectors and more.
FatType fatTypeOfVolume(bool rootInClusters, u64 clusters);
// 1-12 FAT12, 16-256 FAT16, 512-0x200000 FAT32, anything else FAT_NONE: the
// width of FAT sectors found where no boot sector gives a count of clusters.
FatType fatTypeBySectorsPerFat(u32 sectorsPerFAT);
// Up to 4084 FAT12, up to 65524 FAT16, up to 0x0FFFFFF5 FAT32, more FAT_NONE.
FatType fatTypeByClusterCount(u32 clusters);
// The most clusters a volume of that width can have; 0 for other types.
u32 maxClusterCount(FatType type);
// The entries a FAT of that width and size holds, entries 0 and 1 included.
u64 fatEntryCount(FatType type, u64 sectorsPerFAT);
// A power of two from 1 to 128.
bool isValidSectorsPerCluster(u32 value);

// The first two entries of a FAT of that width (media byte 0xF8 or 0xF0).
bool isFatStartSector(const u8* sector, FatType type);
// Every entry from 2 on is a plausible value and no two link to one cluster.
bool isPlausibleFatSector(FatType type, const u8* sector);
bool looksLikeFat12Start(const u8* sector);
bool looksLikeFat16Start(const u8* sector);
bool looksLikeFat32Start(const u8* sector);
// Whether the sector looks like the first sector of a FAT, and of which width:
// FAT16_32 when both FAT16 and FAT32 fit; FAT12 when neither does, or when a
// sector that fits FAT16 and FAT12 reads as less odd at FAT12 (fewer links to
// another than the next cluster and reserved values per entry). On false `out`
// is left as it was.
bool guessFatTypeOfSector(const u8* sector, FatType& out);
// Of the widths set in `widths` (indexed by FatType) whose start the FAT
// sector shows (isFatStartSector), the one its entries read least odd at, per
// entry read; of equal ones `preferred` when it is one of them, else the
// narrowest. FAT_NONE when the sector shows none of them.
FatType leastOddFatWidth(const u8* sector, const bool widths[4], FatType preferred);

// Letters or digits, then only blanks; all blanks and n = 0 pass.
bool isSpacePaddedName(const u8* bytes, u32 n);

// "FAT12", "FAT16", "FAT32", "FAT16_32" (other FAT types "FATXX") for FAT,
// "NTFS" for NTFS, the partition type's name for anything else.
void writeFsTypeName(std::ostream& os, FsKind kind, FatType fatType, u8 partitionType);
