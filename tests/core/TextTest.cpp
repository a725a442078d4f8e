#include "core/Text.h"

#include <gtest/gtest.h>

namespace {

TEST(TextTest, MessagesFillNumberedPlaceholdersOnce) {
    const std::pair<std::string, std::string> cases[] = {
        {formatMessage("%2 before %1", "a", std::string("b")), "b before a"},
        {formatMessage("%1 of %2", 3, 4ull), "3 of 4"},
        {formatMessage("%1 of %2", "3"), "3 of %?"}, // a missing argument shows
        {formatMessage("100%% %6 %0%1 ends with %", "x"), "100% %6 %0x ends with %"},
        {formatMessage("<%1>", "%2 and %%", "no"), "<%2 and %%>"}, // not expanded again
        {formatMessage("%1", static_cast<const char*>(nullptr)), ""},
        {formatMessage(nullptr, "x"), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.first, c.second);
}

TEST(TextTest, SizesRoundIntoTheNextUnitAtItsLimit) {
    const std::pair<u64, const char*> sizes[] = {
        {999, "999"},           {1000, "1.000KB"},     {999949, "999.9KB"},
        {999950, "1.000MB"},    {12345678, "12.35MB"}, {999950000000ull, "1.000TB"},
        {~0ull, "18446744.0TB"}};
    for (const auto& s : sizes)
        EXPECT_EQ(formatSize(s.first), s.second) << s.first;
    EXPECT_EQ(formatProgress(1250000000ull, 4700000000ull), "1.250 of 4.700GB");
    EXPECT_EQ(formatThousands(~0ull), "18,446,744,073,709,551,615");
    EXPECT_EQ(formatDuration(3725), " 1 hour  2 minutes");
    EXPECT_EQ(formatDuration(0xFFFFFFFFu), "1193046 hours 28 minutes");
}

TEST(TextTest, TrimSplitAndMarkup) {
    EXPECT_EQ(trim("  a b \t", " \t"), "a b");
    EXPECT_EQ(trim(" \t", " \t"), "");
    std::vector<std::string> out{"before"};
    split(",a,", out, ',');
    EXPECT_EQ(out, (std::vector<std::string>{"before", "", "a", ""}));
    EXPECT_EQ(escapeMarkup("<a href='x'>&amp;</a>"),
              "&lt;a href=&apos;x&apos;&gt;&amp;amp;&lt;/a&gt;");
}

// A name may not split a report line, move a terminal's cursor or break the
// UTF-8 of what shows it; letters of every script stay as they are.
TEST(TextTest, PrintableNamesEscapeControlCharacters) {
    const struct {
        std::string name;
        std::string shown;
    } rows[] = {
        {"\xe5\x86\x99\xe7\x9c\x9f \xc3\xa9\xc2\xa0.jpg",
         "\xe5\x86\x99\xe7\x9c\x9f \xc3\xa9\xc2\xa0.jpg"},
        {"nl\nline\ttab\rcr", "nl\\nline\\ttab\\rcr"},
        {"\x1b[2J\x7f\x01", "\\x1b[2J\\x7f\\x01"},
        // C1: the single-character CSI and NEL.
        {"a\xc2\x9b"
         "31mb\xc2\x85",
         "a\\u009b31mb\\u0085"},
        {"bad\xff\xc2", "bad\xef\xbf\xbd\xef\xbf\xbd"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(printableName(row.name), row.shown) << row.name;
}

} // namespace
