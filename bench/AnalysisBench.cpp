// The whole road of a recovery on a 2 GiB FAT32 image of 3000 files read from
// the page cache: the deep scan (sector scan and carving in one pass), the
// candidate collection and the layout, the tree of the volume found, and the
// recovery of every file; beside it the deep scan alone, which the road should
// stay within twice of. The files are recovered into /dev/shm when it is there.
//
// The image is made once with mkfs.fat and mtools and kept in the build folder
// (bench-images/); the first run takes a while for that.
//
//   build/bench/bench_analysis [--benchmark_filter=...]

#include "analysis/Analyzer.h"
#include "core/AppDirectory.h"
#include "core/UserInterface.h"
#include "devices/Driver.h"
#include "devices/DtReaderFile.h"
#include "tree/ParserRecover.h"
#include "tree/ParserSelect.h"
#include "tree/RecovererCopyOff.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

constexpr u64 IMAGE_KIB = 2 * 1024 * 1024;
constexpr u32 FILES = 3000;
constexpr u32 FOLDERS = 30;

void shell(const std::string& command) {
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

// Files of 1 KiB to about 200 KiB, of bytes that do not compress (as photos and
// archives are), in 30 folders.
const std::string& image() {
    static const std::string path = [] {
        const std::string dir = HB_BINARY_DIR "/bench-images";
        const std::string img = dir + "/fat32-3000.img";
        if (std::filesystem::exists(img))
            return img;
        std::filesystem::create_directories(dir);
        const std::string files = dir + "/files";
        std::filesystem::remove_all(files);
        u64 state = 88172645463325252ull;
        for (u32 f = 0; f < FOLDERS; ++f) {
            const std::string folder = files + "/folder" + std::to_string(f);
            std::filesystem::create_directories(folder);
            for (u32 i = 0; i < FILES / FOLDERS; ++i) {
                std::string bytes(1024 + (i * 7919 + f * 104729) % (200 * 1024), '\0');
                for (char& c : bytes) {
                    state ^= state << 13;
                    state ^= state >> 7;
                    state ^= state << 17;
                    c = static_cast<char>(state);
                }
                std::ofstream(folder + "/file" + std::to_string(i) + ".bin", std::ios::binary)
                    << bytes;
            }
        }
        shell("rm -f '" + img + ".part' && mkfs.fat -C -F 32 -s 8 '" + img + ".part' " +
              std::to_string(IMAGE_KIB) + " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -s -i '" + img +
              ".part' '" + files + "'/* :: && mv '" + img + ".part' '" + img + "'");
        std::filesystem::remove_all(files);
        return img;
    }();
    return path;
}

void openImage(Analyzer& analyzer) {
    auto* file = new dt::ReaderFile;
    SharedPtr<dt::Reader> reader(file);
    if (!file->open(image().c_str()))
        throw std::runtime_error("cannot open " + image());
    analyzer.getDriveHolder() = SharedPtr<Driver>(new Driver(reader, 512));
    analyzer.getDrive()->getProperties().setUInt8(PROP_USES_PARTITION_TABLES, 0);
}

void BM_DeepScanAlone(benchmark::State& state) {
    setAppDirectory(HB_SOURCE_DIR "/lib");
    for (auto _ : state) {
        Analyzer analyzer(nullptr);
        openImage(analyzer);
        const u64 sectors = analyzer.getDrive()->getSectorCount();
        benchmark::DoNotOptimize(analyzer.scan(0, sectors, nullptr));
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * IMAGE_KIB * 1024));
}
BENCHMARK(BM_DeepScanAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WholeRoad(benchmark::State& state) {
    setAppDirectory(HB_SOURCE_DIR "/lib");
    // Recovered into memory where there is a tmpfs: the program's cost, not
    // the disk's (creating 3000 files on a busy disk takes seconds of its own).
    const std::string dest = std::filesystem::is_directory("/dev/shm")
                                 ? "/dev/shm/hb-bench-recovered"
                                 : HB_BINARY_DIR "/bench-images/recovered";
    HeadlessInterface ui;
    u64 recovered = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(dest);
        state.ResumeTiming();
        Analyzer analyzer(&ui);
        openImage(analyzer);
        analyzer.scan(0, analyzer.getDrive()->getSectorCount(), nullptr);
        analyzer.createFSCollection();
        FsCandidate* volume = getSelectedFileSystem(analyzer.getLayout(), 0);
        if (volume == nullptr)
            throw std::runtime_error("no volume found");
        analyzer.setSelectedEntry(volume);
        analyzer.buildMap();
        tree::Map* map = analyzer.getMapHolder().get();
        tree::ParserSelect(map, "").run(tree::START_POSITION, true, &ui);
        std::ostringstream report;
        tree::RecovererCopyOff recoverer(dest, dest, 0);
        tree::ParserRecover recover(map, &report, &recoverer, &ui);
        recover.run();
        recovered = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dest))
            recovered += e.is_regular_file();
    }
    state.counters["files"] = static_cast<double>(recovered);
    std::filesystem::remove_all(dest);
}
BENCHMARK(BM_WholeRoad)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
