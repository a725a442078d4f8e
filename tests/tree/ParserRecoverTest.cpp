#include "tree/ParserRecover.h"

#include "devices/UnreadableSectors.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/RecoveredFiles.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"
#include "tests/tree/ParserTestTree.h"
#include "tree/RecovererCopyOff.h"

#include <gtest/gtest.h>

#include <sstream>

using testutil::ParserTestTree;
using testutil::RecordingRecoverer;
using testutil::ScriptedInterface;
using tree::ParserRecover;
using tree::ParserSelect;

namespace {

using Names = std::vector<std::string>;

// top.bin fails to read at two places; the rest reads whole.
const char* const TREE = R"(
root 5
dir 10 in=5 name=docs
file 20 in=10 name=a.txt size=100
file 21 in=10 name=b.txt text=hello
dir 11 in=5 name=keep
file 22 in=11 name=c.txt size=10
file 23 in=5 name=top.bin size=1000 bad=100+12 bad=500+30
)";

const std::string ROOT_BLOCK = "\nDirectory of /\n\n"
                               "top.bin                                1000 Invalid Time"
                               " (recovered with errors)\n"
                               "\t1 file(s) 2 folder(s) 1,000 bytes\n";
const std::string TOTAL = "\n================ Total ================\n";

void selectAll(const ParserTestTree& t) {
    ParserSelect(t.map(), "").run(tree::START_POSITION, true, nullptr);
}

struct Outcome {
    std::string report;
    u32 errors;
    u32 splits;
};

Outcome recover(const ParserTestTree& t, tree::Recoverer& recoverer, FrTreeInterface* ui) {
    std::ostringstream out;
    ParserRecover walk(t.map(), &out, &recoverer, ui);
    walk.run();
    return Outcome{out.str(), walk.getErrorCount(), walk.getSplitCount()};
}

Outcome recoverInto(const ParserTestTree& t, const std::string& destination, u64 limit = 0) {
    tree::RecovererCopyOff recoverer(destination, destination, limit);
    ScriptedInterface ui;
    return recover(t, recoverer, &ui);
}

TEST(ParserRecoverTest, RecoversTheSelectionReportsItAndUnmarksWhatCameWhole) {
    ParserTestTree t(TREE);
    selectAll(t);
    testutil::TempDir dir;
    const Outcome o = recoverInto(t, dir.path());
    EXPECT_EQ(o.report, ROOT_BLOCK +
                            "\nDirectory of /docs\n\n"
                            "a.txt                                   100 Invalid Time\n"
                            "b.txt                                     5 Invalid Time\n"
                            "\t2 file(s) 0 folder(s) 105 bytes\n"
                            "\nDirectory of /keep\n\n"
                            "c.txt                                    10 Invalid Time\n"
                            "\t1 file(s) 0 folder(s) 10 bytes\n" +
                            TOTAL + "\t4 file(s) 2 folder(s) 1,115 bytes\n");
    EXPECT_EQ(o.errors, 1u);
    EXPECT_EQ(o.splits, 0u);
    // What could not be read is the pattern over exactly the failing bytes.
    const std::string pattern(UNREADABLE_TEXT, UNREADABLE_TEXT_SIZE);
    std::string top = t.map()->expectedData(23);
    ASSERT_EQ(top.substr(100, 12), pattern);
    ASSERT_EQ(top.substr(500, 30), pattern + pattern + pattern.substr(0, 6));
    for (u64 i : {99u, 112u, 499u, 530u})
        ASSERT_EQ(static_cast<u8>(top[i]), testutil::TestEngine::defaultByte(23, i)) << i;
    EXPECT_TRUE(testutil::cameBack(dir.path(), {{"top.bin", top},
                                                {"docs/a.txt", t.map()->expectedData(20)},
                                                {"docs/b.txt", "hello"},
                                                {"keep/c.txt", t.map()->expectedData(22)}}));
    EXPECT_EQ(t.marked(), "ROOT top.bin"); // recovered with errors: still to do
}

TEST(ParserRecoverTest, ASplitFileIsMarkedInItsLine) {
    ParserTestTree t("root 5\nfile 20 in=5 name=exact.bin size=1000\n"
                     "file 21 in=5 name=over.bin size=1001\n");
    selectAll(t);
    testutil::TempDir dir;
    const Outcome o = recoverInto(t, dir.path(), 1000);
    EXPECT_EQ(o.report, "\nDirectory of /\n\n"
                        "exact.bin                              1000 Invalid Time\n"
                        "over.bin                               1001 Invalid Time (split file)\n"
                        "\t2 file(s) 0 folder(s) 2,001 bytes\n" +
                            TOTAL + "\t2 file(s) 0 folder(s) 2,001 bytes\n");
    EXPECT_EQ(o.splits, 1u);
    EXPECT_FALSE(t.marked("over.bin"));
}

TEST(ParserRecoverTest, WhatIsNotSelectedOrNotShownIsNotRecovered) {
    ParserTestTree t(TREE);
    RecordingRecoverer recoverer;
    ScriptedInterface ui;
    EXPECT_EQ(recover(t, recoverer, &ui).report, TOTAL + "\t0 file(s) 0 folder(s) 0 bytes\n");
    EXPECT_TRUE(recoverer.events.empty());

    // A selected folder is announced; without selected files it gets no header.
    t.mark("keep");
    ParserSelect(t.map(), "").run(t.position("docs/a.txt"), true, nullptr);
    t.at("docs/a.txt")->setVisible(false);
    EXPECT_EQ(recover(t, recoverer, &ui).report, TOTAL + "\t0 file(s) 2 folder(s) 0 bytes\n");
    EXPECT_EQ(recoverer.events, (Names{"dir [] docs", "dir [] keep"}));
    EXPECT_TRUE(t.marked("docs/a.txt"));
}

TEST(ParserRecoverTest, AnsweringNoEndsTheWalkWithTheInterruptedLineAndTheTotals) {
    ParserTestTree t(TREE);
    selectAll(t);
    RecordingRecoverer recoverer;
    recoverer.failing = {"b.txt"};
    ScriptedInterface ui(1);
    const Outcome o = recover(t, recoverer, &ui);
    EXPECT_EQ(o.report, ROOT_BLOCK +
                            "\nDirectory of /docs\n\n"
                            "a.txt                                   100 Invalid Time\n"
                            "b.txt                                     5 Invalid Time"
                            "\n\n*** Interrupted ***\n" +
                            TOTAL + "\t2 file(s) 2 folder(s) 1,100 bytes\n");
    ASSERT_EQ(ui.asked().size(), 1u);
    EXPECT_EQ(ui.asked()[0].text, "Cannot open file\n(b.txt)\nDo you want to continue?");
    EXPECT_TRUE(ui.asked()[0].defaultNo);
    EXPECT_EQ(ui.asked()[0].checkLabel, "_Don't ask me again");
    EXPECT_EQ(recoverer.events.back(), "file [docs] b.txt"); // keep was never reached
    EXPECT_EQ(t.marked(), "ROOT docs docs/b.txt keep keep/c.txt top.bin");
}

TEST(ParserRecoverTest, YesWithDontAskAgainGoesOnSilentlyAndKeepsTheFailedMarks) {
    ParserTestTree t(TREE);
    selectAll(t);
    RecordingRecoverer recoverer;
    recoverer.failing = {"keep", "a.txt", "c.txt"};
    ScriptedInterface ui(1);
    ui.then(0x10); // Yes, "Don't ask me again" ticked
    const Outcome o = recover(t, recoverer, &ui);
    EXPECT_EQ(ui.asked().size(), 1u);
    EXPECT_EQ(o.errors, 3u); // top.bin, a.txt, c.txt
    EXPECT_NE(o.report.find("a.txt                                   100 Invalid Time"
                            " (recovered with errors)\n"),
              std::string::npos);
    EXPECT_NE(o.report.find("\t4 file(s) 2 folder(s) 1,115 bytes\n"), std::string::npos);
    EXPECT_EQ(t.marked(), "ROOT docs docs/a.txt keep keep/c.txt top.bin");
    EXPECT_EQ(recoverer.events,
              (Names{"dir [] docs", "dir [] keep", "file [] top.bin", "file [docs] a.txt",
                     "file [docs] b.txt", "file [keep] c.txt"}));
}

TEST(ParserRecoverTest, ACancelOrNobodyToAskEndsTheWalkWithoutAQuestion) {
    ParserTestTree t(TREE);
    selectAll(t);
    RecordingRecoverer cancelled;
    cancelled.cancelling = "a.txt";
    ScriptedInterface ui;
    EXPECT_NE(recover(t, cancelled, &ui).report.find("100 Invalid Time\n\n*** Interrupted ***\n"),
              std::string::npos);
    EXPECT_TRUE(ui.asked().empty());
    EXPECT_EQ(cancelled.events.back(), "file [docs] a.txt");

    RecordingRecoverer failing;
    failing.failing = {"docs"};
    EXPECT_EQ(recover(t, failing, nullptr).report,
              "\n\n*** Interrupted ***\n" + TOTAL + "\t0 file(s) 0 folder(s) 0 bytes\n");
}

} // namespace
