// The FAT engine on volumes made by the real tools (mkfs.fat, mcopy) in a
// folder on tmpfs, so that the images sit in memory as a cached image would:
//
//   BM_FatTreeBuild  the whole tree of a FAT32 volume holding 100,000 files in
//                    100 folders (long names, 1 byte to 3 KiB each), built as
//                    the program builds it and then every folder brought to the
//                    state the tree view shows (chains checked, names sorted);
//   BM_FatRecover    every file of a FAT32 volume holding 1 GiB in 16 files,
//                    recovered as the Recover command does into tmpfs;
//   BM_FatRecoverAgainstPlainCopy
//                    every file of a healthy 2 GiB FAT32 volume holding 3,000
//                    files of 4 KiB to 404 KiB in 30 folders, recovered into
//                    tmpfs, and in the same iteration the same bytes copied
//                    plainly from the image into as many files: the counter
//                    "ratio" (recovery time / copy time) tells the engine's
//                    cost apart from the machine's, so that runs on different
//                    machines or builds compare.
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

#include <chrono>
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

constexpr int COPY_FOLDERS = 30;
constexpr int COPY_FILES = 3000;

u64 copyFileBytes(int f) {
    return 4096 + (static_cast<u64>(f) * 7919 % 401) * 1024;
}

void makeCopyImage(const std::string& image) {
    const std::string source = scratch().file("copy-src");
    std::string data(static_cast<std::size_t>(copyFileBytes(400)), '\0');
    for (int f = 0; f < COPY_FILES; ++f) {
        const std::string folder = source + "/folder " + std::to_string(f % COPY_FOLDERS);
        if (f < COPY_FOLDERS)
            shell("mkdir -p '" + folder + "'");
        u32 x = 2654435761u * static_cast<u32>(f + 1);
        for (std::size_t i = 0; i < data.size(); i += 64) {
            x = x * 1103515245u + 12345u;
            data[i] = static_cast<char>(x >> 24);
        }
        writeFile(folder + "/file " + std::to_string(f) + ".bin",
                  data.substr(0, static_cast<std::size_t>(copyFileBytes(f))));
    }
    shell("mkfs.fat -C -F 32 -i 1234abcd '" + image + "' 2097152 >/dev/null");
    shell("mcopy -s -i '" + image + "' '" + source + "'/* ::/");
    shell("rm -rf '" + source + "'");
}

// The same bytes as the files hold, read from the image's data area in pieces
// of the files' sizes and written into as many files.
void plainCopy(const std::string& image, u64 dataOffset, const std::string& out) {
    std::ifstream in(image, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(dataOffset));
    std::vector<char> buffer(1 << 20);
    for (int f = 0; f < COPY_FILES; ++f) {
        std::ofstream file(out + "/" + std::to_string(f) + ".bin", std::ios::binary);
        for (u64 left = copyFileBytes(f); left > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<u64>(left, buffer.size()));
            in.read(buffer.data(), static_cast<std::streamsize>(n));
            file.write(buffer.data(), static_cast<std::streamsize>(n));
            left -= n;
        }
    }
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

void BM_FatRecoverAgainstPlainCopy(benchmark::State& state) {
    const std::string image = bench::cachedImage("copy-2g.img", makeCopyImage);
    OpenTree t(image);
    const std::string out = scratch().file("copy-out");
    const std::string plain = scratch().file("plain-out");
    const u64 dataOffset = u64{t.params.dataClusterLBA} * 512;
    double recoverSeconds = 0;
    double plainSeconds = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        shell("rm -rf '" + out + "' '" + plain + "' && mkdir -p '" + out + "' '" + plain + "'");
        tree::ParserSelect(t.map.get(), "").run(tree::START_POSITION, true, nullptr);
        const auto start = Clock::now();
        tree::RecovererCopyOff recoverer(out, out, 0);
        std::ostringstream report;
        tree::ParserRecover walk(t.map.get(), &report, &recoverer, nullptr);
        walk.run();
        const auto recovered = Clock::now();
        plainCopy(image, dataOffset, plain);
        const auto copied = Clock::now();
        const double r = std::chrono::duration<double>(recovered - start).count();
        recoverSeconds += r;
        plainSeconds += std::chrono::duration<double>(copied - recovered).count();
        state.SetIterationTime(r);
        if (walk.getErrorCount() != 0 || recoverer.getFiles().size() != COPY_FILES)
            state.SkipWithError("not every file came back whole");
    }
    state.counters["ratio"] = plainSeconds > 0 ? recoverSeconds / plainSeconds : 0;
    state.counters["plain_ms"] = 1000 * plainSeconds / static_cast<double>(state.iterations());
}

} // namespace

BENCHMARK(BM_FatTreeBuild)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FatRecover)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FatRecoverAgainstPlainCopy)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseManualTime();

BENCHMARK_MAIN();
