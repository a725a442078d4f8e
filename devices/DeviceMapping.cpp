#include "devices/DeviceMapping.h"

#include "core/Log.h"
#include "platform/BlockDeviceList.h"

#include <glib.h>

DeviceMapping::DeviceMapping(const platform::SystemRoots& roots) : roots_(roots) {
    for (const platform::BlockDeviceEntry& whole : platform::listWholeDevices(roots_)) {
        for (const platform::BlockDeviceEntry& part :
             platform::listPartitions(roots_, whole.name)) {
            if (!g_file_test(part.path.c_str(), G_FILE_TEST_EXISTS)) {
                logAt("DeviceMapping", 17) << ": " << part.path << '\n';
                continue;
            }
            entries_.push_back(Entry{part.disk, part.partition, part.name});
        }
    }
}

bool DeviceMapping::deviceNumber(const char* path, Entry& out) const {
    const std::string name = platform::blockDeviceNameOfPath(roots_, path ? path : "");
    platform::BlockDeviceEntry e;
    if (name.empty() || !platform::findBlockDevice(roots_, name, e)) {
        logAt("DeviceMapping", 72) << ": " << (path ? path : "") << '\n';
        return false;
    }
    out = Entry{e.disk, e.partition, e.name};
    return true;
}

std::string DeviceMapping::partitionsOf(const char* path) const {
    Entry device;
    if (!deviceNumber(path, device)) {
        logAt("DeviceMapping", 31) << '\n';
        return std::string();
    }
    std::string partitions;
    for (const Entry& e : entries_) {
        if (e.disk == device.disk && (device.partition == 0 || device.partition == e.partition)) {
            if (!partitions.empty())
                partitions += ',';
            partitions += e.name;
        }
    }
    return partitions;
}
