#include "tests/support/FakeBlockDevice.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <glib.h>

namespace testutil {

std::shared_ptr<FakeDisk> FakeDisk::numbered(u64 sectors, u64 sectorSize) {
    auto disk = std::make_shared<FakeDisk>();
    disk->sectorSize = sectorSize;
    disk->bytes.resize(sectors * sectorSize);
    for (u64 off = 0; off + 4 <= disk->bytes.size(); off += 4) {
        u32 v = static_cast<u32>(off);
        std::memcpy(&disk->bytes[off], &v, 4);
    }
    return disk;
}

FakeBlockDevice::~FakeBlockDevice() {
    close();
}

void FakeBlockDevice::close() {
    if (open_ && writable_)
        disk_->heldExclusively = false;
    open_ = false;
    writable_ = false;
}

bool FakeBlockDevice::fail(int error) {
    error_ = error;
    return false;
}

bool FakeBlockDevice::open(const char* /*path*/, bool readOnly) {
    close();
    if (disk_->openError != 0)
        return fail(disk_->openError);
    if (!readOnly) {
        if (disk_->heldExclusively)
            return fail(EBUSY);
        disk_->heldExclusively = true;
    }
    open_ = true;
    writable_ = !readOnly;
    return true;
}

bool FakeBlockDevice::querySize(u64& size, u64& sectorSize) {
    if (!open_)
        return fail(EBADF);
    if (disk_->sizeFails)
        return fail(ENOTTY);
    size = disk_->reportedSize != ~0ull ? disk_->reportedSize : disk_->bytes.size();
    sectorSize = disk_->sectorSize;
    return true;
}

bool FakeBlockDevice::transferAllowed(u64 offset, const u8* buffer, std::size_t n) {
    const u64 ss = disk_->sectorSize;
    if (!open_)
        return fail(EBADF);
    if (ss == 0 || offset % ss != 0 || n % ss != 0 ||
        reinterpret_cast<std::uintptr_t>(buffer) % ss != 0)
        return fail(EINVAL); // what O_DIRECT says to a stray transfer
    const u64 size = disk_->bytes.size();
    if (!(offset <= size && n <= size - offset))
        return fail(EIO);
    return true;
}

bool FakeBlockDevice::readAt(u64 offset, u8* buffer, std::size_t n, std::size_t& done) {
    done = 0;
    disk_->reads.emplace_back(offset, n);
    if (!transferAllowed(offset, buffer, n))
        return false;
    const u64 ss = disk_->sectorSize;
    auto bad = disk_->badSectors.lower_bound(offset / ss);
    if (bad != disk_->badSectors.end() && *bad < (offset + n) / ss)
        return fail(EIO);
    std::memcpy(buffer, disk_->bytes.data() + offset, n);
    done = n;
    return true;
}

bool FakeBlockDevice::writeAt(u64 offset, const u8* buffer, std::size_t n, std::size_t& done) {
    done = 0;
    disk_->writes.emplace_back(offset, n);
    if (!transferAllowed(offset, buffer, n))
        return false;
    if (!writable_)
        return fail(EBADF);
    std::memcpy(disk_->bytes.data() + offset, buffer, n);
    done = n;
    return true;
}

std::string FakeBlockDevice::lastErrorText() const {
    return g_strerror(error_);
}

platform::BlockDeviceFactory fakeBlockDeviceFactory(std::shared_ptr<FakeDisk> disk) {
    return [disk]() -> std::unique_ptr<platform::BlockDevice> {
        return std::make_unique<FakeBlockDevice>(disk);
    };
}

} // namespace testutil
