#include "gui/PreferencesDialog.h"

#include "core/FileNames.h"
#include "core/Preferences.h"
#include "core/System.h"
#include "tests/gui/GuiTest.h"

#include <gdk/gdkkeysyms.h>

namespace {

using guitest::DialogScript;

class PreferencesDialogTest : public guitest::GuiTest {
protected:
    void TearDown() override { Preferences::instance().resetToDefaults(); }

    static GtkEntry* entry(GtkDialog* d, const char* name) {
        return GTK_ENTRY(guitest::findNamed(GTK_WIDGET(d), name));
    }
    static GtkComboBox* combo(GtkDialog* d, const char* name) {
        return GTK_COMBO_BOX(guitest::findNamed(GTK_WIDGET(d), name));
    }
    static std::vector<std::string> charsets(GtkDialog* d) {
        std::vector<std::string> out;
        for (const char* name : {"oemCharset", "codepage", "arjName", "id3v1", "id3v2"})
            out.push_back(gtk_entry_get_text(entry(d, name)));
        return out;
    }
};

// A row sets what names are read as; the destination's code page stays the
// system's charset (empty) whatever the row, and the dialog opens on the row of
// the current charsets.
TEST_F(PreferencesDialogTest, DriveLanguageAndCharsetsFollowEachOther) {
    Preferences& p = Preferences::instance();
    int opened = -1;
    std::vector<std::string> russian;
    int afterCodepage = -1;
    int afterEnglishTexts = -1;
    DialogScript script;
    script.on("Preferences", [&](GtkDialog* d) {
        opened = gtk_combo_box_get_active(combo(d, "driveLanguage"));
        gtk_combo_box_set_active(combo(d, "driveLanguage"), 3);
        russian = charsets(d);
        gtk_entry_set_text(entry(d, "codepage"), "1251");
        afterCodepage = gtk_combo_box_get_active(combo(d, "driveLanguage"));
        for (const char* name : {"oemCharset", "arjName", "id3v1"})
            gtk_entry_set_text(entry(d, name), "CP437");
        gtk_entry_set_text(entry(d, "id3v2"), "ISO8859-1");
        afterEnglishTexts = gtk_combo_box_get_active(combo(d, "driveLanguage"));
        gtk_dialog_response(d, GTK_RESPONSE_REJECT);
    });
    EXPECT_FALSE(runPreferencesDialog(nullptr, p));
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(russian, (std::vector<std::string>{"CP866", "", "CP866", "CP1251", "CP1251"}));
    EXPECT_EQ(afterCodepage, 3);
    EXPECT_EQ(afterEnglishTexts, 0);
    // Cancel wrote nothing.
    EXPECT_EQ(CbrCharsets::instance().id3v2(), "ISO8859-1");
    EXPECT_EQ(p.sourceOemCharset(), "CP437");
}

TEST_F(PreferencesDialogTest, OkWritesEverythingBack) {
    Preferences& p = Preferences::instance();
    const int language = p.language();
    std::vector<std::string> helpOpened;
    SystemOpenLauncher previous = setSystemOpenLauncher([&](const OpenTarget& t, std::string&) {
        helpOpened.push_back(t.localPath);
        return true;
    });
    DialogScript script;
    script.on("Preferences", [&](GtkDialog* d) {
        guitest::pressKey(GTK_WIDGET(d), GDK_F1);
        gtk_toggle_button_set_active(
            GTK_TOGGLE_BUTTON(guitest::findNamed(GTK_WIDGET(d), "stackTrace")), TRUE);
        gtk_combo_box_set_active(combo(d, "readErrorMode"), 1);
        gtk_combo_box_set_active(combo(d, "driveLanguage"), 4);
        gtk_entry_set_text(entry(d, "temporaryDirectory"), "/var/tmp/mine");
        gtk_spin_button_set_value(
            GTK_SPIN_BUTTON(guitest::findNamed(GTK_WIDGET(d), "fileSizeLimit")), 0);
        gtk_dialog_response(d, GTK_RESPONSE_ACCEPT);
    });
    EXPECT_TRUE(runPreferencesDialog(nullptr, p));
    setSystemOpenLauncher(previous);
    EXPECT_TRUE(p.stackTraceAtException());
    EXPECT_EQ(p.readErrorMode(), 1);
    EXPECT_EQ(p.temporaryDirectory(), "/var/tmp/mine");
    EXPECT_EQ(p.fileSizeLimit(), 0);
    EXPECT_EQ(p.sourceOemCharset(), "CP950");
    EXPECT_EQ(p.destinationCodepage(), "");
    EXPECT_EQ(fileNameCharset(), "UTF-8");
    EXPECT_EQ(CbrCharsets::instance().id3v2(), "CP950");
    EXPECT_EQ(p.language(), language);
    ASSERT_EQ(helpOpened.size(), 1u);
    EXPECT_NE(helpOpened[0].find("/en/Preferences.html"), std::string::npos);
}

// With both settings opened, the dialog grows to show the last field, and a
// field the focus reaches lies in the visible part.
TEST_F(PreferencesDialogTest, OpenedSettingsShowTheirFields) {
    std::string hidden;
    DialogScript script;
    script.on("Preferences", [&](GtkDialog* d) {
        for (GtkWidget* expander : guitest::findWidgets(GTK_WIDGET(d), GTK_TYPE_EXPANDER))
            gtk_expander_set_expanded(GTK_EXPANDER(expander), TRUE);
        GtkWidget* last = GTK_WIDGET(entry(d, "id3v2"));
        gtk_widget_grab_focus(last);
        GtkWidget* scrolled = gtk_widget_get_ancestor(last, GTK_TYPE_SCROLLED_WINDOW);
        // Whether the field lies in the visible part; an X server shared by
        // busy test programs answers a resize in its own time.
        auto visible = [&] {
            gint x = 0;
            gint y = 0;
            return gtk_widget_translate_coordinates(last, scrolled, 0, 0, &x, &y) && y >= 0 &&
                   y + last->allocation.height <= scrolled->allocation.height;
        };
        const gint64 until = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
        while (!visible() && g_get_monotonic_time() < until) {
            gdk_display_sync(gdk_display_get_default());
            guitest::pumpEvents();
            g_usleep(1000);
        }
        if (!visible())
            hidden = "id3v2";
        gtk_dialog_response(d, GTK_RESPONSE_REJECT);
    });
    runPreferencesDialog(nullptr, Preferences::instance());
    EXPECT_TRUE(script.done());
    EXPECT_EQ(hidden, "");
}

} // namespace
