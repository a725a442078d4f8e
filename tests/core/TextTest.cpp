#include "core/Text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <list>
#include <vector>

using ::testing::ElementsAre;

TEST(FormatMessageTest, FillsNumberedPlaceholders) {
    EXPECT_EQ(formatMessage("%2 before %1", "a", std::string("b")), "b before a");
    EXPECT_EQ(formatMessage("%1%2%3%4%5", "1", "2", "3", "4", "5"), "12345");
    EXPECT_EQ(formatMessage("%1 of %2", 3, 4ull), "3 of 4");
    EXPECT_EQ(formatMessage("no placeholders"), "no placeholders");
}

TEST(FormatMessageTest, MissingArgumentShowsQuestionMark) {
    EXPECT_EQ(formatMessage("%1 of %2", "3"), "3 of %?");
    EXPECT_EQ(formatMessage("%5"), "%?");
}

TEST(FormatMessageTest, StrayPercentStays) {
    EXPECT_EQ(formatMessage("100%%"), "100%");
    EXPECT_EQ(formatMessage("50% off"), "50% off");
    EXPECT_EQ(formatMessage("ends with %"), "ends with %");
    EXPECT_EQ(formatMessage("%6"), "%6");
    EXPECT_EQ(formatMessage("%0%1", "x"), "%0x");
    // The character after a stray '%' is ordinary text, even another '%' pair.
    EXPECT_EQ(formatMessage("%a%%"), "%a%");
}

TEST(FormatMessageTest, ArgumentsAreNotExpandedAgain) {
    EXPECT_EQ(formatMessage("<%1>", "%2 and %%", "no"), "<%2 and %%>");
    EXPECT_EQ(formatMessage("%1", static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(formatMessage(nullptr, "x"), "");
}

TEST(FormatSizeTest, ChoosesUnitAtTheRoundingLimit) {
    EXPECT_EQ(formatSize(0), "0");
    EXPECT_EQ(formatSize(999), "999");
    EXPECT_EQ(formatSize(1000), "1.000KB");
    EXPECT_EQ(formatSize(10000), "10.00KB");
    EXPECT_EQ(formatSize(100000), "100.0KB");
    EXPECT_EQ(formatSize(999949), "999.9KB");
    EXPECT_EQ(formatSize(999950), "1.000MB");
    EXPECT_EQ(formatSize(12345678), "12.35MB");
    EXPECT_EQ(formatSize(100000000000ull), "100.0GB");
    EXPECT_EQ(formatSize(999950000000ull), "1.000TB");
    EXPECT_EQ(formatSize(~0ull), "18446744.0TB");
}

TEST(FormatProgressTest, UsesTheUnitOfTheTotal) {
    EXPECT_EQ(formatProgress(500, 999), "500 of 999");
    EXPECT_EQ(formatProgress(0, 2000000), "0.000 of 2.000MB");
    EXPECT_EQ(formatProgress(1250000000ull, 4700000000ull), "1.250 of 4.700GB");
    // Done beyond the total is printed whole (in single precision), not cut off.
    EXPECT_EQ(formatProgress(~0ull, 1000), "18446744949882880.0 of 1.000KB");
}

TEST(FormatThousandsTest, GroupsOfThree) {
    EXPECT_EQ(formatThousands(0), "0");
    EXPECT_EQ(formatThousands(999), "999");
    EXPECT_EQ(formatThousands(1000), "1,000");
    EXPECT_EQ(formatThousands(100000), "100,000");
    EXPECT_EQ(formatThousands(1234567), "1,234,567");
    EXPECT_EQ(formatThousands(~0ull), "18,446,744,073,709,551,615");
}

TEST(FormatDurationTest, HoursAndMinutesOrMinutesAndSeconds) {
    EXPECT_EQ(formatDuration(0), " 0 minutes  0 seconds");
    EXPECT_EQ(formatDuration(5), " 0 minutes  5 seconds");
    EXPECT_EQ(formatDuration(65), " 1 minute  5 seconds");
    EXPECT_EQ(formatDuration(61), " 1 minute  1 second");
    EXPECT_EQ(formatDuration(3599), "59 minutes 59 seconds");
    EXPECT_EQ(formatDuration(3600), " 1 hour  0 minutes");
    EXPECT_EQ(formatDuration(3725), " 1 hour  2 minutes");
    EXPECT_EQ(formatDuration(0xFFFFFFFFu), "1193046 hours 28 minutes");
}

TEST(ToStringTest, WritesWholeNumbers) {
    EXPECT_EQ(toString(-5), "-5");
    EXPECT_EQ(toString(0xFFFFFFFFu), "4294967295");
    EXPECT_EQ(toString(static_cast<i64>(-9223372036854775807ll - 1)), "-9223372036854775808");
    EXPECT_EQ(toString(~0ull), "18446744073709551615");
    EXPECT_EQ(toString(static_cast<u8>(200)), "200");
}

TEST(TrimTest, RemovesSetCharactersAtBothEnds) {
    EXPECT_EQ(trim("  a b \t", " \t"), "a b");
    EXPECT_EQ(trim("xxyxx", "x"), "y");
    EXPECT_EQ(trim(" \t \t", " \t"), "");
    EXPECT_EQ(trim("", " "), "");
    EXPECT_EQ(trim("abc", ""), "abc");
}

TEST(SplitTest, KeepsEmptyPiecesAndAppends) {
    std::vector<std::string> out{"before"};
    split("a,b,", out, ',');
    EXPECT_THAT(out, ElementsAre("before", "a", "b", ""));

    std::list<std::string> one;
    split("", one, ',');
    EXPECT_THAT(one, ElementsAre(""));

    std::vector<std::string> many;
    split(",,x", many, ',');
    EXPECT_THAT(many, ElementsAre("", "", "x"));
}
