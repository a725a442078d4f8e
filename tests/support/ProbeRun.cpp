#include "tests/support/ProbeRun.h"

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace testutil {

ProbeResult runProbe(const std::string& arguments, unsigned long fileBlocks) {
    std::string command = "TZ=UTC timeout 20 " + shellQuote(probePath()) + " " + arguments;
#if !defined(__SANITIZE_ADDRESS__)
    command = "ulimit -v 400000 && " + command;
#endif
    if (fileBlocks != 0)
        command = "ulimit -f " + std::to_string(fileBlocks) + " && " + command;
    ProbeResult r;
    r.status = run(command, &r.out, &r.err);
    return r;
}

std::string fileDescriptor(const std::string& path) {
    return shellQuote("id=" + path + "|type=file");
}

std::time_t mtimeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtime;
}

} // namespace testutil
