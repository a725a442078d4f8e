#pragma once

// Running the test probe as a user runs it, for the end-to-end tests.

#include <ctime>
#include <string>

namespace testutil {

struct ProbeResult {
    int status = -1;
    std::string out;
    std::string err;
};

// build/hbprobe with these (already quoted) arguments, in UTC (file-system times
// are local), stopped after 20 seconds so that a hang fails the test instead of
// stalling it, and outside the sanitizers with its memory bounded. With
// fileBlocks not 0, no file it writes may grow past that many 512-byte blocks
// (ulimit -f).
ProbeResult runProbe(const std::string& arguments, unsigned long fileBlocks = 0);

// The descriptor of an image file, quoted for the shell.
std::string fileDescriptor(const std::string& path);

// The modification time of a file (a test failure when it has none).
std::time_t mtimeOf(const std::string& path);

} // namespace testutil
