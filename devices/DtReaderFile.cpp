#include "devices/DtReaderFile.h"

#include "core/Log.h"
#include "core/System.h"

#include <glib/gstdio.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace dt {

ReaderFile::~ReaderFile() {
    if (fd_ != -1) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool ReaderFile::open(const char* path) {
    // O_NONBLOCK only for the open itself: a FIFO named as a source would
    // otherwise wait for a writer for ever. It has no effect on files and
    // devices and is taken off again below.
    int fd = ::g_open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd == -1) {
        const int error = errno;
        logAt("ReaderFile", 34) << ": " << path << ' ' << std::strerror(error) << '\n';
        return false;
    }
    // A folder opens read-only like a file, and its "size" would be whatever
    // the file system reports for seeks in folders.
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        logAt("ReaderFile", 35) << ": " << path << ' ' << std::strerror(EISDIR) << '\n';
        return false;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    off_t end = ::lseek(fd, 0, SEEK_END);
    if (end == -1) {
        const int error = errno;
        ::close(fd);
        logAt("ReaderFile", 39) << ": " << path << ' ' << std::strerror(error) << '\n';
        return false;
    }
    if (fd_ != -1)
        ::close(fd_);
    fd_ = fd;
    setSize(static_cast<i64>(end));
    return true;
}

bool ReaderFile::read(i64 offset, u8* buffer, i64 n) {
    if (offset < 0 || n < 0 || n > std::numeric_limits<i64>::max() - offset) {
        logAt("ReaderFile", 52) << ": " << offset << '\n';
        return false;
    }
    const Transfer t =
        readWhole(fd_, static_cast<u64>(offset), buffer, static_cast<std::size_t>(n));
    if (t.error != 0)
        logAt("ReaderFile", 57) << ": " << offset << ' ' << n << ' ' << std::strerror(t.error)
                                << '\n';
    else if (t.ended)
        logAt("ReaderFile", 56) << ": " << offset << ' ' << n << '\n';
    return t.whole();
}

} // namespace dt
