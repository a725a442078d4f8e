#include "app/Startup.h"

#include "core/AppDirectory.h"
#include "core/Config.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/System.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <glib.h>

// Written at every build by cmake/Revision.cmake.
#include "Revision.h"

const char* programRevision() {
    return HB_REVISION;
}

void ignoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

const char* debugLogTarget(int argc, char** argv) {
    const char* target = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "dbg=", 4) == 0)
            target = argv[i] + 4;
    }
    return target;
}

namespace {

// The executable's own path. A program started through PATH sees only its bare
// name in argv[0], and a relative one would move with the current directory:
// look the bare name up as the shell did, and make the result absolute.
std::string executablePath(const char* argv0) {
    std::string path = argv0 ? argv0 : "";
    if (path.empty())
        return path;
    if (path.find('/') == std::string::npos) {
        if (gchar* found = g_find_program_in_path(path.c_str())) {
            path = found;
            g_free(found);
        }
    }
    gchar* absolute = g_canonicalize_filename(path.c_str(), nullptr);
    path = absolute;
    g_free(absolute);
    return path;
}

} // namespace

void startDebugLog(int argc, char** argv) {
    setUpLogStream(debugLogTarget(argc, argv));
    logAt("main", 20) << ": "
                      << "Halbrook"
                      << " (revision " << programRevision() << ")\n";
}

bool programInitCore(PropertyMap& config, int argc, char** argv) {
    if (argc < 1) {
        logAt("program_init", 15) << '\n';
        return false;
    }
    std::string exe = executablePath(argv[0]);
    std::string dir = pathDirName(exe.c_str());
    std::string base = pathBaseName(exe.c_str());
    std::string::size_type dot = base.rfind('.');
    if (dot != std::string::npos)
        base.erase(dot);
    std::string cfgPath = buildFileName(dir.c_str(), (base + ".cfg").c_str());

    config.set("Program Path", dir, true);
    if (!loadConfigFile(config, cfgPath.c_str(), '#'))
        logAt("program_init", 32) << ": " << cfgPath << '\n';

    std::string locale;
    if (config.getString("Locale", locale))
        g_setenv("LC_ALL", locale.c_str(), TRUE);

    // GLib decides once, at its first translation, whether it translates at
    // all, and says no for good when the default text domain is a program's
    // own without a catalogue for the locale in force, unless that locale is
    // "C" or English. Started under C.UTF-8, or in a language we ship no
    // catalogue for, GTK's own labels (Cancel, Yes, Quit) would then stay
    // English after a switch to German or Japanese. Asked before our domain
    // becomes the default, it says yes.
    g_dgettext(TEXT_DOMAIN, "");
    std::string libDir = buildFileName(dir.c_str(), "lib");
    std::string localeDir = buildFileName(libDir.c_str(), "locale");
    bindtextdomain(TEXT_DOMAIN, localeDir.c_str());
    bind_textdomain_codeset(TEXT_DOMAIN, "UTF-8");
    textdomain(TEXT_DOMAIN);

    setAppDirectory(libDir);
    return true;
}

int crashLogDescriptor(int argc, char** argv) {
    const char* target = debugLogTarget(argc, argv);
    if (!target || std::strcmp(logStreamKind(), "ofstream") != 0)
        return -1;
    // Appending: the log stream's own position is not known here, and the crash
    // line must land after everything it has written.
    return ::open(target, O_WRONLY | O_APPEND | O_CLOEXEC);
}
