#include "core/Preferences.h"

#include "core/AppDirectory.h"
#include "core/FileNames.h"
#include "core/NameConversions.h"
#include "core/System.h"
#include "tests/support/TestUtil.h"

#include <algorithm>
#include <clocale>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <string>

using testutil::TempDir;

namespace {

// A process locale acted out: this machine may have no German or Japanese locale.
struct FakeLocales {
    std::set<std::string> available;
    std::string current = "C";
    int setCalls = 0;
};
FakeLocales fake;

const char* fakeSetLocale(int category, const char* name) {
    (void)category;
    if (name == nullptr)
        return fake.current.c_str();
    ++fake.setCalls;
    if (fake.available.count(name) == 0)
        return nullptr;
    fake.current = name;
    return fake.current.c_str();
}

int hookCalls = 0;
void countHook() {
    ++hookCalls;
}

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeLocales();
        fake.available = {"C", "C.UTF-8"};
        hookCalls = 0;
        savedLocaleFunction_ = Preferences::setLocaleFunction(fakeSetLocale);
        Preferences::setLanguageChangedHook(countHook);
        savedAppDirectory_ = appDirectory();
    }
    void TearDown() override {
        Preferences::setLocaleFunction(savedLocaleFunction_);
        Preferences::setLanguageChangedHook(nullptr);
        setAppDirectory(savedAppDirectory_);
        prefs().resetToDefaults();
    }
    // Starts a fresh run under the given locale.
    Preferences& startUnder(const std::string& locale) {
        fake.available.insert(locale);
        fake.current = locale;
        prefs().resetToDefaults();
        return prefs();
    }
    static Preferences& prefs() { return Preferences::instance(); }

private:
    Preferences::LocaleFunction savedLocaleFunction_ = nullptr;
    std::string savedAppDirectory_;
};

} // namespace

TEST_F(PreferencesTest, EnglishDefaults) {
    Preferences& p = startUnder("C.UTF-8");
    EXPECT_TRUE(p.filterInvalidFileSystems());
    EXPECT_FALSE(p.stackTraceAtException());
    EXPECT_EQ(p.readErrorMode(), 0);
    EXPECT_EQ(p.fileSizeLimit(), 2147483647);
    EXPECT_EQ(p.temporaryDirectory(), "");
    EXPECT_EQ(p.temporaryDirectoryName(), "Temporary Directory");
    EXPECT_EQ(p.language(), 0);

    EXPECT_EQ(p.sourceOemCharset(), "CP437");
    EXPECT_EQ(getCodePageName(), "CP437");
    EXPECT_EQ(getCodePage(), 437);
    // Recovered names stay UTF-8 until a destination code page is chosen.
    EXPECT_EQ(p.destinationCodepage(), "");
    EXPECT_EQ(fileNameCharset(), "UTF-8");

    CbrCharsets& cbr = CbrCharsets::instance();
    EXPECT_EQ(cbr.arjName(), "CP437");
    EXPECT_EQ(cbr.id3v1(), "CP437");
    EXPECT_EQ(cbr.id3v2(), "ISO8859-1");
}

TEST_F(PreferencesTest, LocaleChoosesLanguageAndDriveRow) {
    Preferences& p = startUnder("de_DE.UTF-8");
    EXPECT_EQ(p.language(), 1);
    EXPECT_EQ(p.sourceOemCharset(), "CP850");
    EXPECT_EQ(CbrCharsets::instance().id3v2(), "ISO8859-15");
    EXPECT_EQ(fileNameCharset(), "UTF-8");

    startUnder("ja_JP.eucJP");
    EXPECT_EQ(p.language(), 2);
    EXPECT_EQ(p.sourceOemCharset(), "CP932");
    EXPECT_EQ(getCodePage(), 932);
    EXPECT_EQ(CbrCharsets::instance().id3v2(), "EUC_JP");

    for (const char* other : {"en_US.UTF-8", "fr_FR.UTF-8", "POSIX", "German_Germany.1252"}) {
        startUnder(other);
        EXPECT_EQ(p.language(), 0) << other;
        EXPECT_EQ(p.sourceOemCharset(), "CP437") << other;
    }
}

TEST_F(PreferencesTest, LanguageOfLocaleName) {
    EXPECT_EQ(Preferences::languageOfLocaleName("de_AT.UTF-8"), 1);
    EXPECT_EQ(Preferences::languageOfLocaleName("de"), 1);
    EXPECT_EQ(Preferences::languageOfLocaleName("ja_JP"), 2);
    EXPECT_EQ(Preferences::languageOfLocaleName("d"), 0);
    EXPECT_EQ(Preferences::languageOfLocaleName(""), 0);
    EXPECT_EQ(Preferences::languageOfLocaleName(nullptr), 0);
}

TEST_F(PreferencesTest, SetLanguageFollowsTheLocaleInForce) {
    Preferences& p = startUnder("C.UTF-8");

    // No Japanese locale here: the language stays what the locale says, and the
    // stock items are left alone.
    p.setLanguage(2);
    EXPECT_EQ(p.language(), 0);
    EXPECT_EQ(hookCalls, 0);
    EXPECT_EQ(fake.current, "C.UTF-8");

    fake.available.insert("de_DE.utf8");
    p.setLanguage(1);
    EXPECT_EQ(p.language(), 1);
    EXPECT_EQ(fake.current, "de_DE.utf8");
    EXPECT_EQ(hookCalls, 1);

    // English without en_US falls back to C.UTF-8.
    p.setLanguage(0);
    EXPECT_EQ(p.language(), 0);
    EXPECT_EQ(fake.current, "C.UTF-8");
    EXPECT_EQ(hookCalls, 2);

    // Any unknown value is English.
    p.setLanguage(7);
    EXPECT_EQ(p.language(), 0);
    EXPECT_EQ(hookCalls, 3);
}

TEST_F(PreferencesTest, SetLanguageWithTheRealLocale) {
    Preferences::setLocaleFunction(nullptr);
    std::string saved = std::setlocale(LC_ALL, nullptr);
    Preferences& p = prefs();
    p.setLanguage(0);
    EXPECT_EQ(p.language(), 0);
    EXPECT_EQ(hookCalls, 1); // C.UTF-8 exists on every glibc system
    std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(PreferencesTest, CodepageSettersPushToTheirServices) {
    Preferences& p = startUnder("C.UTF-8");
    p.setDestinationCodepage("1252");
    EXPECT_EQ(p.destinationCodepage(), "1252");
    EXPECT_EQ(fileNameCharset(), "CP1252");
    p.setDestinationCodepage("");
    EXPECT_EQ(fileNameCharset(), "UTF-8");

    p.setSourceOemCharset("cp866");
    EXPECT_EQ(p.sourceOemCharset(), "cp866");
    EXPECT_EQ(getCodePage(), 866);

    // A new run starts from the defaults again.
    p.setDestinationCodepage("850");
    p.setFileSizeLimit(0);
    p.setReadErrorMode(1);
    p.setTemporaryDirectory("/elsewhere");
    p.resetToDefaults();
    EXPECT_EQ(fileNameCharset(), "UTF-8");
    EXPECT_EQ(p.fileSizeLimit(), 2147483647);
    EXPECT_EQ(p.readErrorMode(), 0);
    EXPECT_EQ(p.temporaryDirectory(), "");
    EXPECT_EQ(getCodePage(), 437);
}

// Viewed copies of recovered files go to a folder no other user can enter,
// the same one all run; a folder the user chose is taken as it stands.
TEST_F(PreferencesTest, ViewDirectoryIsPrivateUnlessChosen) {
    Preferences& p = startUnder("C.UTF-8");
    const std::string folder = p.viewDirectory();
    ASSERT_FALSE(folder.empty());
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(p.viewDirectory(), folder);
    p.setTemporaryDirectory("/chosen");
    EXPECT_EQ(p.viewDirectory(), "/chosen");
}

TEST_F(PreferencesTest, DriveLanguageTable) {
    std::vector<std::string> names;
    for (const Preferences::DriveLanguage* row = Preferences::driveLanguages; row->name; ++row)
        names.push_back(row->name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"English", "European", "Japanese", "Russian", "Chinese"}));
    const Preferences::DriveLanguage& russian = Preferences::driveLanguages[3];
    EXPECT_STREQ(russian.codepage, "866");
    EXPECT_STREQ(russian.id3v1, "CP1251");
}

TEST_F(PreferencesTest, LocaleFilePathFallsBackToEnglish) {
    TempDir lib;
    setAppDirectory(lib.path());
    ASSERT_EQ(makeDirectoryWithParents(lib.file("locale/de").c_str(), 0755), 0);
    testutil::writeAll(lib.file("locale/de/Preferences.html"), "<p>");

    Preferences& p = startUnder("de_DE.UTF-8");
    EXPECT_EQ(p.localeFilePath("Preferences.html"), lib.file("locale/de/Preferences.html"));
    // Missing in de/: the English path, whether it exists or not.
    EXPECT_EQ(p.localeFilePath("Scan.html"), lib.file("locale/en/Scan.html"));

    startUnder("ja_JP.UTF-8");
    EXPECT_EQ(p.localeFilePath("Preferences.html"), lib.file("locale/en/Preferences.html"));

    startUnder("C");
    EXPECT_EQ(p.localeFilePath("Preferences.html"), lib.file("locale/en/Preferences.html"));
}
