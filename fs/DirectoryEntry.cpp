#include "fs/DirectoryEntry.h"

#include "core/Array.h"
#include "core/DateTime.h"
#include "core/NameConversions.h"
#include "fs/FsTypes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char DOT_NAME[] = ".          ";
constexpr char DOT_DOT_NAME[] = "..         ";

constexpr int SHIFT_JIS = 932;

ConstArray entryView(const u8* entry) {
    return ConstArray(entry, DIR_ENTRY_BYTES);
}

const u8* entryOf(const u8* sector, u32 index) {
    return sector + index * DIR_ENTRY_BYTES;
}

// A lead byte of a Shift-JIS double-byte character.
bool isCp932Lead(u8 c) {
    return (c >= 0x81 && c <= 0x84) || (c >= 0x87 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEA) ||
           c == 0xED || c == 0xEE || (c >= 0xFA && c <= 0xFC);
}

bool isCp932Trail(u8 c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// Pairs that code page 932 leaves unassigned.
bool isUnassignedCp932Pair(u8 lead, u8 t) {
    auto in = [t](u8 lo, u8 hi) { return t >= lo && t <= hi; };
    switch (lead) {
    case 0x81:
        return in(0xAD, 0xB7) || in(0xC0, 0xC7) || in(0xCF, 0xD9) || in(0xE9, 0xEF) ||
               in(0xF8, 0xFB);
    case 0x82:
        return t < 0x4F || in(0x59, 0x5F) || in(0x7A, 0x80) || in(0x9B, 0x9E) || t > 0xF1;
    case 0x83:
        return in(0x97, 0x9E) || in(0xB7, 0xBE) || t > 0xD6;
    case 0x84:
        return in(0x61, 0x6F) || in(0x92, 0x9E) || t > 0xBE;
    case 0x87:
        return t == 0x5E || in(0x76, 0x7D) || t > 0x9C;
    case 0x88:
        return t < 0x9F;
    case 0x98:
        return in(0x73, 0x9E);
    case 0xEA:
        return t > 0xA4;
    case 0xEE:
        return t == 0xED || t == 0xEE;
    case 0xFC:
        return t >= 0x4C;
    default:
        return false;
    }
}

// Single bytes that code page 932 does not use on their own.
bool isUnusedCp932Single(u8 c) {
    return c == 0x80 || c == 0x85 || c == 0x86 || c == 0xA0 || c == 0xEB || c == 0xEC ||
           (c >= 0xEF && c <= 0xF9) || c >= 0xFD;
}

bool onlyBlanks(const u8* bytes, u32 n) {
    return std::all_of(bytes, bytes + n, [](u8 c) { return c == ' '; });
}

bool hasName(const u8* entry, const char* name11) {
    return std::memcmp(entry + DE_NAME, name11, SHORT_NAME_BYTES) == 0;
}

// Upper-case ASCII letters to lower case; under code page 932 the second byte
// of a double-byte character is left alone, it only looks like a letter.
void lowerAscii(std::string& s, std::size_t from, std::size_t to) {
    bool dbcs = getCodePage() == SHIFT_JIS;
    for (std::size_t i = from; i < to; ++i) {
        auto c = static_cast<u8>(s[i]);
        if (dbcs && isCp932Lead(c)) {
            ++i;
            continue;
        }
        if (c >= 'A' && c <= 'Z')
            s[i] = static_cast<char>(c - 'A' + 'a');
    }
}

} // namespace

u8 dirEntryAttributes(const u8* entry) {
    return entryView(entry).getU8(DE_ATTRIBUTES);
}

u32 dirEntryStartCluster(const u8* entry) {
    ConstArray e = entryView(entry);
    return static_cast<u32>(e.getLE16(DE_CLUSTER_HIGH)) << 16 | e.getLE16(DE_CLUSTER_LOW);
}

u32 dirEntrySize(const u8* entry) {
    return entryView(entry).getLE32(DE_SIZE);
}

u32 dirEntryTime(const u8* entry) {
    ConstArray e = entryView(entry);
    return dosDateTimeToTime(static_cast<u32>(e.getLE16(DE_WRITE_DATE)) << 16 |
                             e.getLE16(DE_WRITE_TIME));
}

bool isFreeDirEntry(const u8* entry) {
    u8 first = entryView(entry).getU8(DE_NAME);
    return first == ENTRY_DELETED || first == ENTRY_FREE;
}

bool isDeletedDirEntry(const u8* entry) {
    return entryView(entry).getU8(DE_NAME) == ENTRY_DELETED;
}

bool isLongNameEntry(const u8* entry) {
    return dirEntryAttributes(entry) == ATTR_LONG_NAME;
}

bool isVolumeLabelEntry(const u8* entry) {
    u8 a = dirEntryAttributes(entry);
    return a != ATTR_LONG_NAME && (a & ATTR_VOLUME_LABEL) != 0;
}

bool isDotEntry(const u8* entry) {
    entryView(entry).check(DE_NAME, SHORT_NAME_BYTES);
    return hasName(entry, DOT_NAME);
}

bool isDotDotEntry(const u8* entry) {
    entryView(entry).check(DE_NAME, SHORT_NAME_BYTES);
    return hasName(entry, DOT_DOT_NAME);
}

bool isHitDotEntry(const u8* entry, u32 slot) {
    entryView(entry).check(DE_NAME, SHORT_NAME_BYTES);
    const char* name = slot == 0 ? DOT_NAME : DOT_DOT_NAME;
    return (dirEntryAttributes(entry) & ATTR_DIRECTORY) != 0 &&
           std::memcmp(entry + DE_NAME + 1, name + 1, SHORT_NAME_BYTES - 1) == 0;
}

u32 trimmedLength(const u8* bytes, u32 n) {
    while (n > 0 && bytes[n - 1] == ' ')
        --n;
    return n;
}

u8 lfnChecksum(const u8* name11) {
    u8 sum = 0;
    for (u32 i = 0; i < SHORT_NAME_BYTES; ++i)
        sum = static_cast<u8>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
    return sum;
}

namespace {

bool hasLowerCase(const u8* bytes, u32 n) {
    for (u32 i = 0; i < n; ++i) {
        if (bytes[i] >= 'a' && bytes[i] <= 'z')
            return true;
    }
    return false;
}

} // namespace

bool isValidShortDirEntry(const u8* entry) {
    ConstArray e = entryView(entry);
    u8 attributes = e.getU8(DE_ATTRIBUTES);
    if (attributes & ATTR_MUST_BE_CLEAR)
        return false;
    if (attributes == ATTR_LONG_NAME)
        return e.getLE16(DE_CLUSTER_LOW) == 0 && e.getU8(LFN_TYPE) == 0;
    if ((attributes & ATTR_DIRECTORY) && e.getLE32(DE_SIZE) % SECTOR_BYTES != 0)
        return false;
    u16 time = e.getLE16(DE_WRITE_TIME);
    u16 date = e.getLE16(DE_WRITE_DATE);
    // A count of 30 (60 seconds) is what some systems write for a leap second.
    if (dosHours(time) >= 24 || dosMinutes(time) >= 60 || dosTwoSeconds(time) > 30)
        return false;
    // A date and time of 0 are none: writers without a clock leave them so.
    // Their short names are in capitals as every writer's; text, whose bytes
    // end in zeros as often, is mostly not.
    if (date == 0 && time == 0) {
        if (hasLowerCase(entry + DE_NAME, SHORT_NAME_BYTES))
            return false;
    } else if (dosMonth(date) < 1 || dosMonth(date) > 12 || dosDay(date) == 0) {
        return false;
    }
    return isValidShortName(entry);
}

bool isValidDirEntryNonEmpty(const u8* entry) {
    return entryView(entry).getU8(DE_NAME) != ENTRY_FREE && isValidShortDirEntry(entry);
}

void shortEntryName(const u8* entry, std::string& out, char replacement) {
    ConstArray e = entryView(entry);
    u8 first = e.getU8(DE_NAME);
    std::string bytes;
    if (first == ENTRY_DELETED || first == ENTRY_FREE)
        bytes += replacement;
    else if (first == ENTRY_E5_ESCAPE)
        bytes += static_cast<char>(ENTRY_DELETED);
    else
        bytes += static_cast<char>(first);
    bytes.append(reinterpret_cast<const char*>(entry + 1),
                 trimmedLength(entry + 1, DE_NAME_BYTES - 1));
    std::size_t baseEnd = bytes.size();
    u32 extension = trimmedLength(entry + DE_EXTENSION, DE_EXTENSION_BYTES);
    if (extension != 0) {
        bytes += '.';
        bytes.append(reinterpret_cast<const char*>(entry + DE_EXTENSION), extension);
    }
    u8 lower = e.getU8(DE_CASE);
    // The lost first character stays as it is given.
    std::size_t baseStart = first == ENTRY_DELETED || first == ENTRY_FREE ? 1 : 0;
    if (lower & CASE_LOWER_BASE)
        lowerAscii(bytes, baseStart, baseEnd);
    if ((lower & CASE_LOWER_EXTENSION) && extension != 0)
        lowerAscii(bytes, baseEnd + 1, bytes.size());
    out = codePageToUtf8(bytes);
}

bool appendLfnUnits(const u8* entry, std::vector<u16>& units) {
    ConstArray e = entryView(entry);
    for (u32 offset : LFN_UNIT_OFFSETS) {
        u16 unit = e.getLE16(offset);
        // A name's last entry may hold padding alone, with no 0 unit before
        // it; U+FFFF is no character, so it only ever ends a name.
        if (unit == 0 || unit == LFN_PADDING)
            return true;
        units.push_back(unit);
    }
    return false;
}

std::string lfnUnitsToUtf8(const std::vector<u16>& units) {
    return utf16ToUtf8(units.data(), units.size());
}

void appendLfnChars(const u8* entry, std::string& text) {
    std::vector<u16> units;
    appendLfnUnits(entry, units);
    text += lfnUnitsToUtf8(units);
}

bool checkDirEntries(const u8* sector, u32 firstIndex, u32& validCount) {
    ConstArray s(sector, SECTOR_BYTES);
    validCount = 0;
    bool freeSeen = false;
    for (u32 i = firstIndex; i < DIR_ENTRIES_PER_SECTOR; ++i) {
        u32 at = i * DIR_ENTRY_BYTES;
        const u8* entry = entryOf(sector, i);
        u8 first = s.getU8(at);
        if (first == 0 && s.getU8(at + 1) == 0) {
            // The end mark: nothing but zeros may follow it.
            if (!std::all_of(sector + at + 2, sector + SECTOR_BYTES, [](u8 c) { return c == 0; }))
                return false;
            if (firstIndex != 0 && i == firstIndex)
                return true;
            return validCount != 0;
        }
        if (first == 0)
            freeSeen = true;
        else if (freeSeen)
            return false;
        if (isValidShortDirEntry(entry))
            ++validCount;
        else if (first != ENTRY_DELETED)
            return false;
    }
    return validCount != 0;
}

bool checkDotEntries(const u8* sector, u32& dotCluster, u32& dotDotCluster) {
    u32 valid = 0;
    if (!checkDirEntries(sector, 2, valid))
        return false;
    dotCluster = dirEntryStartCluster(entryOf(sector, 0));
    if (dotCluster <= 1)
        return false;
    dotDotCluster = dirEntryStartCluster(entryOf(sector, 1));
    return true;
}

bool checkPlainDirSector(const u8* sector) {
    u32 valid = 0;
    return checkDirEntries(sector, 0, valid);
}

bool analyzeDirectoryStart(const u8* sector, bool& hasDotEntries, bool& lastSlotUsed,
                           u32& dotCluster, u32& dotDotCluster, u32& highestCluster) {
    ConstArray s(sector, SECTOR_BYTES);
    u32 start = 0;
    if (isDotEntry(entryOf(sector, 0)) && isDotDotEntry(entryOf(sector, 1))) {
        if (!checkDotEntries(sector, dotCluster, dotDotCluster))
            return false;
        hasDotEntries = true;
        start = 2;
    } else {
        if (!checkPlainDirSector(sector))
            return false;
        hasDotEntries = false;
    }
    lastSlotUsed = s.getU8((DIR_ENTRIES_PER_SECTOR - 1) * DIR_ENTRY_BYTES) != 0;
    highestCluster = 0;
    for (u32 i = start; i < DIR_ENTRIES_PER_SECTOR; ++i) {
        const u8* entry = entryOf(sector, i);
        if (entry[0] == 0)
            break;
        if (!isLongNameEntry(entry))
            highestCluster = std::max(highestCluster, dirEntryStartCluster(entry));
    }
    return true;
}

bool isValidShortNameChar(u8 c) {
    static constexpr char FORBIDDEN[] = "\"*+,./:;<=>?[\\]|";
    return c >= 0x20 && c < 0xFD && std::strchr(FORBIDDEN, c) == nullptr;
}

bool isValidNameField(const u8* bytes, u32 n) {
    for (u32 i = 0; i < n; ++i) {
        if (bytes[i] == ' ')
            return onlyBlanks(bytes + i, n - i);
        if (!isValidShortNameChar(bytes[i]))
            return false;
    }
    return true;
}

bool isValidNameFieldCp932(const u8* bytes, u32 n) {
    for (u32 i = 0; i < n; ++i) {
        u8 c = bytes[i];
        if (c == ' ')
            return onlyBlanks(bytes + i, n - i);
        if (isCp932Lead(c)) {
            if (i + 1 >= n)
                return false;
            u8 trail = bytes[i + 1];
            if (trail < 0x40 || trail == 0x7F || trail >= 0xFD || isUnassignedCp932Pair(c, trail))
                return false;
            ++i;
            continue;
        }
        if (isUnusedCp932Single(c) || !isValidShortNameChar(c))
            return false;
    }
    return true;
}

bool isValidLabelField(const u8* bytes, u32 n) {
    return std::all_of(bytes, bytes + n, [](u8 c) { return c == 0 || isValidShortNameChar(c); });
}

bool isValidShortName(const u8* entry) {
    ConstArray e = entryView(entry);
    e.check(DE_NAME, SHORT_NAME_BYTES);
    u8 name[SHORT_NAME_BYTES];
    std::memcpy(name, entry + DE_NAME, SHORT_NAME_BYTES);
    u8 first = name[0];
    if (first == ' ')
        return false;
    if (e.getU8(DE_ATTRIBUTES) & ATTR_VOLUME_LABEL) {
        if (first == ENTRY_DELETED)
            return isValidLabelField(name + 1, SHORT_NAME_BYTES - 1);
        if (first == ENTRY_FREE)
            return false;
        return isValidLabelField(name, SHORT_NAME_BYTES);
    }
    // 0x05 stands for a first character 0xE5; the name is judged with the
    // character it stands for, or every such file would be dropped.
    if (first == ENTRY_E5_ESCAPE)
        name[0] = ENTRY_DELETED;
    bool deleted = first == ENTRY_DELETED;
    const u8* extension = name + DE_EXTENSION;
    if (getCodePage() != SHIFT_JIS) {
        const u8* base = deleted ? name + 1 : name;
        u32 baseLength = deleted ? DE_NAME_BYTES - 1 : DE_NAME_BYTES;
        return isValidNameField(base, baseLength) &&
               isValidNameField(extension, DE_EXTENSION_BYTES);
    }
    bool baseValid = false;
    if (!deleted) {
        baseValid = isValidNameFieldCp932(name, DE_NAME_BYTES);
    } else {
        // The deleted mark may have overwritten the lead byte of a double-byte
        // first character: then byte 1 is its trail byte.
        baseValid = isValidNameFieldCp932(name + 1, DE_NAME_BYTES - 1) ||
                    (isCp932Trail(name[1]) && isValidNameFieldCp932(name + 2, DE_NAME_BYTES - 2));
    }
    return baseValid && isValidNameFieldCp932(extension, DE_EXTENSION_BYTES);
}
