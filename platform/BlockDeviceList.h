#pragma once

// The block devices of the machine as sysfs shows them: whole devices, their
// partitions and the floppies, with their sizes and device numbers.

#include "core/Types.h"
#include "platform/SystemRoots.h"

#include <string>
#include <vector>

namespace platform {

enum class BlockDeviceKind {
    DISK,   // a source: sd*, nvme*, mmcblk*, md*, dm-*, loop*, ...
    FLOPPY, // fd*
    OTHER,  // never a source: ram*, zram*, optical drives (sr*)
};

struct BlockDeviceEntry {
    std::string name;      // kernel name: "sda", "sda1", "nvme0n1p2"
    std::string path;      // its node under the /dev root
    std::string disk;      // the whole device it belongs to (itself when whole)
    u32 partition = 0;     // partition number; 0 for a whole device
    u64 size = 0;          // bytes, as sysfs counts them (512-byte units)
    std::string devNumber; // "8:1", from sysfs "dev"
    BlockDeviceKind kind = BlockDeviceKind::DISK;
};

// Whole devices in natural order: sd/hd/vd disks, nvme, mmcblk, others, md, dm,
// loop; numbers inside names compare as numbers (sdb before sdaa, nvme2 before
// nvme10).
std::vector<BlockDeviceEntry> listWholeDevices(const SystemRoots& roots);
// The partitions of one whole device, by partition number.
std::vector<BlockDeviceEntry> listPartitions(const SystemRoots& roots, const std::string& disk);
// A whole device or partition by kernel name.
bool findBlockDevice(const SystemRoots& roots, const std::string& name, BlockDeviceEntry& out);
// The kernel name of the device that `path` names: a device node is looked up by
// its device number, anything else by its name under the /dev root (after
// symbolic links). Empty when the path names no block device of sysfs.
std::string blockDeviceNameOfPath(const SystemRoots& roots, const std::string& path);

bool naturalDeviceLess(const std::string& a, const std::string& b);

// A sysfs attribute without its trailing line end; false when it cannot be read.
bool readSysfsText(const std::string& path, std::string& out);

} // namespace platform
