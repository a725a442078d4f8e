#pragma once

// The sources of this machine: the whole disks with their partitions, the
// floppies, and the folders of "/" and of every mounted block-backed file
// system down to single files, which can be opened as images.

#include "devices/DrivesVFS.h"
#include "platform/SystemRoots.h"

#include <string>

// A new tree of this machine's sources, owned by the caller.
DrivesVFS* createSystemSources();
// The same over another sysfs, /dev, udev database and mount table (tests).
DrivesVFS* createSystemSources(const platform::SystemRoots& roots);

// Every byte that is not printable ASCII as '.', blanks and tabs trimmed.
std::string toPrintableText(const std::string& text);
