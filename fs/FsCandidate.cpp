#include "fs/FsCandidate.h"

#include "fs/StructureChecks.h"

namespace {

constexpr u8 TYPE_FAT12 = 0x01;
constexpr u8 TYPE_FAT16 = 0x04;
constexpr u8 TYPE_FAT16_BIG = 0x06;
constexpr u8 TYPE_NTFS = 0x07;
constexpr u8 TYPE_FAT32 = 0x0B;

// The type byte of a FAT width; 0 for anything that is no volume width.
u8 codeOfFatType(u32 type) {
    switch (type) {
    case FAT12:
        return TYPE_FAT12;
    case FAT16:
        return TYPE_FAT16;
    case FAT32:
        return TYPE_FAT32;
    default:
        return 0;
    }
}

} // namespace

u8 FsCandidate::fscode() const {
    u8 code = 0;
    if (hasPartitionEntry && partitionType != TYPE_FAT16_BIG) {
        code = partitionType;
    } else if (hasBootSector || hasBootBackup) {
        const BootParams& boot = hasBootSector ? bootSector : bootBackup;
        if (boot.kind == FS_FAT) {
            if (u8 c = codeOfFatType(fatTypeBySectorsPerFat(boot.fat.sectorsPerFAT)))
                code = c;
        } else if (boot.kind == FS_NTFS) {
            code = TYPE_NTFS;
        }
    } else if (hasFats) {
        if (u8 c = codeOfFatType(fatType))
            code = c;
    } else if (hasNtfsVolume) {
        code = TYPE_NTFS;
    }
    // Hidden and volume-set NTFS types are written back as plain NTFS.
    FsKind kind = FS_NONE;
    FatType width = FAT_NONE;
    partitionTypeToFs(code, kind, width);
    if (kind == FS_NTFS)
        code = TYPE_NTFS;
    return code;
}

void partitionTypeToFs(u8 type, FsKind& kind, FatType& fatType) {
    kind = FS_NONE;
    fatType = FAT_NONE;
    switch (type) {
    case 0x01:
        kind = FS_FAT;
        fatType = FAT12;
        break;
    case 0x04:
    case 0x06:
        kind = FS_FAT;
        fatType = FAT16;
        break;
    case 0x0B:
    case 0x0C:
        kind = FS_FAT;
        fatType = FAT32;
        break;
    case 0x07:
    case 0x17:
    case 0x86:
    case 0x87:
        kind = FS_NTFS;
        break;
    default:
        break;
    }
}
