// How fast recovered file data reaches the destination: a file streamed from
// memory in cluster-sized pieces into a folder on tmpfs, so that the figure is
// the recoverer's own cost and not a disk's.

#include "tree/RecovererCopyOff.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The kind of sink the Recover command sets: it is told everything and shows nothing.
class QuietProgress : public InterfaceCallback {};

// A fresh folder under /dev/shm (the temporary directory when there is none),
// removed with its files afterwards.
class ShmDir {
public:
    ShmDir() {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = base + "/hbbench-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            throw std::runtime_error("mkdtemp");
        path_ = buf.data();
    }
    ~ShmDir() {
        std::string cmd = "rm -rf '" + path_ + "'";
        if (std::system(cmd.c_str()) != 0)
            path_.clear();
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

constexpr u64 FILE_SIZE = 64ull << 20;

void BM_RecoverToTmpfs(benchmark::State& state) {
    const u32 piece = static_cast<u32>(state.range(0));
    std::vector<u8> data(piece);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<u8>(i * 131 + 7);
    ShmDir dir;
    QuietProgress progress;
    tree::RecovererCopyOff recoverer(dir.path(), dir.path(), 2147483647ull);
    InterfaceCallbackScope scope(recoverer, &progress);

    for (auto _ : state) {
        recoverer.beginFile(tree::FileEntry("file.bin", FILE_SIZE, 1234567890u), {"bench"});
        for (u64 done = 0; done < FILE_SIZE; done += piece)
            recoverer.write(data.data(), piece);
        recoverer.endFile();
        state.PauseTiming();
        unlink((dir.path() + "/" + recoverer.getFiles().back()).c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * FILE_SIZE));
}

} // namespace

// One FAT cluster at a time (4 KiB), a large cluster (64 KiB), a whole NTFS run.
BENCHMARK(BM_RecoverToTmpfs)->Arg(4096)->Arg(65536)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
