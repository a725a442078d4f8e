// The FAT engine on volumes made by the real tools (mkfs.fat, mcopy) in a
// folder on tmpfs, so that the images sit in memory as a cached image would:
//
//   BM_FatTreeBuild  the whole tree of a FAT32 volume holding 100,000 files in
//                    100 folders (long names, 1 byte to 3 KiB each), built as
//                    the program builds it and then every folder brought to the
//                    state the tree view shows (chains checked, names sorted);
//   BM_FatRecover    every file of a FAT32 volume holding 1 GiB in 16 files,
//                    recovered as the Recover command does into tmpfs.
//
// The images are made once per run (a few seconds each) and removed at the end.
//
//   build-bench/bench/bench_fat [--benchmark_filter=...]

#include "devices/DtReaderFile.h"
#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/fat/FATMapImpl.h"
#include "tree/ParserRecover.h"
#include "tree/ParserSelect.h"
#include "tree/RecovererCopyOff.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int TREE_FOLDERS = 100;
constexpr int TREE_FILES_PER_FOLDER = 1000;
constexpr int DATA_FILES = 16;
constexpr u64 DATA_FILE_BYTES = 64ull << 20;

void shell(const std::string& command) {
    const std::string full = "LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 " + command;
    if (std::system(full.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

// A folder under /dev/shm (the temporary folder when there is none), removed
// with everything in it at the end of the run.
class ScratchDir {
public:
    ScratchDir() {
        const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = base + "/hbfatbench-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            throw std::runtime_error("mkdtemp");
        path_ = buf.data();
    }
    ~ScratchDir() {
        if (std::system(("rm -rf '" + path_ + "'").c_str()) != 0)
            path_.clear();
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

ScratchDir& scratch() {
    static ScratchDir dir;
    return dir;
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// Names whose first six characters differ, so that mcopy finds a free short
// name at once.
const std::string& treeImage() {
    static const std::string path = [] {
        const std::string image = scratch().file("tree.img");
        const std::string source = scratch().file("tree-src");
        shell("mkdir -p '" + source + "'");
        for (int d = 0; d < TREE_FOLDERS; ++d) {
            char folder[32];
            std::snprintf(folder, sizeof folder, "/Folder %03d", d);
            shell("mkdir -p '" + source + folder + "'");
            for (int f = 0; f < TREE_FILES_PER_FOLDER; ++f) {
                const int n = d * TREE_FILES_PER_FOLDER + f;
                char name[64];
                std::snprintf(name, sizeof name, "/%06d report of the day.txt", n);
                writeFile(source + folder + name,
                          std::string(static_cast<std::size_t>(n % 3000 + 1), 'x'));
            }
        }
        shell("mkfs.fat -C -F 32 -s 8 -i 1234abcd '" + image + "' 524288 >/dev/null");
        shell("mcopy -s -i '" + image + "' '" + source + "'/* ::/");
        shell("rm -rf '" + source + "'");
        return image;
    }();
    return path;
}

const std::string& dataImage() {
    static const std::string path = [] {
        const std::string image = scratch().file("data.img");
        const std::string source = scratch().file("data-src");
        shell("mkdir -p '" + source + "/Part A' '" + source + "/Part B'");
        std::string data(static_cast<std::size_t>(DATA_FILE_BYTES), '\0');
        for (int f = 0; f < DATA_FILES; ++f) {
            u32 x = 2654435761u * static_cast<u32>(f + 1);
            for (std::size_t i = 0; i < data.size(); i += 4) {
                x = x * 1103515245u + 12345u;
                data[i] = static_cast<char>(x >> 24);
            }
            writeFile(source + (f % 2 ? "/Part A/" : "/Part B/") + "big file " + std::to_string(f) +
                          ".bin",
                      data);
        }
        // 1.2 GiB: room for the 1 GiB of files and their FATs.
        shell("mkfs.fat -C -F 32 -s 8 -i 1234abcd '" + image + "' 1258291 >/dev/null");
        shell("mcopy -s -i '" + image + "' '" + source + "'/* ::/");
        shell("rm -rf '" + source + "'");
        return image;
    }();
    return path;
}

// The tree as the program builds it, over the image as a source.
struct OpenTree {
    explicit OpenTree(const std::string& path) {
        auto* file = new dt::ReaderFile;
        SharedPtr<dt::Reader> reader(file);
        if (!file->open(path.c_str()))
            throw std::runtime_error("cannot open " + path);
        driver.reset(new Driver(reader, 512));
        std::vector<u8> boot(512);
        if (!driver->readSectors(0, 1, boot.data()) ||
            !fatFsParamsFromBootSector(0, boot.data(), params, driver->getSectorCount()))
            throw std::runtime_error("no FAT volume in " + path);
        Bitmap mirror(params.sectorsPerFAT);
        map = std::make_unique<tree::FATMapImpl>(driver, params, mirror, &unreadable, runs);
        map->finishTree();
        map->analyzeFoundFiles();
        map->finishTree();
    }
    // Brings every folder to the state the tree view shows; the file count.
    u64 showAll() {
        u64 files = 0;
        std::vector<u64> pending{map->getRootAddress()};
        while (!pending.empty()) {
            const u64 address = pending.back();
            pending.pop_back();
            for (const tree::Node& n : map->getFolder(address)->getNodes()) {
                if (!n.isDirectory())
                    ++files;
                else if (n.getLink() != tree::TO && n.getAddress() != address)
                    pending.push_back(n.getAddress());
            }
        }
        return files;
    }
    SharedPtr<Driver> driver;
    FAT_FS_PARAMS params;
    UnreadableSectors unreadable;
    FoundList<FoundDirectoryRun> runs;
    std::unique_ptr<tree::FATMapImpl> map;
};

void BM_FatTreeBuild(benchmark::State& state) {
    const std::string& image = treeImage();
    u64 files = 0;
    for (auto _ : state) {
        OpenTree t(image);
        files = t.showAll();
        benchmark::DoNotOptimize(files);
    }
    if (files != static_cast<u64>(TREE_FOLDERS) * TREE_FILES_PER_FOLDER)
        state.SkipWithError("the tree does not hold every file");
    state.counters["files"] = static_cast<double>(files);
}

void BM_FatRecover(benchmark::State& state) {
    const std::string& image = dataImage();
    OpenTree t(image);
    const std::string out = scratch().file("out");
    for (auto _ : state) {
        state.PauseTiming();
        shell("rm -rf '" + out + "' && mkdir -p '" + out + "'");
        tree::ParserSelect(t.map.get(), "").run(tree::START_POSITION, true, nullptr);
        state.ResumeTiming();
        tree::RecovererCopyOff recoverer(out, out, 0);
        std::ostringstream report;
        tree::ParserRecover walk(t.map.get(), &report, &recoverer, nullptr);
        walk.run();
        if (walk.getErrorCount() != 0)
            state.SkipWithError("files came back with errors");
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations()) * DATA_FILES *
                            static_cast<i64>(DATA_FILE_BYTES));
}

} // namespace

BENCHMARK(BM_FatTreeBuild)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FatRecover)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
