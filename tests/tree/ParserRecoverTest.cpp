#include "tree/ParserRecover.h"

#include "devices/UnreadableSectors.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/FsImages.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/RecoveredFiles.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"
#include "tests/tree/ParserTestTree.h"
#include "tree/RecovererCopyOff.h"

#include <gmock/gmock.h>
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
                               "\t1 file(s) 0 folder(s) 1,000 bytes\n";
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
                            "\t2 file(s) 1 folder(s) 105 bytes\n"
                            "\nDirectory of /keep\n\n"
                            "c.txt                                    10 Invalid Time\n"
                            "\t1 file(s) 1 folder(s) 10 bytes\n" +
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

// A folder recovered from that could not be read in full, the root too, is
// named in the report and counts as an error: entries may be missing that no
// file line tells of.
TEST(ParserRecoverTest, IncompleteFoldersAreNamedAndCountAsErrors) {
    ParserTestTree t(TREE);
    for (const char* path : {"", "docs"}) {
        const tree::MapPosition at = t.position(path);
        t.map()->getFolder(at.folder)->node(at.index).setFlag(tree::Node::INVALID_DIRECTORY, true);
    }
    selectAll(t);
    testutil::TempDir dir;
    const Outcome o = recoverInto(t, dir.path());
    EXPECT_EQ(o.report.substr(0, o.report.find("\nDirectory of /docs")),
              "\nDirectory of /\n\n"
              "ROOT                                  <DIR> Invalid Time (incomplete)\n"
              "docs                                  <DIR> Invalid Time (incomplete)\n"
              "top.bin                                1000 Invalid Time"
              " (recovered with errors)\n"
              "\t1 file(s) 0 folder(s) 1,000 bytes\n");
    EXPECT_EQ(o.errors, 3u);

    // A root that lists nothing: its line alone.
    ParserTestTree empty("root 5\n");
    empty.map()->getFolder(tree::TOP_FOLDER)->node(0).setFlag(tree::Node::INVALID_DIRECTORY, true);
    selectAll(empty);
    const Outcome none = recoverInto(empty, dir.path());
    EXPECT_EQ(none.report, "\nDirectory of /\n\n"
                           "ROOT                                  <DIR> Invalid Time (incomplete)\n"
                           "\t0 file(s) 0 folder(s) 0 bytes\n" +
                               TOTAL + "\t0 file(s) 0 folder(s) 0 bytes\n");
    EXPECT_EQ(none.errors, 1u);

    // Nothing selected: nothing is recovered from the root, and nothing told.
    ParserTestTree unselected(TREE);
    unselected.map()
        ->getFolder(tree::TOP_FOLDER)
        ->node(0)
        .setFlag(tree::Node::INVALID_DIRECTORY, true);
    const Outcome untouched = recoverInto(unselected, dir.path());
    EXPECT_EQ(untouched.report, TOTAL + "\t0 file(s) 0 folder(s) 0 bytes\n");
    EXPECT_EQ(untouched.errors, 0u);
}

// A folder past the walk's path limit is marked with the rest, named in the
// report and counted: what lies in it does not come back.
TEST(ParserRecoverTest, AFolderBeyondThePathLimitIsMarkedNamedAndCounted) {
    ParserTestTree t("root 5\ndir 10 in=5 name=a\nfile 20 in=10 name=f.txt size=3\n"
                     "dir 11 in=10 name=b\nfile 21 in=11 name=g.txt size=4\n");
    const std::size_t limit = 3; // "a/" fits, "a/b/" does not
    ParserSelect select(t.map(), "");
    select.setPathLimit(limit);
    select.run(tree::START_POSITION, true, nullptr);
    EXPECT_EQ(t.marked(), "ROOT a a/b a/f.txt");
    testutil::TempDir dir;
    tree::RecovererCopyOff recoverer(dir.path(), dir.path(), 0);
    ScriptedInterface ui;
    std::ostringstream out;
    ParserRecover walk(t.map(), &out, &recoverer, &ui);
    walk.setPathLimit(limit);
    walk.run();
    EXPECT_EQ(out.str(), "\nDirectory of /a\n\n"
                         "b                                     <DIR> Invalid Time (incomplete)\n"
                         "f.txt                                     3 Invalid Time\n"
                         "\t1 file(s) 1 folder(s) 3 bytes\n" +
                             TOTAL + "\t1 file(s) 1 folder(s) 3 bytes\n");
    EXPECT_EQ(walk.getErrorCount(), 1u);
    EXPECT_EQ(t.marked(), "ROOT a a/b"); // still to do
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

    // A selected folder is announced; without selected files it gets no header,
    // and as no folder is made for it, it does not count.
    t.mark("keep");
    ParserSelect(t.map(), "").run(t.position("docs/a.txt"), true, nullptr);
    t.at("docs/a.txt")->setVisible(false);
    EXPECT_EQ(recover(t, recoverer, &ui).report, TOTAL + "\t0 file(s) 0 folder(s) 0 bytes\n");
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
                            "b.txt                                     0 Invalid Time"
                            " (not written)\n"
                            "\n\n*** Interrupted ***\n" +
                            TOTAL + "\t2 file(s) 1 folder(s) 1,100 bytes\n");
    EXPECT_EQ(o.errors, 2u);
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
    EXPECT_NE(o.report.find("a.txt                                     0 Invalid Time"
                            " (not written)\n"),
              std::string::npos);
    // Neither the files nor the folder that could not be made count.
    EXPECT_NE(o.report.find(TOTAL + "\t2 file(s) 1 folder(s) 1,005 bytes\n"), std::string::npos);
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
    // a.txt was never begun: it gets no line, and its folder no header; no
    // folder was made.
    EXPECT_EQ(recover(t, cancelled, &ui).report, ROOT_BLOCK + "\n\n*** Interrupted ***\n" + TOTAL +
                                                     "\t1 file(s) 0 folder(s) 1,000 bytes\n");
    EXPECT_TRUE(ui.asked().empty());
    EXPECT_EQ(cancelled.events.back(), "file [docs] a.txt");

    RecordingRecoverer failing;
    failing.failing = {"docs"};
    EXPECT_EQ(recover(t, failing, nullptr).report,
              "\n\n*** Interrupted ***\n" + TOTAL + "\t0 file(s) 0 folder(s) 0 bytes\n");
}

// A destination that fills up, a file larger than the destination holds, a
// file that cannot be made, a cancel inside a file: each line lists what
// reached the destination, every file not whole there is marked, and the totals
// add up what was written. The map gives e.bin up before it begins it: the file
// before must not lend it its counts.
const char* const FILLING = R"(
root 5
file 20 in=5 name=a.bin size=3000
file 21 in=5 name=b.bin size=150000
file 22 in=5 name=c.bin size=2000
file 23 in=5 name=d.txt size=3
file 24 in=5 name=e.bin size=10 lost
)";

// A file's line in the report: its name, the bytes written, the mark.
const char* const WITH_ERRORS = " (recovered with errors)";
const char* const NOT_WRITTEN = " (not written)";
std::string line(const std::string& name, u64 bytes, const char* mark = "") {
    const std::string size = std::to_string(bytes);
    return name + std::string(43 - name.size() - size.size(), ' ') + size + " Invalid Time" + mark +
           "\n";
}

TEST(ParserRecoverTest, TheReportListsWhatReachedTheDestination) {
    const std::string a = line("a.bin", 3000);
    const struct Row {
        const char* name;
        int answer; // to every question
        u64 room;
        u64 fileRoom;
        const char* failing;
        u64 cancelAtPoll;
        std::string lines;
        const char* totals; // of the folder, when the walk went through it, and in all
        u32 errors, unwritten;
        bool complete;
        const char* marked;
    } rows[] = {
        {"full, No", 1, 5000, ~u64{0}, "", 0, a + line("b.bin", 2000, WITH_ERRORS),
         "2 file(s) 0 folder(s) 5,000 bytes", 1, 0, false, "ROOT b.bin c.bin d.txt e.bin"},
        {"full, Yes to all", 0x10, 5000, ~u64{0}, "", 0,
         a + line("b.bin", 2000, WITH_ERRORS) + line("c.bin", 0, WITH_ERRORS) +
             line("d.txt", 0, WITH_ERRORS) + line("e.bin", 0, NOT_WRITTEN),
         "4 file(s) 0 folder(s) 5,000 bytes", 4, 1, true, "ROOT b.bin c.bin d.txt e.bin"},
        // No question (a No would end the walk): the files after it fit.
        {"too large, No", 1, ~u64{0}, 100000, "", 0,
         a + line("b.bin", 100000, WITH_ERRORS) + line("c.bin", 2000) + line("d.txt", 3) +
             line("e.bin", 0, NOT_WRITTEN),
         "4 file(s) 0 folder(s) 105,003 bytes", 2, 2, true, "ROOT b.bin e.bin"},
        {"not made, Yes", 0, ~u64{0}, ~u64{0}, "c.bin", 0,
         a + line("b.bin", 150000) + line("c.bin", 0, NOT_WRITTEN) + line("d.txt", 3) +
             line("e.bin", 0, NOT_WRITTEN),
         "3 file(s) 0 folder(s) 153,003 bytes", 2, 2, true, "ROOT c.bin e.bin"},
        // Polls: the root level, a.bin's one piece, b.bin's first and second.
        {"cancelled inside b.bin", 1, ~u64{0}, ~u64{0}, "", 4,
         a + line("b.bin", 65536, WITH_ERRORS), "2 file(s) 0 folder(s) 68,536 bytes", 1, 0, false,
         "ROOT b.bin c.bin d.txt e.bin"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ParserTestTree t(FILLING);
        selectAll(t);
        RecordingRecoverer recoverer;
        recoverer.room = row.room;
        recoverer.fileRoom = row.fileRoom;
        if (*row.failing)
            recoverer.failing = {row.failing};
        ScriptedInterface ui(row.answer);
        testutil::RecordingProgress progress;
        progress.cancelAtPoll(row.cancelAtPoll);
        std::ostringstream out;
        ParserRecover walk(t.map(), &out, &recoverer, &ui);
        walk.setInterfaceCallback(&progress);
        walk.run();
        walk.setInterfaceCallback(nullptr);
        const std::string totals = "\t" + std::string(row.totals) + "\n";
        EXPECT_EQ(out.str(), "\nDirectory of /\n\n" + row.lines +
                                 (row.complete ? totals : "\n\n*** Interrupted ***\n") + TOTAL +
                                 totals);
        EXPECT_EQ(walk.getErrorCount(), row.errors);
        EXPECT_EQ(walk.getUnwrittenCount(), row.unwritten);
        EXPECT_EQ(walk.isComplete(), row.complete);
        EXPECT_EQ(t.marked(), row.marked);
    }
}

// The whole chain as a user under a file-size limit runs it (ulimit -f 500:
// 256,000 bytes): the files of a FAT volume larger than that come back cut at
// the limit and marked, those up to it whole, nobody is asked (a No would end
// the walk), and the recovery ends with its report and a normal exit.
TEST(ParserRecoverChainTest, UnderAFileSizeLimitLargerFilesAreCutAndTheRecoveryReports) {
    constexpr std::size_t LIMIT = 256000;
    testutil::TempDir dir;
    testutil::FatImageOptions options;
    options.sizeKiB = 4096;
    testutil::FatImage image(dir.file("fat.img"), options);
    image.makeFolder("docs");
    const testutil::PlacedFiles files = {
        {"big.bin", testutil::pattern(LIMIT + 44000, 1)},
        {"small.txt", testutil::pattern(1000, 2)},
        {"docs/exact.bin", testutil::pattern(LIMIT, 3)},
        {"docs/huge.bin", testutil::pattern(3 * LIMIT, 4)},
        {"docs/after.bin", testutil::pattern(5000, 5)},
    };
    for (const testutil::PlacedFile& f : files)
        image.addFile(f.path, f.data);
    const std::string out = dir.file("out");
    const testutil::ProbeResult r =
        testutil::runProbe("analyze " + testutil::fileDescriptor(image.path()) +
                               " --choose 0 --recover " + testutil::shellQuote(out),
                           LIMIT / 512);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("question:"), std::string::npos) << r.err;
    EXPECT_THAT(r.out, testing::HasSubstr("\nfiles with errors: 2\n"));
    testutil::PlacedFiles whole;
    for (const testutil::PlacedFile& f : files) {
        const std::string name = f.path.substr(f.path.find('/') + 1);
        if (f.data.size() <= LIMIT) {
            whole.push_back(f);
            EXPECT_THAT(r.out,
                        testing::ContainsRegex("\n" + name + " +" + std::to_string(f.data.size()) +
                                               " [^\n(]*\n"));
            continue;
        }
        EXPECT_EQ(testutil::fileDifference(out + "/" + f.path, f.data.substr(0, LIMIT),
                                           testutil::ANY_TIME),
                  "");
        EXPECT_THAT(r.out, testing::ContainsRegex("\n" + name + " +" + std::to_string(LIMIT) +
                                                  " [^\n]*\\(recovered with errors\\)\n"));
    }
    EXPECT_TRUE(testutil::filesCameBack(out, whole));
}

} // namespace
