// The program's entry point: the start-up of app/Startup, then the main window.

#include "app/ProgramInit.h"
#include "app/Startup.h"
#include "core/Log.h"

#include <cstdio>

int main(int argc, char** argv) {
    startDebugLog(argc, argv);
    PropertyMap config;
    if (!program_init(config, argc, argv)) {
        logAt("main", 23) << '\n';
        return -1;
    }
    // The windows are still to come.
    std::fprintf(stderr, "Halbrook: the main window is not built yet.\n");
    return 0;
}
