#include "core/DateTime.h"

#include "core/Preferences.h"

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Runs each test in a chosen time zone and program language and puts both back.
class DateTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedLanguage_ = Preferences::instance().language();
        useLanguage(0);
    }
    void TearDown() override { Preferences::instance().language() = savedLanguage_; }
    static void useZone(const char* zone) { testutil::ScopedTimeZone::use(zone); }
    static void useLanguage(int language) { Preferences::instance().language() = language; }

private:
    testutil::ScopedTimeZone zone_{"UTC"};
    int savedLanguage_ = 0;
};

constexpr i64 JAN_31_2009_130507 = 1233407107; // 2009-01-31 13:05:07 UTC
constexpr i64 JAN_31_2009_NOON = 1233403200;

// DOS date (day, month, year - 1980) and time (hours, minutes, seconds / 2).
constexpr u32 dos(u32 year, u32 month, u32 day, u32 hour, u32 minute, u32 twoSeconds) {
    u32 date = ((year - 1980) << 9) | (month << 5) | day;
    u32 time = (hour << 11) | (minute << 5) | twoSeconds;
    return date << 16 | time;
}

} // namespace

TEST_F(DateTimeTest, EnglishTwelveHourClockRoundTrips) {
    EXPECT_EQ(parseDateTime("01/31/2009 01:05:07pm", true), JAN_31_2009_130507);
    EXPECT_EQ(formatDateTime(JAN_31_2009_130507, true), "01/31/2009 01:05:07pm");
    EXPECT_EQ(formatDateTime(JAN_31_2009_130507, false), "01/31/2009");

    // Noon is 00 "pm" and midnight 00 "am"; "12pm" would be hour 24.
    EXPECT_EQ(formatDateTime(JAN_31_2009_NOON, true), "01/31/2009 00:00:00pm");
    EXPECT_EQ(parseDateTime("01/31/2009 00:00:00pm", true), JAN_31_2009_NOON);
    EXPECT_EQ(parseDateTime("01/31/2009 12:00:00pm", true), -1);
    EXPECT_EQ(formatDateTime(1233360000, true), "01/31/2009 00:00:00am");
    EXPECT_EQ(parseDateTime("01/31/2009 00:00:00am", true), 1233360000);
}

TEST_F(DateTimeTest, EnglishSuffixMustBeAmOrPm) {
    EXPECT_EQ(parseDateTime("01/31/2009 01:05:07xm", true), -1);
    EXPECT_EQ(parseDateTime("01/31/2009 01:05:07pa", true), -1);
    EXPECT_EQ(parseDateTime("01/31/2009 13:05:07", true), -1); // 19 characters
    // The blank between date and time is not looked at.
    EXPECT_EQ(parseDateTime("01/31/2009T01:05:07pm", true), JAN_31_2009_130507);
}

TEST_F(DateTimeTest, GermanAndJapaneseForms) {
    useLanguage(1);
    EXPECT_EQ(formatDateTime(JAN_31_2009_130507, true), "31.01.2009 13:05:07");
    EXPECT_EQ(parseDateTime("31.01.2009 13:05:07", true), JAN_31_2009_130507);
    EXPECT_EQ(parseDateTime("31.01.2009", false), 1233360000);
    EXPECT_EQ(parseDateTime("31.1.2009", false), -1);
    EXPECT_EQ(parseDateTime("31.01.2009 ", false), -1);
    EXPECT_EQ(parseDateTime("01/31/2009", false), -1);

    useLanguage(2);
    EXPECT_EQ(formatDateTime(JAN_31_2009_130507, true), "2009-01-31 13:05:07");
    EXPECT_EQ(parseDateTime("2009-01-31 13:05:07", true), JAN_31_2009_130507);
    EXPECT_EQ(parseDateTime("2009-01-31", false), 1233360000);

    // Any other language writes English.
    useLanguage(7);
    EXPECT_EQ(formatDateTime(JAN_31_2009_130507, true), "01/31/2009 01:05:07pm");
}

TEST_F(DateTimeTest, FieldsOutOfRangeAreRefused) {
    useLanguage(1);
    for (const char* text : {"31.01.1899 00:00:00", "31.01.2101 00:00:00", "31.00.2009 00:00:00",
                             "31.13.2009 00:00:00", "00.01.2009 00:00:00", "32.01.2009 00:00:00",
                             "31.01.2009 24:00:00", "31.01.2009 23:60:00", "31.01.2009 23:59:60",
                             // A day the month does not have is not rolled into the next month.
                             "30.02.2009 00:00:00", "29.02.2009 00:00:00", "+1.01.2009 00:00:00",
                             "31.01.2009 1:05:07 "})
        EXPECT_EQ(parseDateTime(text, true), -1) << text;
    EXPECT_NE(parseDateTime("29.02.2008 00:00:00", true), -1);
    EXPECT_NE(parseDateTime("01.01.1900 00:00:00", true), -1);
    EXPECT_NE(parseDateTime("31.12.2100 23:59:59", true), -1);
    EXPECT_EQ(parseDateTime(nullptr, true), -1);
}

TEST_F(DateTimeTest, SummerTimeIsWorkedOutByTheSystem) {
    useZone("Europe/Berlin");
    useLanguage(1);
    // 14:30:10 in July is CEST (UTC+2), in January CET (UTC+1).
    EXPECT_EQ(parseDateTime("15.07.2020 14:30:10", true), 1594816210);
    EXPECT_EQ(parseDateTime("15.01.2020 14:30:10", true), 1579095010);
    EXPECT_EQ(formatDateTime(1594816210, true), "15.07.2020 14:30:10");
}

TEST_F(DateTimeTest, FormatTimeTakesNodeTimes) {
    EXPECT_EQ(formatTime(NO_TIME), "Invalid Time");
    EXPECT_EQ(formatTime(0), "01/01/1970 00:00:00am");
    // Node times are unsigned: beyond 2038 up to 2106.
    EXPECT_EQ(formatTime(0xFFFFFFFEu), "02/07/2106 06:28:14am");
}

TEST_F(DateTimeTest, FileTimeCountsFromTheUtcOrigin) {
    EXPECT_EQ(fileTimeToTime(0), NO_TIME);
    EXPECT_EQ(fileTimeToTime(116444736000000000ull), 0u);
    EXPECT_EQ(fileTimeToTime(116444736009999999ull), 0u);
    EXPECT_EQ(fileTimeToTime(116444736010000000ull), 1u);
    EXPECT_EQ(fileTimeToTime(116444735990000000ull), NO_TIME);
    // 2009-01-31 13:05:07 UTC as Windows stores it.
    EXPECT_EQ(fileTimeToTime(128778807070000000ull), u32(JAN_31_2009_130507));
    EXPECT_EQ(fileTimeToTime(159394408940000000ull), 0xFFFFFFFEu);
    // Beyond 32 bits is no time, not a time wrapped round to 1970.
    EXPECT_EQ(fileTimeToTime(159394408960000000ull), NO_TIME);
    EXPECT_EQ(fileTimeToTime(~0ull), NO_TIME);
}

TEST_F(DateTimeTest, DosTimeIsLocalTime) {
    EXPECT_EQ(dosDateTimeToTime(dos(1980, 1, 1, 0, 0, 0)), 315532800u);
    EXPECT_EQ(dosDateTimeToTime(dos(2009, 1, 31, 13, 5, 3)), u32(JAN_31_2009_130507 - 1));
    // The last day DOS can write fits the unsigned node time.
    EXPECT_EQ(dosDateTimeToTime(dos(2105, 12, 31, 23, 59, 29)), 4291747198u);

    useZone("Europe/Berlin");
    // 1980-01-01 00:00 Berlin is 23:00 UTC the day before.
    EXPECT_EQ(dosDateTimeToTime(dos(1980, 1, 1, 0, 0, 0)), 315529200u);
    // A summer time comes back at the hour the clock showed.
    u32 summer = dosDateTimeToTime(dos(2020, 7, 15, 14, 30, 5));
    EXPECT_EQ(summer, 1594816210u);
    useLanguage(1);
    EXPECT_EQ(formatTime(summer), "15.07.2020 14:30:10");
    EXPECT_EQ(dosDateTimeToTime(dos(2020, 1, 15, 14, 30, 5)), 1579095010u);
}

TEST_F(DateTimeTest, DamagedDosFieldsGiveNoTime) {
    EXPECT_EQ(dosDateTimeToTime(0), NO_TIME);                        // empty date
    EXPECT_EQ(dosDateTimeToTime(dos(2009, 0, 1, 0, 0, 0)), NO_TIME); // month 0
    EXPECT_EQ(dosDateTimeToTime(dos(2009, 13, 1, 0, 0, 0)), NO_TIME);
    EXPECT_EQ(dosDateTimeToTime(dos(2009, 2, 30, 0, 0, 0)), NO_TIME);
    EXPECT_EQ(dosDateTimeToTime(dos(2009, 1, 1, 24, 0, 0)), NO_TIME);
    EXPECT_EQ(dosDateTimeToTime(dos(2009, 1, 1, 0, 60, 0)), NO_TIME);
    EXPECT_EQ(dosDateTimeToTime(dos(2009, 1, 1, 0, 0, 30)), NO_TIME); // 60 seconds
}
