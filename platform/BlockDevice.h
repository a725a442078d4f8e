#pragma once

// The one narrow door to a disk, a partition or a floppy: open a device path,
// ask its size and logical sector size, read and write whole sectors at a
// position. Everything above speaks to a device through this interface, so the
// tests can put a fault-injecting double in the system's place.

#include "core/Types.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class BlockDevice {
public:
    virtual ~BlockDevice() = default;

    // Read-only, or read-write with the device held exclusively (a mounted or
    // otherwise claimed device refuses that with EBUSY). Opening again closes
    // what was open before.
    virtual bool open(const char* path, bool readOnly) = 0;
    // Size in bytes and logical sector size. A regular file counts as a device
    // of 512-byte sectors, so that an image can stand in for a disk.
    virtual bool querySize(u64& size, u64& sectorSize) = 0;
    // Whole sectors at a sector boundary, into a buffer aligned as
    // AlignedBuffer aligns; true only when all `n` bytes moved. `done` tells how
    // many did, also after a failure.
    virtual bool readAt(u64 offset, u8* buffer, std::size_t n, std::size_t& done) = 0;
    virtual bool writeAt(u64 offset, const u8* buffer, std::size_t n, std::size_t& done) = 0;

    // The errno of the last failure, and the system's text for it.
    virtual int lastError() const = 0;
    virtual std::string lastErrorText() const = 0;
};

using BlockDeviceFactory = std::function<std::unique_ptr<BlockDevice>()>;

// A closed device of this machine's kind (Linux).
std::unique_ptr<BlockDevice> createSystemBlockDevice();

} // namespace platform
