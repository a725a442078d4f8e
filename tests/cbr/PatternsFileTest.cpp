#include "cbr/PatternsFile.h"

#include "tests/cbr/CbrTestSupport.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using cbr::FileModuleRegistry;
using cbr::Pattern;
using cbr::PatternsFile;
using cbrtest::addStub;
using cbrtest::logSince;
using testing::HasSubstr;
using testing::ThrowsMessage;
using testutil::TempDir;

class PatternsFileTest : public testing::Test {
protected:
    PatternsFileTest() : registry(FileModuleRegistry::NO_MODULES) {
        jpeg = addStub(registry, "jpeg").stub;
        zip = addStub(registry, "zip").stub;
    }

    // Loads the table text; the exception text, or "" when it loaded.
    std::string load(const std::string& text) {
        const std::string path = dir.file("cbr.files");
        testutil::writeAll(path, text);
        try {
            PatternsFile::load(path, registry, patterns);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    }

    TempDir dir;
    FileModuleRegistry registry;
    cbr::FileModule* jpeg;
    cbr::FileModule* zip;
    std::vector<Pattern> patterns;
};

TEST_F(PatternsFileTest, ReadsEveryKeyOfARecordInFileOrder) {
    ASSERT_EQ(load("# signatures\n"
                   "Type: jpeg\n"
                   "Pattern: \\xFF\\xD8\\xFF\n"
                   "Scan File Module: jpeg\n"
                   "Analyze File Module: jpeg\n"
                   "Max Size: 50000000\n"
                   "Note: other keys are ignored\n"
                   "\n"
                   "Type: mov\n"
                   "Pattern: ftyp\n"
                   "Pattern Offset: 4\n"
                   "Analyze File Module: zip\n"),
              "");
    ASSERT_EQ(patterns.size(), 2u);
    const Pattern& a = patterns[0];
    EXPECT_EQ(a.type(), "jpeg");
    EXPECT_EQ(a.offset(), 0u);
    ASSERT_EQ(a.length(), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.bytes()), 3), "\xFF\xD8\xFF");
    EXPECT_EQ(a.scanModule(), jpeg);
    EXPECT_EQ(a.analyzeModule(), jpeg);
    EXPECT_EQ(a.maxSize(), 50000000u);
    const Pattern& b = patterns[1];
    EXPECT_EQ(b.type(), "mov");
    EXPECT_EQ(b.offset(), 4u);
    EXPECT_EQ(b.length(), 4u);
    EXPECT_EQ(b.scanModule(), nullptr);
    EXPECT_EQ(b.analyzeModule(), zip);
    EXPECT_EQ(b.maxSize(), PatternsFile::DEFAULT_MAX_SIZE);
}

TEST_F(PatternsFileTest, ATypeAloneMatchesEverySectorAndAnOffsetWithoutBytesIsIgnored) {
    ASSERT_EQ(load("Type: anything\nType: offset only\nPattern Offset: 12\n"), "");
    ASSERT_EQ(patterns.size(), 2u);
    std::vector<u8> sector(512, 0x5A);
    for (const Pattern& p : patterns) {
        EXPECT_EQ(p.length(), 0u);
        EXPECT_EQ(p.offset(), 0u);
        EXPECT_EQ(p.maxSize(), 100000000u);
        EXPECT_TRUE(p.matches(sector.data(), 512));
    }
}

TEST_F(PatternsFileTest, BytesPastTheSectorFailTheLoadKeepingWhatCameBefore) {
    const std::string bytes64(64, 'a');
    EXPECT_EQ(load("Type: a\nPattern: " + bytes64 + "\nPattern Offset: 448\n"), "");
    EXPECT_EQ(load("Type: b\nPattern: zz\n"
                   "Type: c\nPattern: " +
                   bytes64 + "\nPattern Offset: 449\n" + "Type: d\n"),
              "Patterns(58)");
    EXPECT_EQ(load("Type: e\nPattern: " + bytes64 + "a\n"), "Patterns(58)");
    // a, then b before the failing c; nothing of d or e.
    ASSERT_EQ(patterns.size(), 2u);
    EXPECT_EQ(patterns[0].type(), "a");
    EXPECT_EQ(patterns[1].type(), "b");
    // A long escape text may stand for few bytes.
    patterns.clear();
    std::string escaped;
    for (int i = 0; i < 64; ++i)
        escaped += "\\x41";
    EXPECT_EQ(load("Type: f\nPattern: " + escaped + "\n"), "");
    EXPECT_EQ(patterns.at(0).length(), 64u);
}

TEST_F(PatternsFileTest, ModuleNamesAreCaseSensitiveAndAnUnknownOneFailsTheLoad) {
    std::size_t mark = logMemoryText().size();
    EXPECT_EQ(load("Type: jpeg\nScan File Module: JPEG\n"), "PatternsFile(38)");
    EXPECT_EQ(logSince(mark), "PatternsFile(37): JPEG\n");
    mark = logMemoryText().size();
    EXPECT_EQ(load("Type: jpeg\nScan File Module: jpeg\nAnalyze File Module: gif\n"),
              "PatternsFile(47)");
    EXPECT_EQ(logSince(mark), "PatternsFile(46): gif\n");
    EXPECT_TRUE(patterns.empty());
}

TEST_F(PatternsFileTest, BadEscapesFailTheLoadWithTheDecodersText) {
    EXPECT_EQ(load("Type: a\nPattern: \\q\n"), "CString(86)");
    EXPECT_EQ(load("Type: a\nPattern: \\xZZ\n"), "CString(42)");
    EXPECT_EQ(load("Type: a\nPattern: \\x123\n"), "CString(60)");
    EXPECT_EQ(load("Type: a\nPattern: \\777\n"), "CString(28)");
    EXPECT_TRUE(patterns.empty());
}

TEST_F(PatternsFileTest, AMissingOrMalformedFileFailsTheLoad) {
    const std::string missing = dir.file("none.files");
    std::size_t mark = logMemoryText().size();
    EXPECT_THAT([&] { PatternsFile::load(missing, registry, patterns); },
                ThrowsMessage<std::runtime_error>("PatternsFile(17)"));
    EXPECT_EQ(logSince(mark), "Config(208): " + missing + "\nPatternsFile(16): " + missing + "\n");

    // A line without a colon stops the records parser: the table is refused as a
    // whole rather than used in part.
    mark = logMemoryText().size();
    EXPECT_EQ(load("Type: a\nPattern: x\nno colon here\nType: b\n"), "PatternsFile(17)");
    EXPECT_THAT(logSince(mark), HasSubstr("PatternsFile(16): "));
    EXPECT_TRUE(patterns.empty());
}

TEST_F(PatternsFileTest, TheProgramsTableLoadsWithTheRegistrysNames) {
    FileModuleRegistry all(FileModuleRegistry::NO_MODULES);
    for (const auto& names : cbrtest::moduleNames()) {
        auto module = addStub(all, names[0]).holder;
        for (const char* name : names)
            all.add(name, module);
    }
    std::vector<Pattern> table;
    ASSERT_NO_THROW(PatternsFile::load(HB_SOURCE_DIR "/lib/cbr.files", all, table));
    ASSERT_FALSE(table.empty());

    // Every module of the registry is used, and every pattern is measured by one.
    std::set<cbr::FileModule*> used;
    for (const Pattern& p : table) {
        EXPECT_NE(p.analyzeModule(), nullptr) << p.type();
        used.insert(p.analyzeModule());
        EXPECT_LE(p.offset() + p.length(), 512u);
    }
    EXPECT_EQ(used.size(), cbrtest::moduleNames().size());

    // One "mp3" pattern, last, and the "mpeg" pattern before it, so that both
    // skip rules hold.
    int mp3 = -1;
    int mpeg = -1;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].type() == "mp3") {
            EXPECT_EQ(mp3, -1);
            mp3 = static_cast<int>(i);
        }
        if (table[i].type() == "mpeg")
            mpeg = static_cast<int>(i);
    }
    EXPECT_EQ(mp3, static_cast<int>(table.size()) - 1);
    EXPECT_GE(mpeg, 0);
    EXPECT_LT(mpeg, mp3);
}

} // namespace
