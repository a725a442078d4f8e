#include "app/ProgramInit.h"

#include "core/AppDirectory.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "core/UserInterface.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/TestUtil.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using testutil::TempDir;

namespace {

void writeIcon(const std::string& path, int size) {
    GdkPixbuf* picture = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, size, size);
    gdk_pixbuf_fill(picture, 0x336699ff);
    ASSERT_TRUE(gdk_pixbuf_save(picture, path.c_str(), "png", nullptr, nullptr));
    g_object_unref(picture);
}

const char* succeedingSetLocale(int, const char*) {
    return "C";
}

class ProgramInitTest : public guitest::GuiTest {
protected:
    void TearDown() override {
        if (IsSkipped())
            return;
        setMessageDialogHandler(MessageDialogHandler());
        Preferences::setLanguageChangedHook(nullptr);
        Preferences::setLocaleFunction(nullptr);
        gtk_window_set_default_icon_list(nullptr);
    }
    static int defaultIconCount() {
        GList* icons = gtk_window_get_default_icon_list();
        int count = static_cast<int>(g_list_length(icons));
        g_list_free(icons);
        return count;
    }

    TempDir dir;
    guitest::ScopedAppDirectory appDir;
};

TEST_F(ProgramInitTest, StartsGtkAndEverythingThatNeedsIt) {
    writeIcon(dir.file("hb.png"), 48);
    testutil::writeAll(dir.file("halbrook.cfg"), "Program Icon: hb.png\n");
    std::string exe = dir.file("halbrook");
    char* argv[] = {&exe[0], nullptr};
    PropertyMap config;
    ASSERT_TRUE(program_init(config, 1, argv));

    EXPECT_EQ(appDirectory(), dir.file("lib"));
    EXPECT_EQ(defaultIconCount(), 1);
    GtkStockItem item;
    EXPECT_TRUE(gtk_stock_lookup("Recover", &item));
    EXPECT_TRUE(gtk_stock_lookup("Next", &item));
    // The GTK message box is the one in use now.
    EXPECT_TRUE(static_cast<bool>(setMessageDialogHandler(MessageDialogHandler())));

    // The fake program has no pictures, so its items have no icons; a language
    // change registers them again, from wherever the pictures are now.
    ASSERT_EQ(gtk_icon_factory_lookup_default("File"), nullptr);
    appDir.useShipped();
    Preferences::setLocaleFunction(succeedingSetLocale);
    Preferences::instance().setLanguage(0);
    EXPECT_NE(gtk_icon_factory_lookup_default("File"), nullptr);
}

// Runs in a process of its own (the death test starts this program anew), as
// the program does: started under C.UTF-8 with LANGUAGE set to `languages`
// (null: unset), switched to German; writes what the question box shows, its
// title and its buttons' labels, and ends.
[[noreturn]] void startSwitchToGermanAndAsk(const char* languages) {
    g_setenv("LC_ALL", "C.UTF-8", TRUE);
    if (languages)
        g_setenv("LANGUAGE", languages, TRUE);
    else
        g_unsetenv("LANGUAGE");
    // Beside the built program: its catalogues are under lib/locale there.
    std::string exe = std::string(HB_BINARY_DIR) + "/halbrook";
    char* argv[] = {&exe[0], nullptr};
    PropertyMap config;
    if (!program_init(config, 1, argv))
        std::_Exit(2);
    Preferences::instance().setLanguage(1);
    std::string texts = "language " + std::to_string(Preferences::instance().language()) + ":";
    guitest::DialogScript script;
    script.then(guitest::DialogScript::anyDialog(), [&texts](GtkDialog* d) {
        texts += std::string(" ") + gtk_window_get_title(GTK_WINDOW(d));
        for (GtkWidget* button : guitest::findWidgets(GTK_WIDGET(d), GTK_TYPE_BUTTON))
            for (GtkWidget* label : guitest::findWidgets(button, GTK_TYPE_LABEL))
                texts += std::string(" ") + gtk_label_get_label(GTK_LABEL(label));
        gtk_dialog_response(d, GTK_RESPONSE_REJECT);
    });
    messageDialog(MESSAGE_QUESTION, "?", nullptr, false, nullptr);
    std::fprintf(stderr, "%s\n", texts.c_str());
    std::fflush(stderr);
    std::_Exit(0);
}

// GTK's own labels follow a switch of language whatever locale the program
// started in: under C.UTF-8 GLib once refused to translate for good, and a
// desktop's language list outranked the chosen language in every lookup.
TEST(LanguageSwitchTest, GtksOwnLabelsFollowTheSwitchFromCUtf8) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        GTEST_SKIP() << "no display";
    // Asked without setlocale: the process's own locale stays untouched.
    locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
    if (!german)
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
    freelocale(german);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const char* languages : {static_cast<const char*>(nullptr), "en_US:en"}) {
        // Title from our catalogue, Yes and No from GTK's.
        EXPECT_EXIT(startSwitchToGermanAndAsk(languages), ::testing::ExitedWithCode(0),
                    "language 1: Frage _Ja _Nein\n")
            << (languages ? languages : "LANGUAGE unset");
    }
}

} // namespace
