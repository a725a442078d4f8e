#include "gui/TextEditor.h"

#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gdk/gdkkeysyms.h>
#include <string>

using testutil::TempDir;

namespace {

class TextEditorTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        guitest::GuiTest::SetUp();
        if (IsSkipped())
            return;
        mainWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        ui.setParentWindow(GTK_WINDOW(mainWindow));
        context.setCurrentDirectory(dir.path());
    }
    void TearDown() override {
        if (mainWindow)
            gtk_widget_destroy(mainWindow);
    }
    // Runs `action` on the shown editor from the main loop, then returns from show.
    void showAndThen(TextEditor& editor, const char* text,
                     const std::function<void(TextEditor&)>& action) {
        struct Step {
            TextEditor* editor;
            const std::function<void(TextEditor&)>* action;
        } step{&editor, &action};
        g_idle_add(
            [](gpointer data) -> gboolean {
                auto* s = static_cast<Step*>(data);
                (*s->action)(*s->editor);
                return FALSE;
            },
            &step);
        editor.show(text);
    }
    static void selectRange(TextEditor& editor, int from, int to) {
        GtkTextIter a;
        GtkTextIter b;
        gtk_text_buffer_get_iter_at_offset(editor.getBuffer(), &a, from);
        gtk_text_buffer_get_iter_at_offset(editor.getBuffer(), &b, to);
        gtk_text_buffer_select_range(editor.getBuffer(), &a, &b);
    }

    TempDir dir;
    GtkWidget* mainWindow = nullptr;
    gtk::Interface ui{nullptr};
    GuiContext context{&ui, nullptr, nullptr, nullptr};
};

TEST_F(TextEditorTest, SaveWritesTheWholeTextIntoTheCurrentFolder) {
    TextEditor editor(context, "Report");
    std::string report = "Files: 12\n\tSize: 3 MB\nname \xc3\xa9\n";
    editor.setText(report.data(), report.size());
    editor.setFileName("report.txt");
    editor.saveOrAsk();
    EXPECT_EQ(testutil::readAll(dir.file("report.txt")), report);

    // Cleared, a second Save overwrites the same file with nothing.
    editor.clear();
    EXPECT_EQ(editor.getFileName(), "report.txt");
    editor.saveOrAsk();
    EXPECT_EQ(testutil::readAll(dir.file("report.txt")), "");
}

TEST_F(TextEditorTest, FailedWriteShowsThePath) {
    testutil::ScriptedMessages script;
    TextEditor editor(context, nullptr);
    editor.setFileName("missing/folder/x.txt");
    editor.save();
    ASSERT_EQ(script.asked().size(), 1u);
    EXPECT_EQ(script.asked()[0].kind, MESSAGE_ERROR);
    EXPECT_EQ(script.asked()[0].text,
              std::string("Cannot write to file:\n") + dir.file("missing/folder/x.txt"));
}

TEST_F(TextEditorTest, WindowIsAModalTextViewOverTheParent) {
    TextEditor editor(context, nullptr);
    GtkWindow* window = editor.getWindow();
    EXPECT_STREQ(gtk_window_get_title(window), "Text Editor");
    EXPECT_TRUE(gtk_window_get_modal(window));
    EXPECT_EQ(gtk_window_get_transient_for(window), GTK_WINDOW(mainWindow));
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window)));
    auto bars = guitest::findWidgets(GTK_WIDGET(window), GTK_TYPE_MENU_BAR);
    ASSERT_EQ(bars.size(), 1u);
    auto menus = guitest::findWidgets(bars[0], GTK_TYPE_MENU_ITEM);
    ASSERT_EQ(menus.size(), 2u);
    EXPECT_TRUE(
        guitest::findWidgets(gtk_dialog_get_action_area(GTK_DIALOG(window)), GTK_TYPE_BUTTON)
            .empty());
}

TEST_F(TextEditorTest, ShowRunsUntilEscapeClosesTheWindow) {
    TextEditor editor(context, "Dump");
    std::string seen;
    showAndThen(editor, "Boot Sector\n", [&](TextEditor& e) {
        seen = e.getText();
        guitest::screenshot(GTK_WIDGET(e.getWindow()), "text-editor");
        gtk_accel_groups_activate(G_OBJECT(e.getWindow()), GDK_Escape,
                                  static_cast<GdkModifierType>(0));
    });
    EXPECT_EQ(seen, "Boot Sector\n");
    EXPECT_EQ(editor.getWindow(), nullptr);
    // The text is still there for whoever asks after the window has gone.
    EXPECT_EQ(editor.getText(), "Boot Sector\n");
}

TEST_F(TextEditorTest, CloseButtonAndQuitEndTheLoopToo) {
    TextEditor first(context, nullptr);
    showAndThen(first, "a", [](TextEditor& e) { guitest::sendDelete(GTK_WIDGET(e.getWindow())); });
    EXPECT_EQ(first.getWindow(), nullptr);
    TextEditor second(context, nullptr);
    showAndThen(second, "b", [](TextEditor& e) {
        gtk_accel_groups_activate(G_OBJECT(e.getWindow()), GDK_q, GDK_CONTROL_MASK);
    });
    EXPECT_EQ(second.getWindow(), nullptr);
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

TEST_F(TextEditorTest, DeleteAndClipboard) {
    TextEditor editor(context, nullptr);
    showAndThen(editor, "one two", [&](TextEditor& e) {
        selectRange(e, 3, 7);
        e.deleteSelection();
        EXPECT_EQ(e.getText(), "one");
        selectRange(e, 0, 3);
        e.copy();
        GtkTextIter end;
        gtk_text_buffer_get_end_iter(e.getBuffer(), &end);
        gtk_text_buffer_place_cursor(e.getBuffer(), &end);
        e.paste();
        guitest::pumpUntil([&] { return e.getText() == "oneone"; }, 1000);
        EXPECT_EQ(e.getText(), "oneone");
        e.close();
    });
}

TEST_F(TextEditorTest, FirstSaveAsksForANameAndSuggestsOne) {
    TextEditor editor(context, nullptr);
    std::string suggested;
    guitest::DialogAnswer answer([&](GtkDialog* d) {
        auto entries = guitest::findWidgets(GTK_WIDGET(d), GTK_TYPE_ENTRY);
        if (!entries.empty())
            suggested = gtk_entry_get_text(GTK_ENTRY(entries.front()));
        gtk_dialog_response(d, GTK_RESPONSE_REJECT);
    });
    editor.saveOrAsk();
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(suggested, "filename.txt");
    // Cancelled: nothing changed, nothing written.
    EXPECT_EQ(editor.getFileName(), "");
}

} // namespace
