#pragma once

// The mounted file systems, from /proc/self/mountinfo.

#include "core/Types.h"
#include "platform/SystemRoots.h"

#include <string>
#include <vector>

namespace platform {

struct MountEntry {
    u32 major = 0;
    u32 minor = 0;
    std::string root;       // the folder of the file system shown at the mount point
    std::string mountPoint; // octal escapes (\040 for a blank) decoded
    std::string fsType;
    std::string source; // "/dev/sda1", "tmpfs", ...
};

// False for a line that is not a mountinfo line.
bool parseMountInfoLine(const std::string& line, MountEntry& out);
// Every well-formed line, in order; others are skipped.
std::vector<MountEntry> parseMountInfo(const std::string& text);
bool readMountTable(const SystemRoots& roots, std::vector<MountEntry>& out);
// A file system on a block device (a disk, a partition, a loop or dm device), as
// opposed to proc, sysfs, tmpfs and friends. btrfs shows an anonymous device
// number, so a "/dev/" source counts as well.
bool isBlockBacked(const MountEntry& entry);

} // namespace platform
