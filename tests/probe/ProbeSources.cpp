// hbprobe sources

#include "core/Log.h"
#include "devices/SystemSources.h"
#include "tests/probe/Probe.h"

#include <iostream>
#include <memory>

namespace probe {

// The children of PARENT_ID (the root when absent), one descriptor a line. The
// options point the listing at a fake sysfs, /dev, udev database and mount table;
// --log writes the debug log of the listing to standard error afterwards.
int cmdSources(Args& args) {
    const bool showLog = takeFlag(args, "--log");
    const std::size_t logMark = logMemoryText().size();
    platform::SystemRoots roots;
    takeOption(args, "--sysfs", roots.sysfs);
    takeOption(args, "--dev", roots.dev);
    takeOption(args, "--udev", roots.udevData);
    takeOption(args, "--mountinfo", roots.mountInfo);
    if (args.size() > 1)
        throw UsageError();
    const std::string parent = args.empty() ? std::string() : args[0];
    std::unique_ptr<DrivesVFS> vfs(createSystemSources(roots));
    std::vector<std::string> children;
    const bool listed = vfs->listChildren(parent.c_str(), children);
    if (showLog)
        std::cerr << logMemoryText().substr(logMark);
    if (!listed)
        throw Failure("cannot list the children of " + parent);
    for (const std::string& child : children)
        std::cout << child << '\n';
    return 0;
}

} // namespace probe
