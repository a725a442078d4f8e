#pragma once

// The Linux block device: a node under /dev opened with O_DIRECT, so that a read
// error stays the size of the sectors that fail instead of growing to the page
// cache's page; or a regular file standing in for a disk (an image opened as a
// drive), read through the page cache.

#include "core/System.h"
#include "platform/BlockDevice.h"

namespace platform {

class LinuxBlockDevice : public BlockDevice {
public:
    LinuxBlockDevice() = default;
    ~LinuxBlockDevice() override;
    LinuxBlockDevice(const LinuxBlockDevice&) = delete;
    LinuxBlockDevice& operator=(const LinuxBlockDevice&) = delete;

    bool open(const char* path, bool readOnly) override;
    bool querySize(u64& size, u64& sectorSize) override;
    bool readAt(u64 offset, u8* buffer, std::size_t n, std::size_t& done) override;
    bool writeAt(u64 offset, const u8* buffer, std::size_t n, std::size_t& done) override;
    int lastError() const override { return error_; }
    std::string lastErrorText() const override;

    // Whether the open device bypasses the page cache (tests look at this).
    bool isDirect() const { return direct_; }
    bool isBlockDevice() const { return block_; }

private:
    void close();
    bool fail(int error);
    // Some drivers accept O_DIRECT at open and refuse the transfer; then we go on
    // through the page cache rather than not at all.
    bool dropDirect();
    // The end of the device reads as EIO, and as ENOSPC for a write.
    bool transfer(u64 offset, std::size_t n, std::size_t& done, int endError,
                  const TransferCall& call);

    int fd_ = -1;
    bool block_ = false;
    bool direct_ = false;
    int error_ = 0;
};

} // namespace platform
