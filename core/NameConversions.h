#pragma once

// How the file-system engines turn on-disk names and times into node texts and
// times: the OEM code page of short FAT names, UTF-16 names, FILETIME stamps.

#include "core/Types.h"

#include <cstddef>
#include <string>

// The code page that short (8.3) names on the source are written in: "CP437"
// until the preferences set it.
const std::string& getCodePageName();
// Its number ("CP850" -> 850), 0 for names that are not "CP" and digits. The FAT
// name checks treat 932 (Shift-JIS) apart.
int getCodePage();
void setCodePage(const std::string& name);

// The bytes in the current code page as UTF-8. A code page that the system cannot
// convert from is read as Latin-1, so that no name comes out empty.
std::string codePageToUtf8(const std::string& bytes);

// UTF-16 code units (host order) as UTF-8, up to `count` units or the first zero
// unit; `unitsRead` gets the units used. A surrogate pair becomes one character;
// a surrogate without its partner becomes U+FFFD, so a damaged name keeps the
// rest of its characters.
std::string utf16ToUtf8(const u16* units, std::size_t count, std::size_t* unitsRead = nullptr);
// One unit alone: empty for 0, U+FFFD for a surrogate (half of a pair cannot be
// written alone; convert the whole name with utf16ToUtf8 to keep pairs).
std::string utf16CharToUtf8(u16 unit);

// A FILETIME (100 ns ticks since 1601) as Unix seconds; 0xFFFFFFFF when it lies
// before 1970 or does not fit 32 bits.
u32 fileTimeToUnixTime(u64 ticks);
