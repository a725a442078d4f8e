#pragma once

// Where the platform layer looks for the machine's devices. The tests point these
// at a fake tree in a temporary folder, with regular files standing in for the
// device nodes.

#include <string>

namespace platform {

struct SystemRoots {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
    std::string udevData = "/run/udev/data";
    std::string mountInfo = "/proc/self/mountinfo";
};

} // namespace platform
