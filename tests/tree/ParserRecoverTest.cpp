#include "tree/ParserRecover.h"

#include "devices/UnreadableSectors.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"
#include "tests/tree/ParserTestTree.h"
#include "tree/RecovererCopyOff.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using testutil::ParserTestTree;
using testutil::readAll;
using testutil::ScriptedInterface;
using testutil::TempDir;
using testutil::TestEngine;
using tree::ParserRecover;
using tree::ParserSelect;

namespace {

// Records what the walk and the map hand it; fails for the names it is given.
class RecordingRecoverer : public tree::Recoverer {
public:
    void beginDirectory(const std::string& name, const std::vector<std::string>& path) override {
        events.push_back("dir [" + tree::joinPath(path) + "] " + name);
        if (failing.count(name))
            throw Exception("Cannot make directory\n(" + name + ")");
    }
    void beginFile(const tree::FileEntry& entry, const std::vector<std::string>& path) override {
        volumeCount_ = 0;
        events.push_back("file [" + tree::joinPath(path) + "] " + entry.getName());
        if (failing.count(entry.getName()))
            throw Exception("Cannot open file\n(" + entry.getName() + ")");
        if (entry.getName() == cancelling)
            throw InterruptedException();
    }
    void write(const void*, u32 size) override { bytes += size; }
    void endFile() override { Recoverer::endFile(); }

    std::vector<std::string> events;
    std::set<std::string> failing;
    std::string cancelling;
    u64 bytes = 0;
};

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

const std::string ROOT_BLOCK = "\n"
                               "Directory of /\n"
                               "\n"
                               "top.bin                                1000 Invalid Time"
                               " (recovered with errors)\n"
                               "\t1 file(s) 2 folder(s) 1,000 bytes\n";

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

TEST(ParserRecoverTest, NothingSelectedWritesTheZeroTotalAlone) {
    ParserTestTree t(TREE);
    RecordingRecoverer recoverer;
    ScriptedInterface ui;
    const Outcome o = recover(t, recoverer, &ui);
    EXPECT_EQ(o.report, "\n================ Total ================\n"
                        "\t0 file(s) 0 folder(s) 0 bytes\n");
    EXPECT_TRUE(recoverer.events.empty());
}

TEST(ParserRecoverTest, RecoversTheSelectionReportsItAndUnmarksWhatCameWhole) {
    ParserTestTree t(TREE);
    selectAll(t);
    TempDir dir;
    const Outcome o = recoverInto(t, dir.path());
    EXPECT_EQ(o.report, ROOT_BLOCK + "\n"
                                     "Directory of /docs\n"
                                     "\n"
                                     "a.txt                                   100 Invalid Time\n"
                                     "b.txt                                     5 Invalid Time\n"
                                     "\t2 file(s) 0 folder(s) 105 bytes\n"
                                     "\n"
                                     "Directory of /keep\n"
                                     "\n"
                                     "c.txt                                    10 Invalid Time\n"
                                     "\t1 file(s) 0 folder(s) 10 bytes\n"
                                     "\n"
                                     "================ Total ================\n"
                                     "\t4 file(s) 2 folder(s) 1,115 bytes\n");
    EXPECT_EQ(o.errors, 1u);
    EXPECT_EQ(o.splits, 0u);

    EXPECT_EQ(readAll(dir.file("docs/a.txt")), t.map()->expectedData(20));
    EXPECT_EQ(readAll(dir.file("docs/b.txt")), "hello");
    EXPECT_EQ(readAll(dir.file("keep/c.txt")), t.map()->expectedData(22));
    for (const char* path : {"docs/a.txt", "docs/b.txt", "docs", "keep/c.txt", "keep"})
        EXPECT_FALSE(t.marked(path)) << path;
    EXPECT_TRUE(t.marked("top.bin")); // recovered with errors: still to do
    EXPECT_TRUE(t.marked(""));
}

TEST(ParserRecoverTest, UnreadableDataIsThePatternOverExactlyTheFailingBytes) {
    ParserTestTree t(TREE);
    t.mark("top.bin");
    TempDir dir;
    recoverInto(t, dir.path());
    const std::string data = readAll(dir.file("top.bin"));
    ASSERT_EQ(data.size(), 1000u);
    const std::string pattern(UNREADABLE_TEXT, UNREADABLE_TEXT_SIZE);
    EXPECT_EQ(data.substr(100, 12), pattern);
    EXPECT_EQ(data.substr(500, 30), pattern + pattern + pattern.substr(0, 6));
    for (u64 i = 0; i < data.size(); ++i) {
        if ((i >= 100 && i < 112) || (i >= 500 && i < 530))
            continue;
        ASSERT_EQ(static_cast<u8>(data[i]), TestEngine::defaultByte(23, i)) << "byte " << i;
    }
}

TEST(ParserRecoverTest, RecoveringTwiceWritesNumberedNamesAndOverwritesNothing) {
    ParserTestTree t(TREE);
    TempDir dir;
    selectAll(t);
    recoverInto(t, dir.path());
    testutil::writeAll(dir.file("docs/b.txt"), "first"); // tell the two runs apart
    selectAll(t);
    const Outcome second = recoverInto(t, dir.path());
    EXPECT_EQ(readAll(dir.file("docs/b.txt")), "first");
    EXPECT_EQ(readAll(dir.file("docs/b-1.txt")), "hello");
    EXPECT_EQ(readAll(dir.file("docs/a-1.txt")), t.map()->expectedData(20));
    EXPECT_EQ(readAll(dir.file("keep/c-1.txt")), t.map()->expectedData(22));
    EXPECT_EQ(readAll(dir.file("top-1.bin")), readAll(dir.file("top.bin")));
    EXPECT_EQ(second.errors, 1u);
}

TEST(ParserRecoverTest, AFileOfTheLimitIsOneFileOneByteMoreIsSplit) {
    ParserTestTree t(R"(
root 5
file 20 in=5 name=exact.bin size=1000
file 21 in=5 name=over.bin size=1001
)");
    selectAll(t);
    TempDir dir;
    const Outcome o = recoverInto(t, dir.path(), 1000);
    EXPECT_EQ(o.report, "\n"
                        "Directory of /\n"
                        "\n"
                        "exact.bin                              1000 Invalid Time\n"
                        "over.bin                               1001 Invalid Time (split file)\n"
                        "\t2 file(s) 0 folder(s) 2,001 bytes\n"
                        "\n"
                        "================ Total ================\n"
                        "\t2 file(s) 0 folder(s) 2,001 bytes\n");
    EXPECT_EQ(o.splits, 1u);
    EXPECT_EQ(o.errors, 0u);
    const std::string over = t.map()->expectedData(21);
    EXPECT_EQ(readAll(dir.file("exact.bin")), t.map()->expectedData(20));
    EXPECT_EQ(readAll(dir.file("over.bin")), over.substr(0, 1000));
    EXPECT_EQ(readAll(dir.file("over.bin.v1")), over.substr(1000));
    EXPECT_EQ(access(dir.file("exact.bin.v1").c_str(), F_OK), -1);
    EXPECT_FALSE(t.marked("over.bin"));
}

TEST(ParserRecoverTest, AnsweringNoEndsTheWalkWithTheInterruptedLineAndTheTotals) {
    ParserTestTree t(TREE);
    selectAll(t);
    RecordingRecoverer recoverer;
    recoverer.failing = {"b.txt"};
    ScriptedInterface ui(1);
    const Outcome o = recover(t, recoverer, &ui);
    EXPECT_EQ(o.report, ROOT_BLOCK + "\n"
                                     "Directory of /docs\n"
                                     "\n"
                                     "a.txt                                   100 Invalid Time\n"
                                     "b.txt                                     5 Invalid Time"
                                     "\n\n*** Interrupted ***\n"
                                     "\n"
                                     "================ Total ================\n"
                                     "\t2 file(s) 2 folder(s) 1,100 bytes\n");
    ASSERT_EQ(ui.asked().size(), 1u);
    EXPECT_EQ(ui.asked()[0].text, "Cannot open file\n(b.txt)\nDo you want to continue?");
    EXPECT_TRUE(ui.asked()[0].defaultNo);
    EXPECT_EQ(ui.asked()[0].checkLabel, "_Don't ask me again");
    EXPECT_EQ(recoverer.events.back(), "file [docs] b.txt"); // keep was never reached
    EXPECT_TRUE(t.marked("docs/b.txt"));
    EXPECT_TRUE(t.marked("keep/c.txt"));
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
    EXPECT_TRUE(t.marked("docs/a.txt"));
    EXPECT_FALSE(t.marked("docs/b.txt"));
    EXPECT_TRUE(t.marked("docs"));
    EXPECT_TRUE(t.marked("keep/c.txt"));
    EXPECT_EQ(
        recoverer.events,
        (std::vector<std::string>{"dir [] docs", "dir [] keep", "file [] top.bin",
                                  "file [docs] a.txt", "file [docs] b.txt", "file [keep] c.txt"}));
}

TEST(ParserRecoverTest, ASelectedFolderOfUnselectedEntriesIsAnnouncedButHasNoHeader) {
    ParserTestTree t(TREE);
    t.mark("keep");
    RecordingRecoverer recoverer;
    ScriptedInterface ui;
    const Outcome o = recover(t, recoverer, &ui);
    EXPECT_EQ(recoverer.events, std::vector<std::string>{"dir [] keep"});
    EXPECT_EQ(o.report, "\n================ Total ================\n"
                        "\t0 file(s) 1 folder(s) 0 bytes\n");
}

TEST(ParserRecoverTest, AHiddenSelectedFileIsNeitherRecoveredNorReported) {
    ParserTestTree t(TREE);
    ParserSelect(t.map(), "").run(t.position("docs/a.txt"), true, nullptr);
    t.at("docs/a.txt")->setVisible(false);
    RecordingRecoverer recoverer;
    ScriptedInterface ui;
    const Outcome o = recover(t, recoverer, &ui);
    EXPECT_EQ(recoverer.events, std::vector<std::string>{"dir [] docs"});
    EXPECT_EQ(o.report.find("a.txt"), std::string::npos);
    EXPECT_TRUE(t.marked("docs/a.txt"));
}

TEST(ParserRecoverTest, ACancelFromTheRecovererEndsTheWalkWithoutAQuestion) {
    ParserTestTree t(TREE);
    selectAll(t);
    RecordingRecoverer recoverer;
    recoverer.cancelling = "a.txt";
    ScriptedInterface ui;
    const Outcome o = recover(t, recoverer, &ui);
    EXPECT_TRUE(ui.asked().empty());
    EXPECT_NE(o.report.find("100 Invalid Time\n\n*** Interrupted ***\n"), std::string::npos);
    EXPECT_EQ(recoverer.events.back(), "file [docs] a.txt");
}

TEST(ParserRecoverTest, WithNobodyToAskAFailureEndsTheWalk) {
    ParserTestTree t(TREE);
    selectAll(t);
    RecordingRecoverer recoverer;
    recoverer.failing = {"docs"};
    const Outcome o = recover(t, recoverer, nullptr);
    EXPECT_EQ(o.report, "\n\n*** Interrupted ***\n"
                        "\n================ Total ================\n"
                        "\t0 file(s) 0 folder(s) 0 bytes\n");
}

} // namespace
