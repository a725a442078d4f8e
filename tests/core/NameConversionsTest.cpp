#include "core/NameConversions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Leaves the process-wide code page as the next test expects it.
class NameConversionsTest : public ::testing::Test {
protected:
    void TearDown() override { setCodePage("CP437"); }
};

std::string utf16(const std::vector<u16>& units, std::size_t* read = nullptr) {
    return utf16ToUtf8(units.data(), units.size(), read);
}

} // namespace

TEST_F(NameConversionsTest, CodePageNumberFollowsTheName) {
    struct Case {
        const char* name;
        int number;
    };
    for (Case c : {Case{"cp1252", 1252}, Case{"CP932", 932}, Case{"Cp850x", 850}, Case{"UTF-8", 0},
                   Case{"CP", 0}, Case{"CPx", 0}, Case{"ISO8859-1", 0}}) {
        setCodePage(c.name);
        EXPECT_EQ(getCodePageName(), c.name);
        EXPECT_EQ(getCodePage(), c.number) << c.name;
    }
}

TEST_F(NameConversionsTest, ShortNamesConvertFromTheCodePage) {
    setCodePage("CP437");
    EXPECT_EQ(codePageToUtf8("M\x81LLER  TXT"), "M\xC3\xBCLLER  TXT"); // ü
    setCodePage("CP850");
    EXPECT_EQ(codePageToUtf8("\x9B"), "\xC3\xB8"); // ø
    setCodePage("CP932");
    EXPECT_EQ(codePageToUtf8("\x83\x41"), "\xE3\x82\xA2"); // katakana A
    // A lead byte without its second byte keeps what came before it.
    EXPECT_EQ(codePageToUtf8("AB\x83"), "AB");
    EXPECT_EQ(codePageToUtf8(""), "");
}

TEST_F(NameConversionsTest, UnknownCodePageReadsAsLatin1) {
    setCodePage("CP99999");
    EXPECT_EQ(codePageToUtf8("caf\xE9"), "caf\xC3\xA9");
}

TEST_F(NameConversionsTest, Utf16KeepsSurrogatePairsTogether) {
    EXPECT_EQ(utf16({'A', 0xC4, 0x20AC}), "A\xC3\x84\xE2\x82\xAC");
    EXPECT_EQ(utf16({'a', 0xD83D, 0xDE00, 'b'}), "a\xF0\x9F\x98\x80"
                                                 "b");      // U+1F600
    EXPECT_EQ(utf16({0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF"); // U+10FFFF
}

TEST_F(NameConversionsTest, LoneSurrogatesBecomeReplacementCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(utf16({'a', 0xD83D, 'b'}), "a" + fffd + "b");
    EXPECT_EQ(utf16({'a', 0xDE00, 'b'}), "a" + fffd + "b");
    EXPECT_EQ(utf16({'a', 0xD83D}), "a" + fffd);
    EXPECT_EQ(utf16({0xDE00, 0xD83D}), fffd + fffd); // the wrong order is no pair
}

TEST_F(NameConversionsTest, Utf16StopsAtZeroOrCount) {
    std::size_t read = 99;
    EXPECT_EQ(utf16({'a', 'b', 0, 'c'}, &read), "ab");
    EXPECT_EQ(read, 2u);
    std::vector<u16> units{'x', 'y', 'z'};
    EXPECT_EQ(utf16ToUtf8(units.data(), 2, &read), "xy");
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(utf16({0xD83D, 0xDE00}, &read), "\xF0\x9F\x98\x80");
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(utf16ToUtf8(nullptr, 0, &read), "");
    EXPECT_EQ(read, 0u);
}

TEST_F(NameConversionsTest, SingleUnits) {
    EXPECT_EQ(utf16CharToUtf8('A'), "A");
    EXPECT_EQ(utf16CharToUtf8(0x7FF), "\xDF\xBF");
    EXPECT_EQ(utf16CharToUtf8(0xFFFF), "\xEF\xBF\xBF");
    EXPECT_EQ(utf16CharToUtf8(0), "");
    EXPECT_EQ(utf16CharToUtf8(0xD800), "\xEF\xBF\xBD");
}

TEST_F(NameConversionsTest, FileTimeToUnixTimeRange) {
    EXPECT_EQ(fileTimeToUnixTime(116444736000000000ull), 0u);
    EXPECT_EQ(fileTimeToUnixTime(116444736010000000ull), 1u);
    EXPECT_EQ(fileTimeToUnixTime(116444735990000000ull), 0xFFFFFFFFu);
    EXPECT_EQ(fileTimeToUnixTime(159394408960000000ull), 0xFFFFFFFFu);
    EXPECT_EQ(fileTimeToUnixTime(159394408940000000ull), 0xFFFFFFFEu);
    // The old 7-hour-late origin is now before 1970.
    EXPECT_EQ(fileTimeToUnixTime(116444484000000000ull), 0xFFFFFFFFu);
}
