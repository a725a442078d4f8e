#include "app/ProgramInit.h"

#include "core/AppDirectory.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "core/UserInterface.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/TestUtil.h"

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

} // namespace
