#include "gui/MainFrame.h"

#include "core/CompressedFile.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "gui/WizardPageScanner.h"
#include "tests/gui/GuiTest.h"
#include "tests/gui/TreeViewTestSupport.h"
#include "tests/support/FatCorpus.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"
#include "tree/Recoverer.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gdk/gdkkeysyms.h>
#include <stdexcept>
#include <thread>

using guitest::DialogScript;
using testutil::LogCapture;
using testutil::ScriptedMessages;
using testutil::TempDir;

namespace {

class MainFrameTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        guitest::GuiTest::SetUp();
        if (IsSkipped())
            return;
        appDirectory.useShipped();
        config.set("Program Name", "Halbrook 1.0", false);
        frame = std::make_unique<MainFrame>(config, new guitest::OneSourceVfs(dir.path()));
        guitest::pumpEvents();
    }
    void TearDown() override {
        frame.reset();
        guitest::pumpEvents();
    }
    static bool sensitive(GtkWidget* w) { return gtk_widget_get_sensitive(w); }
    DriveDescr& drive() { return frame->getAnalyzer().getDriveDescr(); }

    guitest::ScopedAppDirectory appDirectory;
    TempDir dir;
    PropertyMap config;
    std::unique_ptr<MainFrame> frame;
};

TEST_F(MainFrameTest, CommandsFollowTheState) {
    struct Row {
        const char* state;
        bool scan;
        bool fileSystem;
        bool tree;
    };
    const Row rows[] = {{"fresh", false, false, false},
                        {"scanned", true, false, false},
                        {"file system chosen", true, true, false},
                        {"tree shown", true, true, true}};
    for (const Row& row : rows) {
        drive().setHasScan(row.scan);
        if (row.fileSystem) {
            FsCandidate chosen;
            chosen.selected = true;
            drive().setLayout({chosen});
        }
        if (row.tree) {
            drive().setMap(guitest::testMap(guitest::SAMPLE_TREE));
            frame->showTree();
        }
        frame->updateSensitivity();
        MainFrame::StateWidgets w = frame->stateWidgets();
        EXPECT_EQ(sensitive(w.selectPartition), row.fileSystem) << row.state;
        EXPECT_EQ(sensitive(w.saveScan), row.scan) << row.state;
        // The tests keep the log in memory, so there is always one to save.
        EXPECT_TRUE(sensitive(w.saveDebug)) << row.state;
        for (GtkWidget* widget : w.needTree)
            EXPECT_EQ(sensitive(widget), row.tree) << row.state;
    }
    // The view took the place of the big Wizard button.
    GList* children = gtk_container_get_children(frame->getContent());
    ASSERT_EQ(g_list_length(children), 1u);
    EXPECT_TRUE(GTK_IS_PANED(children->data));
    g_list_free(children);
}

TEST_F(MainFrameTest, TheGuardTurnsAnyExceptionIntoAnEscapedErrorBox) {
    ScriptedMessages boxes;
    LogCapture log;
    frame->guard([] { throw std::runtime_error("no <b>folder</b> & more"); });
    frame->guard([] { throw 42; });
    // A cancel in a progress box is the user's own doing: no box.
    frame->guard([] { throw InterruptedException(); });
    // A file or folder that could not be written says so in its own words.
    frame->guard([] { throw tree::Recoverer::Exception("Cannot open file\n(a&b)\nWhy"); });
    // A tree command before any tree: the hint instead.
    frame->runCommand(&MainFrame::findFile);
    ASSERT_EQ(boxes.asked().size(), 4u);
    EXPECT_EQ(boxes.asked()[0].kind, MESSAGE_ERROR);
    EXPECT_EQ(boxes.asked()[0].text,
              "An internal error stopped the command:\nno &lt;b&gt;folder&lt;/b&gt; &amp; more");
    EXPECT_EQ(boxes.asked()[1].text, "Unknown exception");
    EXPECT_EQ(boxes.asked()[2].text, "Cannot open file\n(a&amp;b)\nWhy");
    EXPECT_EQ(boxes.asked()[3].kind, MESSAGE_INFO_CLOSE);
    EXPECT_EQ(boxes.asked()[3].text.rfind("Click the [Wizard] button", 0), 0u);
    EXPECT_TRUE(log.has("MainFrame(919): no <b>folder</b> & more\n"));
    EXPECT_TRUE(log.has("MainFrame(922)\n"));
    EXPECT_FALSE(frame->isClosing());
}

TEST_F(MainFrameTest, QuitAsksAndWarnsOfAnUnsavedScan) {
    struct Row {
        bool scan;
        bool saved;
        int answer;
        bool warned;
    };
    const Row rows[] = {{true, false, 1, true}, {true, true, 1, false}, {false, true, 0, false}};
    for (const Row& row : rows) {
        drive().setHasScan(row.scan);
        drive().setScanSaved(row.saved);
        ScriptedMessages boxes;
        boxes.then(row.answer);
        // The title bar's close button asks the same question.
        guitest::sendDelete(GTK_WIDGET(frame->getWindow()));
        ASSERT_EQ(boxes.asked().size(), 1u);
        const std::string& text = boxes.asked()[0].text;
        EXPECT_EQ(boxes.asked()[0].kind, MESSAGE_QUESTION);
        EXPECT_TRUE(boxes.asked()[0].defaultNo);
        EXPECT_EQ(
            text.find("<span foreground=\"red\">Warning:</span> scan file is not saved\n\n") == 0,
            row.warned)
            << text;
        EXPECT_NE(text.find("Do you want to quit?"), std::string::npos);
        EXPECT_EQ(frame->isClosing(), row.answer == 0);
    }
    EXPECT_EQ(frame->getExitCode(), 0);
}

// Back stands left of Next on the wizard's file-system page and, by its
// mnemonic, leads to the scan page again.
TEST_F(MainFrameTest, BackOnTheWizardsFileSystemPageLeadsToTheScanPage) {
    const std::string image = testutil::fatCorpus(12).path;
    frame = std::make_unique<MainFrame>(config, new guitest::OneSourceVfs(image, "file"));
    ScriptedMessages boxes; // the offers to save the scan answered No
    auto next = [](GtkDialog* d) {
        gtk_button_clicked(GTK_BUTTON(guitest::findButton(GTK_WIDGET(d), "Next")));
    };
    DialogScript script;
    script.on("Select Source", [&](GtkDialog* d) {
        ASSERT_TRUE(guitest::selectRowById(d, image));
        next(d);
    });
    script.on("Scan", next);
    script.on("Select Scan Type",
              [](GtkDialog* d) { gtk_dialog_response(d, gtk::WizardPageScanner::SCAN_DEEP); });
    script.on("Select Partition", [&](GtkDialog* d) {
        GtkWidget* back = guitest::findButton(GTK_WIDGET(d), GTK_STOCK_GO_BACK);
        ASSERT_TRUE(back && gtk_widget_get_visible(back));
        EXPECT_LT(back->allocation.x, guitest::findButton(GTK_WIDGET(d), "Next")->allocation.x);
        EXPECT_TRUE(guitest::pressKey(GTK_WIDGET(d), GDK_KEY_b, GDK_MOD1_MASK));
    });
    script.on("Scan", [](GtkDialog* d) { guitest::sendDelete(GTK_WIDGET(d)); });
    frame->runCommand(&MainFrame::wizard);
    EXPECT_TRUE(script.done());
}

const char* germanLocale(int, const char*) {
    return "de_DE.UTF-8";
}

TEST_F(MainFrameTest, SelectPartitionShowsTheFileSystemPageAloneAndANewLanguageNewMenus) {
    DialogScript script;
    bool back = true;
    script.on("Select Partition", [&](GtkDialog* d) {
        back = guitest::findButton(GTK_WIDGET(d), GTK_STOCK_GO_BACK) != nullptr;
        gtk_dialog_response(d, GTK_RESPONSE_DELETE_EVENT);
    });
    frame->runCommand(&MainFrame::selectPartition);
    EXPECT_TRUE(script.done());
    EXPECT_FALSE(back);

    // The menus are made again in the new language; the old items are gone.
    GtkWidget* item = frame->stateWidgets().selectPartition;
    g_object_ref(item);
    Preferences::LocaleFunction previous = Preferences::setLocaleFunction(germanLocale);
    script.on("Preferences", [](GtkDialog* d) {
        gtk_combo_box_set_active(
            GTK_COMBO_BOX(guitest::findNamed(GTK_WIDGET(d), "programLanguage")), 1);
        gtk_dialog_response(d, GTK_RESPONSE_ACCEPT);
    });
    frame->runCommand(&MainFrame::preferences);
    Preferences::setLocaleFunction(previous);
    Preferences::instance().resetToDefaults();
    EXPECT_TRUE(script.done());
    EXPECT_EQ(gtk_widget_get_parent(item), nullptr);
    EXPECT_NE(frame->stateWidgets().selectPartition, item);
    g_object_unref(item);
}

TEST_F(MainFrameTest, SaveDebugWritesTheLogCompressed) {
    logAt("MainFrameTest", 1) << ": marker\n";
    DialogScript script;
    script.on("Save File", [](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_ACCEPT); });
    frame->runCommand(&MainFrame::saveDebug);
    EXPECT_TRUE(script.done());
    std::string text;
    ASSERT_TRUE(loadCompressedFile(dir.file("Halbrook.dbg").c_str(), text));
    EXPECT_NE(text.find("MainFrameTest(1): marker\n"), std::string::npos);
}

TEST_F(MainFrameTest, TerminationClosesTheWizardAndEndsTheRun) {
    DialogScript script;
    script.on("Select Source", [](GtkDialog*) { std::raise(SIGTERM); });
    LogCapture log;
    EXPECT_EQ(frame->run(), 128 + SIGTERM);
    EXPECT_TRUE(script.done());
    EXPECT_TRUE(log.has("MainFrame(960): 143"));
    EXPECT_EQ(DialogScript::find(DialogScript::anyDialog()), nullptr);
}

void throwFromDeepInside() {
    throw std::runtime_error("boom");
}

TEST(CrashPath, AFatalSignalLeavesItsTraceAndEndsTheProcessByThatSignal) {
    // A plain fork: the child must write into this test's folder.
    GTEST_FLAG_SET(death_test_style, "fast");
    TempDir dir;
    const std::string log = dir.file("crash.log");
    for (int signal : {SIGSEGV, SIGILL, SIGFPE, SIGBUS, SIGABRT}) {
        EXPECT_EXIT(
            {
                installCrashHandlers(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600));
                std::raise(signal);
            },
            ::testing::KilledBySignal(signal), "MainFrame\\(74\\): Stack trace: 0x[0-9a-f]+ ")
            << signal;
    }
    EXPECT_NE(testutil::readAll(log).find("MainFrame(74): Stack trace: 0x"), std::string::npos);
}

TEST_F(MainFrameTest, WithTheDebugPreferenceAnExceptionEndsThroughTerminate) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The guard lets the exception through; with no handler above it,
    // terminate reports it with the stack of the throw, shows it, and aborts.
    EXPECT_EXIT(
        {
            // The child ends by abort, past every destructor: its folder goes first.
            std::filesystem::remove_all(dir.path());
            setMessageDialogHandler(MessageDialogHandler());
            installCrashHandlers(-1);
            Preferences::instance().setStackTraceAtException(true);
            std::thread([this] { frame->guard(throwFromDeepInside); }).join();
        },
        ::testing::KilledBySignal(SIGABRT),
        "MainFrame\\(74\\): An internal error stopped the command:\nboom\nStack trace: 0x.*"
        "An internal error stopped the command:\nboom");
}

} // namespace
