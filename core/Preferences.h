#pragma once

// The user's settings for this run. Never stored: every run starts from the
// defaults, which follow the language of the process locale.

#include "core/Types.h"

#include <string>

class Preferences {
public:
    static Preferences& instance();

    bool filterInvalidFileSystems() const { return filterInvalidFileSystems_; }
    void setFilterInvalidFileSystems(bool v) { filterInvalidFileSystems_ = v; }
    bool stackTraceAtException() const { return stackTraceAtException_; }
    void setStackTraceAtException(bool v) { stackTraceAtException_ = v; }
    // "Read Error Processing Mode": 0 "Sector (Slow)", 1 "Block (Fast)".
    int& readErrorMode() { return readErrorMode_; }
    void setReadErrorMode(int v) { readErrorMode_ = v; }
    // The folder chosen for viewed files; empty (the default) means the
    // system's temporary directory. Choosing one sweeps it of the folders of
    // runs that are gone (sweepTemporaryFolders): no run remembers a folder
    // chosen in the last, so only the user can bring a killed run's copies
    // back into view.
    std::string& temporaryDirectory() { return temporaryDirectory_; }
    void setTemporaryDirectory(const std::string& v);
    // Where View File writes: a folder only this user can enter (mode 0700),
    // made in the chosen folder or the system's temporary directory on first
    // use and removed with all it holds at the end of the run
    // (runTemporaryFolder). A shared /tmp would let another user read the
    // recovered data or plant a link in its place. Empty, errno telling why,
    // when it cannot be made. Each call sweeps the folder it is made in first.
    std::string viewDirectory();
    std::string& temporaryDirectoryName() { return temporaryDirectoryName_; }
    void setTemporaryDirectoryName(const std::string& v) { temporaryDirectoryName_ = v; }
    std::string& sourceOemCharset() { return sourceOemCharset_; }
    void setSourceOemCharset(const std::string& v);
    // Empty (the default) keeps recovered names in the system's charset for file
    // names (systemFileNameCharset); a number chooses that code page ("CP" +
    // text). A drive language never sets it.
    std::string& destinationCodepage() { return destinationCodepage_; }
    void setDestinationCodepage(const std::string& v);
    // The charset this system's file names are in: UTF-8, unless GLib is told
    // otherwise (G_FILENAME_ENCODING).
    static std::string systemFileNameCharset();
    // "File Size Limit": the largest output file; 0 means no splitting.
    i64 fileSizeLimit() const { return fileSizeLimit_; }
    void setFileSizeLimit(i64 v) { fileSizeLimit_ = v; }
    // 0 English, 1 German, 2 Japanese.
    int& language() { return language_; }
    // Sets a POSIX locale of that language for all categories, and drops
    // LANGUAGE when it does, so that every catalogue follows; `language` then
    // follows the locale actually in force.
    void setLanguage(int lang);
    // From the name of the messages locale: "de..." 1, "ja..." 2, else 0.
    void detectLanguage();
    static int languageOfLocaleName(const char* name);
    // A translated file under appDirectory()/locale/<ja|de|en>/; English when the
    // language's own file is missing.
    std::string localeFilePath(const std::string& name);

    // Back to the defaults of a fresh run (tests).
    void resetToDefaults();

    // The window layer re-registers its stock items when the language changes.
    using LanguageHook = void (*)();
    static void setLanguageChangedHook(LanguageHook hook);

    // setlocale, replaceable so that tests can act out locales this machine
    // lacks. Null restores the C library's. Returns the previous one.
    using LocaleFunction = const char* (*)(int category, const char* name);
    static LocaleFunction setLocaleFunction(LocaleFunction function);

    // One row of the "Drive Language" choice.
    struct DriveLanguage {
        const char* name;
        const char* oemCharset;
        const char* codepage;
        const char* arjName;
        const char* id3v1;
        const char* id3v2;
    };
    // Ended by a row whose name is null.
    static const DriveLanguage driveLanguages[];

private:
    Preferences();
    void applyDefaults();

    bool filterInvalidFileSystems_ = true;
    bool stackTraceAtException_ = false;
    int readErrorMode_ = 0;
    std::string temporaryDirectory_;
    std::string temporaryDirectoryName_;
    std::string sourceOemCharset_;
    std::string destinationCodepage_;
    i64 fileSizeLimit_ = 0x7fffffff;
    int language_ = 0;
};
