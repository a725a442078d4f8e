#pragma once

// A recoverer that records what it is handed, for the recovery tests of every
// engine (what lands on the host is checked in FilesCameBack.h).

#include "tree/Recoverer.h"

#include <set>
#include <string>
#include <vector>

namespace testutil {

// Records the calls a walk or a map makes: one event a folder or file ("dir
// [a/b] name", "file [a/b] name"), each file's entry, bytes and holes. It
// throws Recoverer::Exception for the names in `failing` (as the writer does
// for a folder or file it cannot make) and InterruptedException at the file
// named `cancelling`. Its data takes up to `room` bytes: a write beyond them
// keeps what fits and throws as the writer does on a full destination. A file
// takes up to `fileRoom` bytes: a write beyond them keeps what fits and throws
// FileTooLarge, as the writer does past the largest file a destination holds.
// A file goes to the folder of its tree path, under its own name.
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
    // Takes the file back as the writer removes a cut file; `keeping` refuses.
    bool discardFile() override;
    // The folder of the tree path of the file begun last, which always stands
    // until it is removed; `keepingFolders` refuses to remove it.
    bool attemptFolder(std::string& folder) const override;
    bool removeFolder(const std::string& folder) override;

    std::vector<std::string> events;
    std::vector<File> files;
    std::set<std::string> failing;
    std::string cancelling;
    u64 room = ~u64{0};
    u64 fileRoom = ~u64{0};
    bool keeping = false;
    bool keepingFolders = false;
    std::vector<std::string> removedFolders;

private:
    std::string lastFolder_;
    bool begun_ = false;
};

} // namespace testutil
