#pragma once

// The small enumerations that the scan, the parameter records and both engines
// share. They are stored as u32 in records and saved scans, so each has a fixed
// underlying type and fixed values.

#include "core/Types.h"

// Which file system a boot sector, a candidate or a parameter set describes.
enum FsKind : u32 {
    FS_NONE = 0,
    FS_FAT = 1,
    FS_NTFS = 2,
};

// The width of a FAT. FAT16_32 marks a FAT sector that is plausible both as FAT16
// and as FAT32; it is never the width of a volume.
enum FatType : u32 {
    FAT_NONE = 0,
    FAT12 = 1,
    FAT16 = 2,
    FAT32 = 3,
    FAT16_32 = 4,
};

// The class of one FAT entry value.
enum ClusterType : u32 {
    NOT_CLUSTER = 0,
    FREE_CLUSTER = 1,
    RESERVED_CLUSTER = 2,
    BAD_CLUSTER = 3,
    NEXT_CLUSTER = 4,
    EOF_CLUSTER = 5,
};

// Every sector this layer looks at is a 512-byte image.
constexpr u32 SECTOR_BYTES = 512;
