// Signature matching as a deep scan drives it: cbr::Scanner::processSector over
// 1 GiB of mixed sectors held in memory (random bytes, zeros, text, and sectors
// that begin like a signature but are none), with the program's table and
// modules, each sector handed in with 258 sectors of look-ahead as the sector
// scan does. The plain walk over the same table (every pattern tested in turn)
// is measured beside it for comparison, and so is the floor: reading the first
// bytes of every sector and nothing else.
//
//   build-bench/bench/bench_scanner [--benchmark_filter=...]

#include "cbr/FileModuleRegistry.h"
#include "cbr/PatternsFile.h"
#include "cbr/Scanner.h"
#include "tests/support/FailingReader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr u64 DATA_SIZE = u64(1) << 30;
constexpr u32 SECTOR = 512;
constexpr u32 AVAILABLE = 259 * SECTOR;

// Beginnings that pass the first bytes of a signature and then fail.
const char* const NEAR_MISSES[] = {
    "\xFF\xD8\x00\x00",
    "\xFF\xFB\x90\x00",
    "PK\x05\x06",
    "\x00\x00\x01\x00",
    "<p>hello",
    "BM\x01\x02\x03\x04\x05\x06",
    "RIFX",
    "II*\x01",
    "\x89PNX",
    "GIF7",
    "Rar?",
    "\x00\x00\x00\x18"
    "ftyX",
};

// The data, held by the source that the scanner's windows read.
testutil::MemoryReader& source() {
    static testutil::MemoryReader reader([] {
        std::string out(DATA_SIZE, '\0');
        u64 state = 0x9E3779B97F4A7C15ull;
        auto next = [&] {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            return state;
        };
        const char text[] = "The quick brown fox jumps over the lazy dog. ";
        for (u64 at = 0; at < DATA_SIZE; at += SECTOR) {
            u8* sector = reinterpret_cast<u8*>(&out[at]);
            const u64 kind = next() % 10;
            if (kind < 4) {
                for (u32 i = 0; i < SECTOR; i += 8) {
                    const u64 v = next();
                    std::memcpy(sector + i, &v, 8);
                }
            } else if (kind < 7) {
                // zeros, as vector made them
            } else if (kind < 8) {
                for (u32 i = 0; i < SECTOR; ++i)
                    sector[i] = static_cast<u8>(text[i % (sizeof text - 1)]);
            } else {
                for (u32 i = 0; i < SECTOR; i += 8) {
                    const u64 v = next();
                    std::memcpy(sector + i, &v, 8);
                }
                const char* start =
                    NEAR_MISSES[next() % (sizeof NEAR_MISSES / sizeof *NEAR_MISSES)];
                std::memcpy(sector, start, std::max<std::size_t>(4, std::strlen(start)));
            }
        }
        return out;
    }());
    return reader;
}

const u8* data() {
    return reinterpret_cast<const u8*>(source().bytes().data());
}

void BM_ScannerProcessSector(benchmark::State& state) {
    const u8* bytes = data();
    cbr::FileModuleRegistry registry;
    dt::Reader& reader = source();
    u64 files = 0;
    for (auto _ : state) {
        cbr::Scanner scanner(reader, &registry);
        struct Count : cbr::Scanner::Callback {
            u64* n;
            void found(const cbr::FileInfo&) override { ++*n; }
            void shortened(std::size_t, u64) override {}
        } count;
        count.n = &files;
        scanner.loadPatterns(HB_SOURCE_DIR "/lib/cbr.files", &count);
        for (u64 at = 0; at < DATA_SIZE; at += SECTOR) {
            const u32 available = static_cast<u32>(std::min<u64>(AVAILABLE, DATA_SIZE - at));
            scanner.processSector(at, bytes + at, available);
        }
        scanner.finish(DATA_SIZE);
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * DATA_SIZE));
    state.counters["files"] = static_cast<double>(files) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ScannerProcessSector)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same table tested pattern by pattern: what the index saves.
void BM_PlainPatternWalk(benchmark::State& state) {
    const u8* bytes = data();
    cbr::FileModuleRegistry registry;
    std::vector<cbr::Pattern> patterns;
    cbr::PatternsFile::load(HB_SOURCE_DIR "/lib/cbr.files", registry, patterns);
    u64 hits = 0;
    for (auto _ : state) {
        for (u64 at = 0; at < DATA_SIZE; at += SECTOR) {
            const u32 available = static_cast<u32>(std::min<u64>(AVAILABLE, DATA_SIZE - at));
            for (const cbr::Pattern& p : patterns) {
                if (p.matches(bytes + at, available)) {
                    ++hits;
                    break;
                }
            }
        }
    }
    benchmark::DoNotOptimize(hits);
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * DATA_SIZE));
}
BENCHMARK(BM_PlainPatternWalk)->Unit(benchmark::kMillisecond)->UseRealTime();

// A gigabyte of MPEG-2 pack headers without an end code: a pack starts at every
// seventh sector, and each such hit would walk on to the end of its 1 GiB
// window; the module's scan memory makes the hits after the first cost nothing.
void BM_MpegPackHeaders(benchmark::State& state) {
    static const std::string packs = [] {
        const std::string pack("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xF8", 14);
        std::string out;
        out.reserve(DATA_SIZE + pack.size());
        while (out.size() < DATA_SIZE)
            out += pack;
        out.resize(DATA_SIZE);
        return out;
    }();
    testutil::MemoryReader reader(packs);
    const u8* bytes = reinterpret_cast<const u8*>(reader.bytes().data());
    cbr::FileModuleRegistry registry;
    for (auto _ : state) {
        cbr::Scanner scanner(reader, &registry);
        scanner.loadPatterns(HB_SOURCE_DIR "/lib/cbr.files", nullptr);
        for (u64 at = 0; at < DATA_SIZE; at += SECTOR)
            scanner.processSector(at, bytes + at,
                                  static_cast<u32>(std::min<u64>(AVAILABLE, DATA_SIZE - at)));
        scanner.finish(DATA_SIZE);
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * DATA_SIZE));
}
BENCHMARK(BM_MpegPackHeaders)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The floor: only the first bytes of each sector read, as any matcher must.
void BM_FirstBytesOnly(benchmark::State& state) {
    const u8* bytes = data();
    u64 sum = 0;
    for (auto _ : state) {
        for (u64 at = 0; at < DATA_SIZE; at += SECTOR) {
            u64 head;
            std::memcpy(&head, bytes + at, 8);
            sum += head;
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * DATA_SIZE));
}
BENCHMARK(BM_FirstBytesOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
