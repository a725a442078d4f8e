#include "core/Preferences.h"

#include "core/AppDirectory.h"
#include "core/FileNames.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/NameConversions.h"
#include "core/System.h"
#include "core/TemporaryFolder.h"

#include <clocale>
#include <cstring>
#include <glib.h>

const Preferences::DriveLanguage Preferences::driveLanguages[] = {
    {N_("English"), "CP437", "437", "CP437", "CP437", "ISO8859-1"},
    {N_("European"), "CP850", "850", "CP850", "CP850", "ISO8859-15"},
    {N_("Japanese"), "CP932", "932", "CP932", "CP932", "EUC_JP"},
    {N_("Russian"), "CP866", "866", "CP866", "CP1251", "CP1251"},
    {N_("Chinese"), "CP950", "950", "CP950", "CP950", "CP950"},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

namespace {

const char* systemSetLocale(int category, const char* name) {
    return std::setlocale(category, name);
}

Preferences::LocaleFunction localeFunction = systemSetLocale;
Preferences::LanguageHook languageChangedHook = nullptr;

// The POSIX locales tried for each program language, best first. English falls
// back to C.UTF-8, which every glibc system has.
const char* const GERMAN_LOCALES[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE", nullptr};
const char* const JAPANESE_LOCALES[] = {"ja_JP.UTF-8", "ja_JP.utf8", "ja_JP", nullptr};
const char* const ENGLISH_LOCALES[] = {"en_US.UTF-8", "en_US.utf8", "C.UTF-8", nullptr};

const char* const* localesOf(int lang) {
    switch (lang) {
    case 1:
        return GERMAN_LOCALES;
    case 2:
        return JAPANESE_LOCALES;
    default:
        return ENGLISH_LOCALES;
    }
}

} // namespace

Preferences& Preferences::instance() {
    static Preferences preferences;
    return preferences;
}

Preferences::Preferences() {
    applyDefaults();
}

void Preferences::resetToDefaults() {
    applyDefaults();
}

void Preferences::applyDefaults() {
    filterInvalidFileSystems_ = true;
    stackTraceAtException_ = false;
    readErrorMode_ = 0;
    temporaryDirectory_.clear();
    temporaryDirectoryName_ = _("Temporary Directory");
    sourceOemCharset_.clear();
    destinationCodepage_.clear();
    fileSizeLimit_ = 0x7fffffff;
    detectLanguage();

    const DriveLanguage& row = driveLanguages[language_ == 1 ? 1 : language_ == 2 ? 2 : 0];
    setSourceOemCharset(row.oemCharset);
    // The row's code page is a Windows destination's: here recovered names
    // stay in the system's charset until the user types a code page.
    setDestinationCodepage(std::string());
    CbrCharsets& charsets = CbrCharsets::instance();
    charsets.setArjName(row.arjName);
    charsets.setId3v1(row.id3v1);
    charsets.setId3v2(row.id3v2);
}

void Preferences::setTemporaryDirectory(const std::string& v) {
    temporaryDirectory_ = v;
    if (!v.empty())
        sweepTemporaryFolders(v);
}

std::string Preferences::viewDirectory() {
    // A folder the user chose holds this run's own folder too, so that the
    // copies viewed there go with the run as they do from the system's; and
    // what a killed run viewed there goes when the folder is used again.
    const std::string parent = temporaryDirectory_.empty() ? tempDirectory() : temporaryDirectory_;
    sweepTemporaryFolders(parent);
    return runTemporaryFolder(parent);
}

void Preferences::setSourceOemCharset(const std::string& v) {
    sourceOemCharset_ = v;
    setCodePage(v);
}

void Preferences::setDestinationCodepage(const std::string& v) {
    destinationCodepage_ = v;
    setFileNameCharset(v.empty() ? systemFileNameCharset() : "CP" + v);
}

std::string Preferences::systemFileNameCharset() {
    const gchar** charsets = nullptr;
    g_get_filename_charsets(&charsets);
    return charsets && charsets[0] ? charsets[0] : "UTF-8";
}

int Preferences::languageOfLocaleName(const char* name) {
    if (name == nullptr)
        return 0;
    if (std::strncmp(name, "de", 2) == 0)
        return 1;
    if (std::strncmp(name, "ja", 2) == 0)
        return 2;
    return 0;
}

void Preferences::detectLanguage() {
    // The messages category is the one that picks our catalogue; LC_ALL would
    // read back as a composite "LC_CTYPE=...;..." list when categories differ.
    language_ = languageOfLocaleName(localeFunction(LC_MESSAGES, nullptr));
}

void Preferences::setLanguage(int lang) {
    // LANGUAGE, where a desktop sets it, outranks the locale in every
    // catalogue lookup, ours and GTK's alike: while it stays, a new locale
    // would change the date format and no text.
    const gchar* environment = g_getenv("LANGUAGE");
    const bool hadLanguages = environment != nullptr;
    const std::string userLanguages = hadLanguages ? environment : "";
    g_unsetenv("LANGUAGE");
    bool changed = false;
    for (const char* const* name = localesOf(lang); *name && !changed; ++name)
        changed = localeFunction(LC_ALL, *name) != nullptr;
    if (!changed && hadLanguages)
        g_setenv("LANGUAGE", userLanguages.c_str(), TRUE);
    if (changed && languageChangedHook)
        languageChangedHook();
    detectLanguage();
}

std::string Preferences::localeFilePath(const std::string& name) {
    std::string base = appFilePath(appDirectory(), "locale");
    const char* own = language_ == 2 ? "ja" : language_ == 1 ? "de" : nullptr;
    if (own) {
        std::string candidate = appFilePath(appFilePath(base, own), name);
        if (fileExists(candidate.c_str()))
            return candidate;
    }
    return appFilePath(appFilePath(base, "en"), name);
}

void Preferences::setLanguageChangedHook(LanguageHook hook) {
    languageChangedHook = hook;
}

Preferences::LocaleFunction Preferences::setLocaleFunction(LocaleFunction function) {
    LocaleFunction previous = localeFunction;
    localeFunction = function ? function : systemSetLocale;
    return previous;
}
