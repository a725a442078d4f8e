#include "gui/Help.h"

#include "core/Preferences.h"
#include "core/System.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/TestUtil.h"

#include <gdk/gdkkeysyms.h>
#include <string>
#include <vector>

using testutil::TempDir;

namespace {

class HelpTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        guitest::GuiTest::SetUp();
        if (IsSkipped())
            return;
        savedLanguage_ = Preferences::instance().language();
        appDir.use(dir.path());
        previous_ = setSystemOpenLauncher([this](const OpenTarget& target, std::string&) {
            opened.push_back(target.localPath);
            return true;
        });
    }
    void TearDown() override {
        if (IsSkipped())
            return;
        setSystemOpenLauncher(previous_);
        Preferences::instance().language() = savedLanguage_;
    }
    void writePage(const char* language, const char* topic) {
        std::string folder = dir.path() + "/locale/" + language;
        ASSERT_EQ(makeDirectoryWithParents(folder.c_str(), 0755), 0);
        testutil::writeAll(folder + "/" + topic + ".html", "<html></html>");
    }
    std::string page(const char* language, const char* topic) const {
        return dir.path() + "/locale/" + language + "/" + topic + ".html";
    }

    static gboolean pressKey(GtkWidget* window, guint keyval) {
        GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
        event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
        event->key.keyval = keyval;
        gboolean handled = FALSE;
        g_signal_emit_by_name(window, "key-press-event", event, &handled);
        gdk_event_free(event);
        return handled;
    }

    TempDir dir;
    guitest::ScopedAppDirectory appDir;
    std::vector<std::string> opened;

private:
    int savedLanguage_ = 0;
    SystemOpenLauncher previous_;
};

TEST_F(HelpTest, GermanFallsBackToEnglishWhenThePageIsMissing) {
    Preferences::instance().language() = 1;
    writePage("de", "Preferences");
    helpFile(nullptr, "Preferences");
    helpFile(nullptr, "MainFrame");
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], page("de", "Preferences"));
    EXPECT_EQ(opened[1], page("en", "MainFrame"));
}

TEST_F(HelpTest, JapanesePageWhenPresent) {
    Preferences::instance().language() = 2;
    writePage("ja", "WizardPageScanner");
    helpFile(nullptr, "WizardPageScanner");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], page("ja", "WizardPageScanner"));
}

TEST_F(HelpTest, F1OpensTheTopicOnceAndIsConsumed) {
    Preferences::instance().language() = 0;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_realize(window);
    {
        F1HelpBinding binding(window, "MapFilterEditor");
        EXPECT_EQ(binding.getTopic(), "MapFilterEditor");
        EXPECT_TRUE(pressKey(window, GDK_F1));
        EXPECT_FALSE(pressKey(window, GDK_F2));
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0], page("en", "MapFilterEditor"));
        binding.setTopic("Preferences");
        EXPECT_TRUE(pressKey(window, GDK_F1));
        ASSERT_EQ(opened.size(), 2u);
        EXPECT_EQ(opened[1], page("en", "Preferences"));
    }
    // Unbound: F1 is an ordinary key again.
    EXPECT_FALSE(pressKey(window, GDK_F1));
    EXPECT_EQ(opened.size(), 2u);
    gtk_widget_destroy(window);
}

// Every topic the program opens has its English page.
TEST(HelpPagesTest, EveryTopicHasAnEnglishPage) {
    for (const char* topic :
         {"MainFrame", "SoftwareSupport", "WizardPageSource", "WizardPageDestination",
          "WizardPageScanner", "WizardPageSelectFs", "Preferences", "MapFilterEditor"}) {
        std::string path = std::string(HB_SOURCE_DIR) + "/lib/locale/en/" + topic + ".html";
        std::string text = testutil::readAll(path);
        EXPECT_NE(text.find("<title>"), std::string::npos) << path;
        EXPECT_NE(text.find("</html>"), std::string::npos) << path;
    }
}

} // namespace
