#pragma once

// Helpers shared by the tests: temporary folders, whole files, commands, and
// hex dumps that make byte mismatches readable.

#include "core/Types.h"

#include <functional>
#include <string>
#include <vector>

namespace testutil {

// A fresh folder under the temporary directory, removed with everything in it
// when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readAll(const std::string& path);
void writeAll(const std::string& path, const std::string& bytes);
std::vector<u8> bytesOf(const std::string& s);

// What this process, and the children it waited for, read through read and
// pread while `work` ran.
long long bytesRead(const std::function<void()>& work);

// Runs a shell command; returns its exit status (-1 when it could not run) and
// collects standard output (and standard error into `err` when given).
int run(const std::string& command, std::string* out = nullptr, std::string* err = nullptr);

// Quotes a path for the shell.
std::string shellQuote(const std::string& s);

// The test probe's path (from HB_PROBE, else beside the tests).
std::string probePath();

// Sets TZ for its lifetime and puts the old value back (dates are local time).
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;
    static void use(const char* zone);

private:
    bool had_ = false;
    std::string saved_;
};

// What the debug log receives from its construction on: the log's in-memory
// text from the mark, e.g. EXPECT_THAT(log.text(), HasSubstr("FATDrive(153)")).
class LogCapture {
public:
    LogCapture();
    std::string text() const;
    bool has(const std::string& line) const { return text().find(line) != std::string::npos; }

private:
    u64 mark_;
};

// Makes the file at `path` once for all test processes of a run: the first to
// come builds it through `build` (given a scratch name to write, renamed into
// place afterwards) while the others wait on a lock, then all use it. The
// lock's file beside it is gone when each is done.
void buildOnce(const std::string& path, const std::function<void(const std::string&)>& build);

// "00000000  01 02 ..  |..|" lines, as hexdump -C writes them.
std::string hexDump(const void* data, std::size_t n);

} // namespace testutil
