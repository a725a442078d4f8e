#pragma once

// File times as the trees and carved files keep them, and their texts in the
// program language's date form.
//
// A file time is 32-bit seconds since 1970-01-01 UTC, unsigned as the nodes hold
// it (so 2038 to 2106 fit); NO_TIME (all ones, -1) means there is none. The texts
// are local time.

#include "core/Types.h"

#include <string>

constexpr u32 NO_TIME = 0xFFFFFFFFu;

// Seconds from 1601-01-01 (the FILETIME origin) to 1970-01-01, both UTC.
constexpr u64 FILETIME_UNIX_OFFSET = 11644473600ull;
constexpr u64 FILETIME_TICKS_PER_SECOND = 10000000ull;

// "01/31/2009 01:05:07pm" (English, and any language but German and Japanese),
// "31.01.2009 13:05:07" (German), "2009-01-31 13:05:07" (Japanese); the date alone
// without time. English shows 12 to 23 o'clock as 00 to 11 "pm". Empty when the
// value cannot be taken apart as a local time.
std::string formatDateTime(i64 time, bool withTime);
// The date and time, or "Invalid Time" for NO_TIME.
std::string formatTime(u32 time);
// Reads formatDateTime's form back as local time (the system decides whether
// summer time was in force). -1 when the text does not match exactly or names a
// day that does not exist.
i64 parseDateTime(const char* text, bool withTime);

// A FILETIME (100 ns ticks since 1601) as a file time; NO_TIME when it lies before
// 1970 or beyond what 32 bits hold.
u32 fileTimeToTime(u64 fileTime);
// A DOS date and time (time in the low 16 bits, date in the high 16) taken as local
// time; NO_TIME when a field is out of range (an empty date included).
u32 dosDateTimeToTime(u32 dosDateTime);
