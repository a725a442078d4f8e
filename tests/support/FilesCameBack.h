#pragma once

// The files a test put on a volume or handed a recoverer, and the checks that a
// recovery brought each of them back below a folder: same path, same bytes and,
// where one is given, the same modification time.

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace testutil {

// A time that any file has.
constexpr std::time_t ANY_TIME = -1;

struct PlacedFile {
    std::string path; // '/'-separated, below the volume's root
    std::string data;
    std::time_t mtime = ANY_TIME;
};
using PlacedFiles = std::vector<PlacedFile>;

// What differs between the file at `path` and the bytes (and time) it should
// have, a hex dump from the first difference; empty when nothing does.
std::string fileDifference(const std::string& path, const std::string& expected, std::time_t mtime);

// Success when every file is below `dest` with its data and time; the failure
// names each file that did not come back and why.
::testing::AssertionResult filesCameBack(const std::string& dest, const PlacedFiles& files);

// Every entry below root, relative and sorted; folders end with '/', links
// with '@' (and are not entered).
std::vector<std::string> listFolder(const std::string& root);

// As filesCameBack, and `folder` holds nothing else but the folders on their
// paths.
::testing::AssertionResult cameBack(const std::string& folder, const PlacedFiles& files);

} // namespace testutil
