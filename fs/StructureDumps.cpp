#include "fs/StructureDumps.h"

#include "core/Array.h"
#include "core/Intl.h"
#include "core/Text.h"
#include "devices/DriveGeometry.h"
#include "devices/Driver.h"
#include "fs/DirectoryEntry.h"
#include "fs/FatLayout.h"
#include "fs/Params.h"
#include "fs/StructureChecks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* PARTITION_HEADER =
    N_("-Boot-System---Start CHS----Start LBA----Finish CHS-----Sectors---Size--");
constexpr const char* DIRECTORY_HEADER =
    N_("--Name----Ext---Type-----Date-------Time------Size-------Cluster-----Attr-");

// A directory listing stops once this many rows are written (checked after
// each whole sector, so at most 16 sectors are shown).
constexpr u32 DIRECTORY_ROW_LIMIT = 250;

// Entries per row of a FAT grid and the width of one entry.
constexpr u32 FAT16_ROW_ENTRIES = 12;
constexpr u32 FAT16_COLUMN = 6;
constexpr u32 FAT32_ROW_ENTRIES = 7;
constexpr u32 FAT32_COLUMN = 10;

// Characters, not bytes: names are UTF-8, and a column holds one character
// however many bytes it takes.
u32 characterCount(const std::string& text) {
    return static_cast<u32>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string leftAligned(std::string text, u32 width) {
    u32 n = characterCount(text);
    if (n < width)
        text.append(width - n, ' ');
    return text;
}

std::string rightAligned(const std::string& text, u32 width) {
    u32 n = characterCount(text);
    return n < width ? std::string(width - n, ' ') + text : text;
}

std::string decimal(u64 value) {
    return std::to_string(value);
}

std::string hex(u64 value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string zeroFilled(u32 value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*u", digits, value);
    return text;
}

// A control character in a name would break the row it stands in.
std::string withoutControls(std::string text) {
    for (char& c : text) {
        auto b = static_cast<u8>(c);
        if (b < 0x20 || b == 0x7F)
            c = '.';
    }
    return text;
}

std::string printable(const u8* bytes, u32 n) {
    std::string text;
    for (u32 i = 0; i < n; ++i) {
        // ASCII only, whatever the locale: the text ends up in UTF-8 widgets.
        bool shown = bytes[i] >= 0x20 && bytes[i] < 0x7F;
        text += shown ? static_cast<char>(bytes[i]) : '.';
    }
    return text;
}

// One sector into a buffer of at least 512 bytes, whatever the driver's
// sector size.
bool readOneSector(std::ostream& os, u32 lba, Driver& driver, std::vector<u8>& buffer) {
    buffer.assign(std::max<u64>(SECTOR_BYTES, driver.getSectorSize()), 0);
    return readDumpSectors(os, lba, 1, buffer.data(), driver);
}

// ---- Partition table ----

// "(cyl;head;sec) " from the three CHS bytes of an entry.
std::string chsText(const ConstArray& entry, u32 at, u32 cylinderWidth) {
    u32 head = entry.getU8(at);
    u32 packed = entry.getU8(at + 1);
    u32 cylinder = entry.getU8(at + 2) + (packed & 0xC0) * 4;
    return "(" + rightAligned(decimal(cylinder), cylinderWidth) + ";" +
           rightAligned(decimal(head), 3) + ";" + rightAligned(decimal(packed & 0x3F), 2) + ") ";
}

// The header, the four rows and the signature line of one image.
void writePartitionTableBody(std::ostream& os, const u8* sector) {
    os << _(PARTITION_HEADER) << '\n';
    for (u32 i = 0; i < PARTITION_ENTRY_COUNT; ++i) {
        writePartitionEntryRow(os, static_cast<int>(i),
                               sector + PARTITION_TABLE_OFFSET + i * PARTITION_ENTRY_BYTES);
        os << '\n';
    }
    char signature[8];
    std::snprintf(signature, sizeof signature, "%04x",
                  ConstArray(sector, SECTOR_BYTES).getLE16(SECTOR_SIGNATURE_OFFSET));
    os << _("Sector Signature") << ": " << signature << "h\n";
}

// ---- Boot sector ----

enum class Shape : u8 {
    U8,
    U16,
    U32,
    U64,
    HEX_BYTE, // two columns, then "h "
    HEX,      // a 16- or 32-bit word (length 2 or 4), then "h"
    TEXT,     // `length` bytes, printable, in single quotes
    JUMP,     // three bytes "ebh 52h 90h"
    MIRRORED, // FAT32 flags: 1 while the FATs are mirrored
    ACTIVE,   // FAT32 flags: the active FAT
};

struct BootField {
    const char* label;
    u32 offset;
    Shape shape;
    u32 length;
};

constexpr BootField COMMON_FIELDS[] = {
    {N_("Jump Code"), BS_JUMP, Shape::JUMP, BS_JUMP_BYTES},
    {N_("OEM Name"), BS_OEM_NAME, Shape::TEXT, BS_OEM_NAME_BYTES},
    {N_("Sector Size"), BS_BYTES_PER_SECTOR, Shape::U16, 2},
    {N_("Sectors Per Cluster"), BS_SECTORS_PER_CLUSTER, Shape::U8, 1},
    {N_("Reserved Sectors"), BS_RESERVED_SECTORS, Shape::U16, 2},
    {N_("Number of FATs"), BS_FAT_COUNT, Shape::U8, 1},
    {N_("Root Entries Count"), BS_ROOT_ENTRIES, Shape::U16, 2},
    {N_("Total Sectors (16)"), BS_TOTAL_SECTORS_16, Shape::U16, 2},
    {N_("Media Descriptor"), BS_MEDIA, Shape::HEX_BYTE, 1},
    {N_("Sectors Per FAT"), BS_SECTORS_PER_FAT_16, Shape::U16, 2},
    {N_("Sectors Per Track"), BS_SECTORS_PER_TRACK, Shape::U16, 2},
    {N_("Number of Heads"), BS_HEADS, Shape::U16, 2},
    {N_("Hidden Sectors"), BS_HIDDEN_SECTORS, Shape::U32, 4},
    {N_("Total Sectors (32)"), BS_TOTAL_SECTORS_32, Shape::U32, 4},
};

constexpr BootField SIGNATURE_FIELD = {N_("Sector Signature"), SECTOR_SIGNATURE_OFFSET, Shape::HEX,
                                       2};

constexpr BootField NTFS_FIELDS[] = {
    {N_("Flags (NTFS)"), BSN_MARKER, Shape::HEX, 4},
    // The whole 64-bit values: a volume past 2 TiB must not show a wrapped size.
    {N_("Total Sectors (NTFS)"), BSN_TOTAL_SECTORS, Shape::U64, 8},
    {N_("$MFT Start Cluster (NTFS)"), BSN_MFT_CLUSTER, Shape::U64, 8},
    {N_("$MFT Mirror Start Cluster (NTFS)"), BSN_MFT_MIRROR_CLUSTER, Shape::U64, 8},
    {N_("File Record Size (NTFS)"), BSN_CLUSTERS_PER_RECORD, Shape::U32, 4},
    {N_("Index Buffer Size (NTFS)"), BSN_CLUSTERS_PER_INDEX, Shape::U32, 4},
    {N_("Serial Number (NTFS)"), BSN_SERIAL, Shape::U32, 4},
    SIGNATURE_FIELD,
};

constexpr BootField FAT16_FIELDS[] = {
    {N_("Drive Number (FAT16)"), BS16_DRIVE_NUMBER, Shape::HEX_BYTE, 1},
    {N_("Extended Signature (FAT16)"), BS16_SIGNATURE, Shape::HEX_BYTE, 1},
    {N_("Serial Number (FAT16)"), BS16_SERIAL, Shape::U32, 4},
    {N_("Volume Label (FAT16)"), BS16_LABEL, Shape::TEXT, BS_LABEL_BYTES},
    {N_("File System (FAT16)"), BS16_FS_TYPE, Shape::TEXT, BS_FS_TYPE_BYTES},
};

constexpr BootField FAT32_FIELDS[] = {
    {N_("Sectors Per FAT (FAT32)"), BS32_SECTORS_PER_FAT, Shape::U32, 4},
    {N_("Mirrored FATs (FAT32)"), BS32_FLAGS, Shape::MIRRORED, 2},
    {N_("Active Mirror (FAT32)"), BS32_FLAGS, Shape::ACTIVE, 2},
    {N_("FS Ver. (major) (FAT32)"), BS32_VERSION + 1, Shape::U8, 1},
    {N_("FS Ver. (minor) (FAT32)"), BS32_VERSION, Shape::U8, 1},
    {N_("Root Cluster (FAT32)"), BS32_ROOT_CLUSTER, Shape::U32, 4},
    {N_("Info Sector (FAT32)"), BS32_FSINFO_SECTOR, Shape::U16, 2},
    {N_("Backup Sector (FAT32)"), BS32_BACKUP_SECTOR, Shape::U16, 2},
    {N_("Drive Number (FAT32)"), BS32_DRIVE_NUMBER, Shape::HEX_BYTE, 1},
    {N_("Extended Signature (FAT32)"), BS32_SIGNATURE, Shape::HEX_BYTE, 1},
    {N_("Serial Number (FAT32)"), BS32_SERIAL, Shape::U32, 4},
    {N_("Volume Label (FAT32)"), BS32_LABEL, Shape::TEXT, BS_LABEL_BYTES},
    {N_("File System Type (FAT32)"), BS32_FS_TYPE, Shape::TEXT, BS_FS_TYPE_BYTES},
};

// The value of a field as the dump writes it; the "Changed from" comparison
// uses the same text, so a value and its old value always read alike.
std::string fieldText(const BootField& f, const ConstArray& s) {
    switch (f.shape) {
    case Shape::U8:
        return decimal(s.getU8(f.offset));
    case Shape::U16:
        return decimal(s.getLE16(f.offset));
    case Shape::U32:
        return decimal(s.getLE32(f.offset));
    case Shape::U64:
        return decimal(s.getLE64(f.offset));
    case Shape::HEX_BYTE:
        return rightAligned(hex(s.getU8(f.offset)), 2) + "h ";
    case Shape::HEX:
        return hex(f.length == 2 ? s.getLE16(f.offset) : s.getLE32(f.offset)) + "h";
    case Shape::TEXT:
        s.check(f.offset, f.length);
        return "'" + printable(s.data() + f.offset, f.length) + "'";
    case Shape::JUMP: {
        std::string text;
        for (u32 i = 0; i < f.length; ++i) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "%s%02xh", i ? " " : "", s.getU8(f.offset + i));
            text += byte;
        }
        return text;
    }
    case Shape::MIRRORED:
        return (s.getLE16(f.offset) & FAT32_NOT_MIRRORED) ? "0" : "1";
    case Shape::ACTIVE:
        return decimal(s.getLE16(f.offset) & FAT32_ACTIVE_MASK);
    }
    return std::string();
}

void writeField(std::ostream& os, const BootField& f, const ConstArray& s, const ConstArray& old) {
    std::string value = fieldText(f, s);
    os << _(f.label) << ": " << value;
    std::string was = fieldText(f, old);
    if (was != value)
        os << " (" << _("Changed from") << ' ' << was << ')';
    os << '\n';
}

template <std::size_t N>
void writeFields(std::ostream& os, const BootField (&fields)[N], const ConstArray& s,
                 const ConstArray& old) {
    for (const BootField& f : fields)
        writeField(os, f, s, old);
}

// ---- FAT sector ----

// ---- Directory ----

std::string dateText(u16 date) {
    return zeroFilled(dosMonth(date), 2) + ":" + zeroFilled(dosDay(date), 2) + ":" +
           zeroFilled(dosYear(date), 4);
}

std::string timeText(u16 time) {
    return zeroFilled(dosHours(time), 2) + ":" + zeroFilled(dosMinutes(time), 2) + ":" +
           zeroFilled(2 * dosTwoSeconds(time), 2);
}

bool startsAnotherDirectory(const u8* sector) {
    return isDotEntry(sector) && isDotDotEntry(sector + DIR_ENTRY_BYTES);
}

} // namespace

bool readDumpSectors(std::ostream& os, u32 lba, u32 count, u8* buffer, Driver& driver) {
    if (driver.readSectors(lba, count, buffer))
        return true;
    os << _("Cannot read LBA") << ' ' << decimal(lba) << " (" << decimal(count) << ' '
       << ngettext_("sector", "sectors", count) << ")\n";
    return false;
}

const u8* findNewSectorImage(u32 lba, const SectorChanges& changes) {
    auto it = std::find_if(changes.begin(), changes.end(), SectorLbaEquals{lba});
    return it == changes.end() ? nullptr : it->newImage.data();
}

const u8* findOldSectorImage(u32 lba, const SectorChanges& changes) {
    auto it = std::find_if(changes.begin(), changes.end(), SectorLbaEquals{lba});
    return it == changes.end() ? nullptr : it->oldImage.data();
}

void writeLbaAndChs(std::ostream& os, u32 lba, const Driver& driver) {
    ChsAddress address;
    address.lba = lba;
    lbaToChs(address, driveGeometry(driver));
    os << '(' << decimal(address.cylinder) << ';' << decimal(address.head) << ';'
       << decimal(address.sector) << ';' << _("LBA") << '=' << decimal(lba) << ')';
}

void writeAttributeFlags(std::ostream& os, u8 attributes) {
    static constexpr const char* LETTERS[] = {N_("R"), N_("H"), N_("S"), N_("V"), N_("D"), N_("A")};
    for (u32 bit = 0; bit < 6; ++bit)
        os << ((attributes >> bit) & 1 ? _(LETTERS[bit]) : "-");
}

void writePrintable(std::ostream& os, const u8* bytes, u32 n) {
    os << printable(bytes, n);
}

void writeLfnEntryName(std::ostream& os, const u8* entry, bool noPadding) {
    std::string name;
    appendLfnChars(entry, name);
    name = withoutControls(name);
    os << (noPadding ? name : leftAligned(name, LFN_UNITS_PER_ENTRY));
}

void writePartitionEntryRow(std::ostream& os, int index, const u8* entry) {
    ConstArray e(entry, PARTITION_ENTRY_BYTES);
    os << std::to_string(index) << ' ';
    u8 boot = e.getU8(PE_BOOT_INDICATOR);
    if (boot == 0x80) {
        os << _("Yes");
    } else if (boot == 0x00) {
        os << _(" No");
    } else {
        char text[8];
        std::snprintf(text, sizeof text, "%02Xh", boot);
        os << text;
    }
    os << ' ' << leftAligned(partitionTypeName(e.getU8(PE_TYPE)), 6) << ' ';
    os << chsText(e, PE_START_CHS, 4) << rightAligned(decimal(e.getLE32(PE_START_LBA)), 10) << ' ';
    u32 count = e.getLE32(PE_SECTOR_COUNT);
    os << chsText(e, PE_END_CHS, 5) << rightAligned(decimal(count), 10) << ' '
       << formatSize(static_cast<u64>(count) * SECTOR_BYTES);
}

void writeDirEntryRow(std::ostream& os, const u8* entry) {
    ConstArray e(entry, DIR_ENTRY_BYTES);
    const char marker = e.getU8(DE_NAME) == ENTRY_DELETED ? '-' : ' ';
    u32 cluster = 0;
    if (isLongNameEntry(entry)) {
        u8 order = e.getU8(LFN_ORDER);
        writeLfnEntryName(os, entry, false);
        os << "  " << marker << _("LFN ") << "   " << _("Order") << ':'
           << leftAligned(decimal(order & LFN_SEQUENCE_MASK), 2) << "    " << _("Last") << ':'
           << decimal(order >> 6) << std::string(15, ' ');
        cluster = e.getLE16(DE_CLUSTER_LOW);
    } else {
        std::string name;
        shortEntryName(entry, name, '#');
        os << leftAligned(withoutControls(name), 15) << marker
           << ((dirEntryAttributes(entry) & ATTR_DIRECTORY) ? _("Dir ") : _("File")) << "  "
           << dateText(e.getLE16(DE_WRITE_DATE)) << "  " << timeText(e.getLE16(DE_WRITE_TIME))
           << "  " << leftAligned(decimal(dirEntrySize(entry)), 10) << "  ";
        cluster = dirEntryStartCluster(entry);
    }
    os << leftAligned(decimal(cluster), 10) << "  ";
    writeAttributeFlags(os, dirEntryAttributes(entry));
}

void dumpPartitionTable(std::ostream& os, const u8* sector, u32 lba, const Driver& driver,
                        const u8* oldImage) {
    os << _("Partition Table") << ' ';
    writeLbaAndChs(os, lba, driver);
    os << '\n';
    writePartitionTableBody(os, sector);
    // The four entries and the signature lie together at the end of the sector.
    constexpr u32 TABLE_BYTES = SECTOR_BYTES - PARTITION_TABLE_OFFSET;
    if (oldImage && std::memcmp(sector + PARTITION_TABLE_OFFSET, oldImage + PARTITION_TABLE_OFFSET,
                                TABLE_BYTES) != 0) {
        os << '\n' << _("Changed from") << ":\n";
        writePartitionTableBody(os, oldImage);
    }
}

bool dumpPartitionTableAt(std::ostream& os, u32 lba, Driver& driver) {
    std::vector<u8> sector;
    if (!readOneSector(os, lba, driver, sector))
        return false;
    dumpPartitionTable(os, sector.data(), lba, driver, nullptr);
    return true;
}

void dumpBootSector(std::ostream& os, const u8* sector, u32 lba, const Driver& driver,
                    bool isBackup, const u8* oldImage) {
    BootParams params;
    const bool parsed = readBootParams(sector, params);
    const FatType fatType = params.kind == FS_FAT ? params.fat.fatType() : FAT_NONE;
    if (parsed)
        writeFsTypeName(os, params.kind, fatType, 0);
    else
        os << _("Unknown");
    os << ' ' << (isBackup ? _("Boot Sector Backup") : _("Boot Sector")) << ' ';
    writeLbaAndChs(os, lba, driver);
    os << '\n';
    if (!parsed)
        return;

    ConstArray s(sector, SECTOR_BYTES);
    ConstArray old(oldImage ? oldImage : sector, SECTOR_BYTES);
    writeFields(os, COMMON_FIELDS, s, old);
    if (params.kind == FS_NTFS) {
        writeFields(os, NTFS_FIELDS, s, old);
        return;
    }
    if (fatType == FAT16)
        writeFields(os, FAT16_FIELDS, s, old);
    else if (fatType == FAT32)
        writeFields(os, FAT32_FIELDS, s, old);
    writeField(os, SIGNATURE_FIELD, s, old);
}

bool dumpBootSectorAt(std::ostream& os, u32 lba, Driver& driver, bool isBackup) {
    std::vector<u8> sector;
    if (!readOneSector(os, lba, driver, sector))
        return false;
    dumpBootSector(os, sector.data(), lba, driver, isBackup, nullptr);
    return true;
}

bool dumpFatSector(std::ostream& os, u32 lba, Driver& driver, FatType& type) {
    std::vector<u8> sector;
    if (!readOneSector(os, lba, driver, sector))
        return false;
    if (type == FAT_NONE && !guessFatTypeOfSector(sector.data(), type)) {
        os << _("Not FAT") << '\n';
        return true;
    }
    writeFsTypeName(os, FS_FAT, type, 0);
    // FAT16_32 is shown as FAT16.
    const u32 n = fatEntriesPerSector(type == FAT16_32 ? FAT16 : type);
    if (n == 0)
        return true;
    if (type == FAT16_32) {
        os << _("(will be shown as FAT16)");
        type = FAT16;
    }
    os << ' ';
    writeLbaAndChs(os, lba, driver);
    os << '\n';

    const bool wide = type == FAT32;
    const u32 perRow = wide ? FAT32_ROW_ENTRIES : FAT16_ROW_ENTRIES;
    const u32 column = wide ? FAT32_COLUMN : FAT16_COLUMN;
    ConstArray table(sector.data(), SECTOR_BYTES);
    for (u32 i = 0; i < n; ++i) {
        os << leftAligned(fatEntryText(type, getFatEntry(type, i, table, 0)), column);
        if (i % perRow == perRow - 1)
            os << '\n';
    }
    return true;
}

bool dumpDirectorySector(std::ostream& os, u32 lba, Driver& driver) {
    std::vector<u8> sector;
    if (!readOneSector(os, lba, driver, sector))
        return false;
    bool hasDotEntries = false;
    bool lastSlotUsed = false;
    u32 dotCluster = 0;
    u32 dotDotCluster = 0;
    u32 highestCluster = 0;
    if (!analyzeDirectoryStart(sector.data(), hasDotEntries, lastSlotUsed, dotCluster,
                               dotDotCluster, highestCluster))
        return true;
    os << (hasDotEntries ? _("Directory") : _("Root Directory")) << ' ';
    writeLbaAndChs(os, lba, driver);
    os << '\n' << _(DIRECTORY_HEADER) << '\n';

    u32 rows = 0;
    for (u32 at = lba;;) {
        for (u32 i = 0; i < DIR_ENTRIES_PER_SECTOR; ++i) {
            const u8* entry = sector.data() + i * DIR_ENTRY_BYTES;
            if (entry[0] == ENTRY_FREE)
                return true;
            writeDirEntryRow(os, entry);
            os << '\n';
            ++rows;
        }
        if (rows >= DIRECTORY_ROW_LIMIT || at == UINT32_MAX)
            return true;
        ++at;
        if (!readOneSector(os, at, driver, sector) || startsAnotherDirectory(sector.data()))
            return true;
    }
}
