#include "fs/DirectoryEntry.h"

#include "core/DateTime.h"
#include "core/NameConversions.h"
#include "tests/support/FatBytes.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testutil;

namespace {

// 12:30:10 on 2020-09-13, as stored.
constexpr u16 A_TIME = (12 << 11) | (30 << 5) | 5;
constexpr u16 A_DATE = ((2020 - 1980) << 9) | (9 << 5) | 13;

std::string entry(const std::string& name11, u8 attributes = ATTR_ARCHIVE, u32 size = 100,
                  u16 time = A_TIME, u16 date = A_DATE) {
    return shortEntry(name11, attributes, 3, size, date, time);
}

std::string nameOf(const std::string& e, char replacement = '#') {
    std::string out;
    shortEntryName(bytesAt(e), out, replacement);
    return out;
}

std::string withCase(std::string e, u8 flags) {
    e[DE_CASE] = static_cast<char>(flags);
    return e;
}

// A sector of these entries, zeros after them.
Sector sectorOf(const std::vector<std::string>& entries) {
    Sector s{};
    for (std::size_t i = 0; i < entries.size(); ++i)
        std::memcpy(s.data() + 32 * i, entries[i].data(), 32);
    return s;
}

class DirectoryEntryTest : public ::testing::Test {
protected:
    void TearDown() override { setCodePage("CP437"); }
};

} // namespace

TEST_F(DirectoryEntryTest, TimesDatesAttributesAndSizes) {
    struct Case {
        std::string entry;
        bool valid;
    };
    const Case cases[] = {
        {entry("README  TXT"), true},
        {entry("README  TXT", ATTR_ARCHIVE, 1, 24 << 11), false},
        {entry("README  TXT", ATTR_ARCHIVE, 1, 60 << 5), false},
        {entry("README  TXT", ATTR_ARCHIVE, 1, 30), true}, // a leap second
        {entry("README  TXT", ATTR_ARCHIVE, 1, 31), false},
        {entry("README  TXT", ATTR_ARCHIVE, 1, 0, (40 << 9) | (13 << 5) | 1), false},
        {entry("README  TXT", ATTR_ARCHIVE, 1, 0, (40 << 9) | (0 << 5) | 1), false},
        {entry("README  TXT", ATTR_ARCHIVE, 1, 0, (40 << 9) | (1 << 5)), false},
        {entry("README  TXT", ATTR_ARCHIVE, 1, 0, 0), true}, // no clock, no date
        {entry("README  TXT", ATTR_ARCHIVE, 1, 2, 0), false},
        {entry("deleted but", ATTR_ARCHIVE, 0, 0, 0), false}, // text ending in zeros
        {entry("SUB        ", ATTR_DIRECTORY, 512), true},
        {entry("SUB        ", ATTR_DIRECTORY, 100), false},
        {entry("A          ", 0x40), false},
        {entry("MY DISK    ", ATTR_VOLUME_LABEL), true}, // blanks inside a label are fine
        {lfnEntry(0x41, 0, {'a'}), true},
        {lfnEntry(0x41, 0, {'a'}).replace(DE_CLUSTER_LOW, 1, "\1"), false},
        {lfnEntry(0x41, 0, {'a'}).replace(LFN_TYPE, 1, "\1"), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isValidShortDirEntry(bytesAt(c.entry)), c.valid) << hexDump(c.entry.data(), 32);
    EXPECT_EQ(dirEntryTime(bytesAt(entry("A          ", ATTR_ARCHIVE, 1, 0, 0))), NO_TIME);
    const std::string big = shortEntry("BIG     BIN", ATTR_ARCHIVE, 0x12345678, 0xFFFFFFFF);
    EXPECT_EQ(dirEntryStartCluster(bytesAt(big)), 0x12345678u);
    EXPECT_EQ(dirEntrySize(bytesAt(big)), 0xFFFFFFFFu);
}

TEST_F(DirectoryEntryTest, ShortNamesWithTheirMarksAndCaseFlags) {
    EXPECT_EQ(nameOf(entry("README  TXT")), "README.TXT");
    EXPECT_EQ(nameOf(entry("MAKEFILE   ")), "MAKEFILE");
    EXPECT_EQ(nameOf(entry("\345EADME  TXT"), '_'), "_EADME.TXT");
    EXPECT_EQ(nameOf(entry(std::string("\0ABC    TXT", 11))), "#ABC.TXT");
    // 0x05 stands for a first character 0xE5 (sigma in code page 437).
    const std::string escaped = entry("\005BC     TXT");
    EXPECT_EQ(nameOf(escaped), "\317\203BC.TXT");
    EXPECT_TRUE(isValidShortName(bytesAt(escaped)));
    // Lower-case flags in byte 12: the base, the extension, or both; the lost
    // first character of a deleted name stays as given.
    EXPECT_EQ(nameOf(withCase(entry("README  TXT"), CASE_LOWER_BASE)), "readme.TXT");
    EXPECT_EQ(nameOf(withCase(entry("README  TXT"), CASE_LOWER_EXTENSION)), "README.txt");
    EXPECT_EQ(nameOf(withCase(entry("README  TXT"), CASE_LOWER_BASE | CASE_LOWER_EXTENSION)),
              "readme.txt");
    EXPECT_EQ(nameOf(withCase(entry("\345EADME  TXT"), CASE_LOWER_BASE), 'R'), "Readme.TXT");
    // Under code page 932 a second byte only looks like a letter: 0x83 0x41 is
    // katakana A.
    setCodePage("CP932");
    EXPECT_EQ(nameOf(withCase(entry("\203\101B     TXT"), CASE_LOWER_BASE)), "\343\202\242b.TXT");
}

TEST_F(DirectoryEntryTest, NameCharactersByCodePage) {
    struct Case {
        const char* page;
        std::string name11;
        u8 attributes;
        bool valid;
    };
    const Case cases[] = {
        {"CP437", "A~1     TXT", ATTR_ARCHIVE, true},
        {"CP437", " ABC    TXT", ATTR_ARCHIVE, false},
        {"CP437", "A*B     TXT", ATTR_ARCHIVE, false},
        {"CP437", "A B     TXT", ATTR_ARCHIVE, false}, // a letter after a blank
        {"CP437", "abc     txt", ATTR_ARCHIVE, true},
        {"CP437", "NO NAME    ", ATTR_VOLUME_LABEL, true},
        {"CP437", std::string("AB\0\0\0\0\0\0\0\0\0", 11), ATTR_VOLUME_LABEL, true},
        {"CP437", "\345B         ", ATTR_VOLUME_LABEL, true},
        {"CP437", std::string("\0BC        ", 11), ATTR_VOLUME_LABEL, false},
        {"CP850", "\x81\xAD      TXT", ATTR_ARCHIVE, true},
        {"CP932", "\x81\x40      TXT", ATTR_ARCHIVE, true},
        {"CP932", "\x81\xAD      TXT", ATTR_ARCHIVE, false}, // an unassigned pair
        {"CP932", "ABCDEFG\x81TXT", ATTR_ARCHIVE, false},    // a lead byte at the end
        {"CP932", "\x80       TXT", ATTR_ARCHIVE, false},
        {"CP932", "\xB1\xB2      TXT", ATTR_ARCHIVE, true}, // half-width kana
        // A deleted name whose lead byte the mark took: byte 1 is a trail byte.
        {"CP932", "\345\200ABC   TXT", ATTR_ARCHIVE, true},
        {"CP932", "\xE5?ABC   TXT", ATTR_ARCHIVE, false},
    };
    for (const Case& c : cases) {
        setCodePage(c.page);
        EXPECT_EQ(isValidShortName(bytesAt(entry(c.name11, c.attributes))), c.valid)
            << c.page << ' ' << hexDump(c.name11.data(), 11);
    }
    for (char c : std::string("\"*+,./:;<=>?[\\]|\x1F\xFD"))
        EXPECT_FALSE(isValidShortNameChar(static_cast<u8>(c))) << c;
}

TEST_F(DirectoryEntryTest, SectorsOfEntries) {
    const std::string a = entry("README  TXT");
    struct Case {
        Sector sector;
        bool plain;
    };
    Sector stray = sectorOf({a});
    stray[200] = 1; // a byte after the end mark
    Sector deleted = sectorOf({a, entry("BAD*    TXT")});
    deleted[32] = ENTRY_DELETED;
    const Case cases[] = {
        {sectorOf({a}), true},
        {stray, false},
        {Sector{}, false},
        {sectorOf({a, lfnEntry(0x00, 0, {'x'})}), true},
        {sectorOf({a, lfnEntry(0x00, 0, {'x'}), a}), false}, // an entry after a 0 first byte
        {sectorOf({a, entry("BAD*    TXT")}), false},
        {deleted, true},
        {sectorOf(std::vector<std::string>(16, a)), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkPlainDirSector(c.sector.data()), c.plain) << hexDump(c.sector.data(), 96);

    // "." and ".." alone: an empty subdirectory; then entries, deleted ones too.
    const std::string dotDot = shortEntry("..         ", ATTR_DIRECTORY, 0, 0);
    std::vector<std::string> sub = {shortEntry(".          ", ATTR_DIRECTORY, 5, 0), dotDot};
    bool dots = false, lastUsed = true;
    u32 dot = 0, parent = 9, highest = 9;
    ASSERT_TRUE(analyzeDirectoryStart(sectorOf(sub).data(), dots, lastUsed, dot, parent, highest));
    EXPECT_TRUE(dots && !lastUsed && dot == 5 && parent == 0 && highest == 0);
    sub.push_back(lfnEntry(0x41, 0, {'a'}));
    sub.push_back(shortEntry("\345B         ", ATTR_ARCHIVE, 90, 1));
    while (sub.size() < 16)
        sub.push_back(shortEntry("C          ", ATTR_ARCHIVE, 7, 1));
    ASSERT_TRUE(analyzeDirectoryStart(sectorOf(sub).data(), dots, lastUsed, dot, parent, highest));
    EXPECT_TRUE(lastUsed && highest == 90);
    sub[0] = shortEntry(".          ", ATTR_DIRECTORY, 1, 0); // "." at cluster 1
    EXPECT_FALSE(analyzeDirectoryStart(sectorOf(sub).data(), dots, lastUsed, dot, parent, highest));
}
