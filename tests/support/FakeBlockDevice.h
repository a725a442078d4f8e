#pragma once

// The test double of a block device: a disk in memory whose chosen sectors fail
// to read, which records every transfer, and which enforces what the real
// device demands (whole sectors at sector boundaries into an aligned buffer;
// one exclusive writer).

#include "platform/BlockDevice.h"

#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace testutil {

struct FakeDisk {
    std::vector<u8> bytes;
    u64 sectorSize = 512;
    std::set<u64> badSectors; // a read touching one of these fails with EIO
    int openError = 0;        // when not 0, every open fails with it
    bool sizeFails = false;   // the size query fails (ENOTTY)
    u64 reportedSize = ~0ull; // when not all ones, the size query says this

    // Filled by the devices.
    std::vector<std::pair<u64, u64>> reads; // offset, length of every device read
    std::vector<std::pair<u64, u64>> writes;
    bool heldExclusively = false;

    // A disk of `sectors` sectors whose every 4-byte word holds its own offset.
    static std::shared_ptr<FakeDisk> numbered(u64 sectors, u64 sectorSize = 512);
};

class FakeBlockDevice : public platform::BlockDevice {
public:
    explicit FakeBlockDevice(std::shared_ptr<FakeDisk> disk) : disk_(std::move(disk)) {}
    ~FakeBlockDevice() override;
    FakeBlockDevice(const FakeBlockDevice&) = delete;
    FakeBlockDevice& operator=(const FakeBlockDevice&) = delete;

    bool open(const char* path, bool readOnly) override;
    bool querySize(u64& size, u64& sectorSize) override;
    bool readAt(u64 offset, u8* buffer, std::size_t n, std::size_t& done) override;
    bool writeAt(u64 offset, const u8* buffer, std::size_t n, std::size_t& done) override;
    int lastError() const override { return error_; }
    std::string lastErrorText() const override;

private:
    void close();
    bool fail(int error);
    bool transferAllowed(u64 offset, const u8* buffer, std::size_t n);

    std::shared_ptr<FakeDisk> disk_;
    bool open_ = false;
    bool writable_ = false;
    int error_ = 0;
};

// A factory that hands out devices over the one fake disk.
platform::BlockDeviceFactory fakeBlockDeviceFactory(std::shared_ptr<FakeDisk> disk);

} // namespace testutil
