#pragma once

// The on-disk layout of NTFS's records and attributes: every field offset, size
// and flag that the parsers, the dumps and the test image builder read or write.
// Offsets count from the start of the structure named by their prefix; the
// comment gives each field's width. Type codes and flags stay outside the
// namespace: they name values, not places.

#include "core/Types.h"

// Records are protected in units of 512 bytes whatever the disk's sector size.
constexpr u32 NTFS_RECORD_SECTOR = 512;

constexpr u32 NTFS_MAGIC_FILE = 0x454C4946; // "FILE"
constexpr u32 NTFS_MAGIC_INDX = 0x58444E49; // "INDX"

// Attribute type codes.
constexpr u32 NTFS_ATTR_STANDARD_INFORMATION = 0x10;
constexpr u32 NTFS_ATTR_ATTRIBUTE_LIST = 0x20;
constexpr u32 NTFS_ATTR_FILE_NAME = 0x30;
constexpr u32 NTFS_ATTR_VOLUME_NAME = 0x60;
constexpr u32 NTFS_ATTR_VOLUME_INFORMATION = 0x70;
constexpr u32 NTFS_ATTR_DATA = 0x80;
constexpr u32 NTFS_ATTR_INDEX_ROOT = 0x90;
constexpr u32 NTFS_ATTR_INDEX_ALLOCATION = 0xA0;
constexpr u32 NTFS_ATTR_BITMAP = 0xB0;
constexpr u32 NTFS_ATTR_END = 0xFFFFFFFF;

// Attribute header flags (ntfslayout::ATTR_FLAGS).
constexpr u16 NTFS_ATTR_FLAG_COMPRESSED = 0x0001;
constexpr u16 NTFS_ATTR_COMPRESSION_MASK = 0x00FF; // the compression method
constexpr u16 NTFS_ATTR_FLAG_ENCRYPTED = 0x4000;
constexpr u16 NTFS_ATTR_FLAG_SPARSE = 0x8000;

// FILE record flags (ntfslayout::FILE_FLAGS).
constexpr u16 NTFS_RECORD_IN_USE = 0x0001;
constexpr u16 NTFS_RECORD_DIRECTORY = 0x0002;

// DOS attributes of a $FILE_NAME (ntfslayout::FN_FLAGS) that the tree uses.
constexpr u32 NTFS_FILE_SYSTEM = 0x00000004;
constexpr u32 NTFS_FILE_DIRECTORY = 0x10000000;

// $FILE_NAME namespaces (ntfslayout::FN_NAMESPACE).
constexpr u32 NTFS_NAMESPACE_POSIX = 0;
constexpr u32 NTFS_NAMESPACE_WIN32 = 1;
constexpr u32 NTFS_NAMESPACE_DOS = 2;

// Index entry flags (ntfslayout::IE_FLAGS).
constexpr u8 NTFS_INDEX_ENTRY_SUB_NODE = 0x01;
constexpr u8 NTFS_INDEX_ENTRY_LAST = 0x02;

namespace ntfslayout {

// Every multi-sector record (FILE, INDX).
constexpr u32 REC_MAGIC = 0x00;      // u32
constexpr u32 REC_USA_OFFSET = 0x04; // u16, the update sequence array
constexpr u32 REC_USA_COUNT = 0x06;  // u16, 1 + sectors covered
constexpr u32 REC_LSN = 0x08;        // u64
constexpr u32 REC_HEADER_FIELDS_END = 0x08;

// FILE record header.
constexpr u32 FILE_SEQUENCE = 0x10;        // u16
constexpr u32 FILE_LINKS = 0x12;           // u16
constexpr u32 FILE_FIRST_ATTRIBUTE = 0x14; // u16
constexpr u32 FILE_FLAGS = 0x16;           // u16, NTFS_RECORD_*
constexpr u32 FILE_BYTES_IN_USE = 0x18;    // u32
constexpr u32 FILE_BYTES_ALLOCATED = 0x1C; // u32
constexpr u32 FILE_BASE_REFERENCE = 0x20;  // u64
constexpr u32 FILE_NEXT_INSTANCE = 0x28;   // u16
constexpr u32 FILE_RESERVED = 0x2A;        // u16, with the array at 0x30
constexpr u32 FILE_RECORD_NUMBER = 0x2C;   // u32, with the array at 0x30
constexpr u32 FILE_USA_WITH_NUMBER = 0x30; // where the array lies when the number is there

// INDX block header.
constexpr u32 INDX_VCN = 0x10;  // u64
constexpr u32 INDX_NODE = 0x18; // the index node header

// Attribute header, from the attribute's first byte.
constexpr u32 ATTR_TYPE = 0x00;             // u32
constexpr u32 ATTR_LENGTH = 0x04;           // u32
constexpr u32 ATTR_NON_RESIDENT = 0x08;     // u8
constexpr u32 ATTR_NAME_LENGTH = 0x09;      // u8, UTF-16 units
constexpr u32 ATTR_NAME_OFFSET = 0x0A;      // u16
constexpr u32 ATTR_FLAGS = 0x0C;            // u16, NTFS_ATTR_FLAG_*
constexpr u32 ATTR_INSTANCE = 0x0E;         // u16
constexpr u32 ATTR_VALUE_LENGTH = 0x10;     // u32, resident
constexpr u32 ATTR_VALUE_OFFSET = 0x14;     // u16, resident
constexpr u32 ATTR_INDEXED = 0x16;          // u8, resident
constexpr u32 ATTR_STARTING_VCN = 0x10;     // u64, non-resident
constexpr u32 ATTR_LAST_VCN = 0x18;         // u64
constexpr u32 ATTR_RUNLIST_OFFSET = 0x20;   // u16
constexpr u32 ATTR_COMPRESSION_UNIT = 0x22; // u8, log2 of clusters; 5 reserved bytes follow
constexpr u32 ATTR_ALLOCATED_SIZE = 0x28;   // u64
constexpr u32 ATTR_DATA_SIZE = 0x30;        // u64
constexpr u32 ATTR_INITIALIZED_SIZE = 0x38; // u64
constexpr u32 ATTR_COMPRESSED_SIZE = 0x40;  // u64, with a compression unit
constexpr u32 ATTR_HEADER_SIZE = 24;        // common and resident
constexpr u32 ATTR_NON_RESIDENT_HEADER_SIZE = 64;
constexpr u32 ATTR_COMPRESSED_HEADER_SIZE = 72;

// $STANDARD_INFORMATION value.
constexpr u32 SI_TIMES = 0x00;        // four u64 FILETIMEs
constexpr u32 SI_FLAGS = 0x20;        // u32, DOS attributes
constexpr u32 SI_MAX_VERSIONS = 0x24; // u32
constexpr u32 SI_VERSION = 0x28;      // u32
constexpr u32 SI_CLASS_ID = 0x2C;     // u32
constexpr u32 SI_OWNER_ID = 0x30;     // u32
constexpr u32 SI_SECURITY_ID = 0x34;  // u32
constexpr u32 SI_QUOTA = 0x38;        // u64
constexpr u32 SI_USN = 0x40;          // u64
constexpr u32 SI_LONG_SIZE = 72;      // with the owner, security and quota fields

// The second of the four times: when the data was last written.
constexpr u32 SI_MODIFICATION_TIME = SI_TIMES + 8;

// $FILE_NAME value (also the key of a folder's index entries).
constexpr u32 FN_PARENT = 0x00;            // u64 file reference
constexpr u32 FN_TIMES = 0x08;             // four u64 FILETIMEs
constexpr u32 FN_MODIFICATION_TIME = 0x10; // u64, the second of them
constexpr u32 FN_ALLOCATED_SIZE = 0x28;    // u64
constexpr u32 FN_DATA_SIZE = 0x30;         // u64
constexpr u32 FN_FLAGS = 0x38;             // u32, DOS attributes
constexpr u32 FN_NAME_LENGTH = 0x40;       // u8, UTF-16 units
constexpr u32 FN_NAMESPACE = 0x41;         // u8
constexpr u32 FN_NAME = 0x42;              // UTF-16LE
constexpr u32 TIMES_SIZE = 32;

// $ATTRIBUTE_LIST entry.
constexpr u32 AL_TYPE = 0x00;         // u32
constexpr u32 AL_LENGTH = 0x04;       // u16
constexpr u32 AL_NAME_LENGTH = 0x06;  // u8
constexpr u32 AL_NAME_OFFSET = 0x07;  // u8
constexpr u32 AL_STARTING_VCN = 0x08; // u64
constexpr u32 AL_REFERENCE = 0x10;    // u64 file reference
constexpr u32 AL_INSTANCE = 0x18;     // u16
constexpr u32 AL_MIN_LENGTH = 26;

// $VOLUME_INFORMATION value.
constexpr u32 VI_FLAGS = 0x0A; // u16, the dirty flag in its low byte

// $INDEX_ROOT value; its index node header follows at IR_NODE.
constexpr u32 IR_TYPE = 0x00;               // u32, the indexed attribute type
constexpr u32 IR_COLLATION = 0x04;          // u32
constexpr u32 IR_BLOCK_SIZE = 0x08;         // u32, bytes of an index block
constexpr u32 IR_CLUSTERS_PER_BLOCK = 0x0C; // u8
constexpr u32 IR_NODE = 0x10;

// Index node header, in the root and in every INDX block.
constexpr u32 NODE_ENTRIES_OFFSET = 0x00; // u32, from the header
constexpr u32 NODE_ENTRIES_END = 0x04;    // u32, end of the entries in use
constexpr u32 NODE_ALLOCATED_SIZE = 0x08; // u32
constexpr u32 NODE_FLAGS = 0x0C;          // u8
constexpr u32 NODE_HEADER_SIZE = 16;

// Index entry.
constexpr u32 IE_REFERENCE = 0x00;  // u64 file reference
constexpr u32 IE_LENGTH = 0x08;     // u16
constexpr u32 IE_KEY_LENGTH = 0x0A; // u16
constexpr u32 IE_FLAGS = 0x0C;      // u8, NTFS_INDEX_ENTRY_*
constexpr u32 IE_KEY = 0x10;
constexpr u32 IE_HEADER_SIZE = 16;
constexpr u32 IE_SUB_NODE_VCN_SIZE = 8; // u64 VCN in the entry's last 8 bytes

} // namespace ntfslayout
