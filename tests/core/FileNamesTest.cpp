#include "core/FileNames.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

namespace {

// Names from a disk are hostile: nothing may climb out of the destination, name
// a device, or end in what the destination drops.
TEST(FileNamesTest, SanitizedNamesAreSafeOnAnyDestination) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "_"},
        {"\"*/:<>?\\|", "_________"},
        {std::string("a\0b\x1f\x7f", 5), "a_b_\x7f"},
        {"../etc", ".._etc"},
        {".", "_"},
        {"nul", "nu_"},
        {"LPT1", "LPT_"},
        {"COM10", "COM10"},
        // Device names with an extension, as Windows reads them.
        {"aux.txt", "au_.txt"},
        {"nul.tar.gz", "nu_.tar.gz"},
        {"COM1.log", "COM_.log"},
        {"con .txt", "co_ .txt"},
        {"con.", "co__"},
        {"LPT\xC2\xB9.txt", "LPT_.txt"},
        {"auxiliary.txt", "auxiliary.txt"},
        {".aux", ".aux"},
        {"report.", "report_"},
        {"a ", "a_"},
    };
    for (const auto& c : cases) {
        std::string name = c.first;
        sanitizeFileName(name);
        EXPECT_EQ(name, c.second) << c.first;
    }
}

// A cut name keeps its tail behind "~" and never starts inside a character,
// whatever bytes it holds.
TEST(FileNamesTest, TruncationKeepsTheTailOfWholeCharacters) {
    const std::string name = "x\xC3\xA4\xE2\x82\xAC\xE2\x82\xAC";
    for (std::size_t max = 0; max < name.size(); ++max) {
        std::string cut = name;
        truncateHeadToBytes(cut, max);
        ASSERT_EQ(cut[0], '~');
        EXPECT_LE(cut.size(), std::max<std::size_t>(max, 1)) << max;
        const std::string tail = cut.substr(1);
        EXPECT_EQ(name.compare(name.size() - tail.size(), tail.size(), tail), 0) << max;
        EXPECT_TRUE(tail.empty() || (static_cast<unsigned char>(tail[0]) & 0xC0) != 0x80) << max;
    }
    std::string junk(10, '\x80');
    truncateHeadToBytes(junk, 4);
    EXPECT_EQ(junk, "~");
}

TEST(FileNamesTest, UniqueNamesNumberBeforeTheExtensionAndGiveUp) {
    std::set<std::string> taken{"/d/photo.jpg", "/d/photo-1.jpg", "archive.tar.gz", ".profile",
                                "dir.d/name",   "a.txt",          "a-1.txt",        "a-2.txt"};
    auto usable = [&](const std::string& path) { return taken.count(path) == 0; };
    const struct {
        const char* dir;
        const char* name;
        const char* unique;
        bool found;
    } cases[] = {{"/d/", "photo.jpg", "photo-2.jpg", true},
                 {"", "archive.tar.gz", "archive.tar-1.gz", true},
                 {"", ".profile", "-1.profile", true},
                 {"", "dir.d/name", "dir.d/name-1", true},
                 {"", "a.txt", "a.txt", false}};
    for (const auto& c : cases) {
        std::string name = c.name;
        EXPECT_EQ(makeUniqueFileName(c.dir, name, usable, 2), c.found) << c.name;
        EXPECT_EQ(name, c.unique);
    }
}

TEST(FileNamesTest, CEscapesDecodeOrThrow) {
    EXPECT_EQ(decodeCString("\\x41\\102\\n\\t\\\\\\xfF\\1234\\18"), "AB\n\t\\\xffS4\x01"
                                                                    "8");
    EXPECT_EQ(decodeCString(std::string("a\\0b\0\\q", 7)), std::string("a\0b", 3));
    const std::pair<const char*, const char*> bad[] = {
        {"\\400", "CString(28)"},  {"\\x", "CString(42)"}, {"\\xg", "CString(42)"},
        {"\\x414", "CString(60)"}, {"\\q", "CString(86)"}, {"end\\", "CString(86)"}};
    auto error = [](const char* text) -> std::string {
        try {
            decodeCString(text);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(none)";
    };
    for (const auto& b : bad)
        EXPECT_EQ(error(b.first), b.second) << b.first;
}

// A byte that is not UTF-8 becomes U+FFFD and the rest of the name stays; a
// character the chosen charset lacks becomes an escape; an unknown charset
// leaves names as they are.
TEST(FileNamesTest, RecoveredNamesAreNeverCutShort) {
    const std::string broken = std::string("a\xFF") + '\0' + "b", fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(toFileNameCharset(broken), "a" + fffd + fffd + "b");
    EXPECT_EQ(convertToUtf8(broken.data(), broken.size(), "UTF-8"), "a"); // the part before
    setFileNameCharset("ISO8859-1");
    EXPECT_EQ(toFileNameCharset("caf\xC3\xA9 1\xE2\x82\xAC"), "caf\xC3\xA9 1\\u20ac");
    setFileNameCharset("CP99999");
    EXPECT_EQ(toFileNameCharset("n\xC3\xA4me"), "n\xC3\xA4me");
    setFileNameCharset("UTF-8");
}

// Converters stay open from one name to the next: whatever one conversion left
// behind (a shift into two-byte characters cut off at the end, the byte order a
// mark chose), the next converts as a fresh one would; more code pages than are
// kept open (8), used in turn, each convert as their own.
TEST(FileNamesTest, EachConversionStartsAfresh) {
    const struct {
        const char* from;
        std::string bytes;
        const char* utf8;
    } steps[] = {
        {"ISO-2022-JP", "\x1b$B\x30", ""}, // cut inside a character after the shift
        {"ISO-2022-JP", "AB", "AB"},
        {"UTF-16", std::string("\xFE\xFF\x00\x41", 4), "A"}, // big-endian by its mark
        {"UTF-16", std::string("\x41\x00", 2), "A"},         // no mark: the host's order
        {"NO-SUCH-CHARSET", "AB", ""},
        {"NO-SUCH-CHARSET", "AB", ""},
    };
    for (const auto& s : steps)
        EXPECT_EQ(convertToUtf8(s.bytes.data(), s.bytes.size(), s.from), s.utf8) << s.from;

    const std::pair<const char*, const char*> pages[] = {
        {"CP437", "\xCE\x98\xE2\x8C\xA1"}, {"CP850", "\xC3\x9A\xC2\xA7"},
        {"CP866", "\xD1\x89\xD1\x97"},     {"CP1250", "\xC3\xA9\xC5\x91"},
        {"CP1251", "\xD0\xB9\xD1\x85"},    {"CP1252", "\xC3\xA9\xC3\xB5"},
        {"CP1253", "\xCE\xB9\xCF\x85"},    {"ISO8859-5", "\xD1\x89\xD1\x95"},
        {"KOI8-R", "\xD0\x98\xD0\xA3"},
    };
    for (int round = 0; round < 2; ++round)
        for (const auto& p : pages)
            EXPECT_EQ(convertToUtf8("\xE9\xF5", 2, p.first), p.second) << p.first;
}

} // namespace
