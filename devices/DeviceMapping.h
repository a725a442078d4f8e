#pragma once

// Which whole device and which partition every partition of the machine is.
// A disk's partitions are the kernel names of all of them, mounted or not
// ("sda1,sda2"); a partition's are its own name.

#include "core/Types.h"
#include "platform/SystemRoots.h"

#include <string>
#include <vector>

class DeviceMapping {
public:
    struct Entry {
        std::string disk;  // the whole device: "sda"
        u32 partition = 0; // 0 for a whole device
        std::string name;  // "sda2"
    };

    // Every partition of every whole device whose node exists, in natural order.
    explicit DeviceMapping(const platform::SystemRoots& roots = platform::SystemRoots());

    // The whole device and partition number of the device at `path`.
    bool deviceNumber(const char* path, Entry& out) const;
    // The partitions of the device at `path`, joined by ","; "" when the path is
    // no block device.
    std::string partitionsOf(const char* path) const;

    const std::vector<Entry>& entries() const { return entries_; }
    const platform::SystemRoots& roots() const { return roots_; }

private:
    platform::SystemRoots roots_;
    std::vector<Entry> entries_;
};
