#include "tree/ParserReport.h"

#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestEngine.h"

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

using testutil::ScriptedInterface;
using testutil::TestEngine;
using tree::MapIterator;
using tree::ParserReport;

namespace {

// Dates are local time: the golden texts are written for UTC.
class ParserReportTest : public ::testing::Test {
protected:
    std::string report(tree::Map* map, bool addressMode) {
        std::ostringstream out;
        ScriptedInterface ui;
        ParserReport(map, &out, addressMode, &ui).run();
        return out.str();
    }

private:
    testutil::ScopedTimeZone zone_{"UTC"};
};

// 1000000000 is 09/09/2001 01:46:40am UTC. The 32-character name fills its
// column; "äöü" is 3 characters in 6 bytes.
const char* const TREE = R"(
root 5
dir 10 in=5 name=docs time=1000000000
file 20 in=10 name=report.txt size=1234567 time=1000000000 lba=2048
file 21 in=10 name=abcdefghijklmnopqrstuvwxyz012345 size=5
file 22 in=10 name=\xC3\xA4\xC3\xB6\xC3\xBC size=0
file 23 in=5 name=old.bin size=10 deleted unreadable
)";

// The root level of TREE in date mode.
const std::string DATE_ROOT_BLOCK =
    "\n"
    "Directory of /\n"
    "\n"
    "docs                                  <DIR> 09/09/2001 01:46:40am\n"
    "old.bin                                  10 Invalid Time\n"
    "\t1 file(s) 1 folder(s) 10 bytes\n";

TEST_F(ParserReportTest, DateModeGoldenText) {
    auto map = TestEngine::build(TREE);
    const std::string expected =
        DATE_ROOT_BLOCK +
        "\n"
        "Directory of /docs\n"
        "\n"
        "abcdefghijklmnopqrstuvwxyz012345          5 Invalid Time\n"
        "report.txt                          1234567 09/09/2001 01:46:40am\n"
        "\xC3\xA4\xC3\xB6\xC3\xBC                                       0 Invalid Time\n"
        "\t3 file(s) 0 folder(s) 1,234,572 bytes\n"
        "\n"
        "================ Total ================\n"
        "\t4 file(s) 1 folder(s) 1,234,582 bytes\n";
    EXPECT_EQ(report(map.get(), false), expected);
}

TEST_F(ParserReportTest, AddressModeGoldenText) {
    auto map = TestEngine::build(TREE);
    const std::string expected =
        "\n"
        "Directory of /\n"
        "\n"
        "docs                                  <DIR>         10 /    Invalid Valid\n"
        "old.bin                                  10         23 /    Invalid Deleted: Valid SE\n"
        "\t1 file(s) 1 folder(s) 10 bytes\n"
        "\n"
        "Directory of /docs\n"
        "\n"
        "abcdefghijklmnopqrstuvwxyz012345          5         21 /    Invalid Valid\n"
        "report.txt                          1234567         20 /       2048 Valid\n"
        "\xC3\xA4\xC3\xB6\xC3\xBC                                       0         22 /    Invalid "
        "Valid\n"
        "\t3 file(s) 0 folder(s) 1,234,572 bytes\n"
        "\n"
        "================ Total ================\n"
        "\t4 file(s) 1 folder(s) 1,234,582 bytes\n";
    EXPECT_EQ(report(map.get(), true), expected);
}

TEST_F(ParserReportTest, HiddenEntriesAreLeftOutAndAnEmptyTreeWritesNothing) {
    auto map = TestEngine::build(TREE);
    auto cursor = ParserReport::makeIterator(map.get(), tree::START_POSITION, false, false);
    ASSERT_TRUE(cursor->down());
    ASSERT_TRUE(cursor->next());
    ASSERT_EQ(cursor->getName(), "old.bin");
    cursor->setVisible(false);
    const std::string text = report(map.get(), false);
    EXPECT_EQ(text.find("old.bin"), std::string::npos);
    EXPECT_NE(text.find("\t0 file(s) 1 folder(s) 0 bytes\n"), std::string::npos);

    auto empty = TestEngine::build("root 5\n");
    EXPECT_EQ(report(empty.get(), false), "");
}

TEST_F(ParserReportTest, ACancelledReportEndsWithTheInterruptedLineAndTheGrandTotal) {
    auto map = TestEngine::build(TREE);
    std::ostringstream out;
    ScriptedInterface ui;
    ui.cancelBoxesAtPoll(2); // the poll on entering docs
    ParserReport(map.get(), &out, false, &ui).run();
    const std::string expected = DATE_ROOT_BLOCK + "\n"
                                                   "\n"
                                                   "*** Interrupted ***\n"
                                                   "\n"
                                                   "================ Total ================\n"
                                                   "\t1 file(s) 1 folder(s) 10 bytes\n";
    EXPECT_EQ(out.str(), expected);
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0]->texts.front().text, "Creating Report");
}

TEST_F(ParserReportTest, ALargeFolderIsPolledEveryHundredEntries) {
    std::string description = "root 5\n";
    for (int i = 0; i < 250; ++i)
        description +=
            "file " + std::to_string(100 + i) + " in=5 name=f" + std::to_string(i) + " size=1\n";
    auto map = TestEngine::build(description);
    std::ostringstream out;
    ScriptedInterface ui;
    ParserReport(map.get(), &out, false, &ui).run();
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0]->polls, 1u + 2u); // the level's own poll, then at 100 and 200
}

TEST_F(ParserReportTest, StatusTextsWithAndWithoutColour) {
    auto map = TestEngine::build(R"(
map fat
root 2
file 10 in=2 name=a.bin deleted unreadable size=1
file 11 in=2 name=b.bin badfat size=1
file 12 in=2 name=c.bin size=1
)");
    auto cursor = ParserReport::makeIterator(map.get(), tree::START_POSITION, true, false);
    ASSERT_TRUE(cursor->down());
    EXPECT_EQ(ParserReport::statusText(*cursor, false), "Deleted: Possible FAT SE");
    EXPECT_EQ(ParserReport::statusText(*cursor, true), "[cc]Deleted: [c2]Possible FAT[cc] SE[cf]");
    ASSERT_TRUE(cursor->next());
    EXPECT_EQ(ParserReport::statusText(*cursor, false), "Invalid FAT");
    EXPECT_EQ(ParserReport::statusText(*cursor, true), "[cc]Invalid FAT[cf]");
    ASSERT_TRUE(cursor->next());
    EXPECT_EQ(ParserReport::statusText(*cursor, true), "[ca]Valid FAT[cf]");
}

TEST_F(ParserReportTest, LineWritersStandAlone) {
    std::ostringstream out;
    ParserReport::writeDirectoryHeader(out, {"a", "b"});
    ParserReport::writeInterrupted(out);
    ParserReport::writeTotals(out, tree::Totals{1000, 1000000, 12});
    EXPECT_EQ(out.str(), "\nDirectory of /a/b\n\n"
                         "\n\n*** Interrupted ***\n"
                         "\n================ Total ================\n"
                         "\t1,000 file(s) 12 folder(s) 1,000,000 bytes\n");
}

} // namespace
