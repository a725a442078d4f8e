#include "platform/LinuxBlockDevice.h"

#include <cerrno>
#include <fcntl.h>
#include <glib.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int openNoInterrupt(const char* path, int flags) {
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

std::unique_ptr<BlockDevice> createSystemBlockDevice() {
    return std::make_unique<LinuxBlockDevice>();
}

LinuxBlockDevice::~LinuxBlockDevice() {
    close();
}

void LinuxBlockDevice::close() {
    if (fd_ >= 0)
        ::close(fd_); // releases the flock and the O_EXCL claim with it
    fd_ = -1;
    block_ = false;
    direct_ = false;
}

bool LinuxBlockDevice::fail(int error) {
    error_ = error;
    return false;
}

bool LinuxBlockDevice::open(const char* path, bool readOnly) {
    close();
    if (path == nullptr || *path == '\0')
        return fail(ENOENT);
    struct stat st;
    if (::stat(path, &st) != 0)
        return fail(errno);
    const int access = readOnly ? O_RDONLY : O_RDWR;
    if (S_ISBLK(st.st_mode)) {
        // On a block device O_EXCL without O_CREAT claims it: the open fails with
        // EBUSY while the device is mounted or held by another exclusive opener.
        const int flags = access | (readOnly ? 0 : O_EXCL);
        int fd = openNoInterrupt(path, flags | O_DIRECT);
        bool direct = fd >= 0;
        if (fd < 0 && errno == EINVAL)
            fd = openNoInterrupt(path, flags);
        if (fd < 0)
            return fail(errno);
        fd_ = fd;
        block_ = true;
        direct_ = direct;
        return true;
    }
    int fd = openNoInterrupt(path, access);
    if (fd < 0)
        return fail(errno);
    // A file has no kernel claim; an advisory lock keeps two writers of ours apart.
    if (!readOnly && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return fail(error);
    }
    fd_ = fd;
    return true;
}

bool LinuxBlockDevice::querySize(u64& size, u64& sectorSize) {
    if (fd_ < 0)
        return fail(EBADF);
    struct stat st;
    if (fstat(fd_, &st) != 0)
        return fail(errno);
    if (S_ISBLK(st.st_mode)) {
        unsigned long long bytes = 0;
        int logical = 0;
        if (ioctl(fd_, BLKGETSIZE64, &bytes) != 0 || ioctl(fd_, BLKSSZGET, &logical) != 0)
            return fail(errno);
        if (logical <= 0)
            return fail(EINVAL);
        size = bytes;
        sectorSize = static_cast<u64>(logical);
        return true;
    }
    if (S_ISREG(st.st_mode)) {
        size = static_cast<u64>(st.st_size);
        sectorSize = 512;
        return true;
    }
    return fail(S_ISDIR(st.st_mode) ? EISDIR : ENOTBLK);
}

bool LinuxBlockDevice::dropDirect() {
    int flags = fcntl(fd_, F_GETFL);
    if (flags < 0 || fcntl(fd_, F_SETFL, flags & ~O_DIRECT) != 0)
        return false;
    direct_ = false;
    return true;
}

// A transfer goes on past signals and short moves until all is moved, the
// device ends or it fails (core's transferWhole).
bool LinuxBlockDevice::transfer(u64 offset, std::size_t n, std::size_t& done, int endError,
                                const TransferCall& call) {
    done = 0;
    if (fd_ < 0)
        return fail(EBADF);
    const Transfer moved = transferWhole(
        offset, n, call, [this](int error) { return error == EINVAL && direct_ && dropDirect(); });
    done = moved.done;
    if (moved.error != 0)
        return fail(moved.error);
    if (moved.ended)
        return fail(endError);
    return true;
}

bool LinuxBlockDevice::readAt(u64 offset, u8* buffer, std::size_t n, std::size_t& done) {
    return transfer(offset, n, done, EIO, [&](std::size_t at, std::size_t count, u64 position) {
        return pread(fd_, buffer + at, count, static_cast<off_t>(position));
    });
}

bool LinuxBlockDevice::writeAt(u64 offset, const u8* buffer, std::size_t n, std::size_t& done) {
    return transfer(offset, n, done, ENOSPC, [&](std::size_t at, std::size_t count, u64 position) {
        return pwrite(fd_, buffer + at, count, static_cast<off_t>(position));
    });
}

std::string LinuxBlockDevice::lastErrorText() const {
    return g_strerror(error_);
}

} // namespace platform
