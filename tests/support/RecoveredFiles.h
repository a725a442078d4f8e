#pragma once

// What recovery tests of every engine share: a recoverer that records what it
// is handed, a listing of a folder on the host, and the check that a folder on
// the host holds exactly the files expected, with their bytes and times.

#include "core/DateTime.h"
#include "tree/Recoverer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace testutil {

// Records the calls a walk or a map makes: one event a folder or file ("dir
// [a/b] name", "file [a/b] name"), each file's entry, bytes and holes. It
// throws Recoverer::Exception for the names in `failing` (as the writer does
// for a folder or file it cannot make) and InterruptedException at the file
// named `cancelling`.
class RecordingRecoverer : public tree::Recoverer {
public:
    struct File {
        tree::FileEntry entry;
        std::vector<std::string> path;
        std::string bytes; // holes as zeros; the first 64 MiB only
        u64 size = 0;      // bytes and holes
        u64 holes = 0;     // of which handed over as holes
        u32 writes = 0;
        bool ended = false;
    };

    void beginDirectory(const std::string& name, const std::vector<std::string>& path) override;
    void beginFile(const tree::FileEntry& entry, const std::vector<std::string>& path) override;
    void write(const void* data, u32 size) override;
    void writeZeros(u64 size) override;
    void endFile() override;

    std::vector<std::string> events;
    std::vector<File> files;
    std::set<std::string> failing;
    std::string cancelling;
};

// Every entry below root, relative and sorted; folders end with '/', links
// with '@' (and are not entered).
std::vector<std::string> listFolder(const std::string& root);

struct ExpectedFile {
    std::string path; // relative, '/'-separated
    std::string bytes;
    u32 time = NO_TIME; // the modification time to check; NO_TIME: any
};

// Whether `folder` holds exactly these files (and the folders on their paths),
// each with its bytes and, where given, its time; the failure names the first
// difference and shows differing bytes.
::testing::AssertionResult cameBack(const std::string& folder,
                                    const std::vector<ExpectedFile>& expected);

} // namespace testutil
