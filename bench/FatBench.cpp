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
// The images are made once (a few seconds each): the data image per run, the
// tree image kept between runs (see bench::cachedImage).
//
//   build-bench/bench/bench_fat [--benchmark_filter=...]

#include "bench/BenchSupport.h"
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

constexpr int DATA_FILES = 16;
constexpr u64 DATA_FILE_BYTES = 64ull << 20;

using bench::scratch;
using bench::shell;
using bench::writeFile;

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

using OpenTree = bench::FatTree;

void BM_FatTreeBuild(benchmark::State& state) {
    const std::string& image = bench::fatSmallFilesImage();
    u64 files = 0;
    for (auto _ : state) {
        OpenTree t(image);
        files = t.showAll();
        benchmark::DoNotOptimize(files);
    }
    if (files != bench::SMALL_FILES)
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
