#pragma once

// FAT directory entries: the tests that tell a plausible 32-byte entry, and a
// 512-byte sector of them, from the rest of a damaged disk; 8.3 names (with the
// double-byte rules of code page 932); the long-name slots; entry times. Pure
// functions of the bytes given. An entry is 32 bytes and a sector 512; both are
// read through bounds-checked views.

#include "core/Types.h"
#include "fs/FatLayout.h"

#include <string>
#include <vector>

u8 dirEntryAttributes(const u8* entry);
// (word at 20) << 16 | (word at 26), on every FAT width.
u32 dirEntryStartCluster(const u8* entry);
u32 dirEntrySize(const u8* entry);
// The last-write date and time as a file time (taken as local time, the system
// deciding on summer time); NO_TIME when a field is out of range.
u32 dirEntryTime(const u8* entry);

// First byte 0xE5 or 0x00.
bool isFreeDirEntry(const u8* entry);
bool isDeletedDirEntry(const u8* entry);
// Attributes exactly 0x0F.
bool isLongNameEntry(const u8* entry);
// The volume label (attribute 0x08 in an entry that is no long-name entry): it
// names the volume, not a file.
bool isVolumeLabelEntry(const u8* entry);
// The 11 name bytes are "." or ".." padded with blanks.
bool isDotEntry(const u8* entry);
bool isDotDotEntry(const u8* entry);
// A folder's entry whose name is "." (slot 0) or ".." (slot 1) but for its
// first byte, which was hit (marked deleted or overwritten).
bool isHitDotEntry(const u8* entry, u32 slot);

// n less the trailing blanks.
u32 trimmedLength(const u8* bytes, u32 n);
// The checksum of an 11-byte short name that its long-name entries carry.
u8 lfnChecksum(const u8* name11);

// Attributes, times, date, directory size and name are plausible; a long-name
// entry only needs its cluster word and type byte 0.
bool isValidShortDirEntry(const u8* entry);
// First byte not 0 and isValidShortDirEntry.
bool isValidDirEntryNonEmpty(const u8* entry);

// The 8.3 name as UTF-8 through the current code page, with `replacement` for
// the lost first character of a deleted or free entry, the lower-case flags
// applied, and a dot only when there is an extension.
void shortEntryName(const u8* entry, std::string& out, char replacement);
// Appends the entry's UTF-16 units up to the first 0 unit or padding unit;
// true when one ended them. A long name is gathered whole and converted at once, so that a
// character split over two entries (a surrogate pair) survives.
bool appendLfnUnits(const u8* entry, std::vector<u16>& units);
std::string lfnUnitsToUtf8(const std::vector<u16>& units);
// Appends the entry's own characters as UTF-8 (for showing one entry alone).
void appendLfnChars(const u8* entry, std::string& text);

// Sector tests.
// Entries from firstIndex to 15: valid or deleted, nothing after the end mark
// but zeros; true when at least one was valid (or, from index 2, when the sector
// holds nothing after "." and "..").
bool checkDirEntries(const u8* sector, u32 firstIndex, u32& validCount);
// checkDirEntries from index 2, and a "." cluster above 1.
bool checkDotEntries(const u8* sector, u32& dotCluster, u32& dotDotCluster);
bool checkPlainDirSector(const u8* sector);
// Whether the sector looks like the start of directory data: with "." and ".."
// (hasDotEntries, their clusters), or a plain sector of entries (dotDotCluster
// not written). lastSlotUsed: entry 15 is in use, so the directory may go on;
// highestCluster: the highest start cluster of an entry that is no long-name
// entry, up to the end mark.
bool analyzeDirectoryStart(const u8* sector, bool& hasDotEntries, bool& lastSlotUsed,
                           u32& dotCluster, u32& dotDotCluster, u32& highestCluster);

// Short names.
// At least 0x20, below 0xFD, none of " * + , . / : ; < = > ? [ \ ] |.
bool isValidShortNameChar(u8 c);
// Valid characters up to the first blank, then only blanks.
bool isValidNameField(const u8* bytes, u32 n);
// The same with the double-byte characters of code page 932.
bool isValidNameFieldCp932(const u8* bytes, u32 n);
// Every byte 0 or a valid character.
bool isValidLabelField(const u8* bytes, u32 n);
// The name and extension of a short entry or a volume label, by the current code
// page.
bool isValidShortName(const u8* entry);
