// Sequential reads of a 1 GiB image that sits in the page cache, through the
// image-file reader and through a chain of composite readers over it. The image
// is made once in the temporary folder (or taken from HB_BENCH_IMAGE), read
// once to warm the cache, and removed at the end when it was made here.
//
//   build-bench/bench/bench_reader [--benchmark_filter=...]

#include "devices/DtReaderFile.h"
#include "devices/DtReaderJBOD.h"
#include "devices/DtReaderRAID0.h"
#include "devices/DtReaderRange.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr i64 IMAGE_SIZE = i64(1) << 30;

std::string imagePath;

// Writes IMAGE_SIZE bytes of changing content (not a sparse hole, which the
// kernel would hand out without copying anything).
bool makeImage(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd == -1)
        return false;
    std::vector<u8> block(u64(8) << 20);
    bool ok = true;
    for (i64 at = 0; ok && at < IMAGE_SIZE; at += static_cast<i64>(block.size())) {
        for (std::size_t i = 0; i < block.size(); i += 8)
            block[i] = static_cast<u8>((at + static_cast<i64>(i)) >> 13);
        ok = ::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
    }
    return ::close(fd) == 0 && ok;
}

void readAll(benchmark::State& state, dt::Reader& reader) {
    const i64 block = state.range(0);
    std::vector<u8> buffer(static_cast<std::size_t>(block));
    for (auto _ : state) {
        for (i64 at = 0; at + block <= reader.getSize(); at += block) {
            if (!reader.read(at, buffer.data(), block)) {
                state.SkipWithError("read failed");
                return;
            }
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * (reader.getSize() / block * block));
}

void BM_ReaderFileSequential(benchmark::State& state) {
    dt::ReaderFile file;
    if (!file.open(imagePath.c_str())) {
        state.SkipWithError("cannot open the image");
        return;
    }
    readAll(state, file);
}
BENCHMARK(BM_ReaderFileSequential)
    ->Arg(64 << 10)
    ->Arg(1 << 20)
    ->Arg(8 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A range of a JBOD of a RAID0 whose two members are the halves of the image:
// the per-stripe cost of the composite readers on top of the file.
void BM_ComposedChainSequential(benchmark::State& state) {
    auto* file = new dt::ReaderFile;
    SharedPtr<dt::Reader> image(file);
    if (!file->open(imagePath.c_str())) {
        state.SkipWithError("cannot open the image");
        return;
    }
    auto* first = new dt::ReaderRange;
    auto* second = new dt::ReaderRange;
    SharedPtr<dt::Reader> halves[] = {SharedPtr<dt::Reader>(first), SharedPtr<dt::Reader>(second)};
    first->init(image, 0, IMAGE_SIZE / 2);
    second->init(image, IMAGE_SIZE / 2, IMAGE_SIZE / 2);
    auto* raid = new dt::ReaderRAID0;
    SharedPtr<dt::Reader> set(raid);
    raid->init({halves[0], halves[1]}, 64 << 10);
    auto* jbod = new dt::ReaderJBOD;
    SharedPtr<dt::Reader> joined(jbod);
    jbod->init({set});
    dt::ReaderRange top;
    top.init(joined, 0, IMAGE_SIZE);
    readAll(state, top);
}
BENCHMARK(BM_ComposedChainSequential)
    ->Arg(1 << 20)
    ->Arg(8 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const char* given = std::getenv("HB_BENCH_IMAGE");
    const bool made = given == nullptr || *given == '\0';
    if (made) {
        const char* tmp = std::getenv("TMPDIR");
        imagePath = std::string(tmp && *tmp ? tmp : "/tmp") + "/hb-bench-" +
                    std::to_string(::getpid()) + ".img";
        if (!makeImage(imagePath)) {
            std::fprintf(stderr, "cannot write %s\n", imagePath.c_str());
            std::remove(imagePath.c_str());
            return 1;
        }
    } else {
        imagePath = given;
    }
    // Once through, so that every measured read comes from the page cache.
    {
        dt::ReaderFile warm;
        std::vector<u8> buffer(u64(8) << 20);
        if (warm.open(imagePath.c_str())) {
            for (i64 at = 0; at + static_cast<i64>(buffer.size()) <= warm.getSize();
                 at += static_cast<i64>(buffer.size()))
                warm.read(at, buffer.data(), static_cast<i64>(buffer.size()));
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (made)
        std::remove(imagePath.c_str());
    return 0;
}
