#include "tests/support/FilesCameBack.h"

#include "tests/support/TestUtil.h"

#include <algorithm>
#include <sys/stat.h>

namespace testutil {

std::string fileDifference(const std::string& path, const std::string& expected, std::time_t mtime,
                           bool checkTimes) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "not there";
    const std::string data = readAll(path);
    if (data != expected) {
        const std::size_t n = std::min(data.size(), expected.size());
        std::size_t at =
            std::mismatch(data.begin(), data.begin() + n, expected.begin()).first - data.begin();
        at -= at % 16;
        return std::to_string(data.size()) + " bytes, expected " + std::to_string(expected.size()) +
               "; from byte " + std::to_string(at) + ":\n" +
               hexDump(data.data() + at, std::min<std::size_t>(32, data.size() - at)) +
               "expected:\n" +
               hexDump(expected.data() + at, std::min<std::size_t>(32, expected.size() - at));
    }
    if (checkTimes && st.st_mtime != mtime)
        return "time " + std::to_string(st.st_mtime) + ", not " + std::to_string(mtime);
    return std::string();
}

::testing::AssertionResult filesCameBack(const std::string& dest, const PlacedFiles& files,
                                         bool checkTimes) {
    std::string missing;
    for (const PlacedFile& f : files) {
        const std::string difference =
            fileDifference(dest + "/" + f.path, f.data, f.mtime, checkTimes);
        if (!difference.empty())
            missing += "\n  " + f.path + ": " + difference;
    }
    if (missing.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "below " << dest << ":" << missing;
}

} // namespace testutil
