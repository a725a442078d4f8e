#include "fs/StructureChecks.h"

#include "core/Intl.h"
#include "fs/FatLayout.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

// The types whose entries the partition-table test checks: FAT of every
// width (0x0E is what partitioners write for FAT16 today; 0x11 to 0x1E hide
// the FAT types), NTFS and the extended partitions. Growing the list lets more
// random sectors pass as tables: only types a FAT volume is kept under are in.
constexpr u8 KNOWN_PARTITION_TYPES[] = {0x01, 0x04, 0x05, 0x06, 0x07, 0x0B, 0x0C, 0x0E, 0x0F,
                                        0x11, 0x14, 0x16, 0x17, 0x1B, 0x1C, 0x1E, 0x86};

struct PartitionTypeRow {
    u8 type;
    const char* name;
};

// Searched from the top; the first row with the type wins.
constexpr PartitionTypeRow PARTITION_TYPE_NAMES[] = {
    {0x00, "Unused"}, {0x01, "FAT 12"}, {0x02, "XenixR"}, {0x03, "XenixU"}, {0x04, "FAT 16"},
    {0x05, "Extend"}, {0x06, "BigDOS"}, {0x07, "NTFS"},   {0x08, "AIXbt"},  {0x09, "AIXdt"},
    {0x0A, "OS/2BM"}, {0x0B, "FAT 32"}, {0x0C, "FAT32X"}, {0x0E, "FAT16X"}, {0x0F, "Win95X"},
    {0x10, "OPUS"},   {0x11, "FAT12h"}, {0x12, "Compaq"}, {0x14, "FAT16h"}, {0x16, "FAT16h"},
    {0x17, "NTFSh"},  {0x18, "AstWin"}, {0x1B, "FAT32h"}, {0x1C, "FAT32h"}, {0x1E, "FAT16h"},
    {0x24, "NecDOS"}, {0x3C, "PQrcv"},  {0x40, "Venix"},  {0x41, "DR_Mnx"}, {0x42, "DR_SFS"},
    {0x43, "DR_Lin"}, {0x50, "DskMng"}, {0x51, "Nvl1"},   {0x52, "CP/M"},   {0x53, "DMAux3"},
    {0x54, "DM6"},    {0x55, "EzDrv"},  {0x56, "GldnBw"}, {0x5C, "Priam"},  {0x61, "SpdStr"},
    {0x63, "HURD"},   {0x64, "Nvl286"}, {0x65, "Nvl386"}, {0x75, "PC/IX"},  {0x77, "QNX4.x"},
    {0x78, "QNX4x2"}, {0x79, "QNX4x3"}, {0x80, "Mnx14a"}, {0x81, "MnxOld"}, {0x82, "LinSwp"},
    {0x83, "Linux"},  {0x84, "OS/2h"},  {0x85, "LinExt"}, {0x86, "NTFSv"},  {0x87, "NTFSV"},
    {0x93, "Ameoba"}, {0x94, "AmbBBT"}, {0xA0, "IBMPad"}, {0xA5, "BSD386"}, {0xA6, "OpnBSD"},
    {0xA7, "NeXT"},   {0xB7, "BSDI"},   {0xB8, "BSDIsw"}, {0xC1, "DRDOS1"}, {0xC4, "DRDOS2"},
    {0xC6, "DRDOS3"}, {0xC7, "Syrinx"}, {0xDB, "CP/M"},   {0xE1, "SpdStr"}, {0xE3, "DOS RO"},
    {0xE4, "SpdS16"}, {0xEB, "BeOS"},   {0xF1, "SpdStr"}, {0xF2, "DOS3.3"}, {0xF4, "SpdStr"},
    {0xFE, "SpdStr"}, {0xFF, "XnxBBT"},
};

ConstArray sectorView(const u8* sector) {
    return ConstArray(sector, SECTOR_BYTES);
}

ClusterType classifyWidened(FatType width, u32 value) {
    if (value == 0)
        return FREE_CLUSTER;
    if (value == 1)
        return NOT_CLUSTER;
    if (width != FAT12 && width != FAT16 && width != FAT32)
        return NOT_CLUSTER;
    u32 x = widenedFatEntry(width, value);
    if (x < 0xFFFFFFF0u)
        return NEXT_CLUSTER;
    if (x <= 0xFFFFFFF6u)
        return RESERVED_CLUSTER;
    if (x == 0xFFFFFFF7u)
        return BAD_CLUSTER;
    return EOF_CLUSTER;
}

} // namespace

u32 fatEntriesPerSector(FatType type) {
    switch (type) {
    case FAT12:
        return FAT12_ENTRIES_PER_SECTOR;
    case FAT16:
        return FAT16_ENTRIES_PER_SECTOR;
    case FAT32:
        return FAT32_ENTRIES_PER_SECTOR;
    default:
        return 0;
    }
}

bool isKnownPartitionType(u8 type) {
    return std::find(std::begin(KNOWN_PARTITION_TYPES), std::end(KNOWN_PARTITION_TYPES), type) !=
           std::end(KNOWN_PARTITION_TYPES);
}

bool isValidPartitionEntry(const u8* entry) {
    ConstArray e(entry, PARTITION_ENTRY_BYTES);
    u8 boot = e.getU8(PE_BOOT_INDICATOR);
    if (boot != 0x00 && boot != 0x80)
        return false;
    if (e.getU8(PE_TYPE) == 0)
        return true;
    return e.getLE32(PE_START_LBA) != 0 && e.getLE32(PE_SECTOR_COUNT) != 0;
}

bool isValidMbr(const u8* sector) {
    ConstArray s = sectorView(sector);
    if (s.getLE16(SECTOR_SIGNATURE_OFFSET) != SECTOR_SIGNATURE)
        return false;
    unsigned found = 0;
    unsigned empty = 0;
    for (u32 i = 0; i < PARTITION_ENTRY_COUNT; ++i) {
        ConstArray entry(s, PARTITION_TABLE_OFFSET + i * PARTITION_ENTRY_BYTES,
                         PARTITION_ENTRY_BYTES);
        u8 type = entry.getU8(PE_TYPE);
        if (type == 0) {
            ++empty;
        } else if (isKnownPartitionType(type)) {
            if (!isValidPartitionEntry(entry.data()))
                return false;
            ++found;
        }
        // Entries of other types are passed over: neither tested nor counted.
    }
    return found != 0 && empty != PARTITION_ENTRY_COUNT;
}

bool isExtendedPartitionType(u8 type) {
    return type == 0x05 || type == 0x0F;
}

std::string partitionTypeName(u8 type) {
    for (const PartitionTypeRow& row : PARTITION_TYPE_NAMES) {
        if (row.type == type)
            return row.name;
    }
    char text[8];
    std::snprintf(text, sizeof text, "(%02Xh)", type);
    return text;
}

u32 getFatEntry(FatType type, u32 index, ConstArray table, u32 halfByteShift) {
    switch (type) {
    case FAT16:
        return table.getLE16(index * 2);
    case FAT32:
        return table.getLE32(index * 4) & FAT32_ENTRY_MASK;
    case FAT12: {
        u64 p = 3ull * index + halfByteShift;
        u32 b = static_cast<u32>(p / 2);
        table.check(b, 2);
        u32 lo = table.getU8(b);
        u32 hi = table.getU8(b + 1);
        if (p & 1)
            return (lo >> 4) + hi * 16;
        return lo + (hi & 0x0F) * 256;
    }
    default:
        return 0;
    }
}

void setFatEntry(FatType type, u32 index, Array table, u32 value, u32 halfByteShift) {
    switch (type) {
    case FAT16:
        table.setLE16(index * 2, static_cast<u16>(value));
        break;
    case FAT32: {
        u32 old = table.getLE32(index * 4);
        table.setLE32(index * 4, (old & ~FAT32_ENTRY_MASK) | (value & FAT32_ENTRY_MASK));
        break;
    }
    case FAT12: {
        u64 p = 3ull * index + halfByteShift;
        u32 b = static_cast<u32>(p / 2);
        table.check(b, 2);
        if (p & 1) {
            table.setU8(b, static_cast<u8>(((value & 0x0F) << 4) | (table.getU8(b) & 0x0F)));
            table.setU8(b + 1, static_cast<u8>(value >> 4));
        } else {
            table.setU8(b, static_cast<u8>(value));
            table.setU8(b + 1,
                        static_cast<u8>((table.getU8(b + 1) & 0xF0) | ((value >> 8) & 0x0F)));
        }
        break;
    }
    default:
        break;
    }
}

u32 widenedFatEntry(FatType width, u32 value) {
    switch (width) {
    case FAT12:
        return value | 0xFFFFF000u;
    case FAT16:
        return value | 0xFFFF0000u;
    default:
        return value | ~FAT32_ENTRY_MASK;
    }
}

ClusterType classifyFatEntry(FatType width, u32 value) {
    if (value == 2)
        return NOT_CLUSTER;
    return classifyWidened(width, value);
}

ClusterType classifyChainEntry(FatType width, u32 value) {
    return classifyWidened(width, value);
}

FatType fatEntryWidthOf(FatType type) {
    return type == FAT12 || type == FAT16 || type == FAT32 ? type : FAT_NONE;
}

std::string fatEntryText(FatType type, u32 value) {
    switch (classifyFatEntry(fatEntryWidthOf(type), value)) {
    case FREE_CLUSTER:
        return _("FREE");
    case RESERVED_CLUSTER:
        return _("RSRV");
    case BAD_CLUSTER:
        return _("BAD");
    case EOF_CLUSTER:
        return _("EOF");
    default:
        return std::to_string(value);
    }
}

const char* clusterTypeName(u32 type) {
    switch (type) {
    case NOT_CLUSTER:
        return N_("NOT_CLUSTER");
    case FREE_CLUSTER:
        return N_("FREE_CLUSTER");
    case RESERVED_CLUSTER:
        return N_("RESERVED_CLUSTER");
    case BAD_CLUSTER:
        return N_("BAD_CLUSTER");
    case NEXT_CLUSTER:
        return N_("NEXT_CLUSTER");
    case EOF_CLUSTER:
        return N_("EOF_CLUSTER");
    default:
        return "";
    }
}

FatType fatTypeOfVolume(bool rootInClusters, u64 clusters) {
    if (rootInClusters)
        return FAT32;
    return clusters <= maxClusterCount(FAT12) ? FAT12 : FAT16;
}

FatType fatTypeBySectorsPerFat(u32 sectorsPerFAT) {
    if (sectorsPerFAT >= 1 && sectorsPerFAT <= 12)
        return FAT12;
    if (sectorsPerFAT >= 16 && sectorsPerFAT <= 256)
        return FAT16;
    if (sectorsPerFAT >= 512 && sectorsPerFAT <= 0x200000)
        return FAT32;
    return FAT_NONE;
}

FatType fatTypeByClusterCount(u32 clusters) {
    if (clusters <= maxClusterCount(FAT12))
        return FAT12;
    if (clusters <= maxClusterCount(FAT16))
        return FAT16;
    if (clusters <= maxClusterCount(FAT32))
        return FAT32;
    return FAT_NONE;
}

u32 maxClusterCount(FatType type) {
    switch (type) {
    case FAT12:
        return 4084;
    case FAT16:
        return 65524;
    case FAT32:
        return 0x0FFFFFF5;
    default:
        return 0;
    }
}

u64 fatEntryCount(FatType type, u64 sectorsPerFAT) {
    switch (type) {
    case FAT12:
        return sectorsPerFAT * SECTOR_BYTES * 2 / 3;
    case FAT16:
        return sectorsPerFAT * (SECTOR_BYTES / 2);
    case FAT32:
        return sectorsPerFAT * (SECTOR_BYTES / 4);
    default:
        return 0;
    }
}

bool isValidSectorsPerCluster(u32 value) {
    return value != 0 && value <= 128 && (value & (value - 1)) == 0;
}

bool isFatStartSector(const u8* sector, FatType type) {
    ConstArray s = sectorView(sector);
    u32 first = s.getLE32(0);
    switch (type) {
    case FAT12: {
        u32 v = first & 0x00FFFFFFu;
        return v == 0xFFFFF8u || v == 0xFFFFF0u;
    }
    case FAT16: {
        u32 v = first & 0x3FFFFFFFu;
        return v == 0x3FFFFFF8u || v == 0x3FFFFFF0u;
    }
    case FAT32: {
        u32 v = first & FAT32_ENTRY_MASK;
        return (v == 0x0FFFFFF8u || v == 0x0FFFFFF0u) &&
               (s.getLE32(4) & 0x03FFFFFFu) == 0x03FFFFFFu;
    }
    default:
        return false;
    }
}

bool isPlausibleFatSector(FatType type, const u8* sector) {
    u32 n = fatEntriesPerSector(type);
    if (n == 0)
        return false;
    ConstArray s = sectorView(sector);
    // At most n - 2 links; two entries linking to one cluster make the sector
    // implausible.
    u32 links[FAT12_ENTRIES_PER_SECTOR];
    u32 linkCount = 0;
    for (u32 i = 2; i < n; ++i) {
        u32 v = getFatEntry(type, i, s, 0);
        ClusterType c = classifyFatEntry(fatEntryWidthOf(type), v);
        if (c == NOT_CLUSTER)
            return false;
        if (c == NEXT_CLUSTER) {
            if (std::find(links, links + linkCount, v) != links + linkCount)
                return false;
            links[linkCount++] = v;
        }
    }
    return true;
}

bool looksLikeFat12Start(const u8* sector) {
    return isFatStartSector(sector, FAT12) && isPlausibleFatSector(FAT12, sector);
}

bool looksLikeFat16Start(const u8* sector) {
    return isFatStartSector(sector, FAT16) && isPlausibleFatSector(FAT16, sector);
}

bool looksLikeFat32Start(const u8* sector) {
    return isFatStartSector(sector, FAT32) && isPlausibleFatSector(FAT32, sector);
}

namespace {

// How many entries of the sector (after the first two) read, at one width, as
// what a FAT seldom holds: a link to another cluster than the next one (files
// are mostly written in one piece) or a reserved value.
u32 oddEntries(FatType type, const u8* sector) {
    const ConstArray s = sectorView(sector);
    u32 odd = 0;
    for (u32 i = 2; i < fatEntriesPerSector(type); ++i) {
        const u32 v = getFatEntry(type, i, s, 0);
        const ClusterType c = classifyFatEntry(fatEntryWidthOf(type), v);
        odd += (c == NEXT_CLUSTER && v != i + 1) || c == RESERVED_CLUSTER;
    }
    return odd;
}

} // namespace

FatType leastOddFatWidth(const u8* sector, const bool widths[4], FatType preferred) {
    FatType best = FAT_NONE;
    u64 bestOdd = 0;
    u64 bestRead = 1;
    for (FatType t : {FAT12, FAT16, FAT32}) {
        if (!widths[t] || !isFatStartSector(sector, t))
            continue;
        const u64 odd = oddEntries(t, sector);
        const u64 read = fatEntriesPerSector(t) - 2;
        // odd / read against bestOdd / bestRead, in whole numbers.
        const u64 lhs = odd * bestRead;
        const u64 rhs = bestOdd * read;
        if (best == FAT_NONE || lhs < rhs || (lhs == rhs && t == preferred)) {
            best = t;
            bestOdd = odd;
            bestRead = read;
        }
    }
    return best;
}

bool guessFatTypeOfSector(const u8* sector, FatType& out) {
    bool f16 = looksLikeFat16Start(sector);
    bool f32 = looksLikeFat32Start(sector);
    // A FAT12 whose cluster 2 ends at once (mkfs.fat's FAT12 with a file or a
    // folder) opens with the four bytes of a FAT16: there the width that reads
    // less odd wins, a tie staying FAT16.
    const bool fat12Or16[4] = {false, true, true, false};
    if (f16 && !f32 && looksLikeFat12Start(sector) &&
        leastOddFatWidth(sector, fat12Or16, FAT16) == FAT12)
        f16 = false;
    if (f16 && f32)
        out = FAT16_32;
    else if (f16)
        out = FAT16;
    else if (f32)
        out = FAT32;
    else if (looksLikeFat12Start(sector))
        out = FAT12;
    else
        return false;
    return true;
}

bool isSpacePaddedName(const u8* bytes, u32 n) {
    bool blankSeen = false;
    for (u32 i = 0; i < n; ++i) {
        u8 c = bytes[i];
        if (c == ' ') {
            blankSeen = true;
        } else if (std::isalnum(c)) {
            if (blankSeen)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

void writeFsTypeName(std::ostream& os, FsKind kind, FatType fatType, u8 partitionType) {
    if (kind == FS_FAT) {
        switch (fatType) {
        case FAT12:
            os << "FAT12";
            break;
        case FAT16:
            os << "FAT16";
            break;
        case FAT32:
            os << "FAT32";
            break;
        case FAT16_32:
            os << "FAT16_32";
            break;
        default:
            os << "FATXX";
            break;
        }
    } else if (kind == FS_NTFS) {
        os << "NTFS";
    } else {
        os << partitionTypeName(partitionType);
    }
}
