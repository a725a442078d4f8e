#include "fs/DirectoryEntry.h"

#include "core/Array.h"
#include "core/DateTime.h"
#include "core/NameConversions.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>

using namespace testutil;

namespace {

using Sector = std::array<u8, 512>;
using Entry = std::array<u8, 32>;

// 12:30:10 on 2020-09-13.
constexpr u16 NOON_TIME = (12 << 11) | (30 << 5) | 5;
constexpr u16 A_DATE = ((2020 - 1980) << 9) | (9 << 5) | 13;

Entry shortEntry(const char* name11, u8 attributes = ATTR_ARCHIVE, u32 cluster = 3, u32 size = 100,
                 u16 time = NOON_TIME, u16 date = A_DATE) {
    Entry e{};
    std::memcpy(e.data(), name11, 11);
    Array a(e.data(), 32);
    a.setU8(DE_ATTRIBUTES, attributes);
    a.setLE16(DE_CLUSTER_HIGH, static_cast<u16>(cluster >> 16));
    a.setLE16(DE_CLUSTER_LOW, static_cast<u16>(cluster));
    a.setLE16(DE_WRITE_TIME, time);
    a.setLE16(DE_WRITE_DATE, date);
    a.setLE32(DE_SIZE, size);
    return e;
}

// A long-name entry with up to 13 units; the rest 0x0000 then 0xFFFF as
// systems pad them.
Entry lfnEntry(u8 order, const std::vector<u16>& units, u8 checksum = 0) {
    static const u32 offsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    Entry e{};
    Array a(e.data(), 32);
    a.setU8(0, order);
    a.setU8(DE_ATTRIBUTES, ATTR_LONG_NAME);
    a.setU8(LFN_CHECKSUM, checksum);
    for (u32 i = 0; i < 13; ++i) {
        u16 unit = i < units.size() ? units[i] : i == units.size() ? 0x0000 : 0xFFFF;
        a.setLE16(offsets[i], unit);
    }
    return e;
}

void put(Sector& s, u32 index, const Entry& e) {
    std::memcpy(s.data() + 32 * index, e.data(), 32);
}

std::string nameOf(const Entry& e, char replacement = '#') {
    std::string out;
    shortEntryName(e.data(), out, replacement);
    return out;
}

// Restores the code page that the other tests expect.
class DirectoryEntryTest : public ::testing::Test {
protected:
    void TearDown() override { setCodePage("CP437"); }
};

// The live names of a directory's entries, as the FAT drive gathers them: the
// long-name entries before a short entry, when their checksum agrees, give its
// name; the 8.3 name otherwise.
std::map<std::string, const u8*> liveNames(const std::string& bytes) {
    std::map<std::string, const u8*> names;
    const u8* base = reinterpret_cast<const u8*>(bytes.data());
    u32 count = static_cast<u32>(bytes.size() / 32);
    for (u32 i = 0; i < count; ++i) {
        const u8* e = base + 32 * i;
        if (e[0] == 0)
            break;
        if (isFreeDirEntry(e) || isLongNameEntry(e) || isVolumeLabelEntry(e) || isDotEntry(e) ||
            isDotDotEntry(e))
            continue;
        std::vector<u16> units;
        u8 sum = lfnChecksum(e);
        bool whole = false;
        for (u32 j = i; j-- > 0;) {
            const u8* l = base + 32 * j;
            if (!isLongNameEntry(l) || l[LFN_CHECKSUM] != sum)
                break;
            appendLfnUnits(l, units);
            if (l[0] & LFN_LAST_ENTRY) {
                whole = true;
                break;
            }
        }
        std::string name;
        if (whole)
            name = lfnUnitsToUtf8(units);
        else
            shortEntryName(e, name, '#');
        names[name] = e;
    }
    return names;
}

} // namespace

// ---- Real directories ----

TEST_F(DirectoryEntryTest, NamesTimesAndChecksOfRealDirectories) {
    TempDir dir;
    FatImageOptions o;
    o.fatBits = 16;
    o.sizeKiB = 20000;
    o.label = "MYDISK";
    FatImage image(dir.file("fat16.img"), o);
    const std::time_t t = IMAGE_EPOCH + 86400 * 3 + 7200 + 42; // even seconds
    const std::vector<std::string> names = {
        "readme.txt",
        "MAKEFILE",
        "Long File Name.txt",
        "A very long name that needs three long-name entries.data",
        "Ünïcödé naïve.txt",
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE5\x90\x8D\xE5\x89\x8D.txt", // CJK
        "abcdefghijklm\xCE\xA9"
        "ega.txt", // the second long-name entry starts with Omega
    };
    image.makeFolder("Folder One");
    for (const std::string& n : names)
        image.addFile("Folder One/" + n, n, t);
    image.addFile("root.txt", "x", t);
    image.addFile("gone.txt", "y", t);
    image.deleteFile("gone.txt");

    std::string boot = image.bootSector();
    u32 reserved = ConstArray(reinterpret_cast<const u8*>(boot.data()), 512).getLE16(14);
    u32 spf = ConstArray(reinterpret_cast<const u8*>(boot.data()), 512).getLE16(22);
    u32 spc = static_cast<u8>(boot[13]);
    u64 rootLba = reserved + 2 * spf;
    u64 dataLba = rootLba + 32; // 512 root entries
    std::string root = readAt(image.path(), rootLba * 512, 32 * 512);

    // The root: a plain directory start with the label, the folder, a live and
    // a deleted file.
    const u8* rootSector = reinterpret_cast<const u8*>(root.data());
    bool dots = true;
    bool lastUsed = true;
    u32 dot = 0;
    u32 dotDot = 77;
    u32 highest = 0;
    ASSERT_TRUE(analyzeDirectoryStart(rootSector, dots, lastUsed, dot, dotDot, highest))
        << hexDump(rootSector, 512);
    EXPECT_FALSE(dots);
    EXPECT_FALSE(lastUsed);
    EXPECT_EQ(dotDot, 77u); // not written without ".." entries

    auto rootNames = liveNames(root);
    ASSERT_EQ(rootNames.size(), 2u) << hexDump(rootSector, 256);
    ASSERT_TRUE(rootNames.count("Folder One"));
    ASSERT_TRUE(rootNames.count("root.txt"));
    const u8* folder = rootNames["Folder One"];
    EXPECT_TRUE(dirEntryAttributes(folder) & ATTR_DIRECTORY);
    EXPECT_EQ(dirEntryTime(rootNames["root.txt"]), static_cast<u32>(t));
    EXPECT_EQ(dirEntrySize(rootNames["root.txt"]), 1u);
    EXPECT_GE(highest, dirEntryStartCluster(rootNames["root.txt"]));

    // The label names the volume and is no file; the deleted file and its
    // long name are marked as such.
    const u8* label = rootSector;
    ASSERT_TRUE(isVolumeLabelEntry(label)) << hexDump(label, 32);
    EXPECT_TRUE(isValidShortDirEntry(label));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(label), 11), "MYDISK     ");
    bool deletedSeen = false;
    for (u32 i = 0; i < 16; ++i) {
        const u8* e = rootSector + 32 * i;
        if (isDeletedDirEntry(e) && !isLongNameEntry(e)) {
            deletedSeen = true;
            std::string n;
            shortEntryName(e, n, '_');
            EXPECT_EQ(n, "_one.txt");
            EXPECT_TRUE(isFreeDirEntry(e));
            EXPECT_TRUE(isValidShortDirEntry(e));
        }
    }
    EXPECT_TRUE(deletedSeen);

    // The folder: "." and ".." first, then every name whole.
    u32 folderCluster = dirEntryStartCluster(folder);
    std::string sub =
        readAt(image.path(), (dataLba + u64{folderCluster - 2} * spc) * 512, u64{spc} * 512);
    const u8* subSector = reinterpret_cast<const u8*>(sub.data());
    ASSERT_TRUE(analyzeDirectoryStart(subSector, dots, lastUsed, dot, dotDot, highest));
    EXPECT_TRUE(dots);
    EXPECT_EQ(dot, folderCluster);
    EXPECT_EQ(dotDot, 0u); // the root
    EXPECT_TRUE(lastUsed); // sixteen slots do not hold this folder
    auto subNames = liveNames(sub);
    EXPECT_EQ(subNames.size(), names.size());
    for (const std::string& n : names) {
        ASSERT_TRUE(subNames.count(n)) << n << "\n" << image.listing("Folder One");
        EXPECT_EQ(dirEntryTime(subNames[n]), static_cast<u32>(t)) << n;
        EXPECT_EQ(dirEntrySize(subNames[n]), n.size()) << n;
        EXPECT_TRUE(isValidDirEntryNonEmpty(subNames[n])) << n;
    }
}

// ---- Entries, one field at a time ----

TEST_F(DirectoryEntryTest, EntryTimesAndDates) {
    EXPECT_TRUE(isValidShortDirEntry(shortEntry("README  TXT").data()));
    // 24:00, minute 60, month 0 and 13, day 0: not valid.
    EXPECT_FALSE(isValidShortDirEntry(shortEntry("README  TXT", 0x20, 3, 1, 24 << 11).data()));
    EXPECT_FALSE(isValidShortDirEntry(shortEntry("README  TXT", 0x20, 3, 1, 60 << 5).data()));
    EXPECT_FALSE(isValidShortDirEntry(
        shortEntry("README  TXT", 0x20, 3, 1, 0, (40 << 9) | (13 << 5) | 1).data()));
    EXPECT_FALSE(isValidShortDirEntry(
        shortEntry("README  TXT", 0x20, 3, 1, 0, (40 << 9) | (0 << 5) | 1).data()));
    EXPECT_FALSE(isValidShortDirEntry(
        shortEntry("README  TXT", 0x20, 3, 1, 0, (40 << 9) | (1 << 5)).data()));
    // A two-second count of 30 passes; 31 does not.
    EXPECT_TRUE(isValidShortDirEntry(shortEntry("README  TXT", 0x20, 3, 1, 30).data()));
    EXPECT_FALSE(isValidShortDirEntry(shortEntry("README  TXT", 0x20, 3, 1, 31).data()));

    // The time is local time; the system decides on summer time.
    Entry e = shortEntry("README  TXT", 0x20, 3, 1, (13 << 11) | (5 << 5) | 3,
                         ((2009 - 1980) << 9) | (1 << 5) | 31);
    EXPECT_EQ(dirEntryTime(e.data()),
              dosDateTimeToTime((u32{e[25]} << 24 | u32{e[24]} << 16) | (u32{e[23]} << 8 | e[22])));
    std::tm tm{};
    std::time_t when = dirEntryTime(e.data());
    localtime_r(&when, &tm);
    EXPECT_EQ(tm.tm_year, 109);
    EXPECT_EQ(tm.tm_hour, 13);
    EXPECT_EQ(tm.tm_sec, 6);
    EXPECT_EQ(dirEntryTime(shortEntry("A          ", 0x20, 3, 1, 0, 0).data()), NO_TIME);
}

TEST_F(DirectoryEntryTest, AttributesAndSizes) {
    EXPECT_TRUE(isValidShortDirEntry(shortEntry("SUB        ", ATTR_DIRECTORY, 3, 512).data()));
    EXPECT_TRUE(isValidShortDirEntry(shortEntry("SUB        ", ATTR_DIRECTORY, 3, 0).data()));
    EXPECT_FALSE(isValidShortDirEntry(shortEntry("SUB        ", ATTR_DIRECTORY, 3, 100).data()));
    EXPECT_FALSE(isValidShortDirEntry(shortEntry("A          ", 0x40).data()));
    EXPECT_FALSE(isValidShortDirEntry(shortEntry("A          ", 0x80).data()));

    // A long-name entry needs only its cluster word and type byte 0.
    Entry l = lfnEntry(0x41, {'a', 'b'});
    EXPECT_TRUE(isValidShortDirEntry(l.data()));
    EXPECT_TRUE(isLongNameEntry(l.data()));
    EXPECT_FALSE(isVolumeLabelEntry(l.data()));
    l[26] = 1;
    EXPECT_FALSE(isValidShortDirEntry(l.data()));
    l = lfnEntry(0x41, {'a'});
    l[12] = 1;
    EXPECT_FALSE(isValidShortDirEntry(l.data()));

    Entry label = shortEntry("MY DISK    ", ATTR_VOLUME_LABEL | ATTR_ARCHIVE, 0, 0);
    EXPECT_TRUE(isVolumeLabelEntry(label.data()));
    EXPECT_TRUE(isValidShortDirEntry(label.data())); // blanks inside a label are fine

    Entry e = shortEntry("BIG     BIN", 0x20, 0x12345678, 0xFFFFFFFF);
    EXPECT_EQ(dirEntryStartCluster(e.data()), 0x12345678u);
    EXPECT_EQ(dirEntrySize(e.data()), 0xFFFFFFFFu);
    EXPECT_FALSE(isValidDirEntryNonEmpty(Entry{}.data()));
}

TEST_F(DirectoryEntryTest, ShortNames) {
    EXPECT_EQ(nameOf(shortEntry("README  TXT")), "README.TXT");
    EXPECT_EQ(nameOf(shortEntry("MAKEFILE   ")), "MAKEFILE");
    Entry deleted = shortEntry("\xE5"
                               "EADME  TXT");
    std::string n;
    shortEntryName(deleted.data(), n, '_');
    EXPECT_EQ(n, "_EADME.TXT");
    // A free entry has lost its first character too.
    EXPECT_EQ(nameOf(shortEntry("\0ABC    TXT")), "#ABC.TXT");
    // 0x05 stands for a first character 0xE5 (sigma in code page 437), and the
    // name is valid for it.
    Entry escaped = shortEntry("\x05"
                               "BC     TXT");
    EXPECT_EQ(nameOf(escaped), "\xCF\x83"
                               "BC.TXT");
    EXPECT_TRUE(isValidShortName(escaped.data()));

    // Lower-case flags: the base, the extension, or both.
    Entry lower = shortEntry("README  TXT");
    lower[DE_CASE] = CASE_LOWER_BASE;
    EXPECT_EQ(nameOf(lower), "readme.TXT");
    lower[DE_CASE] = CASE_LOWER_EXTENSION;
    EXPECT_EQ(nameOf(lower), "README.txt");
    lower[DE_CASE] = CASE_LOWER_BASE | CASE_LOWER_EXTENSION;
    EXPECT_EQ(nameOf(lower), "readme.txt");
    Entry lowDeleted = deleted;
    lowDeleted[DE_CASE] = CASE_LOWER_BASE;
    EXPECT_EQ(nameOf(lowDeleted, '_'), "_eadme.TXT");

    // Under code page 932 the second byte of a double-byte character keeps its
    // case: 0x83 0x41 is katakana A, not 0x83 and "A".
    setCodePage("CP932");
    Entry kana = shortEntry("\x83\x41"
                            "B     TXT");
    kana[DE_CASE] = CASE_LOWER_BASE;
    EXPECT_EQ(nameOf(kana), "\xE3\x82\xA2"
                            "b.TXT");
}

TEST_F(DirectoryEntryTest, NameCharactersByCodePage) {
    EXPECT_TRUE(isValidShortName(shortEntry("A~1     TXT").data()));
    EXPECT_FALSE(isValidShortName(shortEntry(" ABC    TXT").data()));
    EXPECT_FALSE(isValidShortName(shortEntry("A*B     TXT").data()));
    EXPECT_FALSE(isValidShortName(shortEntry("A B     TXT").data())); // a letter after a blank
    EXPECT_FALSE(isValidShortName(shortEntry("A.B     TXT").data()));
    EXPECT_TRUE(isValidShortName(shortEntry("abc     txt").data()));
    for (char c : std::string("\"*+,./:;<=>?[\\]|"))
        EXPECT_FALSE(isValidShortNameChar(static_cast<u8>(c))) << c;
    EXPECT_TRUE(isValidShortNameChar(0x7F));
    EXPECT_TRUE(isValidShortNameChar(0xFC));
    EXPECT_FALSE(isValidShortNameChar(0xFD));
    EXPECT_FALSE(isValidShortNameChar(0x1F));

    setCodePage("CP850");
    EXPECT_TRUE(isValidShortName(shortEntry("\x81       TXT").data()));
    EXPECT_TRUE(isValidShortName(shortEntry("\x81\xAD      TXT").data()));

    setCodePage("CP932");
    EXPECT_TRUE(isValidShortName(shortEntry("\x81\x40      TXT").data()));
    EXPECT_FALSE(isValidShortName(shortEntry("\x81\xAD      TXT").data()));
    EXPECT_FALSE(isValidShortName(shortEntry("ABCDEFG\x81TXT").data())); // lead byte at the end
    EXPECT_FALSE(isValidShortName(shortEntry("\x80       TXT").data()));
    EXPECT_TRUE(isValidShortName(shortEntry("\xB1\xB2      TXT").data())); // half-width kana
    EXPECT_FALSE(isValidShortName(shortEntry("\xFC\x4C      TXT").data()));
    // A deleted name whose lead byte the mark overwrote: byte 1 is a trail byte
    // (0x80 alone is no character); 0x3F is neither.
    EXPECT_TRUE(isValidShortName(shortEntry("\xE5\x40"
                                            "ABC   TXT")
                                     .data()));
    EXPECT_TRUE(isValidShortName(shortEntry("\xE5\x80"
                                            "ABC   TXT")
                                     .data()));
    EXPECT_FALSE(isValidShortName(shortEntry("\xE5?ABC   TXT").data()));
}

TEST_F(DirectoryEntryTest, VolumeLabels) {
    EXPECT_TRUE(isValidShortName(shortEntry("NO NAME    ", ATTR_VOLUME_LABEL).data()));
    Entry zeros = shortEntry("AB\0\0\0\0\0\0\0\0\0", ATTR_VOLUME_LABEL);
    EXPECT_TRUE(isValidShortName(zeros.data()));
    EXPECT_TRUE(isValidShortName(shortEntry("\xE5"
                                            "B         ",
                                            ATTR_VOLUME_LABEL)
                                     .data()));
    EXPECT_FALSE(isValidShortName(shortEntry("\0BC        ", ATTR_VOLUME_LABEL).data()));
    EXPECT_FALSE(isValidShortName(shortEntry("A*C        ", ATTR_VOLUME_LABEL).data()));
}

TEST_F(DirectoryEntryTest, LongNameUnits) {
    // "ab", then 0x0000 and 0xFFFF padding.
    std::string text = "x";
    appendLfnChars(lfnEntry(0x41, {'a', 'b'}).data(), text);
    EXPECT_EQ(text, "xab");

    // A pair split between two entries survives when the name is gathered whole.
    std::vector<u16> first = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 0xD83D};
    std::vector<u16> units;
    EXPECT_FALSE(appendLfnUnits(lfnEntry(0x01, first).data(), units));
    EXPECT_TRUE(appendLfnUnits(lfnEntry(0x42, {0xDE00, '!'}).data(), units));
    EXPECT_EQ(lfnUnitsToUtf8(units), "abcdefghijkl\xF0\x9F\x98\x80!");

    // The checksum of the short name the long name belongs to.
    EXPECT_EQ(lfnChecksum(reinterpret_cast<const u8*>("LONGFI~1TXT")), 0xD4);
    EXPECT_EQ(trimmedLength(reinterpret_cast<const u8*>("AB  "), 4), 2u);
    EXPECT_EQ(trimmedLength(reinterpret_cast<const u8*>("    "), 4), 0u);
}

// ---- Sectors ----

TEST_F(DirectoryEntryTest, EndMarkAndWhatFollowsIt) {
    Sector s{};
    put(s, 0, shortEntry("README  TXT"));
    EXPECT_TRUE(checkPlainDirSector(s.data()));
    s[200] = 1; // a stray byte after the end mark
    EXPECT_FALSE(checkPlainDirSector(s.data()));

    // Nothing valid: no directory.
    EXPECT_FALSE(checkPlainDirSector(Sector{}.data()));
    // An entry after a slot whose first byte is 0 (here a long-name entry with
    // order 0, which is valid in itself).
    s = Sector{};
    put(s, 0, shortEntry("README  TXT"));
    put(s, 1, lfnEntry(0x00, {'x'}));
    EXPECT_TRUE(checkPlainDirSector(s.data()));
    put(s, 2, shortEntry("OTHER   TXT"));
    EXPECT_FALSE(checkPlainDirSector(s.data()));
    // Invalid entries fail the sector unless deleted.
    s = Sector{};
    put(s, 0, shortEntry("README  TXT"));
    put(s, 1, shortEntry("BAD*    TXT"));
    EXPECT_FALSE(checkPlainDirSector(s.data()));
    s[32] = ENTRY_DELETED;
    u32 valid = 0;
    EXPECT_TRUE(checkDirEntries(s.data(), 0, valid));
    EXPECT_EQ(valid, 1u);
    // Sixteen valid entries fill the sector.
    for (u32 i = 0; i < 16; ++i)
        put(s, i, shortEntry("FILE    TXT", 0x20, 3 + i));
    EXPECT_TRUE(checkDirEntries(s.data(), 0, valid));
    EXPECT_EQ(valid, 16u);
}

TEST_F(DirectoryEntryTest, DotEntriesStartADirectory) {
    Sector s{};
    put(s, 0, shortEntry(".          ", ATTR_DIRECTORY, 5, 0));
    put(s, 1, shortEntry("..         ", ATTR_DIRECTORY, 0, 0));
    bool dots = false;
    bool lastUsed = true;
    u32 dot = 0;
    u32 dotDot = 9;
    u32 highest = 9;
    // "." and ".." alone: an empty subdirectory.
    ASSERT_TRUE(analyzeDirectoryStart(s.data(), dots, lastUsed, dot, dotDot, highest));
    EXPECT_TRUE(dots);
    EXPECT_FALSE(lastUsed);
    EXPECT_EQ(dot, 5u);
    EXPECT_EQ(dotDot, 0u);
    EXPECT_EQ(highest, 0u);

    put(s, 2, lfnEntry(0x41, {'a'}));
    put(s, 3, shortEntry("A          ", 0x20, 40));
    put(s, 4,
        shortEntry("\xE5"
                   "B         ",
                   0x20, 90)); // deleted entries count too
    for (u32 i = 5; i < 16; ++i)
        put(s, i, shortEntry("C          ", 0x20, 7));
    ASSERT_TRUE(analyzeDirectoryStart(s.data(), dots, lastUsed, dot, dotDot, highest));
    EXPECT_TRUE(lastUsed);
    EXPECT_EQ(highest, 90u);

    // "." at cluster 1 is no directory.
    put(s, 0, shortEntry(".          ", ATTR_DIRECTORY, 1, 0));
    EXPECT_FALSE(analyzeDirectoryStart(s.data(), dots, lastUsed, dot, dotDot, highest));
}
