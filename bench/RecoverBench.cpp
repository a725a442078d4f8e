// What recovering costs the writer on tmpfs, so that the figure is the
// recoverer's own cost and not a disk's:
//
//   BM_RecoverToTmpfs/<piece>  one file of 64 MiB streamed from memory in pieces
//                              of one FAT cluster, a large cluster, a whole run;
//   BM_RecoverSmallFiles       every file of a FAT32 volume of 100,000 files of
//                              1 byte to 3 KiB (made with mkfs.fat and mcopy),
//                              selected and recovered as the Recover command
//                              does; the tree is built beforehand;
//   BM_RecoverDeepPaths/<n>    one file in each folder of a chain as deep as
//                              the walk goes (paths of 4,096 bytes), its
//                              folder names n bytes long, handed over as the
//                              walk hands it: the shape of a hostile disk,
//                              whose paths with the destination's in front
//                              grow past its path limit and are cut from
//                              their head, each cut one a chain of new
//                              folders; the counter gives the folders made.
//
//   build/bench/bench_recover [--benchmark_filter=...]
//
// The recovery of the small files lies between two look-ups of names that do
// not exist, access("HB-RECOVER-BEGIN") and access("HB-RECOVER-END"), so that
// the system calls a file costs can be counted in `strace -f` output.

#include "bench/BenchSupport.h"
#include "tree/ParserRecover.h"
#include "tree/ParserSelect.h"
#include "tree/RecovererCopyOff.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr u64 FILE_SIZE = 64ull << 20;

void BM_RecoverToTmpfs(benchmark::State& state) {
    const u32 piece = static_cast<u32>(state.range(0));
    std::vector<u8> data(piece);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<u8>(i * 131 + 7);
    const std::string out = bench::scratch().file("big");
    bench::QuietProgress progress;
    tree::RecovererCopyOff recoverer(out, out, 2147483647ull);
    InterfaceCallbackScope scope(recoverer, &progress);

    for (auto _ : state) {
        recoverer.beginFile(tree::FileEntry("file.bin", FILE_SIZE, 1234567890u), {"bench"});
        for (u64 done = 0; done < FILE_SIZE; done += piece)
            recoverer.write(data.data(), piece);
        recoverer.endFile();
        state.PauseTiming();
        unlink((out + "/" + recoverer.getFiles().back()).c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * FILE_SIZE));
}

// The last run's output goes, outside the time measured.
void removeUntimed(benchmark::State& state, const std::string& folder) {
    state.PauseTiming();
    bench::shell("rm -rf " + bench::quote(folder));
    state.ResumeTiming();
}

void BM_RecoverSmallFiles(benchmark::State& state) {
    bench::FatTree tree(bench::fatSmallFilesImage());
    const std::string out = bench::scratch().file("small");
    bench::QuietProgress progress;
    for (auto _ : state) {
        removeUntimed(state, out);
        access("HB-RECOVER-BEGIN", F_OK);
        tree::ParserSelect(tree.map.get(), "").run(tree::START_POSITION, true, nullptr);
        tree::RecovererCopyOff recoverer(out, out, 2147483647ull);
        InterfaceCallbackScope scope(recoverer, &progress);
        std::ostringstream report;
        tree::ParserRecover walk(tree.map.get(), &report, &recoverer, nullptr);
        walk.run();
        access("HB-RECOVER-END", F_OK);
        if (recoverer.getFiles().size() != bench::SMALL_FILES || walk.getErrorCount() != 0)
            state.SkipWithError("not every file came back whole");
    }
    state.counters["files"] = static_cast<double>(bench::SMALL_FILES);
}

void BM_RecoverDeepPaths(benchmark::State& state) {
    const std::size_t nameBytes = static_cast<std::size_t>(state.range(0));
    const std::string out = bench::scratch().file("deep");
    bench::QuietProgress progress;
    for (auto _ : state) {
        removeUntimed(state, out);
        tree::RecovererCopyOff recoverer(out, out, 0);
        InterfaceCallbackScope scope(recoverer, &progress);
        std::vector<std::string> path;
        const std::size_t levels = tree::Parser::DEFAULT_PATH_LIMIT / (nameBytes + 1);
        for (u32 depth = 0; depth < levels; ++depth) {
            const std::string number = std::to_string(1000000 + depth).substr(1);
            path.push_back(std::string(nameBytes - number.size(), 'd') + number);
            recoverer.beginFile(tree::FileEntry("f.txt", 1, 1234567890u), path);
            recoverer.write("x", 1);
            recoverer.endFile();
        }
    }
    u64 folders = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(out);
         it != std::filesystem::recursive_directory_iterator(); ++it)
        folders += it->is_directory() ? 1 : 0;
    state.counters["folders"] = static_cast<double>(folders);
}

} // namespace

// One FAT cluster at a time (4 KiB), a large cluster (64 KiB), a whole NTFS run.
BENCHMARK(BM_RecoverToTmpfs)->Arg(4096)->Arg(65536)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecoverSmallFiles)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RecoverDeepPaths)->Arg(8)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
