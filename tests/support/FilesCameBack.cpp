#include "tests/support/FilesCameBack.h"

#include "tests/support/TestUtil.h"

#include <sys/stat.h>

namespace testutil {

::testing::AssertionResult filesCameBack(const std::string& dest, const PlacedFiles& files,
                                         bool checkTimes) {
    std::string missing;
    for (const PlacedFile& f : files) {
        const std::string path = dest + "/" + f.path;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            missing += "\n  " + f.path + ": not there";
            continue;
        }
        const std::string data = readAll(path);
        if (data != f.data)
            missing += "\n  " + f.path + ": " + std::to_string(data.size()) +
                       " bytes differ from the " + std::to_string(f.data.size()) + " put there";
        else if (checkTimes && st.st_mtime != f.mtime)
            missing += "\n  " + f.path + ": time " + std::to_string(st.st_mtime) + ", not " +
                       std::to_string(f.mtime);
    }
    if (missing.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "below " << dest << ":" << missing;
}

} // namespace testutil
