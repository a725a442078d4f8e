// The signature table: its records, its refusals, and the program's own table
// and registry.

#include "cbr/PatternsFile.h"

#include "tests/cbr/CbrTestSupport.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

using cbr::FileModuleRegistry;
using cbr::Pattern;

class PatternsFileTest : public testing::Test {
protected:
    PatternsFileTest() : registry(FileModuleRegistry::NO_MODULES) {
        jpeg = cbrtest::addStub(registry, "jpeg").stub;
    }

    // Loads the table text; the exception text, or "" when it loaded.
    std::string load(const std::string& text) {
        testutil::writeAll(dir.file("cbr.files"), text);
        patterns.clear();
        try {
            cbr::PatternsFile::load(dir.file("cbr.files"), registry, patterns);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    }

    testutil::TempDir dir;
    FileModuleRegistry registry;
    cbr::FileModule* jpeg;
    std::vector<Pattern> patterns;
};

TEST_F(PatternsFileTest, ReadsEveryKeyOfARecordInFileOrder) {
    ASSERT_EQ(
        load("# comment\nType: jpeg\nPattern: \\xFF\\xD8\\xFF\nPattern Offset: 2\n"
             "Scan File Module: jpeg\nAnalyze File Module: jpeg\nMax Size: 5000000000\n"
             "Unknown Key: x\n"
             "Type: plain\nPattern: ab\\x23z\nPattern Offset: 0\nAnalyze File Module: jpeg\n"),
        "");
    ASSERT_EQ(patterns.size(), 2u);
    EXPECT_EQ(patterns[0].type(), "jpeg");
    EXPECT_EQ(patterns[0].offset(), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(patterns[0].bytes()), patterns[0].length()),
              "\xFF\xD8\xFF");
    EXPECT_EQ(patterns[0].scanModule(), jpeg);
    EXPECT_EQ(patterns[0].maxSize(), 5000000000u);
    EXPECT_EQ(patterns[1].length(), 4u);
    EXPECT_EQ(patterns[1].scanModule(), nullptr);
    EXPECT_EQ(patterns[1].maxSize(), 100000000u);
}

TEST_F(PatternsFileTest, RecordsThatCannotBeScannedForFailTheLoad) {
    const std::string bytes64(64, 'x');
    struct Case {
        std::string table;
        std::string error; // "" loads
        std::string logLine;
    };
    const Case cases[] = {
        {"Type: a\nPattern: " + bytes64 + "\nPattern Offset: 448\n", "", ""},
        {"Type: a\nPattern: " + bytes64 + "\nPattern Offset: 449\n", "Patterns(58)", ""},
        {"Type: a\nPattern: " + bytes64 + "y\n", "Patterns(58)", ""},
        // An offset past 32 bits must not come back as 0.
        {"Type: a\nPattern: ab\nPattern Offset: 4294967306\n", "Patterns(58)", ""},
        // Neither bytes nor a module: every sector would start a file.
        {"Type: x\nPattern Offset: 4\nMax Size: 10\n", "PatternsFile(56)",
         "PatternsFile(55): x has neither bytes nor a module\n"},
        {"Type: a\nScan File Module: JPEG\n", "PatternsFile(38)", "PatternsFile(37): JPEG\n"},
        {"Type: a\nPattern: a\nAnalyze File Module: gif\n", "PatternsFile(47)",
         "PatternsFile(46): gif\n"},
        {"Type: a\nPattern: \\q\n", "CString(", ""},
    };
    for (const Case& c : cases) {
        testutil::LogCapture log;
        const std::string error = load("Type: first\nPattern: 1\n" + c.table);
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.table;
        EXPECT_TRUE(log.has(c.logLine)) << log.text();
        // What came before the failing record stays.
        EXPECT_EQ(patterns.size(), c.error.empty() ? 2u : 1u) << c.table;
    }
    testutil::LogCapture log;
    const std::string missing = dir.file("none");
    EXPECT_THROW(cbr::PatternsFile::load(missing, registry, patterns), std::runtime_error);
    EXPECT_TRUE(log.has("PatternsFile(16): " + missing + "\n"));
}

// The program's table loads against the program's registry (nineteen modules
// under their 54 names), and no escape \xNN of it is followed by a hex digit
// that a reader might take for part of it.
TEST(ProgramTableTest, LoadsWithTheRegistrysNinteenModules) {
    FileModuleRegistry registry;
    std::set<cbr::FileModule*> modules;
    for (const auto& named : registry.modules())
        modules.insert(named.second.get());
    EXPECT_EQ(registry.modules().size(), 54u);
    EXPECT_EQ(modules.size(), 19u);
    std::vector<Pattern> patterns;
    cbr::PatternsFile::load(HB_SOURCE_DIR "/lib/cbr.files", registry, patterns);
    EXPECT_GE(patterns.size(), 19u);
    const std::string table = testutil::readAll(HB_SOURCE_DIR "/lib/cbr.files");
    EXPECT_FALSE(std::regex_search(table, std::regex("\\\\x[0-9A-Fa-f]{2}[0-9A-Fa-f]")));
}

} // namespace
