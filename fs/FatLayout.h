#pragma once

// Where every field of a FAT volume lies, once: the boot sector (its BIOS
// parameter block, which an NTFS boot sector shares, and the block that follows
// it on FAT12/16, FAT32 and NTFS), the FAT32 information sector, the values a
// FAT holds, and the 32-byte directory and long-name entries. The parsers, the
// boot sectors the layout repair builds, the dumps and the tests' builders all
// take their offsets from here. Every multi-byte field is little-endian.

#include "core/Types.h"
#include "fs/FsTypes.h"

// ---- Boot sector: the BIOS parameter block ----

constexpr u32 BS_JUMP = 0x00; // 3 bytes: EB xx 90, or E9 xx xx
constexpr u32 BS_JUMP_BYTES = 3;
constexpr u32 BS_OEM_NAME = 0x03; // 8 bytes
constexpr u32 BS_OEM_NAME_BYTES = 8;
constexpr u32 BS_BYTES_PER_SECTOR = 0x0B;    // u16
constexpr u32 BS_SECTORS_PER_CLUSTER = 0x0D; // u8
constexpr u32 BS_RESERVED_SECTORS = 0x0E;    // u16
constexpr u32 BS_FAT_COUNT = 0x10;           // u8
constexpr u32 BS_ROOT_ENTRIES = 0x11;        // u16, 0 on FAT32
constexpr u32 BS_TOTAL_SECTORS_16 = 0x13;    // u16, 0 when the 32-bit field holds the size
constexpr u32 BS_MEDIA = 0x15;               // u8
constexpr u32 BS_SECTORS_PER_FAT_16 = 0x16;  // u16, 0 on FAT32
constexpr u32 BS_SECTORS_PER_TRACK = 0x18;   // u16
constexpr u32 BS_HEADS = 0x1A;               // u16
constexpr u32 BS_HIDDEN_SECTORS = 0x1C;      // u32
constexpr u32 BS_TOTAL_SECTORS_32 = 0x20;    // u32

// FAT12/16: the extended block after the parameter block.
constexpr u32 BS16_DRIVE_NUMBER = 0x24; // u8
constexpr u32 BS16_SIGNATURE = 0x26;    // u8, BS_EXTENDED_SIGNATURE
constexpr u32 BS16_SERIAL = 0x27;       // u32
constexpr u32 BS16_LABEL = 0x2B;        // BS_LABEL_BYTES
constexpr u32 BS16_FS_TYPE = 0x36;      // BS_FS_TYPE_BYTES

// FAT32: sizes, the root cluster, then the extended block.
constexpr u32 BS32_SECTORS_PER_FAT = 0x24; // u32
constexpr u32 BS32_FLAGS = 0x28;           // u16, FAT32_NOT_MIRRORED and FAT32_ACTIVE_MASK
constexpr u32 BS32_VERSION = 0x2A;         // u8 minor, then u8 major
constexpr u32 BS32_ROOT_CLUSTER = 0x2C;    // u32
constexpr u32 BS32_FSINFO_SECTOR = 0x30;   // u16, from the boot sector
constexpr u32 BS32_BACKUP_SECTOR = 0x32;   // u16, from the boot sector
constexpr u32 BS32_DRIVE_NUMBER = 0x40;    // u8
constexpr u32 BS32_SIGNATURE = 0x42;       // u8, BS_EXTENDED_SIGNATURE
constexpr u32 BS32_SERIAL = 0x43;          // u32
constexpr u32 BS32_LABEL = 0x47;           // BS_LABEL_BYTES
constexpr u32 BS32_FS_TYPE = 0x52;         // BS_FS_TYPE_BYTES

// NTFS: the block after the shared parameter block.
constexpr u32 BSN_MARKER = 0x24;              // u32, NTFS_BOOT_MARKER
constexpr u32 BSN_TOTAL_SECTORS = 0x28;       // u64, the backup boot sector not counted
constexpr u32 BSN_MFT_CLUSTER = 0x30;         // u64
constexpr u32 BSN_MFT_MIRROR_CLUSTER = 0x38;  // u64
constexpr u32 BSN_CLUSTERS_PER_RECORD = 0x40; // signed byte: clusters, or 2^-n bytes
constexpr u32 BSN_CLUSTERS_PER_INDEX = 0x44;  // the same for index buffers
constexpr u32 BSN_SERIAL = 0x48;              // u64

// The jump instructions a boot sector opens with.
constexpr u8 BS_JUMP_SHORT = 0xEB;
constexpr u8 BS_JUMP_NEAR = 0xE9;
constexpr u8 BS_NOP = 0x90;
constexpr u32 BS_LABEL_BYTES = 11;
constexpr u32 BS_FS_TYPE_BYTES = 8;
constexpr u8 BS_EXTENDED_SIGNATURE = 0x29;
constexpr char NTFS_OEM_NAME[] = "NTFS    ";
constexpr u32 NTFS_BOOT_MARKER = 0x00800080;
// The FATs that formatters write by default and that a boot sector made from
// the other evidence of a volume states; a boot sector may state from one
// (mkfs.fat -f 1) to MAX_FAT_COPIES.
constexpr u8 FAT_COPIES = 2;
constexpr u8 MAX_FAT_COPIES = 4;
// The sizes of sector a FAT boot sector may state (BS_BYTES_PER_SECTOR): 512
// up to this, powers of two.
constexpr u32 MAX_FAT_SECTOR_BYTES = 4096;
constexpr bool isFatSectorSize(u32 bytes) {
    return bytes >= SECTOR_BYTES && bytes <= MAX_FAT_SECTOR_BYTES && (bytes & (bytes - 1)) == 0;
}
// Where formatters put the FAT32 information sector and the backup boot
// sector, in the volume's own sectors.
constexpr u32 FAT32_FSINFO_SECTOR = 1;
constexpr u32 FAT32_BACKUP_SECTOR = 6;
constexpr u8 MEDIA_FIXED = 0xF8;
constexpr u8 MEDIA_FLOPPY = 0xF0;
// FAT32 flags: bit 7 set when only one FAT is active, the low four bits which.
constexpr u16 FAT32_NOT_MIRRORED = 0x80;
constexpr u16 FAT32_ACTIVE_MASK = 0x0F;

// ---- FAT32 information sector ----

// The cluster where the search for a free cluster starts; all ones: unknown.
constexpr u32 FSINFO_NEXT_FREE = 0x1EC; // u32

// ---- FAT entries ----

// The bits of a FAT32 entry that number clusters; the top four are reserved.
constexpr u32 FAT32_ENTRY_MASK = 0x0FFFFFFF;
// The end-of-chain mark each width writes.
constexpr u32 FAT12_END = 0xFFF;
constexpr u32 FAT16_END = 0xFFFF;
constexpr u32 FAT32_END = 0x0FFFFFFF;

// ---- Directory entries ----

constexpr u32 DIR_ENTRY_BYTES = 32;
constexpr u32 DIR_ENTRIES_PER_SECTOR = 16;

// Short entry fields.
constexpr u32 DE_NAME = 0;      // DE_NAME_BYTES, blank-padded
constexpr u32 DE_EXTENSION = 8; // DE_EXTENSION_BYTES, blank-padded
constexpr u32 DE_NAME_BYTES = 8;
constexpr u32 DE_EXTENSION_BYTES = 3;
constexpr u32 DE_ATTRIBUTES = 11;
constexpr u32 DE_CASE = 12; // lower-case flags of the name and extension
constexpr u32 DE_CREATION_TENTHS = 13;
constexpr u32 DE_CREATION_TIME = 14;
constexpr u32 DE_CREATION_DATE = 16;
constexpr u32 DE_ACCESS_DATE = 18;
constexpr u32 DE_CLUSTER_HIGH = 20;
constexpr u32 DE_WRITE_TIME = 22; // a DOS time
constexpr u32 DE_WRITE_DATE = 24; // a DOS date
constexpr u32 DE_CLUSTER_LOW = 26;
constexpr u32 DE_SIZE = 28;
constexpr u32 SHORT_NAME_BYTES = 11;

// Long-name entry fields.
constexpr u32 LFN_ORDER = 0;
constexpr u32 LFN_TYPE = 12;
constexpr u32 LFN_CHECKSUM = 13;
constexpr u32 LFN_UNITS_PER_ENTRY = 13;
// Where its 13 UTF-16 units lie.
constexpr u32 LFN_UNIT_OFFSETS[LFN_UNITS_PER_ENTRY] = {1,  3,  5,  7,  9,  14, 16,
                                                       18, 20, 22, 24, 28, 30};
// What fills a long-name entry's units after the name's end.
constexpr u16 LFN_PADDING = 0xFFFF;
constexpr u8 LFN_LAST_ENTRY = 0x40;
constexpr u8 LFN_SEQUENCE_MASK = 0x3F;

// Attributes.
constexpr u8 ATTR_READ_ONLY = 0x01;
constexpr u8 ATTR_HIDDEN = 0x02;
constexpr u8 ATTR_SYSTEM = 0x04;
constexpr u8 ATTR_VOLUME_LABEL = 0x08;
constexpr u8 ATTR_DIRECTORY = 0x10;
constexpr u8 ATTR_ARCHIVE = 0x20;
constexpr u8 ATTR_LONG_NAME = 0x0F;
constexpr u8 ATTR_MUST_BE_CLEAR = 0xC0;

// The first name byte.
constexpr u8 ENTRY_FREE = 0x00;
constexpr u8 ENTRY_DELETED = 0xE5;
// Stands for a first character 0xE5, which would read as the deleted mark.
constexpr u8 ENTRY_E5_ESCAPE = 0x05;

// Lower-case flags in DE_CASE: the name is shown in lower case though stored in
// upper case, as systems since the first long-name ones write names like
// "readme.txt" without a long name.
constexpr u8 CASE_LOWER_BASE = 0x08;
constexpr u8 CASE_LOWER_EXTENSION = 0x10;

// The parts of a DOS time (hours 11-15, minutes 5-10, two-second count 0-4) and
// of a DOS date (years since 1980 9-15, month 5-8, day 0-4).
constexpr u32 dosHours(u16 time) {
    return time >> 11;
}
constexpr u32 dosMinutes(u16 time) {
    return (time >> 5) & 0x3F;
}
constexpr u32 dosTwoSeconds(u16 time) {
    return time & 0x1F;
}
constexpr u32 dosYear(u16 date) {
    return 1980 + (date >> 9);
}
constexpr u32 dosMonth(u16 date) {
    return (date >> 5) & 0x0F;
}
constexpr u32 dosDay(u16 date) {
    return date & 0x1F;
}
