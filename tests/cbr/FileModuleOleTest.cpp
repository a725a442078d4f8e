// Compound files made by gsf (libgsf-bin) from streams that the test writes,
// and by msibuild (msitools); the summary property sets inside them are built
// here byte by byte.
#include "cbr/FileModuleOle.h"

#include "core/Array.h"
#include "core/DateTime.h"
#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using moduletest::analyze;
using moduletest::garbage;
using Streams = std::vector<std::pair<std::string, std::string>>;

const std::string SUMMARY = "\x05SummaryInformation";

std::string le(u64 value, unsigned width) {
    std::string bytes(width, '\0');
    for (unsigned i = 0; i < width; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

u32 le32At(const std::string& bytes, u64 offset) {
    return getLE32(reinterpret_cast<const u8*>(bytes.data()), offset);
}

void patch32(std::string& bytes, u64 offset, u32 value) {
    bytes.replace(offset, 4, le(value, 4));
}

// A compound file of the streams, in this order after the root entry.
std::string makeOle(const testutil::TempDir& dir, const Streams& streams) {
    const std::string in = dir.file("streams");
    testutil::run("rm -rf " + testutil::shellQuote(in) + " && mkdir " + testutil::shellQuote(in));
    std::string command = "cd streams && gsf createole ../out.ole";
    for (const auto& s : streams) {
        testutil::writeAll(in + "/" + s.first, s.second);
        command += " " + testutil::shellQuote(s.first);
    }
    return moduletest::make(dir, command + " >/dev/null", "out.ole");
}

// Property values of a summary section.
std::string int16Value(u16 v) {
    return le(2, 4) + le(v, 2) + std::string(2, 0);
}
std::string fileTimeValue(u64 v) {
    return le(64, 4) + le(v, 8);
}
std::string stringValue(const std::string& text) {
    std::string value = le(30, 4) + le(text.size() + 1, 4) + text + '\0';
    return value + std::string((4 - value.size() % 4) % 4, 0);
}
std::string wideValue(const std::u16string& text) {
    std::string value = le(31, 4) + le(text.size() + 1, 4);
    for (char16_t c : text)
        value += le(c, 2);
    value += std::string(2, 0);
    return value + std::string((4 - value.size() % 4) % 4, 0);
}

// A summary property set of one section with these (identifier, value)
// properties, padded with zeros to `size` bytes when that is larger.
std::string summary(const std::vector<std::pair<u32, std::string>>& properties, u32 size = 0) {
    const u32 sectionOffset = 48;
    std::string set = le(0xFFFE, 2) + le(0, 2) + le(0x20105, 4) + std::string(16, 0) + le(1, 4);
    set += le(0xF29F85E0, 4) + le(0x10684FF9, 4) + le(0x000891AB, 4) + le(0xD9B3272B, 4);
    set += le(sectionOffset, 4);
    std::string entries, values;
    u32 valueOffset = 8 + 8 * static_cast<u32>(properties.size());
    for (const auto& p : properties) {
        entries += le(p.first, 4) + le(valueOffset + values.size(), 4);
        values += p.second;
    }
    set += le(8 + entries.size() + values.size(), 4) + le(properties.size(), 4) + entries + values;
    if (set.size() < size)
        set += std::string(size - set.size(), 0);
    return set;
}

constexpr u32 TIME = 1614834367; // 2021-03-04 05:06:07 UTC
constexpr u64 FILETIME = (TIME + FILETIME_UNIX_OFFSET) * 10000000ull;

class FileModuleOleTest : public ::testing::Test {
protected:
    testutil::TempDir dir;
    std::unique_ptr<cbr::FileModule> module{cbr::createFileModuleOle()};

    moduletest::Analysis run(const std::string& window) { return analyze(*module, window); }
};

TEST_F(FileModuleOleTest, StreamNamesGiveTheTypeAndTheFatGivesTheSize) {
    struct Case {
        Streams streams;
        const char* type;
    };
    const std::string data(5000, 'd');
    const Case cases[] = {
        {{{"WordDocument", "w"}, {"Data", data}}, "doc"},
        {{{"Data", data}, {"Workbook", "b"}, {"WordDocument", "w"}}, "xls"},
        {{{"PowerPoint Document", "p"}}, "ppt"},
        {{{"   19", "p"}}, "mpp"},
        {{{"VSM_Project_Data", "v"}}, "vsmacros"},
        {{{"SolutionConfiguration", "s"}}, "suo"},
        // Names are compared exactly.
        {{{"worddocument", "w"}, {"Workbook2", data}}, "ole"},
    };
    for (const Case& c : cases) {
        const std::string ole = makeOle(dir, c.streams);
        ASSERT_GT(ole.size(), 512u);
        EXPECT_TRUE(moduletest::check(*module, ole));
        // The FAT's last sector holds free entries after the last used one; the
        // file ends with the last used sector, not with its FAT.
        const auto found = run(ole + garbage(4000));
        ASSERT_TRUE(found.ok) << c.type;
        EXPECT_EQ(found.size(), ole.size()) << c.type;
        EXPECT_EQ(found.type(), c.type);
        EXPECT_EQ(found.name(), "");
        EXPECT_EQ(found.info.getAttributes().find("time"), Attributes::NOT_FOUND);
        // Cut short: the last sector lies past the window's end.
        EXPECT_FALSE(run(ole.substr(0, ole.size() - 1)).ok) << c.type;
    }
}

TEST_F(FileModuleOleTest, CheckWantsTheWholeSignature) {
    const std::string sig("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\0\0\0\0", 12);
    EXPECT_TRUE(moduletest::check(*module, sig));
    EXPECT_FALSE(moduletest::check(*module, sig.substr(0, 11)));
    EXPECT_FALSE(moduletest::check(*module, sig.substr(0, 11) + "\x01"));
}

TEST_F(FileModuleOleTest, SummaryGivesTitleTimeAndApplication) {
    // An 8-bit title in code page 1252, the last-saved time, Word as the
    // application (a version number after its name).
    std::string set = summary({{1, int16Value(1252)},
                               {2, stringValue("Caf\xE9 menu")},
                               {13, fileTimeValue(FILETIME)},
                               {18, stringValue("Microsoft Word 9.0")}});
    std::string ole = makeOle(dir, {{SUMMARY, set}, {"Data", "x"}});
    auto found = run(ole + garbage(100));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.type(), "doc");
    EXPECT_EQ(found.name(), "Caf\xC3\xA9 menu");
    EXPECT_EQ(found.info.getAttributes().getUInt32("time", NO_TIME), TIME);

    // A UTF-16 title; Excel; the stream name does not override the summary.
    set = summary({{18, stringValue("Microsoft Excel")}, {2, wideValue(u"Bilanz \u00fcber 2021")}});
    ole = makeOle(dir, {{SUMMARY, set}, {"WordDocument", "x"}});
    found = run(ole);
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.type(), "xls");
    EXPECT_EQ(found.name(), "Bilanz \xC3\xBC"
                            "ber 2021");

    // An application that names nothing leaves the type to the streams; a title
    // without code page is taken as it is.
    set = summary({{18, stringValue("Some Writer")}, {2, stringValue("Plain")}});
    found = run(makeOle(dir, {{"Quill", "q"}, {SUMMARY, set}}));
    EXPECT_EQ(found.type(), "pub");
    EXPECT_EQ(found.name(), "Plain");
    found = run(makeOle(dir, {{SUMMARY, set}}));
    EXPECT_EQ(found.type(), "ole");

    // Installer databases by their title or their application.
    set = summary({{2, stringValue("Installation Database")}});
    EXPECT_EQ(run(makeOle(dir, {{SUMMARY, set}})).type(), "msi");
    set = summary({{18, stringValue("Windows Installer XML")}});
    EXPECT_EQ(run(makeOle(dir, {{SUMMARY, set}})).type(), "msi");
}

TEST_F(FileModuleOleTest, AnInstallerDatabaseFromMsibuild) {
    const std::string msi = moduletest::make(
        dir,
        "msibuild t.msi -s Subject Author 'Intel;1033' '{12345678-1234-1234-1234-123456789012}'",
        "t.msi");
    const auto found = run(msi + garbage(1000));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), msi.size());
    EXPECT_EQ(found.type(), "msi");
    EXPECT_EQ(found.name(), "Installation Database");
}

TEST_F(FileModuleOleTest, SummaryStreamsBelow4096BytesComeFromTheMiniStream) {
    for (u32 size : {4095u, 4096u, 20000u}) {
        const std::string set = summary({{2, stringValue("Sized")}}, size);
        const std::string ole = makeOle(dir, {{SUMMARY, set}, {"Other", std::string(300, 'o')}});
        auto found = run(ole);
        ASSERT_TRUE(found.ok) << size;
        EXPECT_EQ(found.name(), "Sized") << size;
        // Without a mini FAT only the stream read through the FAT keeps its title.
        std::string noMiniFat = ole;
        patch32(noMiniFat, 0x3C, 0xFFFFFFFF);
        found = run(noMiniFat);
        ASSERT_TRUE(found.ok) << size;
        EXPECT_EQ(found.name(), size < 4096 ? "" : "Sized") << size;
    }
}

TEST_F(FileModuleOleTest, ADirectoryIsReadForSixteenSectorsAtMost) {
    // Four entries to a sector: the root and 63 streams fill 16 sectors.
    Streams first, last;
    for (int i = 0; i < 70; ++i) {
        const std::string name = "s" + std::to_string(100 + i);
        first.emplace_back(name, "y");
        last.emplace_back(name, "y");
    }
    first.insert(first.begin(), {"WordDocument", "w"});
    last.emplace_back("WordDocument", "w");
    const std::string early = makeOle(dir, first);
    const std::string late = makeOle(dir, last);
    auto found = run(early);
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.type(), "doc");
    found = run(late);
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), late.size());
    EXPECT_EQ(found.type(), "ole");
}

TEST_F(FileModuleOleTest, AFatLongerThanTheHeaderListIsFoundThroughTheDifat) {
    // More than 109 FAT sectors of 128 entries.
    const std::string big(109 * 128 * 512 + 100000, 'b');
    const std::string ole = makeOle(dir, {{"Workbook", big}});
    ASSERT_GT(le32At(ole, 0x2C), 109u);
    const auto found = run(ole + garbage(512));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), ole.size());
    EXPECT_EQ(found.type(), "xls");
}

TEST_F(FileModuleOleTest, DamagedHeadersAndEntriesAreRejected) {
    const std::string ole = makeOle(dir, {{"WordDocument", "w"}});
    ASSERT_TRUE(run(ole).ok);
    const u32 directory = le32At(ole, 0x30);
    const u64 entries = (u64(directory) + 1) * 512;

    std::string bad = ole;
    bad.replace(0x1E, 2, le(12, 2)); // 4096-byte sectors
    EXPECT_FALSE(run(bad).ok);
    bad = ole;
    patch32(bad, 0x2C, 0); // no FAT
    EXPECT_FALSE(run(bad).ok);
    bad = ole;
    patch32(bad, 0x2C, 1601);
    EXPECT_FALSE(run(bad).ok);
    bad = ole;
    patch32(bad, 0x30, 0xFFFFFFFE); // no directory
    EXPECT_FALSE(run(bad).ok);
    bad = ole;
    bad.replace(entries + 128 + 0x40, 2, le(25, 2)); // odd name length
    EXPECT_FALSE(run(bad).ok);
    bad = ole;
    bad[entries + 128 + 0x42] = 3; // unknown object type
    EXPECT_FALSE(run(bad).ok);
    // An empty entry ends the sector's entries: the stream after it is not seen.
    bad = ole;
    bad.replace(entries + 128 + 0x40, 2, le(0, 2));
    ASSERT_TRUE(run(bad).ok);
    EXPECT_EQ(run(bad).type(), "ole");
    EXPECT_FALSE(run(ole.substr(0, 511)).ok);
}

TEST_F(FileModuleOleTest, ChainsThatLoopEndAtTheirBounds) {
    const std::string set = summary({{2, stringValue("Loop")}});
    const std::string ole = makeOle(dir, {{SUMMARY, set}, {"WordDocument", "w"}});
    const u64 fat = (u64(le32At(ole, 0x4C)) + 1) * 512;
    const u32 directory = le32At(ole, 0x30);

    // The directory's sector leads back to itself.
    std::string looped = ole;
    patch32(looped, fat + 4 * directory, directory);
    auto found = run(looped);
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.type(), "doc");
    EXPECT_EQ(found.name(), "Loop");

    // The summary's mini-sector chain loops: the stream is read to its size
    // from the same 64 bytes, and parsed from what they hold.
    const u64 miniFat = (u64(le32At(ole, 0x3C)) + 1) * 512;
    const u64 summaryEntry = (u64(directory) + 1) * 512 + 128;
    const u32 start = le32At(ole, summaryEntry + 0x74);
    ASSERT_LT(start, 128u);
    looped = ole;
    patch32(looped, miniFat + 4 * start, start);
    found = run(looped);
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.type(), "doc");

    // A mini FAT that is not there only costs the summary.
    looped = ole;
    patch32(looped, 0x3C, 0xFFFFFFFF);
    found = run(looped);
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.type(), "doc");
    EXPECT_EQ(found.name(), "");
}

} // namespace
