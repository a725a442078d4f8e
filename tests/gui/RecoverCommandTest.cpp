#include "gui/RecoverCommand.h"

#include "core/Preferences.h"
#include "core/System.h"
#include "tests/gui/TreeViewTestSupport.h"

#include <csignal>
#include <gmock/gmock.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using guitest::DialogScript;
using guitest::ShownTree;
using testutil::TempDir;

const char* const TREE = R"(
root 5
dir 10 in=5 name=docs
file 20 in=10 name=report.txt size=3000
file 21 in=10 name=big.bin size=2500
file 22 in=10 name=broken.dat size=1000 bad=100+12
file 23 in=5 name=top.txt text=top\slevel
dir 11 in=5 name=nothing
)";

class RecoverCommandTest : public guitest::EnglishUtcTest {
protected:
    void setUpWindows() override {
        previousLauncher = setSystemOpenLauncher([this](const OpenTarget& target, std::string&) {
            opened.push_back(target.localPath);
            return true;
        });
        Preferences::instance().setTemporaryDirectory(temporary.path());
    }
    void TearDown() override {
        setSystemOpenLauncher(previousLauncher);
        Preferences::instance().resetToDefaults();
    }
    TempDir destination;
    TempDir temporary;
    guitest::OneSourceVfs vfs{destination.path()};
    std::vector<std::string> opened;
    SystemOpenLauncher previousLauncher;
};

// (Split files with read errors: SplitFilesAndReadErrorsShareOneNote.)
TEST(RecoverCommandPartsTest, DefaultDestinationNameAndNotes) {
    testutil::ScopedTimeZone zone("UTC");
    EXPECT_EQ("Recover-201001181530", gtk::recoverDestinationName(1263828600));
    const std::string see = "\nSee report that follows this message.";
    const struct {
        tree::RecoveryCounts counts; // errors, unwritten, too large, split, incomplete folders
        std::string note;
    } rows[] = {
        {{0, 0, 0, 0}, ""},
        {{0, 0, 0, 2}, "Some files have been split into volumes.\n" + see},
        // A file of which nothing was written was not recovered, not even with errors.
        {{1, 1, 0, 0}, "Some files could not be written.\n" + see},
        // A file too large for the destination: the limit that splits it.
        {{2, 2, 1, 0},
         "Some files could not be written.\nSome files are larger than the destination takes. "
         "The File Size Limit in Preferences (Drive Settings) splits files into pieces that "
         "fit.\n" +
             see},
        // A folder not read whole is no file with errors.
        {{1, 0, 0, 0, 1},
         "Some folders could not be read whole: files in them may be missing. The report marks "
         "them \"(incomplete)\".\n" +
             see},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.note, gtk::recoverNote(row.counts)) << row.note;
}

TEST_F(RecoverCommandTest, WithNothingMarkedOnlyTheHintShows) {
    ShownTree shown(guitest::testMap(TREE), &vfs);
    // A marked folder with no file in it counts as nothing.
    std::unique_ptr<tree::MapIterator> nothing =
        shown.view().cursorAt(tree::START_POSITION, false, false);
    ASSERT_TRUE(nothing->down());
    while (nothing->getName() != "nothing")
        ASSERT_TRUE(nothing->next());
    nothing->setSelected(true);
    DialogScript script;
    shown.view().recover();
    EXPECT_EQ(0u, script.answered());
    ASSERT_EQ(1u, shown.messages().asked().size());
    EXPECT_EQ(MESSAGE_ERROR, shown.messages().asked()[0].kind);
    EXPECT_EQ(0u, shown.messages().asked()[0].text.find("To recover individual files"));
}

// The destination's name holds markup characters: the confirmation still shows it.
TEST_F(RecoverCommandTest, RecoversTheMarkedFilesAndOpensTheReport) {
    ShownTree shown(guitest::testMap(TREE), &vfs);
    guitest::markFolder(shown, "ROOT/docs");
    testutil::ScriptedMessages messages(0);
    messages.tickInfoChecks();
    std::string confirmation;
    std::string report;
    DialogScript script;
    guitest::answerDialogs(script, "a&b<c>", true, &confirmation);
    script.then(DialogScript::titled("Report"), [&report](GtkDialog* editor) {
        report = guitest::editorText(editor);
        guitest::sendDelete(GTK_WIDGET(editor));
    });
    shown.view().recover();
    EXPECT_EQ(3u, script.answered());

    const std::string out = destination.file("a&b<c>");
    EXPECT_NE(std::string::npos, confirmation.find("Selected: 3 file(s) 1 folder(s) 6,500 bytes\n"
                                                   "Destination: " +
                                                   out))
        << confirmation;
    auto* engine = static_cast<testutil::TestEngine*>(shown.map());
    EXPECT_EQ(engine->expectedData(20), testutil::readAll(out + "/docs/report.txt"));
    EXPECT_EQ(engine->expectedData(21), testutil::readAll(out + "/docs/big.bin"));
    EXPECT_EQ(engine->expectedData(22), testutil::readAll(out + "/docs/broken.dat"));
    EXPECT_FALSE(fileExists((out + "/top.txt").c_str()));

    // One read error: the note first, then the closing message with its check box.
    ASSERT_EQ(2u, messages.asked().size());
    EXPECT_EQ(MESSAGE_INFO_CLOSE, messages.asked()[0].kind);
    EXPECT_EQ("Some files have been recovered with errors.\n\nSee report that follows this "
              "message.",
              messages.asked()[0].text);
    EXPECT_EQ(MESSAGE_INFO_OK, messages.asked()[1].kind);
    EXPECT_EQ(0u, messages.asked()[1].text.find(
                      "You have recovered 3 file(s) 1 folder(s) 6,500 bytes.\n\nTo confirm"));
    EXPECT_EQ("_View Recovered Files Report Now", messages.asked()[1].checkLabel);

    EXPECT_EQ(0u, report.find("Recovered Selected Files Report\n\nDate: ")) << report;
    EXPECT_NE(std::string::npos, report.find("broken.dat"));
    // Recovered files lose their marks; the one with errors keeps it.
    for (const guitest::FileRow& row : guitest::fileRows(shown.files()))
        EXPECT_EQ(row.name == "broken.dat", shown.view().isMarked(row.position)) << row.name;
}

// The note says a report follows: the closing message's check box starts
// ticked, and the report opens unless the user unticks it.
TEST_F(RecoverCommandTest, SplitFilesAndReadErrorsShareOneNote) {
    Preferences::instance().setFileSizeLimit(1024);
    for (const bool untick : {false, true}) {
        ShownTree shown(guitest::testMap(TREE), &vfs);
        guitest::markFolder(shown, "ROOT/docs");
        testutil::ScriptedMessages messages(0);
        if (untick)
            messages.untickInfoChecks();
        DialogScript script;
        guitest::answerDialogs(script, untick ? "Unticked" : "Split", true);
        if (!untick)
            script.then(DialogScript::titled("Report"),
                        [](GtkDialog* editor) { guitest::sendDelete(GTK_WIDGET(editor)); });
        shown.view().recover();
        ASSERT_EQ(2u, messages.asked().size());
        EXPECT_EQ("Some files have been split into volumes.\nSome files have been recovered with "
                  "errors.\n\nSee report that follows this message.",
                  messages.asked()[0].text);
        EXPECT_TRUE(messages.asked()[1].checked);
        EXPECT_EQ(untick ? 2u : 3u, script.answered());
    }
    EXPECT_TRUE(fileExists(destination.file("Split/docs/big.bin.v1").c_str()));
}

// Folders are made only for the files that go into them. The closing message
// and the report count the folders that hold a file (an empty marked folder
// is none; one that holds only a folder with a file is); into a destination
// that cannot be made (a file holds the folder it goes in), "Don't ask me again" and Yes,
// nothing is written, none is counted, every file is listed as not written
// with the reason, and the report follows the note as it says. Without a note
// the check box starts unticked.
TEST_F(RecoverCommandTest, TheClosingMessageCountsTheFoldersMade) {
    const char* const nested = R"(
root 5
dir 10 in=5 name=outer
dir 11 in=10 name=inner
file 20 in=11 name=deep.txt size=100
dir 12 in=5 name=empty
file 21 in=5 name=top.txt size=50
)";
    testutil::writeAll(destination.file("Blocked"), "a file");
    const struct {
        const char* destination;
        const char* closing;
        const char* lastLine; // of the report's files, when it opens
    } rows[] = {
        {"Made", "You have recovered 2 file(s) 2 folder(s) 150 bytes.", nullptr},
        {"Blocked/Made", "You have recovered 0 file(s) 0 folder(s) 0 bytes.",
         "deep.txt                                100 Invalid Time (not written: Not a "
         "directory)\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.destination);
        ShownTree shown(guitest::testMap(nested), &vfs);
        guitest::markFolder(shown, "ROOT");
        // Yes with "Don't ask me again" to going on.
        testutil::ScriptedMessages messages(0x10);
        DialogScript script;
        guitest::answerDialogs(script, row.destination, true);
        std::string report;
        script.then(DialogScript::titled("Report"), [&report](GtkDialog* editor) {
            report = guitest::editorText(editor);
            guitest::sendDelete(GTK_WIDGET(editor));
        });
        shown.view().recover();
        ASSERT_FALSE(messages.asked().empty());
        const testutil::AskedBox& closing = messages.asked().back();
        EXPECT_THAT(closing.text, testing::StartsWith(row.closing));
        EXPECT_EQ(closing.checked, row.lastLine != nullptr);
        if (row.lastLine == nullptr) {
            EXPECT_EQ(2u, script.answered());
            continue;
        }
        EXPECT_EQ("Some files could not be written.\n\nSee report that follows this message.",
                  messages.asked()[messages.asked().size() - 2].text);
        EXPECT_THAT(report, testing::HasSubstr(row.lastLine));
        // Neither the total nor a folder's subtotal counts a folder announced.
        EXPECT_THAT(report, testing::Not(testing::ContainsRegex("[1-9] folder\\(s\\)")));
        EXPECT_EQ("a file", testutil::readAll(destination.file("Blocked")));
    }
}

// report.txt finds no free name in its folder and is not written; broken.dat
// has a read error. The note tells both apart, and the closing message counts
// only what was written; docs was there already and is no folder made.
TEST_F(RecoverCommandTest, FilesNotWrittenAreToldApartFromFilesWithErrors) {
    const std::string docs = destination.file("Taken/docs");
    ASSERT_TRUE(makeDirectoryWithParents(docs.c_str(), 0755) == 0);
    testutil::writeAll(docs + "/report.txt", "older");
    for (int i = 1; i <= 999; ++i)
        testutil::writeAll(docs + "/report-" + std::to_string(i) + ".txt", "");
    ShownTree shown(guitest::testMap(TREE), &vfs);
    guitest::markFolder(shown, "ROOT/docs");
    testutil::ScriptedMessages messages(0); // Yes to recovering into "Taken", to going on
    DialogScript script;
    guitest::answerDialogs(script, "Taken", true);
    std::string report;
    script.then(DialogScript::titled("Report"), [&report](GtkDialog* editor) {
        report = guitest::editorText(editor);
        guitest::sendDelete(GTK_WIDGET(editor));
    });
    shown.view().recover();
    EXPECT_THAT(report, testing::HasSubstr("0 Invalid Time (not written)\n"));
    EXPECT_THAT(report, testing::HasSubstr("1000 Invalid Time (recovered with errors)\n"));
    const auto& asked = messages.asked();
    ASSERT_GE(asked.size(), 3u);
    // The folder is added to, nothing in it replaced: the question says so.
    EXPECT_THAT(asked[0].text, testing::StartsWith(destination.file("Taken") +
                                                   " already exists. Recover into it?"));
    EXPECT_EQ("Some files have been recovered with errors.\nSome files could not be written.\n"
              "\nSee report that follows this message.",
              asked[asked.size() - 2].text);
    EXPECT_THAT(asked.back().text,
                testing::StartsWith("You have recovered 2 file(s) 0 folder(s) 3,500 bytes.\n\n"
                                    "To confirm"));
    EXPECT_EQ("older", testutil::readAll(docs + "/report.txt"));
}

TEST_F(RecoverCommandTest, CancellingEitherDialogWritesNothing) {
    ShownTree shown(guitest::testMap(TREE), &vfs);
    guitest::markFolder(shown, "ROOT/docs");
    testutil::ScriptedMessages messages(0);
    {
        DialogScript script;
        guitest::answerDialogs(script, "", false);
        shown.view().recover();
        EXPECT_EQ(1u, script.answered());
    }
    {
        DialogScript script;
        guitest::answerDialogs(script, "Never", false);
        shown.view().recover();
        EXPECT_EQ(2u, script.answered());
    }
    EXPECT_TRUE(messages.asked().empty());
    EXPECT_FALSE(fileExists(destination.file("Never").c_str()));
    GtkTreeIter docs;
    ASSERT_TRUE(guitest::findFolderRow(shown.folders(), "ROOT/docs", docs));
    EXPECT_TRUE(shown.folders().rowShowsMark(&docs));
}

TEST_F(RecoverCommandTest, ACancelledWalkSaysSoAndCountsWhatWasWritten) {
    ShownTree shown(guitest::testMap(TREE), &vfs);
    guitest::markFolder(shown, "ROOT/docs");
    testutil::ScriptedMessages messages(0);
    messages.tickInfoChecks();
    std::string report;
    DialogScript script;
    guitest::answerDialogs(script, "Stopped", true, nullptr, true);
    script.then(DialogScript::titled("Report"), [&report](GtkDialog* editor) {
        report = guitest::editorText(editor);
        guitest::sendDelete(GTK_WIDGET(editor));
    });
    shown.view().recover();
    ASSERT_FALSE(messages.asked().empty());
    const std::string& closing = messages.asked().back().text;
    EXPECT_THAT(closing, testing::HasSubstr("The recovery was cancelled: 0 of 3 marked files"));
    EXPECT_THAT(closing, testing::StartsWith("You have recovered 0 file(s)"));
    EXPECT_NE(std::string::npos, report.find("nterrupted")) << report;
}

TEST_F(RecoverCommandTest, ViewFileWritesIntoTheTemporaryDirectoryAndOpensIt) {
    ShownTree shown(guitest::testMap(TREE), &vfs);
    ASSERT_TRUE(guitest::selectFile(shown.files(), "top.txt"));
    gtk_widget_grab_focus(GTK_WIDGET(shown.files().view()));
    shown.view().viewFile();
    // The run's own folder in the temporary directory, which goes with the run.
    const std::string folder = Preferences::instance().viewDirectory();
    EXPECT_EQ(folder.rfind(temporary.path() + "/halbrook-", 0), 0u) << folder;
    const std::string copy = folder + "/top.txt";
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ(copy, opened[0]);
    EXPECT_EQ("top level", testutil::readAll(copy));
    EXPECT_TRUE(shown.messages().asked().empty());

    // A file inside a folder is written below the same folder names.
    ASSERT_TRUE(shown.openFolder("ROOT/docs"));
    ASSERT_TRUE(guitest::selectFile(shown.files(), "report.txt"));
    gtk_widget_grab_focus(GTK_WIDGET(shown.files().view()));
    shown.view().viewFile();
    ASSERT_EQ(2u, opened.size());
    EXPECT_EQ(folder + "/docs/report.txt", opened[1]);

    // The File Size Limit splits what is recovered, never what is viewed.
    Preferences::instance().setFileSizeLimit(1024);
    ASSERT_TRUE(guitest::selectFile(shown.files(), "big.bin"));
    gtk_widget_grab_focus(GTK_WIDGET(shown.files().view()));
    shown.view().viewFile();
    ASSERT_EQ(3u, opened.size());
    EXPECT_EQ(2500u, testutil::readAll(opened[2]).size());
    EXPECT_FALSE(fileExists((folder + "/docs/big.bin.v1").c_str()));
}

// Nothing opens without a file to view (the folder tree has the focus: its
// folder is the current node), on a cancel, or when the copy cannot be written
// (every free name taken, a file where the folder should be), nor when the
// temporary folder cannot hold the file whole; all but the cancel say why in
// the user's words, a failed write or make with the system's reason, and what
// was cut goes.
TEST_F(RecoverCommandTest, ViewFileOpensNothingWithoutAFileOnCancelOrWhenItCannotWrite) {
    for (const std::string what : {"folder", "cancel", "too large", "taken", "unwritable"}) {
        ShownTree shown(guitest::testMap(TREE), &vfs);
        if (what == "taken") {
            const std::string folder = Preferences::instance().viewDirectory();
            testutil::writeAll(folder + "/top.txt", "");
            for (int i = 1; i <= 999; ++i)
                testutil::writeAll(folder + "/top-" + std::to_string(i) + ".txt", "");
        }
        if (what == "unwritable") {
            testutil::writeAll(temporary.file("plain"), "x");
            Preferences::instance().setTemporaryDirectory(temporary.file("plain"));
        }
        // Files past 2,000 bytes are beyond what may be written (EFBIG).
        struct rlimit saved {};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        if (what == "too large") {
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit small = saved;
            small.rlim_cur = 2000;
            ::setrlimit(RLIMIT_FSIZE, &small);
            ASSERT_TRUE(shown.openFolder("ROOT/docs"));
            ASSERT_TRUE(guitest::selectFile(shown.files(), "big.bin"));
            gtk_widget_grab_focus(GTK_WIDGET(shown.files().view()));
        } else if (what == "folder") {
            gtk_widget_grab_focus(GTK_WIDGET(shown.folders().view()));
        } else {
            ASSERT_TRUE(guitest::selectFile(shown.files(), "top.txt"));
            gtk_widget_grab_focus(GTK_WIDGET(shown.files().view()));
        }
        if (what == "cancel")
            guitest::cancelProgressBoxWhenShown("Recovering Files");
        shown.view().viewFile();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_TRUE(opened.empty()) << what;
        // Nor is a cut copy left to fill the folder.
        EXPECT_FALSE(
            fileExists((Preferences::instance().viewDirectory() + "/docs/big.bin").c_str()))
            << what;
        const auto& asked = shown.messages().asked();
        ASSERT_EQ(asked.size(), what == "cancel" ? 0u : 1u) << what;
        if (!asked.empty()) {
            EXPECT_EQ(MESSAGE_ERROR, asked[0].kind);
            const std::string starts =
                what == "folder"      ? "Please select file"
                : what == "too large" ? "big.bin cannot be viewed"
                : what == "taken"     ? "top.txt cannot be viewed.\nCannot find unique path\n(" +
                                        Preferences::instance().viewDirectory() + "/top.txt)"
                                  : "Cannot create a temporary folder.";
            EXPECT_EQ(asked[0].text.rfind(starts, 0), 0u) << asked[0].text;
            // A failed write or make ends with the system's reason.
            const std::string ends = what == "too large"    ? "\nFile too large"
                                     : what == "unwritable" ? "\nNot a directory"
                                                            : "";
            EXPECT_THAT(asked[0].text, testing::EndsWith(ends));
        }
    }
}

} // namespace
