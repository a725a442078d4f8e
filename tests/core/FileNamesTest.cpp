#include "core/FileNames.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

namespace {

std::string sanitized(std::string name) {
    sanitizeFileName(name);
    return name;
}

std::string headToBytes(std::string name, std::size_t max) {
    truncateHeadToBytes(name, max);
    return name;
}

std::string headToChars(std::string name, std::size_t max) {
    truncateHeadToChars(name, max);
    return name;
}

std::size_t utf8Chars(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

// Leaves the process-wide charset as the next test expects it.
class FileNameCharsetTest : public ::testing::Test {
protected:
    void TearDown() override { setFileNameCharset("UTF-8"); }
};

// A name is usable when it is not in `taken`.
struct Taken {
    explicit Taken(std::set<std::string> n) : names(std::move(n)) {}
    std::set<std::string> names;
    std::string tried;
    bool operator()(const std::string& path) {
        tried = path;
        return names.count(path) == 0;
    }
};

std::string unique(const std::string& dir, std::string name, Taken& taken, unsigned tries,
                   bool* found = nullptr) {
    bool ok = makeUniqueFileName(dir, name, std::ref(taken), tries);
    if (found)
        *found = ok;
    return name;
}

std::string decodeError(const std::string& text) {
    try {
        decodeCString(text);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(SanitizeFileNameTest, ReplacesUnsafeCharacters) {
    EXPECT_EQ(sanitized(""), "_");
    EXPECT_EQ(sanitized("a:b?"), "a_b_");
    EXPECT_EQ(sanitized("\"*/:<>?\\|"), "_________");
    EXPECT_EQ(sanitized(std::string("a\0b\x1f\x7f", 5)), "a_b_\x7f");
    // Parts of UTF-8 characters are left alone.
    EXPECT_EQ(sanitized("gr\xC3\xBC\xC3\x9F"), "gr\xC3\xBC\xC3\x9F");
    // A path cannot climb out of the destination.
    EXPECT_EQ(sanitized("../etc"), ".._etc");
    EXPECT_EQ(sanitized(".."), "._");
    EXPECT_EQ(sanitized("."), "_");
}

TEST(SanitizeFileNameTest, ReservedNamesAndTrailingDots) {
    EXPECT_EQ(sanitized("nul"), "nu_");
    EXPECT_EQ(sanitized("CoN"), "Co_");
    EXPECT_EQ(sanitized("LPT1"), "LPT_");
    EXPECT_EQ(sanitized("com0"), "com_");
    EXPECT_EQ(sanitized("COM10"), "COM10");
    EXPECT_EQ(sanitized("COMX"), "COMX");
    EXPECT_EQ(sanitized("CONS"), "CONS");
    EXPECT_EQ(sanitized("report."), "report_");
    EXPECT_EQ(sanitized("a.."), "a._");
    EXPECT_EQ(sanitized("a "), "a_");
}

TEST(TruncateHeadTest, BytesNeverSplitACharacter) {
    EXPECT_EQ(headToBytes("short", 5), "short");
    EXPECT_EQ(headToBytes("abcdef", 4), "~def");
    // "ä" is two bytes, "€" three: the tail may not start inside either.
    std::string name = "x\xC3\xA4\xE2\x82\xAC\xE2\x82\xAC";
    for (std::size_t max = 1; max < name.size(); ++max) {
        std::string cut = headToBytes(name, max);
        EXPECT_LE(cut.size(), std::max<std::size_t>(max, 1)) << max;
        EXPECT_EQ(cut[0], '~');
        ASSERT_GT(name.size(), 0u);
        std::string tail = cut.substr(1);
        EXPECT_EQ(name.compare(name.size() - tail.size(), tail.size(), tail), 0) << max;
        if (!tail.empty()) {
            EXPECT_NE(static_cast<unsigned char>(tail[0]) & 0xC0, 0x80) << max;
        }
    }
    EXPECT_EQ(headToBytes(name, 4), "~\xE2\x82\xAC");
    EXPECT_EQ(headToBytes(name, 3), "~");
    EXPECT_EQ(headToBytes(name, 0), "~");
    // Bytes that are not UTF-8 at all cannot make it run off the end.
    EXPECT_EQ(headToBytes(std::string(10, '\x80'), 4), "~");
}

TEST(TruncateHeadTest, CharsKeepTheTail) {
    std::string name;
    for (int i = 0; i < 300; ++i)
        name += i % 2 ? "\xC3\xA4" : "b";
    std::string cut = headToChars(name, 250);
    EXPECT_EQ(utf8Chars(cut), 250u);
    EXPECT_EQ(cut, "~" + name.substr(name.size() - (249 / 2 * 3 + 2)));
    EXPECT_EQ(headToChars("abc", 3), "abc");
    EXPECT_EQ(headToChars("abcd", 3), "~cd");
    EXPECT_EQ(headToChars("abcd", 1), "~");
    EXPECT_EQ(headToChars("abcd", 0), "~");
}

TEST(MakeUniqueFileNameTest, NumbersBeforeTheExtension) {
    Taken taken{{"/d/photo.jpg", "/d/photo-1.jpg"}};
    EXPECT_EQ(unique("/d/", "photo.jpg", taken, 999), "photo-2.jpg");
    EXPECT_EQ(unique("/d/", "free.jpg", taken, 999), "free.jpg");

    Taken all{{"archive.tar.gz", ".profile", "dir.d\\name", "dir.d/name", "noext"}};
    EXPECT_EQ(unique("", "archive.tar.gz", all, 3), "archive.tar-1.gz");
    EXPECT_EQ(unique("", ".profile", all, 3), "-1.profile");
    EXPECT_EQ(unique("", "dir.d\\name", all, 3), "dir.d\\name-1");
    EXPECT_EQ(unique("", "dir.d/name", all, 3), "dir.d/name-1");
    EXPECT_EQ(unique("", "noext", all, 3), "noext-1");
}

TEST(MakeUniqueFileNameTest, GivesUpAfterMaxTries) {
    Taken taken{{"a.txt", "a-1.txt", "a-2.txt"}};
    bool found = true;
    EXPECT_EQ(unique("", "a.txt", taken, 2, &found), "a.txt");
    EXPECT_FALSE(found);
    EXPECT_EQ(taken.tried, "a-2.txt");
    EXPECT_EQ(unique("", "a.txt", taken, 3, &found), "a-3.txt");
    EXPECT_TRUE(found);
}

TEST(DecodeCStringTest, Escapes) {
    EXPECT_EQ(decodeCString("\\x41\\102\\n"), "AB\n");
    EXPECT_EQ(decodeCString("plain"), "plain");
    EXPECT_EQ(decodeCString("\\t\\v\\b\\r\\f\\a\\\\"), "\t\v\b\r\f\a\\");
    EXPECT_EQ(decodeCString("\\xfF\\xA"), "\xff\x0a");
    EXPECT_EQ(decodeCString("a\\0b"), std::string("a\0b", 3));
    EXPECT_EQ(decodeCString("\\1234"), "S4"); // three octal digits at most
    EXPECT_EQ(decodeCString("\\377"), "\xff");
    EXPECT_EQ(decodeCString("\\18"), "\x01"
                                     "8");
    EXPECT_EQ(decodeCString(std::string("ab\0\\q", 5)), "ab"); // ends at the NUL
}

TEST(DecodeCStringTest, BadEscapesThrow) {
    EXPECT_EQ(decodeError("\\400"), "CString(28)");
    EXPECT_EQ(decodeError("\\777"), "CString(28)");
    EXPECT_EQ(decodeError("\\x"), "CString(42)");
    EXPECT_EQ(decodeError("\\xg"), "CString(42)");
    EXPECT_EQ(decodeError("\\x414"), "CString(60)");
    EXPECT_EQ(decodeError("\\q"), "CString(86)");
    EXPECT_EQ(decodeError("\\8"), "CString(86)");
    EXPECT_EQ(decodeError("end\\"), "CString(86)");
}

TEST(ConvertCharsetTest, ConvertsAndDegrades) {
    std::string cp437 = "\x81\x9A";
    EXPECT_EQ(convertToUtf8(cp437.data(), cp437.size(), "CP437"), "\xC3\xBC\xC3\x9C");
    std::string latin = "caf\xE9";
    EXPECT_EQ(convertCharset(latin.data(), latin.size(), "UTF-8", "ISO8859-1"), "caf\xC3\xA9");
    // Only the part before an invalid sequence survives.
    std::string broken = "ab\xFF"
                         "cd";
    EXPECT_EQ(convertToUtf8(broken.data(), broken.size(), "UTF-8"), "ab");
    EXPECT_EQ(convertToUtf8("\xFF", 1, "UTF-8"), "");
    // Characters the target lacks become escapes, or the fallback.
    std::string euro = "1\xE2\x82\xAC";
    EXPECT_EQ(convertCharset(euro.data(), euro.size(), "ISO8859-1", "UTF-8"), "1\\u20ac");
    EXPECT_EQ(convertCharset(euro.data(), euro.size(), "ISO8859-1", "UTF-8", "?"), "1?");
    EXPECT_EQ(convertToUtf8("abc", 3, "NO-SUCH-CHARSET"), "");
    EXPECT_EQ(convertToUtf8(nullptr, 0, "UTF-8"), "");
    // Little-endian UTF-16 with an embedded zero unit keeps both halves.
    std::string wide("a\0\0\0b\0", 6);
    EXPECT_EQ(convertToUtf8(wide.data(), wide.size(), "UTF-16LE"), std::string("a\0b", 3));
    EXPECT_TRUE(canConvert("CP437", "UTF-8"));
    EXPECT_FALSE(canConvert("NO-SUCH-CHARSET", "UTF-8"));
}

TEST_F(FileNameCharsetTest, RoundTripThroughTheChosenCharset) {
    EXPECT_EQ(fileNameCharset(), "UTF-8");
    EXPECT_EQ(toFileNameCharset("\xF0\x9F\x98\x80.jpg"), "\xF0\x9F\x98\x80.jpg");

    setFileNameCharset("ISO8859-1");
    EXPECT_EQ(fileNameCharset(), "ISO8859-1");
    EXPECT_EQ(toFileNameCharset("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(toFileNameCharset("1\xE2\x82\xAC.txt"), "1\\u20ac.txt");

    setFileNameCharset("CP437");
    EXPECT_EQ(toFileNameCharset("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");
}

TEST_F(FileNameCharsetTest, BrokenNamesKeepTheirRest) {
    // A byte that is not UTF-8 becomes U+FFFD instead of cutting the name short.
    EXPECT_EQ(toFileNameCharset(std::string("a\xFF"
                                            "b\0c",
                                            5)),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD"
              "c");
    setFileNameCharset("ISO8859-1");
    EXPECT_EQ(toFileNameCharset("a\xFF"
                                "b"),
              "a\\ufffdb");
}

TEST_F(FileNameCharsetTest, UnknownCharsetLeavesNamesAlone) {
    setFileNameCharset("CP99999");
    EXPECT_EQ(fileNameCharset(), "CP99999");
    EXPECT_EQ(toFileNameCharset("n\xC3\xA4me"), "n\xC3\xA4me");
}
