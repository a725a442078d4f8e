#pragma once

// What a disk says about itself: vendor, model, firmware revision, serial number
// and the bus it hangs on, from sysfs and the udev database.

#include "platform/SystemRoots.h"

#include <map>
#include <string>

namespace platform {

struct DiskIdentity {
    std::string vendor;
    std::string model;
    std::string revision;
    std::string serial; // as Linux reports it: plain text
    // Lower-case bus word: "ata", "sata", "usb", "scsi", "ieee1394", "sd", "mmc",
    // "nvme", "virtio", ...; empty when nothing tells.
    std::string bus;
    bool removable = false;
};

// False when neither sysfs knows a hardware device behind the block device nor
// udev has a record of it (loop, dm, md): there is no identity to give.
bool readDiskIdentity(const SystemRoots& roots, const std::string& name, DiskIdentity& out);

// The "E:KEY=VALUE" lines of a udev database record.
std::map<std::string, std::string> parseUdevProperties(const std::string& text);
// udev's "\x20"-escaped texts (ID_MODEL_ENC) decoded; other bytes as they are.
std::string decodeUdevText(const std::string& text);

} // namespace platform
