#pragma once

// A fake machine in a temporary folder for the device listings: a sysfs with
// block devices, a /dev whose nodes are regular files of the devices' sizes
// (sparse), a udev database and a mount table. Shared by the platform and the
// devices tests.

#include "core/Log.h"
#include "core/Types.h"
#include "platform/SystemRoots.h"
#include "tests/support/TestUtil.h"

#include <filesystem>
#include <map>
#include <string>

namespace testutil {

class FakeSystemTree {
public:
    FakeSystemTree() {
        for (const char* d : {"sys/block", "dev", "udev"})
            std::filesystem::create_directories(dir_.file(d));
        setMountInfo("");
    }

    platform::SystemRoots roots() const {
        platform::SystemRoots r;
        r.sysfs = dir_.file("sys");
        r.dev = dir_.file("dev");
        r.udevData = dir_.file("udev");
        r.mountInfo = dir_.file("mountinfo");
        return r;
    }
    std::string path(const std::string& rel) const { return dir_.file(rel); }
    std::string dev(const std::string& name) const { return dir_.file("dev/" + name); }

    // A whole device: sysfs entry with "size" (512-byte units), "dev" and the
    // given attributes ("device/model", "removable", ...), and its node unless
    // `withNode` is false.
    void addDisk(const std::string& name, u64 bytes, const std::string& devNumber,
                 const std::map<std::string, std::string>& attributes = {}, bool withNode = true) {
        const std::string dir = "sys/block/" + name;
        addSysfsDevice(dir, bytes, devNumber, withNode ? name : std::string());
        for (const auto& a : attributes)
            write(dir + "/" + a.first, a.second + "\n");
    }

    void addPartition(const std::string& disk, const std::string& name, u32 number, u64 bytes,
                      const std::string& devNumber, bool withNode = true) {
        const std::string dir = "sys/block/" + disk + "/" + name;
        addSysfsDevice(dir, bytes, devNumber, withNode ? name : std::string());
        write(dir + "/partition", std::to_string(number) + "\n");
    }

    void addUdevRecord(const std::string& devNumber, const std::string& text) {
        write("udev/b" + devNumber, text);
    }
    void setMountInfo(const std::string& text) { write("mountinfo", text); }

    void write(const std::string& rel, const std::string& content) const {
        std::filesystem::create_directories(std::filesystem::path(dir_.file(rel)).parent_path());
        writeAll(dir_.file(rel), content);
    }
    void makeNode(const std::string& name, u64 bytes) const {
        writeAll(dev(name), "");
        std::filesystem::resize_file(dev(name), bytes);
    }

private:
    void addSysfsDevice(const std::string& dir, u64 bytes, const std::string& devNumber,
                        const std::string& node) {
        std::filesystem::create_directories(dir_.file(dir));
        write(dir + "/size", std::to_string(bytes / 512) + "\n");
        write(dir + "/dev", devNumber + "\n");
        if (!node.empty())
            makeNode(node, bytes);
    }

    TempDir dir_;
};

} // namespace testutil
