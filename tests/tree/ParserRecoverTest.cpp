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

#include <memory>
#include <regex>
#include <set>
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

// A file's line in the report: its name, the bytes written, the mark.
const char* const WITH_ERRORS = " (recovered with errors)";
const char* const NOT_WRITTEN = " (not written)";
const char* const FULL = " (not written: No space left on device)";
const char* const TOO_LARGE = " (not written: File too large)";
const char* const CANCELLED = " (not written: the recovery was cancelled)";
std::string line(const std::string& name, u64 bytes, const char* mark = "") {
    const std::string size = std::to_string(bytes);
    return name + std::string(43 - name.size() - size.size(), ' ') + size + " Invalid Time" + mark +
           "\n";
}

// Mounts a tmpfs with `options` on `folder`, made first, until `mounted`
// goes; false where this user may not mount one.
bool mountTmpfs(const std::string& folder, const std::string& options,
                std::shared_ptr<void>& mounted) {
    testutil::run("mkdir -p " + testutil::shellQuote(folder));
    if (testutil::run("mount -t tmpfs -o " + options + " tmpfs " + testutil::shellQuote(folder) +
                      " 2>/dev/null") != 0)
        return false;
    mounted.reset(static_cast<void*>(nullptr),
                  [folder](void*) { testutil::run("umount " + testutil::shellQuote(folder)); });
    return true;
}

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

// Names already taken on the destination: every header names the folder the
// files went to, every line the name a file was written as, and a folder that
// was there already is not counted as made.
TEST(ParserRecoverTest, TheReportSaysWhereFilesWentOnTakenNames) {
    ParserTestTree t("root 5\ndir 10 in=5 name=Projects\nfile 20 in=10 name=p.txt size=1\n"
                     "dir 11 in=5 name=Reports\nfile 21 in=11 name=r.txt size=2\n"
                     "file 22 in=11 name=old.txt size=3\n"
                     "dir 12 in=11 name=Reports2\nfile 23 in=12 name=q.txt size=4\n");
    selectAll(t);
    testutil::TempDir dir;
    const std::string dest = dir.file("out");
    testutil::run("mkdir -p " + testutil::shellQuote(dest + "/Reports") + " && touch " +
                  testutil::shellQuote(dest + "/Projects") + " " +
                  testutil::shellQuote(dest + "/Reports/Reports2") + " " +
                  testutil::shellQuote(dest + "/Reports/old.txt"));
    EXPECT_EQ(recoverInto(t, dest).report, "\nDirectory of /Projects-1\n\n" + line("p.txt", 1) +
                                               "\t1 file(s) 1 folder(s) 1 bytes\n"
                                               "\nDirectory of /Reports\n\n" +
                                               line("old-1.txt", 3) + line("r.txt", 2) +
                                               "\t2 file(s) 0 folder(s) 5 bytes\n"
                                               "\nDirectory of /Reports/Reports2-1\n\n" +
                                               line("q.txt", 4) +
                                               "\t1 file(s) 1 folder(s) 4 bytes\n" + TOTAL +
                                               "\t4 file(s) 2 folder(s) 10 bytes\n");

    // A path over the destination's limit loses its head: a long name takes
    // its file out of docs, and the block that docs' files make gets its
    // subtotal before the next header.
    const std::string longName = std::string(26, 'c') + ".txt";
    ParserTestTree cut("root 5\ndir 10 in=5 name=docs\nfile 20 in=10 name=a.txt size=1\n"
                       "file 21 in=10 name=b.txt size=3\nfile 22 in=10 name=" +
                       longName + " size=2\n");
    selectAll(cut);
    const std::string shortDest = dir.file("cut");
    tree::RecovererCopyOff recoverer(shortDest, shortDest, 0);
    // 20 bytes of path below the destination, its separator and the room kept.
    recoverer.setLimits({255, shortDest.size() + 1 + 14 + 20});
    ScriptedInterface ui;
    EXPECT_EQ(recover(cut, recoverer, &ui).report,
              "\nDirectory of /docs\n\n" + line("a.txt", 1) + line("b.txt", 3) +
                  "\t2 file(s) 1 folder(s) 4 bytes\n"
                  "\nDirectory of /\n\n" +
                  line("~" + longName.substr(longName.size() - 19), 2) +
                  "\t1 file(s) 0 folder(s) 2 bytes\n" + TOTAL +
                  "\t3 file(s) 1 folder(s) 6 bytes\n");
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
                        "over.bin                               1001 Invalid Time (split file: the "
                        "pieces over.bin, over.bin.v1 joined in this order make the file)\n"
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
                            "b.txt                                     5 Invalid Time"
                            " (not written)\n"
                            "\t1 file(s) 1 folder(s) 100 bytes\n" // the stopped level's own
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
    EXPECT_NE(o.report.find("a.txt                                   100 Invalid Time"
                            " (not written)\n"),
              std::string::npos);
    // None of keep's files was written: the folder was not made.
    EXPECT_NE(o.report.find("\nDirectory of /keep (not made: none of its files was written)\n\n"
                            "c.txt "),
              std::string::npos);
    // Neither the files nor the folder that could not be made count.
    EXPECT_NE(o.report.find(TOTAL + "\t2 file(s) 1 folder(s) 1,005 bytes\n"), std::string::npos);
    EXPECT_EQ(t.marked(), "ROOT docs docs/a.txt keep keep/c.txt top.bin");
    EXPECT_EQ(recoverer.events,
              (Names{"dir [] docs", "dir [] keep", "file [] top.bin", "file [docs] a.txt",
                     "file [docs] b.txt", "file [keep] c.txt"}));
}

// A folder whose own files were all too large is made all the same by a file
// of a folder below it: its header must not say that it was not made. One
// that nothing below made says so, above the folders below it.
TEST(ParserRecoverTest, AFolderMadeForAFileBelowItIsNotCalledNotMade) {
    ParserTestTree t("root 5\ndir 10 in=5 name=Videos\nfile 20 in=10 name=x.bin size=2000\n"
                     "dir 11 in=10 name=2019\nfile 21 in=11 name=y.txt size=3\n"
                     "dir 12 in=5 name=Reports\nfile 22 in=12 name=r.bin size=2000\n"
                     "dir 13 in=12 name=old\nfile 23 in=13 name=o.bin size=2000\n");
    selectAll(t);
    RecordingRecoverer recoverer;
    recoverer.fileRoom = 1000;
    const std::string notMade = " (not made: none of its files was written)\n\n";
    const std::string none = "\t0 file(s) 0 folder(s) 0 bytes\n";
    EXPECT_EQ(recover(t, recoverer, nullptr).report,
              "\nDirectory of /Reports" + notMade + line("r.bin", 2000, TOO_LARGE) + none +
                  "\nDirectory of /Reports/old" + notMade + line("o.bin", 2000, TOO_LARGE) + none +
                  "\nDirectory of /Videos\n\n" + line("x.bin", 2000, TOO_LARGE) + none +
                  "\nDirectory of /Videos/2019\n\n" + line("y.txt", 3) +
                  "\t1 file(s) 2 folder(s) 3 bytes\n" + TOTAL +
                  "\t1 file(s) 2 folder(s) 3 bytes\n");

    // The blocks below a folder whose fate is open wait for its own, a block
    // of "(incomplete)" lines alone too; a folder that could not be taken
    // away stands, and is not called not made.
    ParserTestTree lost("root 5\ndir 10 in=5 name=P\nfile 20 in=10 name=p.bin size=2000\n"
                        "dir 11 in=10 name=A\ndir 12 in=11 name=gone\n"
                        "dir 13 in=10 name=B\nfile 22 in=13 name=b.bin size=2000\n");
    const tree::MapPosition gone = lost.position("P/A/gone");
    lost.map()
        ->getFolder(gone.folder)
        ->node(gone.index)
        .setFlag(tree::Node::INVALID_DIRECTORY, true);
    for (const bool keepingFolders : {false, true}) {
        SCOPED_TRACE(keepingFolders);
        selectAll(lost);
        RecordingRecoverer stuck;
        stuck.fileRoom = 1000;
        stuck.keepingFolders = keepingFolders;
        const std::string note = keepingFolders ? "\n\n" : notMade;
        EXPECT_EQ(recover(lost, stuck, nullptr).report,
                  "\nDirectory of /P" + note + line("p.bin", 2000, TOO_LARGE) + none +
                      "\nDirectory of /P/A\n\n"
                      "gone                                  <DIR> Invalid Time (incomplete)\n" +
                      none + "\nDirectory of /P/B" + note + line("b.bin", 2000, TOO_LARGE) + none +
                      TOTAL + none);
    }
}

// A destination that cannot be made (a file holds its place), and one that
// takes folders but not the file in them (a tmpfs of four inodes, one for a
// file, two for a chain of folders) or not the deeper folder of a chain
// (three inodes), every question answered Yes: a folder not on the
// destination when the walk leaves its level, the destination
// itself included, is said not to be made, and the folders the run made for
// files not written are gone again, so that the next file fits. A name
// holding control characters is listed in its printable form.
TEST(ParserRecoverTest, FoldersOfFilesNotWrittenAreTakenAwayAndSaidNotMade) {
    ParserTestTree t("root 5\nfile 20 in=5 name=raw size=1\ndir 10 in=5 name=Deep\n"
                     "dir 11 in=10 name=in\nfile 21 in=11 name=d.txt size=3\n"
                     "dir 12 in=5 name=Other\nfile 22 in=12 name=b.txt size=4\n");
    const tree::MapPosition raw = t.position("raw");
    t.map()->getFolder(raw.folder)->node(raw.index).setName("nl\nline\x1b[2J.txt");
    const std::string notMade = " (not made: none of its files was written)\n\n";
    const std::string none = "\t0 file(s) 0 folder(s) 0 bytes\n";
    const char* const blocked = " (not written: Not a directory)";
    const std::string rootWritten = "\t1 file(s) 0 folder(s) 1 bytes\n";
    const struct Row {
        const char* name;
        const char* tmpfs; // mount options of the destination
        std::string report;
        testutil::PlacedFiles left;
    } rows[] = {
        {"destination blocked",
         "",
         "\nDirectory of /" + notMade + line("nl\\nline\\x1b[2J.txt", 1, blocked) + none +
             "\nDirectory of /Deep/in" + notMade + line("d.txt", 3, blocked) + none +
             "\nDirectory of /Other" + notMade + line("b.txt", 4, blocked) + none + TOTAL + none,
         {}},
        {"four inodes",
         "nr_inodes=4,size=64k",
         "\nDirectory of /\n\n" + line("nl_line_[2J.txt", 1) + rootWritten +
             "\nDirectory of /Deep/in" + notMade + line("d.txt", 3, FULL) + none +
             "\nDirectory of /Other\n\n" + line("b.txt", 4) + "\t1 file(s) 1 folder(s) 4 bytes\n" +
             TOTAL + "\t2 file(s) 1 folder(s) 5 bytes\n",
         {{"nl_line_[2J.txt", t.map()->expectedData(20)},
          {"Other/b.txt", t.map()->expectedData(22)}}},
        // Deep is made, Deep/in is not: Deep, which holds nothing, goes again.
        {"three inodes",
         "nr_inodes=3,size=64k",
         "\nDirectory of /\n\n" + line("nl_line_[2J.txt", 1) + rootWritten +
             "\nDirectory of /Deep/in" + notMade + line("d.txt", 3, FULL) + none +
             "\nDirectory of /Other" + notMade + line("b.txt", 4, FULL) + none + TOTAL +
             rootWritten,
         {{"nl_line_[2J.txt", t.map()->expectedData(20)}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        selectAll(t);
        testutil::TempDir dir;
        testutil::writeAll(dir.file("blocker"), "a file");
        std::string dest = dir.file("blocker/out");
        std::shared_ptr<void> mounted;
        if (*row.tmpfs) {
            dest = dir.file("out");
            if (!mountTmpfs(dest, row.tmpfs, mounted))
                GTEST_SKIP() << "no tmpfs may be mounted here";
        }
        tree::RecovererCopyOff recoverer(dest, dest, 0);
        ScriptedInterface ui(0x10);
        EXPECT_EQ(recover(t, recoverer, &ui).report, row.report);
        if (*row.tmpfs) {
            EXPECT_TRUE(testutil::cameBack(dest, row.left));
        }
    }
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
// file that cannot be made, a cancel inside a file: a file not whole on the
// destination is taken off it and listed as not written at its size, and the
// totals add up what stays there. The map gives e.bin up before it begins it:
// the file before must not lend it its counts.
const char* const FILLING = R"(
root 5
file 20 in=5 name=a.bin size=3000
file 21 in=5 name=b.bin size=150000
file 22 in=5 name=c.bin size=2000
file 23 in=5 name=d.txt size=3
file 24 in=5 name=e.bin size=10 lost
)";

TEST(ParserRecoverTest, TheReportListsWhatReachedTheDestination) {
    const std::string a = line("a.bin", 3000);
    const struct Row {
        const char* name;
        int answer; // to every question
        u64 room;
        u64 fileRoom;
        const char* failing;
        u64 cancelAtPoll;
        bool keeping; // the cut file cannot be removed
        std::string lines;
        const char* totals; // of the folder and in all
        u32 errors, unwritten, tooLarge;
        bool complete;
        const char* marked;
    } rows[] = {
        {"full, No", 1, 5000, ~u64{0}, "", 0, false, a + line("b.bin", 150000, FULL),
         "1 file(s) 0 folder(s) 3,000 bytes", 1, 1, 0, false, "ROOT b.bin c.bin d.txt e.bin"},
        // Taking b.bin off makes room for c.bin.
        {"full, Yes to all", 0x10, 5000, ~u64{0}, "", 0, false,
         a + line("b.bin", 150000, FULL) + line("c.bin", 2000) + line("d.txt", 3, FULL) +
             line("e.bin", 10, NOT_WRITTEN),
         "2 file(s) 0 folder(s) 5,000 bytes", 3, 3, 0, true, "ROOT b.bin d.txt e.bin"},
        {"full, the cut file stays", 1, 5000, ~u64{0}, "", 0, true,
         a + line("b.bin", 2000, WITH_ERRORS), "2 file(s) 0 folder(s) 5,000 bytes", 1, 0, 0, false,
         "ROOT b.bin c.bin d.txt e.bin"},
        // No question (a No would end the walk): the files after it fit.
        {"too large, No", 1, ~u64{0}, 100000, "", 0, false,
         a + line("b.bin", 150000, TOO_LARGE) + line("c.bin", 2000) + line("d.txt", 3) +
             line("e.bin", 10, NOT_WRITTEN),
         "3 file(s) 0 folder(s) 5,003 bytes", 2, 2, 1, true, "ROOT b.bin e.bin"},
        // What stays of it is no file written: the File Size Limit is to split it.
        {"too large, the cut file stays", 1, ~u64{0}, 100000, "", 0, true,
         a + line("b.bin", 100000, WITH_ERRORS) + line("c.bin", 2000) + line("d.txt", 3) +
             line("e.bin", 10, NOT_WRITTEN),
         "4 file(s) 0 folder(s) 105,003 bytes", 2, 2, 1, true, "ROOT b.bin e.bin"},
        {"not made, Yes", 0, ~u64{0}, ~u64{0}, "c.bin", 0, false,
         a + line("b.bin", 150000) + line("c.bin", 2000, NOT_WRITTEN) + line("d.txt", 3) +
             line("e.bin", 10, NOT_WRITTEN),
         "3 file(s) 0 folder(s) 153,003 bytes", 2, 2, 0, true, "ROOT c.bin e.bin"},
        // The destination stands: its block is no folder not made.
        {"nothing fits, Yes to all", 0x10, 0, ~u64{0}, "", 0, false,
         line("a.bin", 3000, FULL) + line("b.bin", 150000, FULL) + line("c.bin", 2000, FULL) +
             line("d.txt", 3, FULL) + line("e.bin", 10, NOT_WRITTEN),
         "0 file(s) 0 folder(s) 0 bytes", 5, 5, 0, true, "ROOT a.bin b.bin c.bin d.txt e.bin"},
        // Polls: the root level, a.bin's one piece, b.bin's first and second.
        // Nothing failed: no error to tell of before the cancel is.
        {"cancelled inside b.bin", 1, ~u64{0}, ~u64{0}, "", 4, false,
         a + line("b.bin", 150000, CANCELLED), "1 file(s) 0 folder(s) 3,000 bytes", 0, 0, 0, false,
         "ROOT b.bin c.bin d.txt e.bin"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ParserTestTree t(FILLING);
        selectAll(t);
        RecordingRecoverer recoverer;
        recoverer.room = row.room;
        recoverer.fileRoom = row.fileRoom;
        recoverer.keeping = row.keeping;
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
        EXPECT_EQ(out.str(), "\nDirectory of /\n\n" + row.lines + totals +
                                 (row.complete ? "" : "\n\n*** Interrupted ***\n") + TOTAL +
                                 totals);
        EXPECT_EQ(walk.getErrorCount(), row.errors);
        EXPECT_EQ(walk.getUnwrittenCount(), row.unwritten);
        EXPECT_EQ(walk.getCounts().tooLarge, row.tooLarge);
        EXPECT_EQ(walk.isComplete(), row.complete);
        EXPECT_EQ(t.marked(), row.marked);
    }
}

// The whole chain onto a destination that cannot take everything, every
// question answered Yes: under a file-size limit (ulimit -f 500: 256,000
// bytes; nobody is asked, as the next file may fit) and on a full file system
// (the floppy into a tmpfs of 400 KiB, where this user may mount one: the
// question says the disk is full). A file that did not fit is listed as not
// written, with the reason, and is not on the destination; the destination
// holds the files listed as written, whole, and nothing else.
TEST(ParserRecoverChainTest, WhatDidNotFitIsListedAsNotWrittenAndLeftOff) {
    constexpr std::size_t LIMIT = 256000;
    testutil::PlacedFiles floppy;
    for (int i = 0; i < 40; ++i)
        floppy.push_back(
            {(i < 10 ? "" : "d" + std::to_string(i / 10) + "/") + "f" + std::to_string(i) + ".bin",
             testutil::pattern(10000 + 500 * i, i)});
    const struct Row {
        const char* name;
        u32 imageKiB;
        testutil::PlacedFiles files;
        unsigned long fileBlocks;
        const char* tmpfs;  // mount options of the destination
        u32 unwritten;      // 0: those the destination did not take
        const char* reason; // of each file not written
    } rows[] = {
        {"file-size limit",
         4096,
         {{"big.bin", testutil::pattern(LIMIT + 44000, 1)},
          {"small.txt", testutil::pattern(1000, 2)},
          {"docs/exact.bin", testutil::pattern(LIMIT, 3)},
          {"docs/huge.bin", testutil::pattern(3 * LIMIT, 4)},
          {"docs/after.bin", testutil::pattern(5000, 5)}},
         LIMIT / 512,
         "",
         2,
         "File too large"},
        // How many fit depends on the pages the tmpfs gives out; every file
        // after the first that did not fit is larger.
        {"full file system", 1440, floppy, 0, "size=400k", 0, "No space left on device"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testutil::TempDir dir;
        testutil::FatImageOptions options;
        options.sizeKiB = row.imageKiB;
        testutil::FatImage image(dir.file("fat.img"), options);
        std::set<std::string> folders;
        for (const testutil::PlacedFile& f : row.files) {
            const std::size_t slash = f.path.find('/');
            if (slash != std::string::npos && folders.insert(f.path.substr(0, slash)).second)
                image.makeFolder(f.path.substr(0, slash));
            image.addFile(f.path, f.data);
        }
        const std::string out = dir.file("out");
        std::shared_ptr<void> mounted;
        if (*row.tmpfs && !mountTmpfs(out, row.tmpfs, mounted))
            GTEST_SKIP() << "no tmpfs may be mounted here";
        const testutil::ProbeResult r = testutil::runProbe(
            "analyze " + testutil::fileDescriptor(image.path()) + " --choose 0 --recover " +
                testutil::shellQuote(out) + " --answer all",
            row.fileBlocks);
        ASSERT_EQ(r.status, 0) << r.err;
        if (row.fileBlocks != 0) {
            EXPECT_EQ(r.err.find("question:"), std::string::npos) << r.err;
        } else {
            EXPECT_THAT(r.err, testing::HasSubstr("\\nThe disk is full: No space left on device"
                                                  "\\nDo you want to continue?"));
        }
        testutil::PlacedFiles whole;
        u32 unwritten = 0;
        for (const testutil::PlacedFile& f : row.files) {
            const std::string name = f.path.substr(f.path.find('/') + 1);
            const std::string listed = "\n" + name + " +" + std::to_string(f.data.size()) + " ";
            if (std::regex_search(
                    r.out, std::regex(listed + "[^\n]*\\(not written: " + row.reason + "\\)\n"))) {
                ++unwritten;
                continue;
            }
            whole.push_back(f);
            EXPECT_THAT(r.out, testing::ContainsRegex(listed + "[^\n(]*\n"));
        }
        if (row.unwritten != 0) {
            EXPECT_EQ(unwritten, row.unwritten);
        } else {
            std::string taken;
            testutil::run("find " + testutil::shellQuote(out) + " -type f | wc -l", &taken);
            EXPECT_GT(unwritten, 0u);
            EXPECT_EQ(unwritten + std::stoul(taken), row.files.size());
        }
        EXPECT_THAT(r.out,
                    testing::HasSubstr("\nfiles with errors: " + std::to_string(unwritten) + "\n"));
        EXPECT_THAT(r.out, testing::HasSubstr("================\n\t" +
                                              std::to_string(whole.size()) + " file(s) "));
        EXPECT_TRUE(testutil::cameBack(out, whole));
    }
}

} // namespace
