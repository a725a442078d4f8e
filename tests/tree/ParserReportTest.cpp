#include "tree/ParserReport.h"

#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestEngine.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <sstream>

using testutil::ScriptedInterface;
using testutil::TestEngine;
using tree::ParserReport;

namespace {

std::string report(tree::Map* map, bool addressMode, ScriptedInterface& ui) {
    // Dates are local time: the golden texts are written for UTC.
    testutil::ScopedTimeZone zone("UTC");
    std::ostringstream out;
    ParserReport(map, &out, addressMode, &ui).run();
    return out.str();
}

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

const std::string DATE_ROOT_BLOCK =
    "\nDirectory of /\n\n"
    "docs                                  <DIR> 09/09/2001 01:46:40am\n"
    "old.bin                                  10 Invalid Time\n"
    "\t1 file(s) 1 folder(s) 10 bytes\n";
const std::string TOTAL = "\n================ Total ================\n"
                          "\t4 file(s) 1 folder(s) 1,234,582 bytes\n";

TEST(ParserReportTest, GoldenTextsInDateAndAddressMode) {
    auto map = TestEngine::build(TREE);
    ScriptedInterface ui;
    EXPECT_EQ(report(map.get(), false, ui),
              DATE_ROOT_BLOCK +
                  "\nDirectory of /docs\n\n"
                  "abcdefghijklmnopqrstuvwxyz012345          5 Invalid Time\n"
                  "report.txt                          1234567 09/09/2001 01:46:40am\n"
                  "\xC3\xA4\xC3\xB6\xC3\xBC                                       0 "
                  "Invalid Time\n"
                  "\t3 file(s) 0 folder(s) 1,234,572 bytes\n" +
                  TOTAL);
    EXPECT_EQ(
        report(map.get(), true, ui),
        "\nDirectory of /\n\n"
        "docs                                  <DIR>         10 /    Invalid Valid\n"
        "old.bin                                  10         23 /    Invalid Deleted: Valid SE\n"
        "\t1 file(s) 1 folder(s) 10 bytes\n"
        "\nDirectory of /docs\n\n"
        "abcdefghijklmnopqrstuvwxyz012345          5         21 /    Invalid Valid\n"
        "report.txt                          1234567         20 /       2048 Valid\n"
        "\xC3\xA4\xC3\xB6\xC3\xBC                                       0         22 /    "
        "Invalid Valid\n"
        "\t3 file(s) 0 folder(s) 1,234,572 bytes\n" +
            TOTAL);
    ASSERT_EQ(ui.boxes().size(), 2u);
    EXPECT_EQ(ui.boxes()[0]->texts.front().text, "Creating Report");
}

// "Found" is no folder of the disk: in address mode it has no address.
TEST(ParserReportTest, AFolderTheProgramMadeHasNoAddress) {
    auto map = TestEngine::build("root 5\nfile 30 name=lost.txt parent=99 size=1 lba=7\n");
    ScriptedInterface ui;
    const std::string head = "\nDirectory of /\n\n"
                             "Found                                 <DIR>       none /    Invalid "
                             "Valid\n";
    EXPECT_EQ(report(map.get(), true, ui).substr(0, head.size()), head);
}

// A folder that could not be read in full says so in its line; the root, which
// no folder lists, in a line of its own at the top of its listing, also when
// nothing of it could be read.
TEST(ParserReportTest, IncompleteFoldersAndTheRootSaySo) {
    auto map = TestEngine::build(TREE);
    for (const tree::MapPosition at : {tree::START_POSITION, tree::MapPosition{5, 0}})
        map->getFolder(at.folder)->node(at.index).setFlag(tree::Node::INVALID_DIRECTORY, true);
    const struct {
        bool addressMode;
        std::string head;
    } modes[] = {
        {false, "\nDirectory of /\n\n"
                "ROOT                                  <DIR> Invalid Time (incomplete)\n"
                "docs                                  <DIR> 09/09/2001 01:46:40am (incomplete)\n"},
        {true, "\nDirectory of /\n\n"
               "ROOT                                  <DIR>          5 /    Invalid Valid "
               "(incomplete)\n"
               "docs                                  <DIR>         10 /    Invalid Valid "
               "(incomplete)\n"},
    };
    ScriptedInterface ui;
    for (const auto& m : modes) {
        const std::string text = report(map.get(), m.addressMode, ui);
        EXPECT_EQ(text.substr(0, m.head.size()), m.head);
    }

    auto empty = TestEngine::build("root 5\n");
    empty->getFolder(tree::TOP_FOLDER)->node(0).setFlag(tree::Node::INVALID_DIRECTORY, true);
    EXPECT_EQ(report(empty.get(), false, ui),
              "\nDirectory of /\n\n"
              "ROOT                                  <DIR> Invalid Time (incomplete)\n"
              "\t0 file(s) 0 folder(s) 0 bytes\n"
              "\n================ Total ================\n"
              "\t0 file(s) 0 folder(s) 0 bytes\n");
}

TEST(ParserReportTest, HiddenEntriesAreLeftOutAndACancelEndsWithTheGrandTotal) {
    auto map = TestEngine::build(TREE);
    auto cursor = ParserReport::makeIterator(map.get(), tree::MapPosition{5, 1}, false, false);
    ASSERT_EQ(cursor->getName(), "old.bin");
    cursor->setVisible(false);
    ScriptedInterface ui;
    ui.cancelBoxesAtPoll(2); // the poll on entering docs
    EXPECT_EQ(report(map.get(), false, ui),
              "\nDirectory of /\n\n"
              "docs                                  <DIR> 09/09/2001 01:46:40am\n"
              "\t0 file(s) 1 folder(s) 0 bytes\n"
              "\n\n*** Interrupted ***\n"
              "\n================ Total ================\n"
              "\t0 file(s) 1 folder(s) 0 bytes\n");
    auto empty = TestEngine::build("root 5\n");
    EXPECT_EQ(report(empty.get(), false, ui), "");
}

} // namespace
