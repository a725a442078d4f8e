// The program's entry point: the start-up of app/Startup, then the main window.

#include "app/ProgramInit.h"
#include "app/Startup.h"
#include "app/UpdateDialog.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/System.h"
#include "core/TemporaryFolder.h"
#include "gui/MainFrame.h"

#include <cstdio>

int main(int argc, char** argv) {
    ignoreFileSizeSignal();
    startDebugLog(argc, argv);
    // What a killed run left of the user's viewed files.
    sweepTemporaryFolders(tempDirectory());
    PropertyMap config;
    if (!program_init(config, argc, argv)) {
        logAt("main", 23) << '\n';
        if (argc >= 1)
            std::fprintf(stderr, "%s\n",
                         _("Halbrook needs a graphical display: none could be opened (is DISPLAY "
                           "set?)."));
        return -1;
    }
    int result;
    {
        MainFrame frame(config);
        frame.setRevision(programRevision());
        frame.setCrashLogDescriptor(crashLogDescriptor(argc, argv));
        frame.setUpdateCheck([](GtkWindow* parent, const char* url, const char* version) {
            return runUpdateCheck(parent, url, version);
        });
        result = frame.run();
    }
    // Quit and SIGTERM come back here; the folder would also go at exit.
    removeRunTemporaryFolder();
    return result;
}
