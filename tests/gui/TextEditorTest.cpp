#include "gui/TextEditor.h"

#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "tests/gui/DialogScript.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/ScriptedMessages.h"

#include <gdk/gdkkeysyms.h>

using testutil::TempDir;

namespace {

class TextEditorTest : public guitest::GuiTest {
protected:
    void setUpWindows() override {
        mainWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        ui.setParentWindow(GTK_WINDOW(mainWindow));
        context.setCurrentDirectory(dir.path());
    }
    void TearDown() override {
        if (mainWindow)
            gtk_widget_destroy(mainWindow);
    }

    TempDir dir;
    GtkWidget* mainWindow = nullptr;
    gtk::Interface ui{nullptr};
    GuiContext context{&ui, nullptr, nullptr, nullptr};
};

TEST_F(TextEditorTest, FailedWriteShowsThePath) {
    testutil::ScriptedMessages script;
    TextEditor editor(context, nullptr);
    editor.setFileName("missing/folder/x.txt");
    editor.save();
    ASSERT_EQ(script.asked().size(), 1u);
    EXPECT_EQ(script.asked()[0].kind, MESSAGE_ERROR);
    EXPECT_EQ(script.asked()[0].text, std::string("Cannot write to file:\n") +
                                          dir.file("missing/folder/x.txt") +
                                          "\nNo such file or directory");
}

TEST_F(TextEditorTest, TextThatIsNotUtf8IsShownWithReplacements) {
    TextEditor editor(context, nullptr);
    std::string latin1("caf\xe9\0end", 8);
    editor.setText(latin1.data(), latin1.size());
    std::string shown = editor.getText();
    EXPECT_TRUE(g_utf8_validate(shown.c_str(), -1, nullptr));
    EXPECT_EQ(shown.substr(0, 3), "caf");
    EXPECT_NE(shown.find("end"), std::string::npos);
}

// Only a first tab right after a colon makes a label; a text need not end
// with a line end.
TEST(TextEditorLabelsTest, LabelLinesAreThoseWhoseFirstTabFollowsAColon) {
    const struct {
        const char* text;
        const char* lines; // "line label tabs" each
    } cases[] = {
        {"", ""},
        {"Name:\t\tA\nSize:\t3", "0 Name: 2;1 Size: 1;"},
        {"\tx:\ty\n:\tz\na\tb:\tc\nx:y\n", "1 : 1;"},
        {"  Time [h:m]:\t\t\n\nEnd:\t", "0   Time [h:m]: 2;2 End: 1;"},
    };
    for (const auto& c : cases) {
        std::string found;
        for (const LabelLine& l : labelLines(c.text))
            found += std::to_string(l.line) + " " + l.label + " " + std::to_string(l.tabs) + ";";
        EXPECT_EQ(found, c.lines) << c.text;
    }
}

// Ending the run (SIGTERM) answers the dialog in front with a response: the
// report, shown over the closing message of a recovery, must go with it, or
// the program never ends. What it showed is all of its text, also past a NUL
// (the zeroed signature of a record in Properties).
TEST_F(TextEditorTest, AResponseClosesItAsTheEndOfARunGivesOne) {
    TextEditor editor(context, "Report");
    guitest::DialogAnswer answer(
        [](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_DELETE_EVENT); });
    editor.show(std::string("Magic:\t'\0\0\0\0'\nParent:\t5", 23));
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(guitest::DialogScript::find(guitest::DialogScript::anyDialog()), nullptr);
    EXPECT_NE(editor.getText().find("Parent:\t5"), std::string::npos) << editor.getText();
}

} // namespace
