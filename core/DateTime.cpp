#include "core/DateTime.h"

#include "core/Intl.h"
#include "core/Preferences.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

struct DateForm {
    const char* format; // strftime form of the date
    char separator;     // between the three numbers
    bool yearFirst;     // year, month, day
    bool dayFirst;      // day, month, year (else month, day, year)
    bool twelveHour;    // "am"/"pm" after the seconds
};

constexpr DateForm ENGLISH{"%m/%d/%Y", '/', false, false, true};
constexpr DateForm GERMAN{"%d.%m.%Y", '.', false, true, false};
constexpr DateForm JAPANESE{"%Y-%m-%d", '-', true, false, false};

const DateForm& currentForm() {
    switch (Preferences::instance().language()) {
    case 1:
        return GERMAN;
    case 2:
        return JAPANESE;
    default:
        return ENGLISH;
    }
}

constexpr std::size_t DATE_LENGTH = 10;
constexpr std::size_t TIME_AT = 11;
constexpr std::size_t TIME_LENGTH = 8;

// Exactly `digits` decimal digits at `at`; the text's length was checked before.
bool readNumber(const char* text, std::size_t at, std::size_t digits, unsigned& out) {
    out = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        out = out * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

// "nn?nn?nnnn" or "nnnn?nn?nn" with the form's separator at the two gaps.
bool readDate(const char* text, const DateForm& form, unsigned& year, unsigned& month,
              unsigned& day) {
    if (form.yearFirst) {
        return readNumber(text, 0, 4, year) && text[4] == form.separator &&
               readNumber(text, 5, 2, month) && text[7] == form.separator &&
               readNumber(text, 8, 2, day);
    }
    unsigned first, second;
    if (!(readNumber(text, 0, 2, first) && text[2] == form.separator &&
          readNumber(text, 3, 2, second) && text[5] == form.separator &&
          readNumber(text, 6, 4, year)))
        return false;
    day = form.dayFirst ? first : second;
    month = form.dayFirst ? second : first;
    return true;
}

bool readClock(const char* text, unsigned& hour, unsigned& minute, unsigned& second) {
    const char* t = text + TIME_AT;
    return readNumber(t, 0, 2, hour) && t[2] == ':' && readNumber(t, 3, 2, minute) && t[5] == ':' &&
           readNumber(t, 6, 2, second);
}

// Days from 1970-01-01 to the date, in the Gregorian calendar.
i64 daysFromCivil(i64 year, unsigned month, unsigned day) {
    year -= month <= 2;
    const i64 era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<i64>(dayOfEra) - 719468;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The offset east of UTC in force at t, and whether it is summer time; false
// when t cannot be taken apart.
struct Offset {
    i64 seconds = 0;
    bool summer = false;
};
bool offsetAt(i64 t, Offset& offset) {
    const std::time_t at = static_cast<std::time_t>(t);
    std::tm tm{};
    if (!localtime_r(&at, &tm))
        return false;
    offset.seconds = tm.tm_gmtoff;
    offset.summer = tm.tm_isdst > 0;
    return true;
}

// A wall-clock reading taken as local time, with the summer-time state the
// system works out from the date, as a person reading a wall clock would.
// mktime would do, but it reads the time zone again at every call (a look at
// /etc/localtime each time): the zone is read once, and the offsets in force
// a day before and a day after give the two readings a change of offset can
// make. A reading that an hour the clock repeats makes ambiguous is taken at
// its first pass; one that a skipped hour makes impossible, with the offset of
// standard time, else the one before (as mktime mostly takes it), unless that
// puts it on another day.
i64 localTime(int year, int month, int day, int hour, int minute, int second) {
    static std::once_flag zoneRead;
    std::call_once(zoneRead, tzset);
    static const unsigned char DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 ||
        day > DAYS[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0))
        return -1;
    const i64 wall =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
        hour * 3600 + minute * 60 + second;
    Offset before, after, in;
    if (!offsetAt(wall - 86400, before) || !offsetAt(wall + 86400, after))
        return -1;
    const i64 first = wall - before.seconds;
    if (offsetAt(first, in) && in.seconds == before.seconds)
        return first;
    const i64 later = wall - after.seconds;
    if (offsetAt(later, in) && in.seconds == after.seconds)
        return later;
    const i64 chosen = before.summer && !after.summer ? later : first;
    // The clock moved on past a skipped midnight: that day has no such reading.
    const std::time_t at = static_cast<std::time_t>(chosen);
    std::tm tm{};
    if (!localtime_r(&at, &tm) || tm.tm_mday != day)
        return -1;
    return chosen;
}

} // namespace

std::string formatDateTime(i64 time, bool withTime) {
    std::time_t t = static_cast<std::time_t>(time);
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return std::string();
    const DateForm& form = currentForm();
    char buffer[64];
    if (std::strftime(buffer, sizeof buffer, form.format, &tm) == 0)
        return std::string();
    std::string text = buffer;
    if (!withTime)
        return text;
    int hour = tm.tm_hour;
    const char* suffix = "";
    if (form.twelveHour) {
        suffix = hour >= 12 ? "pm" : "am";
        if (hour >= 12)
            hour -= 12;
    }
    std::snprintf(buffer, sizeof buffer, " %02d:%02d:%02d%s", hour, tm.tm_min, tm.tm_sec, suffix);
    return text + buffer;
}

std::string formatTime(u32 time) {
    if (time == NO_TIME)
        return _("Invalid Time");
    return formatDateTime(time, true);
}

i64 parseDateTime(const char* text, bool withTime) {
    if (!text)
        return -1;
    const DateForm& form = currentForm();
    std::size_t length = std::strlen(text);
    std::size_t expected =
        !withTime ? DATE_LENGTH : TIME_AT + TIME_LENGTH + (form.twelveHour ? 2 : 0);
    if (length != expected)
        return -1;
    unsigned year, month, day, hour = 0, minute = 0, second = 0;
    if (!readDate(text, form, year, month, day))
        return -1;
    if (withTime) {
        if (!readClock(text, hour, minute, second))
            return -1;
        if (form.twelveHour) {
            char half = text[TIME_AT + TIME_LENGTH];
            if ((half != 'a' && half != 'p') || text[TIME_AT + TIME_LENGTH + 1] != 'm')
                return -1;
            // 00 to 11 "pm" are 12 to 23 o'clock; "12pm" would be 24 and is refused.
            if (half == 'p')
                hour += 12;
        }
    }
    if (year < 1900 || year > 2100 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || second > 59)
        return -1;
    return localTime(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                     static_cast<int>(hour), static_cast<int>(minute), static_cast<int>(second));
}

u32 fileTimeToTime(u64 fileTime) {
    u64 seconds = fileTime / FILETIME_TICKS_PER_SECOND;
    if (seconds < FILETIME_UNIX_OFFSET || seconds - FILETIME_UNIX_OFFSET >= NO_TIME)
        return NO_TIME;
    return static_cast<u32>(seconds - FILETIME_UNIX_OFFSET);
}

u32 dosDateTimeToTime(u32 v) {
    unsigned second = (v & 31) * 2;
    unsigned minute = (v >> 5) & 63;
    unsigned hour = (v >> 11) & 31;
    unsigned day = (v >> 16) & 31;
    unsigned month = (v >> 21) & 15;
    unsigned year = ((v >> 25) & 127) + 1980;
    // A damaged or empty field would otherwise be rolled over into another day by
    // mktime (an all-zero date would read as 30 November 1979).
    if (day < 1 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59)
        return NO_TIME;
    i64 t = localTime(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                      static_cast<int>(hour), static_cast<int>(minute), static_cast<int>(second));
    if (t < 0 || t >= static_cast<i64>(NO_TIME))
        return NO_TIME;
    return static_cast<u32>(t);
}
