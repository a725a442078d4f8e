#include "core/DateTime.h"

#include "core/Preferences.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

// Each test runs in a chosen time zone and program language; both go back after.
class DateTimeTest : public ::testing::Test {
protected:
    void TearDown() override { Preferences::instance().language() = savedLanguage_; }
    static void useLanguage(int language) { Preferences::instance().language() = language; }

    testutil::ScopedTimeZone zone_{"UTC"};
    int savedLanguage_ = Preferences::instance().language();
};

constexpr i64 JAN_31_2009_130507 = 1233407107; // 2009-01-31 13:05:07 UTC

// DOS date (day, month, year - 1980) and time (hours, minutes, seconds / 2).
constexpr u32 dos(u32 year, u32 month, u32 day, u32 hour, u32 minute, u32 twoSeconds) {
    return (((year - 1980) << 9) | (month << 5) | day) << 16 | (hour << 11) | (minute << 5) |
           twoSeconds;
}

TEST_F(DateTimeTest, EachLanguageWritesAndReadsItsForm) {
    const struct {
        int language;
        const char* text;
    } forms[] = {
        {0, "01/31/2009 01:05:07pm"}, {1, "31.01.2009 13:05:07"}, {2, "2009-01-31 13:05:07"}};
    for (const auto& f : forms) {
        useLanguage(f.language);
        EXPECT_EQ(formatDateTime(JAN_31_2009_130507, true), f.text);
        EXPECT_EQ(parseDateTime(f.text, true), JAN_31_2009_130507) << f.text;
    }
    useLanguage(0);
    // Noon is 00 "pm" and midnight 00 "am"; "12pm" would be hour 24.
    EXPECT_EQ(formatDateTime(1233403200, true), "01/31/2009 00:00:00pm");
    EXPECT_EQ(parseDateTime("01/31/2009 00:00:00am", true), 1233360000);
    EXPECT_EQ(formatTime(0xFFFFFFFEu), "02/07/2106 06:28:14am"); // unsigned, past 2038
}

TEST_F(DateTimeTest, FieldsOutOfRangeAreRefusedNotRolledOver) {
    useLanguage(1);
    for (const char* text : {"31.01.1899 00:00:00", "31.01.2101 00:00:00", "31.13.2009 00:00:00",
                             "00.01.2009 00:00:00", "31.01.2009 24:00:00", "31.01.2009 23:59:60",
                             "30.02.2009 00:00:00", "29.02.2009 00:00:00", "+1.01.2009 00:00:00",
                             "31.01.2009 1:05:07 ", "31.1.2009 00:00:00"})
        EXPECT_EQ(parseDateTime(text, true), -1) << text;
    EXPECT_NE(parseDateTime("29.02.2008 00:00:00", true), -1);
    useLanguage(0);
    EXPECT_EQ(parseDateTime("01/31/2009 12:00:00pm", true), -1);
}

// FILETIME counts 100 ns ticks from 1601 in UTC; a time before 1970 or past
// 32 bits is no time, not a time wrapped round.
TEST_F(DateTimeTest, FileTimeCountsFromItsOrigin) {
    const std::pair<u64, u32> cases[] = {{116444736000000000ull, 0},
                                         {116444736009999999ull, 0},
                                         {116444736010000000ull, 1},
                                         {128778807070000000ull, u32(JAN_31_2009_130507)},
                                         {159394408940000000ull, 0xFFFFFFFEu},
                                         {0, NO_TIME},
                                         {116444735990000000ull, NO_TIME},
                                         {159394408960000000ull, NO_TIME},
                                         {~0ull, NO_TIME}};
    for (const auto& c : cases)
        EXPECT_EQ(fileTimeToTime(c.first), c.second) << c.first;
}

// DOS times are the local wall clock: the system works out summer time from
// the date, as a person reading the clock would.
TEST_F(DateTimeTest, DosTimesAreLocalWallClockTimes) {
    EXPECT_EQ(dosDateTimeToTime(dos(2009, 1, 31, 13, 5, 3)), u32(JAN_31_2009_130507 - 1));
    EXPECT_EQ(dosDateTimeToTime(dos(2105, 12, 31, 23, 59, 29)), 4291747198u);
    testutil::ScopedTimeZone::use("Europe/Berlin");
    EXPECT_EQ(dosDateTimeToTime(dos(1980, 1, 1, 0, 0, 0)), 315529200u);
    EXPECT_EQ(dosDateTimeToTime(dos(2020, 7, 15, 14, 30, 5)), 1594816210u); // CEST
    EXPECT_EQ(dosDateTimeToTime(dos(2020, 1, 15, 14, 30, 5)), 1579095010u); // CET
    useLanguage(1);
    EXPECT_EQ(parseDateTime("15.07.2020 14:30:10", true), 1594816210);
    EXPECT_EQ(formatTime(1594816210u), "15.07.2020 14:30:10");
    // An empty or damaged field is no time, not another day.
    for (u32 damaged :
         {0u, dos(2009, 0, 1, 0, 0, 0), dos(2009, 13, 1, 0, 0, 0), dos(2009, 2, 30, 0, 0, 0),
          dos(2009, 1, 1, 24, 0, 0), dos(2009, 1, 1, 0, 60, 0), dos(2009, 1, 1, 0, 0, 30)})
        EXPECT_EQ(dosDateTimeToTime(damaged), NO_TIME) << damaged;
}

} // namespace
