#include "core/Preferences.h"

#include "core/FileNames.h"
#include "core/NameConversions.h"
#include "core/System.h"
#include "core/TemporaryFolder.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>
#include <sys/time.h>

namespace {

// A process locale acted out: this machine may have no German or Japanese locale.
struct FakeLocales {
    std::set<std::string> available;
    std::string current = "C";
};
FakeLocales fake;

const char* fakeSetLocale(int, const char* name) {
    if (name != nullptr) {
        if (fake.available.count(name) == 0)
            return nullptr;
        fake.current = name;
    }
    return fake.current.c_str();
}

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeLocales{{"C", "C.UTF-8"}};
        savedLocaleFunction_ = Preferences::setLocaleFunction(fakeSetLocale);
    }
    void TearDown() override {
        Preferences::setLocaleFunction(savedLocaleFunction_);
        prefs().resetToDefaults();
    }
    // Starts a fresh run under the given locale.
    static Preferences& startUnder(const std::string& locale) {
        fake.available.insert(locale);
        fake.current = locale;
        prefs().resetToDefaults();
        return prefs();
    }
    static Preferences& prefs() { return Preferences::instance(); }

private:
    Preferences::LocaleFunction savedLocaleFunction_ = nullptr;
};

// The locale picks the language and the row of code pages every reader of names
// then uses; recovered names stay UTF-8 until a destination code page is chosen.
TEST_F(PreferencesTest, TheLocaleChoosesLanguageAndCodePages) {
    const struct {
        const char* locale;
        int language;
        const char* oem;
        int codePage;
        const char* id3v2;
    } runs[] = {{"C.UTF-8", 0, "CP437", 437, "ISO8859-1"},
                {"de_DE.UTF-8", 1, "CP850", 850, "ISO8859-15"},
                {"ja_JP.eucJP", 2, "CP932", 932, "EUC_JP"},

                {"German_Germany.1252", 0, "CP437", 437, "ISO8859-1"}};
    for (const auto& r : runs) {
        Preferences& p = startUnder(r.locale);
        EXPECT_EQ(p.language(), r.language) << r.locale;
        EXPECT_EQ(p.sourceOemCharset(), r.oem) << r.locale;
        EXPECT_EQ(getCodePage(), r.codePage) << r.locale;
        EXPECT_EQ(CbrCharsets::instance().id3v2(), r.id3v2) << r.locale;
        EXPECT_EQ(fileNameCharset(), "UTF-8");
    }
    Preferences& p = startUnder("C.UTF-8");
    EXPECT_EQ(p.readErrorMode(), 0); // sector by sector: the safe choice for a dying disk
}

// A language is set only where its locale exists; code pages set by the user
// reach their services until the next run starts from the defaults.
TEST_F(PreferencesTest, SettingsReachTheirServicesWhereTheyCan) {
    Preferences& p = startUnder("C.UTF-8");
    p.setLanguage(2); // no Japanese locale here: nothing changes
    fake.available.insert("de_DE.utf8");
    p.setLanguage(1);
    EXPECT_EQ(p.language(), 1);
    EXPECT_EQ(fake.current, "de_DE.utf8");
    p.setDestinationCodepage("1252");
    EXPECT_EQ(fileNameCharset(), "CP1252");
    p.setSourceOemCharset("cp866");
    EXPECT_EQ(getCodePage(), 866);
    p.resetToDefaults();
    EXPECT_EQ(fileNameCharset(), "UTF-8");
    EXPECT_EQ(getCodePage(), 850);
}

// What a killed run viewed: its folder, its lock free, long unchanged.
std::string plantGoneRun(const std::string& parent) {
    const std::string folder = parent + "/halbrook-Gone01";
    EXPECT_EQ(mkdir(folder.c_str(), 0700), 0);
    testutil::writeAll(folder + "/.lock", "");
    testutil::writeAll(folder + "/config6.dat", "private");
    const struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    EXPECT_EQ(lutimes(folder.c_str(), old), 0);
    return folder;
}

// Viewed copies of recovered files go to a folder no other user can enter,
// the same one all run, in the system's temporary directory or in the one the
// user chose; both go with the run. A chosen folder is swept of a killed
// run's copies when it is chosen and before each view.
TEST_F(PreferencesTest, ViewDirectoryIsPrivateWhereverItIs) {
    Preferences& p = startUnder("C.UTF-8");
    testutil::TempDir chosen;
    std::vector<std::string> folders;
    for (const std::string& parent : {std::string(), chosen.path()}) {
        const std::string gone = parent.empty() ? std::string() : plantGoneRun(parent);
        p.setTemporaryDirectory(parent);
        if (!gone.empty()) {
            EXPECT_FALSE(fileExists(gone.c_str())) << "chosen";
            plantGoneRun(parent);
        }
        const std::string folder = p.viewDirectory();
        if (!gone.empty()) {
            EXPECT_FALSE(fileExists(gone.c_str())) << "viewed";
        }
        ASSERT_FALSE(folder.empty());
        if (!parent.empty()) {
            EXPECT_EQ(folder.rfind(parent + "/halbrook-", 0), 0u) << folder;
        }
        struct stat st {};
        ASSERT_EQ(stat(folder.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(p.viewDirectory(), folder);
        folders.push_back(folder);
    }
    removeRunTemporaryFolder();
    for (const std::string& folder : folders) {
        struct stat st {};
        EXPECT_NE(stat(folder.c_str(), &st), 0) << folder;
    }
}

} // namespace
