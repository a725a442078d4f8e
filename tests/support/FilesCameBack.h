#pragma once

// The files a test put on a volume, and the check that a recovery brought each
// of them back below a folder: same path, same bytes, same modification time.

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace testutil {

struct PlacedFile {
    std::string path; // '/'-separated, below the volume's root
    std::string data;
    std::time_t mtime = 0;
};
using PlacedFiles = std::vector<PlacedFile>;

// What differs between the file at `path` and the bytes (and, when asked, the
// time) it should have, a hex dump from the first difference; empty when
// nothing does.
std::string fileDifference(const std::string& path, const std::string& expected, std::time_t mtime,
                           bool checkTimes = true);

// Success when every file is below `dest` with its data (and, unless told not
// to, its time); the failure names each file that did not come back and why.
::testing::AssertionResult filesCameBack(const std::string& dest, const PlacedFiles& files,
                                         bool checkTimes = true);

} // namespace testutil
