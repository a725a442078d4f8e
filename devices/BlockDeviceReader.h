#pragma once

// The reader of a whole disk, a partition or a floppy: a block device opened
// through the platform layer, read through a cache of 64 sectors. Beside it lie
// the device utilities: the size query and the exclusive-access test.

#include "devices/DtReader.h"
#include "platform/AlignedBuffer.h"
#include "platform/BlockDevice.h"

#include <map>
#include <memory>

namespace dt {

class BlockDeviceReader : public Reader, public Writer {
public:
    // Over the system's devices.
    BlockDeviceReader();
    // Over the devices that `factory` makes: the tests hand in a double.
    explicit BlockDeviceReader(platform::BlockDeviceFactory factory);
    ~BlockDeviceReader() override;
    BlockDeviceReader(const BlockDeviceReader&) = delete;
    BlockDeviceReader& operator=(const BlockDeviceReader&) = delete;

    // Opens the device read-only, or read-write with exclusive access (which
    // fails while the device is mounted or held elsewhere: nothing is ever
    // unmounted for it). A failed open leaves an earlier open state as it was.
    bool open(const char* path, bool readOnly);

    bool read(i64 offset, u8* buffer, i64 n) override;
    bool write(i64 offset, const u8* buffer, i64 n) override;

    using Reader::getSize;
    u64 getSectorSize() const { return sectorSize_; }

    static constexpr u64 CACHE_SECTORS = 64;

private:
    bool readAt(u64 offset, u8* buffer, u64 n);
    bool fillCache(u64 offset);
    u64 copyFromCache(u64 offset, u8* buffer, u64 n);
    // After a failed fill: the window sector by sector, marking what fails.
    void refillBySector();

    // Sectors found unreadable, as runs first sector -> end sector (exclusive).
    bool isKnownBad(u64 sector) const;
    u64 firstKnownBadFrom(u64 sector) const; // ~0 when none
    void rememberBad(u64 sector);
    void forgetBad(u64 first, u64 count);

    platform::BlockDeviceFactory factory_;
    std::unique_ptr<platform::BlockDevice> device_;
    u64 sectorSize_ = 0;
    u64 cacheCapacity_ = 0;
    platform::AlignedBuffer cache_;
    u64 cacheLength_ = 0;
    u64 cacheStart_ = 0;
    u64 cacheBad_ = 0; // bit i: sector i of the window could not be read
    std::map<u64, u64> badRuns_;
};

// Size in bytes and logical sector size of an open device; false unless both
// are non-zero and the size is a whole number of sectors.
bool getDeviceSize(platform::BlockDevice& device, u64& size, u64& sectorSize);
// Whether the device at `path` can be opened for writing with exclusive access
// (it is released again at once).
bool canLockVolume(const char* path);
bool canLockVolume(const char* path, const platform::BlockDeviceFactory& factory);

} // namespace dt
