#include "gui/Help.h"

#include "core/Preferences.h"
#include "core/System.h"
#include "tests/gui/GuiTest.h"

namespace {

// The page of the program language when it exists, else the English one.
TEST(HelpTest, PageOfTheLanguageOrEnglish) {
    testutil::TempDir dir;
    guitest::ScopedAppDirectory appDir;
    appDir.use(dir.path());
    for (const char* page : {"de/Preferences.html", "ja/WizardPageScanner.html"})
        ASSERT_EQ(makeDirectoryWithParents((dir.path() + "/locale/" + page).c_str(), 0755), 0);
    const struct {
        int language;
        const char* topic;
        const char* page;
    } cases[] = {
        {1, "Preferences", "de/Preferences.html"},
        {1, "MainFrame", "en/MainFrame.html"},
        {2, "WizardPageScanner", "ja/WizardPageScanner.html"},
        {0, "Preferences", "en/Preferences.html"},
    };
    int& language = Preferences::instance().language();
    const int saved = language;
    for (const auto& c : cases) {
        language = c.language;
        EXPECT_EQ(helpFilePath(c.topic), dir.path() + "/locale/" + c.page);
    }
    language = saved;
}

// Every topic the program opens has its English page.
TEST(HelpTest, EveryTopicHasAnEnglishPage) {
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
