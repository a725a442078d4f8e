#pragma once

// What the benchmarks share: a scratch folder on tmpfs for the run, shell
// commands with the settings our tests give the real tools, and a FAT volume's
// tree opened and built as the program builds it.

#include "core/Progress.h"
#include "devices/UnreadableSectors.h"
#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/fat/FATMapImpl.h"

#include <memory>
#include <string>

namespace bench {

// Runs a command with LC_ALL=C.UTF-8 and MTOOLS_SKIP_CHECK=1; throws when it fails.
void shell(const std::string& command);
// The text quoted for the shell.
std::string quote(const std::string& text);

// A folder under /dev/shm (the temporary folder when there is none), removed
// with everything in it at the end of the run.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The one scratch folder of the run.
ScratchDir& scratch();

// The image `name` from the folder that keeps images between runs ($HB_BENCH_CACHE,
// else "images" beside the benchmark), made there by make(path) first when it
// is missing. Some take mtools a long while.
std::string cachedImage(const std::string& name, void (*make)(const std::string& path));

void writeFile(const std::string& path, const std::string& data);

// The peak of this process's resident memory so far, in KiB (VmHWM).
long peakResidentKiB();
// Lowers that peak to what the process holds now, so that the next reading
// tells the peak of what came after (Linux's clear_refs).
void resetPeakResident();

// A FAT32 image made with mkfs.fat and mcopy: SMALL_FILES files of 1 byte to 3 KiB with long names,
// a thousand in each of a hundred folders.
constexpr u64 SMALL_FILES = 100000;
const std::string& fatSmallFilesImage();
// The same with upper-case 8.3 names only, which the engine reads from the short
// entries through the source's code page.
const std::string& fatShortNamesImage();

// The sink the program's progress boxes are to a worker: told everything, it
// shows nothing, so that the figure is the worker's own cost.
class QuietProgress : public InterfaceCallback {};

// The image as a source of 512-byte sectors, and the parameters of the FAT
// volume that starts it; throws when there is none.
SharedPtr<Driver> openFatVolume(const std::string& image, FAT_FS_PARAMS& params);

// Brings every folder of the tree to the state the tree view shows, as
// expanding all of it would; the file count.
u64 showAll(tree::MapImpl& map);

// The tree of the FAT volume in an image, built as the program builds it
// (finishTree, analyzeFoundFiles, finishTree) with `progress` as its sink.
struct FatTree {
    explicit FatTree(const std::string& image, InterfaceCallback* progress = nullptr);
    u64 showAll() { return bench::showAll(*map); }

    FAT_FS_PARAMS params;
    SharedPtr<Driver> driver;
    UnreadableSectors unreadable;
    FoundList<FoundDirectoryRun> runs;
    std::unique_ptr<tree::FATMapImpl> map;
};

} // namespace bench
