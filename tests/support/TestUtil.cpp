#include "tests/support/TestUtil.h"

#include "core/Log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/hbtest-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    // Not through run(): that makes a TempDir of its own.
    std::string cmd =
        "chmod -R u+rwx " + shellQuote(path_) + " 2>/dev/null; rm -rf " + shellQuote(path_);
    if (std::system(cmd.c_str()) != 0)
        std::fprintf(stderr, "cannot remove %s\n", path_.c_str());
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::vector<u8> bytesOf(const std::string& s) {
    return std::vector<u8>(s.begin(), s.end());
}

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

long long bytesRead(const std::function<void()>& work) {
    auto rchar = [] {
        std::ifstream io("/proc/self/io");
        for (std::string field; io >> field;) {
            long long value = 0;
            io >> value;
            if (field == "rchar:")
                return value;
        }
        return -1ll;
    };
    const long long before = rchar();
    work();
    return rchar() - before;
}

int run(const std::string& command, std::string* out, std::string* err) {
    TempDir scratch; // removed without run(), see ~TempDir
    std::string cmd = "( " + command + " ) >" + shellQuote(scratch.file("out")) + " 2>" +
                      (err ? shellQuote(scratch.file("err")) : std::string("&2"));
    int status = std::system(cmd.c_str());
    if (out)
        *out = readAll(scratch.file("out"));
    if (err)
        *err = readAll(scratch.file("err"));
    if (status == -1 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string probePath() {
    const char* p = std::getenv("HB_PROBE");
    if (p && *p)
        return p;
    return std::string(HB_BINARY_DIR) + "/hbprobe";
}

ScopedTimeZone::ScopedTimeZone(const char* zone) {
    const char* tz = std::getenv("TZ");
    had_ = tz != nullptr;
    if (had_)
        saved_ = tz;
    use(zone);
}

ScopedTimeZone::~ScopedTimeZone() {
    if (had_)
        setenv("TZ", saved_.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

void ScopedTimeZone::use(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

std::string hexDump(const void* data, std::size_t n) {
    const u8* b = static_cast<const u8*>(data);
    std::string s;
    char line[100];
    for (std::size_t off = 0; off < n; off += 16) {
        int len = std::snprintf(line, sizeof line, "%08zx ", off);
        s.append(line, static_cast<std::size_t>(len));
        for (std::size_t i = 0; i < 16; ++i) {
            if (off + i < n)
                len = std::snprintf(line, sizeof line, " %02x", b[off + i]);
            else
                len = std::snprintf(line, sizeof line, "   ");
            s.append(line, static_cast<std::size_t>(len));
        }
        s += "  |";
        for (std::size_t i = 0; i < 16 && off + i < n; ++i)
            s += (b[off + i] >= 32 && b[off + i] < 127) ? static_cast<char>(b[off + i]) : '.';
        s += "|\n";
    }
    return s;
}

LogCapture::LogCapture() : mark_(logMemoryWritten()) {}

std::string LogCapture::text() const {
    return logMemoryText(mark_);
}

void buildOnce(const std::string& path, const std::function<void(const std::string&)>& build) {
    // Whoever holds the lock removes its file before letting go, so that none
    // is left beside the images of old builds. One who waited on a file
    // removed meanwhile holds no lock: it locks the one in its place.
    const std::string lockPath = path + ".lock";
    for (;;) {
        const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lock < 0)
            throw std::runtime_error("cannot lock " + path);
        struct Unlock {
            int fd;
            const char* removing;
            ~Unlock() {
                if (removing)
                    ::unlink(removing);
                ::close(fd);
            }
        } unlock{lock, nullptr};
        if (::flock(lock, LOCK_EX) != 0)
            throw std::runtime_error("cannot lock " + path);
        struct stat held {};
        struct stat named {};
        if (::fstat(lock, &held) != 0)
            throw std::runtime_error("cannot lock " + path);
        if (::stat(lockPath.c_str(), &named) != 0) {
            if (errno == ENOENT)
                continue;
            throw std::runtime_error("cannot lock " + path);
        }
        if (held.st_dev != named.st_dev || held.st_ino != named.st_ino)
            continue;
        unlock.removing = lockPath.c_str();
        if (::access(path.c_str(), F_OK) == 0)
            return;
        const std::string making = path + ".making";
        build(making);
        if (std::rename(making.c_str(), path.c_str()) != 0)
            throw std::runtime_error("cannot put " + path + " in place");
        return;
    }
}

} // namespace testutil
