#include "core/NameConversions.h"

#include <gtest/gtest.h>

namespace {

// Leaves the process-wide code page as the next test expects it.
class NameConversionsTest : public ::testing::Test {
protected:
    void TearDown() override { setCodePage("CP437"); }
};

std::string utf16(const std::vector<u16>& units, std::size_t* read = nullptr) {
    return utf16ToUtf8(units.data(), units.size(), read);
}

TEST_F(NameConversionsTest, ShortNamesConvertFromTheCodePage) {
    const struct {
        const char* page;
        int number;
        const char* bytes;
        const char* utf8;
    } cases[] = {
        {"CP437", 437, "M\x81LLER  TXT", "M\xC3\xBCLLER  TXT"},
        {"cp850", 850, "\x9B", "\xC3\xB8"},
        {"CP932", 932, "\x83\x41", "\xE3\x82\xA2"},
        {"CP932", 932, "AB\x83", "AB"}, // a lead byte without its second keeps what came before
        {"CP99999x", 99999, "caf\xE9", "caf\xC3\xA9"}, // unknown: read as Latin-1
        {"ISO8859-1", 0, "caf\xE9", "caf\xC3\xA9"},
    };
    for (const auto& c : cases) {
        setCodePage(c.page);
        EXPECT_EQ(getCodePage(), c.number) << c.page;
        EXPECT_EQ(codePageToUtf8(c.bytes), c.utf8) << c.page;
    }
}

// A surrogate pair is one character; a half without its partner becomes U+FFFD
// and the rest of the name stays.
TEST_F(NameConversionsTest, Utf16KeepsSurrogatePairsTogether) {
    const std::string fffd = "\xEF\xBF\xBD";
    const std::pair<std::vector<u16>, std::string> cases[] = {
        {{'A', 0xC4, 0x20AC}, "A\xC3\x84\xE2\x82\xAC"},
        {{'a', 0xD83D, 0xDE00, 'b'},
         "a\xF0\x9F\x98\x80"
         "b"},
        {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
        {{'a', 0xD83D, 'b'}, "a" + fffd + "b"},
        {{'a', 0xDE00, 'b'}, "a" + fffd + "b"},
        {{'a', 0xD83D}, "a" + fffd},
        {{0xDE00, 0xD83D}, fffd + fffd},
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf16(c.first), c.second);
    std::size_t read = 99;
    EXPECT_EQ(utf16({'a', 'b', 0, 'c'}, &read), "ab");
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(utf16CharToUtf8(0xD800), fffd);
    EXPECT_EQ(utf16CharToUtf8(0), "");
}

} // namespace
