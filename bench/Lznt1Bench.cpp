// How fast compression units decompress: 64 KiB units (16 clusters of 4 KiB) of
// text, of structured binary data and of noise, compressed chunk by chunk as
// NTFS lays them out, decoded into one unit buffer as the run-list reader does.
// The figure is bytes of decompressed output per second.

#include "fs/ntfs/Lznt1.h"
#include "tests/support/Lznt1Compressor.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

constexpr u32 UNIT_BYTES = 16 * 4096;
constexpr int UNITS = 32;

enum Kind { TEXT, BINARY, NOISE };

std::vector<u8> sample(Kind kind, std::mt19937& random) {
    std::vector<u8> data;
    static const char* const words[] = {"the ",    "file ",      "record ", "cluster ",
                                        "volume ", "recovery\n", "of ",     "sector ",
                                        "and ",    "index ",     "data, ",  "NTFS "};
    while (data.size() < UNIT_BYTES) {
        switch (kind) {
        case TEXT: {
            const char* w = words[random() % 12];
            data.insert(data.end(), w, w + std::strlen(w));
            break;
        }
        case BINARY: {
            // Little-endian records with slowly changing fields, as in tables.
            const u32 n = static_cast<u32>(data.size() / 16);
            const u8 record[16] = {static_cast<u8>(n),
                                   static_cast<u8>(n >> 8),
                                   0,
                                   0,
                                   0x10,
                                   0,
                                   0,
                                   0,
                                   static_cast<u8>(random() % 4),
                                   0,
                                   0,
                                   0,
                                   0xFF,
                                   0xFF,
                                   0,
                                   0};
            data.insert(data.end(), record, record + 16);
            break;
        }
        case NOISE:
            data.push_back(static_cast<u8>(random()));
            break;
        }
    }
    data.resize(UNIT_BYTES);
    return data;
}

void decompressUnits(benchmark::State& state, Kind kind) {
    std::mt19937 random(42);
    std::vector<std::vector<u8>> units;
    std::size_t packedBytes = 0;
    for (int i = 0; i < UNITS; ++i) {
        units.push_back(lznt1test::compress(sample(kind, random)));
        packedBytes += units.back().size();
    }
    std::vector<u8> out(UNIT_BYTES);
    for (auto _ : state) {
        for (const std::vector<u8>& unit : units) {
            u32 outPos = 0, inPos = 0;
            const bool ok =
                decompressLznt1(Array(out.data(), UNIT_BYTES), outPos,
                                ConstArray(unit.data(), static_cast<u32>(unit.size())), inPos);
            if (!ok || outPos != UNIT_BYTES)
                throw std::runtime_error("unit did not decompress");
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * UNITS * UNIT_BYTES);
    state.counters["ratio"] = static_cast<double>(packedBytes) / (UNITS * double{UNIT_BYTES});
}

void BM_Lznt1Text(benchmark::State& state) {
    decompressUnits(state, TEXT);
}
void BM_Lznt1Binary(benchmark::State& state) {
    decompressUnits(state, BINARY);
}
void BM_Lznt1Noise(benchmark::State& state) {
    decompressUnits(state, NOISE);
}

} // namespace

BENCHMARK(BM_Lznt1Text);
BENCHMARK(BM_Lznt1Binary);
BENCHMARK(BM_Lznt1Noise);

BENCHMARK_MAIN();
