// hbprobe log

#include "app/Startup.h"
#include "core/CompressedFile.h"
#include "core/Log.h"
#include "tests/probe/Probe.h"

#include <cstring>
#include <string>

namespace probe {

// Sets the log up as the program does from "dbg=TARGET", writes the first line
// and lines of each form, and for the in-memory target saves them to OUT.
int cmdLog(Args& args) {
    if (args.empty() || args.size() > 2)
        throw UsageError();
    std::string dbg = "dbg=" + args[0];
    char program[] = "hbprobe";
    char* argv[] = {program, &dbg[0], nullptr};
    startDebugLog(2, argv);

    logAt("Probe", 41) << '\n';
    logAt("Probe", 42) << ": "
                       << "values" << ' ' << 42 << ' ' << "sector" << ' ' << 63 << '\n';
    logAt("Probe", 43) << ": "
                       << "an unreadable sector at" << ' ' << 2048 << '\n';

    if (std::strcmp(logStreamKind(), "ostringstream") == 0 && args.size() == 2) {
        std::string text = logMemoryText();
        if (!saveCompressedFile(args[1].c_str(), reinterpret_cast<const u8*>(text.data()),
                                text.size()))
            throw Failure("cannot save " + args[1]);
    }
    return 0;
}

} // namespace probe
