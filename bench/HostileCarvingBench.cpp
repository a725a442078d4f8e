// The carver on images made to attack it (tests/support/HostileCarvingImages.h):
// cbr::Scanner::processSector over every sector of an image in which each
// sector starts a header of one kind whose structure runs on into the next
// sector (or, interleaved, into the next but one), with the program's table and
// modules, each sector handed in with 258 sectors of look-ahead as the sector
// scan does. A counting reader under the modules' windows tells how often the
// source was read again, and the counters tell how many files were found and
// how many bytes they claim together: a carver that is linear on any content
// reads each image a small number of times, while the files of a forged chain
// each claim the rest of it, as far as their windows go. Each case also tells
// the peak of the process's resident memory while it ran (the image itself
// included) and how far that peak rose above what the process held before the
// scan.
//
// The cases, named BM_Hostile[Ended]/KIND/SIZE ("Ended": each chain ends
// properly): every kind at --hostile_mib (16 MiB), but the XML documents
// cycling through 17 root elements at 2 MiB; PNG headers at 64 MiB; the
// chained archive members and movie atoms at 1 MiB; MRW headers at 129 MiB,
// past the 2^18 sectors of 128 MiB. With --hostile_large every kind is also
// carved at 128 MiB and at 1 GiB, so that the two can be compared.
//
// A case still running after --hostile_cap_s seconds (120) stops where it is:
// its label says so and how far it came, and its counters are those of the
// part it carved (0: no cap).
//
// A last benchmark reads 4 GiB of random bytes (made at the place they are
// read, from a fixed seed, so that nothing is held in memory or on disk): the
// modules' false matches there must stop within a few reads. Among the bytes
// of this seed, sector 6975966 (3.57 GB in) begins like an ARJ main header.
//
//   build/bench/bench_hostile_carving [--hostile_mib=16] [--hostile_large]
//       [--hostile_cap_s=120] [--benchmark_filter=...]
//   build/bench/bench_hostile_carving --write KIND MIB PATH [end]
//       writes one image (KIND "random" for the random bytes), for a deep scan
//       of it through the test probe; "end" ends each chain properly.

#include "bench/BenchSupport.h"
#include "cbr/FileModuleRegistry.h"
#include "cbr/Scanner.h"
#include "tests/support/HostileCarvingImages.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr u64 SECTOR = 512;
constexpr u64 LOOK_AHEAD = 258;
constexpr u64 MIB = u64(1) << 20;
constexpr u64 RANDOM_SEED = 20240655;

// The bytes of a source, and what the modules' windows asked of it.
class CountingReader : public dt::Reader {
public:
    explicit CountingReader(u64 size) { setSize(static_cast<i64>(size)); }
    bool read(i64 offset, u8* buffer, i64 n) override {
        if (!dt::rangeInside(offset, n, getSize()))
            return false;
        ++reads;
        bytes += static_cast<u64>(n);
        fill(static_cast<u64>(offset), buffer, static_cast<u64>(n));
        return true;
    }
    virtual void fill(u64 offset, u8* buffer, u64 n) = 0;

    u64 reads = 0;
    u64 bytes = 0;
};

// Reads the image in place: a copy of a gigabyte would be counted as the
// carver's memory.
class ImageReader : public CountingReader {
public:
    explicit ImageReader(const std::string& image) : CountingReader(image.size()), image_(image) {}
    void fill(u64 offset, u8* buffer, u64 n) override {
        std::memcpy(buffer, image_.data() + offset, static_cast<std::size_t>(n));
    }
    const u8* data() const { return reinterpret_cast<const u8*>(image_.data()); }

private:
    const std::string& image_;
};

// Random bytes computed where they are read: word w of the source is a mix of
// the seed and w, so any offset can be read without the bytes before it.
class RandomReader : public CountingReader {
public:
    RandomReader(u64 size, u64 seed) : CountingReader(size), seed_(seed) {}
    void fill(u64 offset, u8* buffer, u64 n) override {
        for (u64 i = 0; i < n;) {
            const u64 word = (offset + i) / 8;
            const u64 within = (offset + i) % 8;
            const u64 value = mix(word);
            const u64 take = std::min(8 - within, n - i);
            std::memcpy(buffer + i, reinterpret_cast<const u8*>(&value) + within,
                        static_cast<std::size_t>(take));
            i += take;
        }
    }

private:
    u64 mix(u64 word) const {
        u64 z = word * 0x9E3779B97F4A7C15ull + seed_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    u64 seed_;
};

// How long a case may run before it stops (--hostile_cap_s); 0: as long as it takes.
u64 capSeconds = 120;

struct Tally : cbr::Scanner::Callback {
    void found(const cbr::FileInfo& info) override {
        ++files;
        foundBytes += info.getSize();
        sizes.push_back(info.getSize());
    }
    void shortened(std::size_t nth, u64 size) override {
        foundBytes -= sizes[nth] - size;
        sizes[nth] = size;
    }
    u64 files = 0;
    u64 foundBytes = 0;
    std::vector<u64> sizes;
    u64 carved = 0; // bytes of the source scanned before the end or the cap
};

// The scan as the sector scan drives it, over `data` (the source's bytes, read
// in order) with the source's reader under the windows; it stops at the cap.
Tally carve(CountingReader& source, const std::function<const u8*(u64 at, u64 n)>& data) {
    cbr::FileModuleRegistry registry;
    cbr::Scanner scanner(source, &registry);
    Tally tally;
    scanner.loadPatterns(HB_SOURCE_DIR "/lib/cbr.files", &tally);
    const u64 size = static_cast<u64>(source.getSize());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(capSeconds);
    u64 at = 0;
    for (; at < size; at += SECTOR) {
        if (capSeconds != 0 && at % (64 * SECTOR) == 0 &&
            std::chrono::steady_clock::now() > deadline)
            break;
        const u64 available = std::min((LOOK_AHEAD + 1) * SECTOR, size - at);
        scanner.processSector(at, data(at, available), static_cast<u32>(available));
    }
    scanner.finish(at);
    tally.carved = at;
    return tally;
}

void report(benchmark::State& state, const Tally& tally, const CountingReader& source) {
    const double size = static_cast<double>(source.getSize());
    state.counters["files"] = static_cast<double>(tally.files);
    state.counters["found/size"] = static_cast<double>(tally.foundBytes) / size;
    state.counters["found_MiB"] = static_cast<double>(tally.foundBytes) / MIB;
    state.counters["reads"] = static_cast<double>(source.reads);
    state.counters["read/size"] = static_cast<double>(source.bytes) / size;
    state.counters["read_MiB"] = static_cast<double>(source.bytes) / MIB;
    if (tally.carved < static_cast<u64>(source.getSize()))
        state.SetLabel(">" + std::to_string(capSeconds) + " s: stopped after " +
                       std::to_string(tally.carved / 1024) + " KiB");
}

void carveImage(benchmark::State& state, const std::string& image) {
    u64 carved = 0;
    for (auto _ : state) {
        ImageReader source(image);
        bench::resetPeakResident();
        const long before = bench::peakResidentKiB();
        const Tally tally = carve(source, [&](u64 at, u64) { return source.data() + at; });
        const long peak = bench::peakResidentKiB();
        carved += tally.carved;
        report(state, tally, source);
        state.counters["peak_MiB"] = static_cast<double>(peak) / 1024;
        state.counters["rise_MiB"] = static_cast<double>(peak - before) / 1024;
    }
    state.SetBytesProcessed(static_cast<i64>(carved));
}

void carveHostile(benchmark::State& state, const std::string& kind, hostile::Ending ending,
                  u64 mib) {
    carveImage(state, hostile::image(kind, mib * MIB, ending));
}

// 64 TIFF headers whose directory names itself as the next one, and room
// behind them for the strip byte counts that each directory lists.
void BM_TiffLoops(benchmark::State& state) {
    carveImage(state, hostile::image("tiff", 64 * SECTOR + 128 * 1024, hostile::Ending::NEVER, 64));
}
BENCHMARK(BM_TiffLoops)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The random bytes are made a look-ahead's worth at a time, as the sector
// scan reads them; those reads are not the modules' and are not counted.
void BM_RandomBytes(benchmark::State& state) {
    const u64 size = static_cast<u64>(state.range(0)) * MIB;
    for (auto _ : state) {
        RandomReader source(size, RANDOM_SEED);
        RandomReader bytes(size, RANDOM_SEED);
        std::vector<u8> buffer;
        u64 bufferStart = 0;
        const Tally tally = carve(source, [&](u64 at, u64 n) {
            if (at < bufferStart || at + n > bufferStart + buffer.size()) {
                bufferStart = at;
                buffer.resize(static_cast<std::size_t>(std::min<u64>(64 * MIB, size - at)));
                bytes.fill(at, buffer.data(), buffer.size());
            }
            return buffer.data() + (at - bufferStart);
        });
        report(state, tally, source);
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * size));
}
BENCHMARK(BM_RandomBytes)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Writes one image to a file; returns the exit status.
int writeImage(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s --write KIND MIB PATH [end]\n", argv[0]);
        return 2;
    }
    const std::string kind = argv[2];
    const u64 size = std::strtoull(argv[3], nullptr, 10) * MIB;
    const hostile::Ending ending = argc > 5 && std::string(argv[5]) == "end"
                                       ? hostile::Ending::AT_THE_END
                                       : hostile::Ending::NEVER;
    std::ofstream out(argv[4], std::ios::binary | std::ios::trunc);
    if (kind == "random") {
        RandomReader random(size, RANDOM_SEED);
        std::vector<u8> chunk(64 * MIB);
        for (u64 at = 0; at < size && out; at += chunk.size()) {
            const u64 n = std::min<u64>(chunk.size(), size - at);
            random.fill(at, chunk.data(), n);
            out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
        }
    } else {
        const std::string image = hostile::image(kind, size, ending);
        out.write(image.data(), static_cast<std::streamsize>(image.size()));
    }
    return out ? 0 : 1;
}

// One case: the image of `kind` at `mib` MiB, and with the chains ending
// properly where the kind has such an ending.
void addHostile(const std::string& kind, u64 mib) {
    const std::vector<std::string> ending = hostile::endingKinds();
    const std::string size = "/" + std::to_string(mib) + "MiB";
    benchmark::RegisterBenchmark(("BM_Hostile/" + kind + size).c_str(), carveHostile, kind,
                                 hostile::Ending::NEVER, mib)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);
    if (std::find(ending.begin(), ending.end(), kind) != ending.end())
        benchmark::RegisterBenchmark(("BM_HostileEnded/" + kind + size).c_str(), carveHostile, kind,
                                     hostile::Ending::AT_THE_END, mib)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--write")
        return writeImage(argc, argv);
    u64 mib = 16;
    bool large = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--hostile_mib=", 0) == 0)
            mib = std::strtoull(arg.c_str() + 14, nullptr, 10);
        else if (arg.rfind("--hostile_cap_s=", 0) == 0)
            capSeconds = std::strtoull(arg.c_str() + 16, nullptr, 10);
        else if (arg == "--hostile_large")
            large = true;
        else
            args.push_back(argv[i]);
    }
    // Each of the 17 root elements has a closing tag of its own to search for:
    // 2 MiB of those documents ask as much of the text module as 16 of the others.
    for (const std::string& kind : hostile::kinds())
        addHostile(kind, kind == "xml-roots" ? 2 : mib);
    addHostile("png", 64);
    for (const char* kind : {"lzh", "rar", "arj", "zip", "mov"})
        addHostile(kind, 1);
    addHostile("mrw", 129);
    if (large) {
        for (const u64 size : {128, 1024})
            for (const std::string& kind : hostile::kinds())
                addHostile(kind, size);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
