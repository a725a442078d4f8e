// FAT directory sectors: the sector tests of the scan and everything that reads
// one entry, over any 512 bytes, under an OEM code page and under code page 932.
// The tests must agree with one another and every name must come out as UTF-8.
//
// Input: the sector (padded with zeros or cut to 512 bytes), then one byte whose
// low bit chooses code page 932.

#include "core/NameConversions.h"
#include "fs/DirectoryEntry.h"
#include "fuzz/FuzzSupport.h"

#include <glib.h>

#include <array>

namespace {

using fuzzsupport::require;

void requireUtf8(const std::string& s) {
    require(g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr));
}

void checkEntry(const u8* entry) {
    // Any entry can be named (the dumps show them all); the names of entries
    // that pass the tests become file names and must be clean UTF-8. A label
    // may hold zeros, but it names no file.
    std::string name;
    shortEntryName(entry, name, '#');
    bool named =
        isValidShortDirEntry(entry) && !isLongNameEntry(entry) && !isVolumeLabelEntry(entry);
    if (named)
        requireUtf8(name);

    std::vector<u16> units;
    bool ended = appendLfnUnits(entry, units);
    require(units.size() <= LFN_UNITS_PER_ENTRY);
    require(ended || units.size() == LFN_UNITS_PER_ENTRY);
    requireUtf8(lfnUnitsToUtf8(units));
    std::string text;
    appendLfnChars(entry, text);
    requireUtf8(text);

    if (isValidDirEntryNonEmpty(entry))
        require(isValidShortDirEntry(entry));
    if (isValidShortDirEntry(entry) && !isLongNameEntry(entry)) {
        require(isValidShortName(entry));
        require((dirEntryAttributes(entry) & ATTR_MUST_BE_CLEAR) == 0);
    }
    if (isVolumeLabelEntry(entry))
        require(!isLongNameEntry(entry));
    (void)dirEntryTime(entry);
    (void)lfnChecksum(entry);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::array<u8, 512> sector{};
    std::memcpy(sector.data(), data, std::min<std::size_t>(size, sector.size()));
    bool shiftJis = size > 512 && (data[512] & 1);
    // Switching the code page costs a converter; only do it when it changes.
    static bool current = false;
    if (shiftJis != current) {
        setCodePage(shiftJis ? "CP932" : "CP437");
        current = shiftJis;
    }

    for (u32 i = 0; i < DIR_ENTRIES_PER_SECTOR; ++i)
        checkEntry(sector.data() + DIR_ENTRY_BYTES * i);

    u32 valid = 0;
    bool plain = checkPlainDirSector(sector.data());
    require(plain == checkDirEntries(sector.data(), 0, valid));
    require(!plain || valid != 0);
    u32 dot = 0;
    u32 dotDot = 0;
    bool dots = checkDotEntries(sector.data(), dot, dotDot);
    require(!dots || dot > 1);

    bool hasDots = false;
    bool lastUsed = false;
    u32 aDot = 0;
    u32 aDotDot = 0;
    u32 highest = 0;
    if (analyzeDirectoryStart(sector.data(), hasDots, lastUsed, aDot, aDotDot, highest)) {
        if (hasDots) {
            require(dots && aDot == dot && aDotDot == dotDot);
        } else {
            require(plain);
        }
        require(lastUsed == (sector[(DIR_ENTRIES_PER_SECTOR - 1) * DIR_ENTRY_BYTES] != 0));
    }
    return 0;
}
