// The sector scan of a deep scan over a 1 GiB source held in memory, as an
// image in the page cache reads: mostly file contents (random bytes as in
// compressed files, text, zeros, filler) with directory sectors, FAT sectors,
// NTFS file records and boot sectors among them. Measured three ways: the
// reader delivering blocks to a listener that only takes them (the cost of
// getting the bytes), the classification alone on blocks already in memory, and
// the whole road of reader, listener and scanner. Then the deep scan of the
// analyzer, carving and all, against `cat` on one image file of such content
// in the page cache (BM_DeepScanAgainstCat: its median ratio is the figure).
//
//   build/bench/bench_sectorscan [--benchmark_filter=...]

#include "analysis/Analyzer.h"
#include "analysis/ScScanner.h"
#include "analysis/ScScannerReaderListener.h"
#include "bench/BenchSupport.h"
#include "core/Array.h"
#include "devices/Driver.h"
#include "devices/DtReader.h"
#include "devices/DtReaderFile.h"
#include "devices/Reader.h"
#include "fs/ntfs/NtfsRecord.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <vector>

namespace {

constexpr u64 SOURCE_BYTES = u64(1) << 30;
constexpr u32 SECTOR = 512;
constexpr u32 WINDOW = 256;

class MemorySource : public dt::Reader {
public:
    explicit MemorySource(const std::vector<u8>& bytes) : bytes_(bytes) {
        setSize(static_cast<i64>(bytes.size()));
    }
    bool read(i64 offset, u8* buffer, i64 size) override {
        if (!dt::rangeInside(offset, size, getSize()))
            return false;
        std::memcpy(buffer, bytes_.data() + offset, static_cast<std::size_t>(size));
        return true;
    }

private:
    const std::vector<u8>& bytes_;
};

u64 nextRandom(u64& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

void directorySector(u8* s, u64& random) {
    for (u32 i = 0; i < 16; ++i) {
        u8* e = s + i * 32;
        std::memcpy(e, "FILE0000TXT", 11);
        e[4] = static_cast<u8>('0' + nextRandom(random) % 10);
        e[11] = 0x20;
        setLE16(e, 22, 12 << 11);
        setLE16(e, 24, (40 << 9) | (6 << 5) | 15);
        setLE16(e, 26, static_cast<u16>(3 + i));
        setLE32(e, 28, 100);
    }
}

void fileRecord(u8* r) {
    setLE32(r, 0, NTFS_MAGIC_FILE);
    setLE16(r, 0x04, 0x30);
    setLE16(r, 0x06, 3);
    setLE16(r, 0x14, 0x38);
    setLE16(r, 0x16, NTFS_RECORD_IN_USE);
    setLE32(r, 0x18, 0x40);
    setLE32(r, 0x1C, 1024);
    setLE32(r, 0x38, NTFS_ATTR_END);
    setLE16(r, 0x30, 1);
    setLE16(r, 510, 1);
    setLE16(r, 1022, 1);
}

// Sectors by kind, in runs of 1 to 64 of one kind, as files lie on a disk: the
// `size` bytes at `bytes` (zeroed), the stream going on from `random`.
void fillMixed(u8* bytes, u64 size, u64& random) {
    u64 lba = 0;
    const u64 sectors = size / SECTOR;
    while (lba < sectors) {
        const u64 kind = nextRandom(random) % 100;
        const u64 run = std::min<u64>(1 + nextRandom(random) % 64, sectors - lba);
        u8* s = bytes + lba * SECTOR;
        const u64 n = run * SECTOR;
        if (kind < 45) {
            // Compressed data.
            for (u64 i = 0; i < n; i += 8)
                setLE64(s, i, nextRandom(random));
        } else if (kind < 70) {
            // Text.
            for (u64 i = 0; i < n; ++i)
                s[i] = static_cast<u8>(i % 71 == 70 ? '\n' : ' ' + nextRandom(random) % 95);
        } else if (kind < 88) {
            // Zeros, as they are.
        } else if (kind < 94) {
            std::memset(s, 0xFF, n);
        } else if (kind < 97) {
            for (u64 i = 0; i < run; ++i)
                directorySector(s + i * SECTOR, random);
        } else if (kind < 99) {
            for (u64 i = 0; i + 1 < run; i += 2)
                fileRecord(s + i * SECTOR);
        } else {
            // A FAT start, then free entries.
            const u8 head[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
            std::memcpy(s, head, sizeof head);
            s[510] = 0x55;
            s[511] = 0xAA;
        }
        lba += run;
    }
}

constexpr u64 FIRST_RANDOM = 0x9E3779B97F4A7C15ull;

const std::vector<u8>& source() {
    static std::vector<u8> bytes;
    if (bytes.empty()) {
        bytes.assign(SOURCE_BYTES, 0);
        u64 random = FIRST_RANDOM;
        fillMixed(bytes.data(), bytes.size(), random);
    }
    return bytes;
}

// Takes each block and does nothing with it.
class DiscardingListener : public Reader::Listener {
public:
    DiscardingListener() : buffer_(WINDOW * SECTOR) { setBlockSize(WINDOW); }
    u8* getBuffer() override { return buffer_.data(); }
    void onSectorsRead(u64, u64 count) override { delivered_ += count; }
    u64 delivered() const { return delivered_; }

private:
    std::vector<u8> buffer_;
    u64 delivered_ = 0;
};

// The reader delivering every block of `bytes` to a listener that only takes them.
void readerAlone(benchmark::State& state, const std::vector<u8>& bytes) {
    for (auto _ : state) {
        Driver driver(SharedPtr<dt::Reader>(new MemorySource(bytes)), SECTOR);
        DiscardingListener listener;
        Reader reader(&driver, &listener, nullptr, "");
        reader.readSectors(0, driver.getSectorCount());
        benchmark::DoNotOptimize(listener.delivered());
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * bytes.size()));
}

void BM_ReaderAlone(benchmark::State& state) {
    readerAlone(state, source());
}
BENCHMARK(BM_ReaderAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ClassifyAlone(benchmark::State& state) {
    const std::vector<u8>& bytes = source();
    u64 found = 0;
    for (auto _ : state) {
        ScanResults results;
        {
            ScScanner scanner(&results, WINDOW, SECTOR, 0, 3);
            for (u64 at = 0; at < SOURCE_BYTES; at += WINDOW * SECTOR) {
                std::memcpy(scanner.bufferEnd(), bytes.data() + at, WINDOW * SECTOR);
                scanner.addSectors(at / SECTOR, WINDOW);
            }
            scanner.finish();
        }
        found = results.directoryRuns.size() + results.ntfsRecordRuns.size() +
                results.fatSectors.size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["finds"] = static_cast<double>(found);
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * SOURCE_BYTES));
}
BENCHMARK(BM_ClassifyAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DeepScanRoad(benchmark::State& state) {
    const std::vector<u8>& bytes = source();
    for (auto _ : state) {
        Driver driver(SharedPtr<dt::Reader>(new MemorySource(bytes)), SECTOR);
        ScanResults results;
        ScScanner scanner(&results, WINDOW, SECTOR, 0, 3);
        ScScannerReaderListener listener(&scanner);
        Reader reader(&driver, &listener, nullptr, "");
        reader.readSectors(0, driver.getSectorCount());
        scanner.finish();
        benchmark::DoNotOptimize(listener.getDelivered());
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * SOURCE_BYTES));
}
BENCHMARK(BM_DeepScanRoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// The deep scan of 2 GiB of random bytes, as a used disk of compressed files
// reads: the analyzer's own scan, with the carver and all nineteen modules
// behind the sector scan; beside it the reader alone over the same bytes.
const std::vector<u8>& randomSource() {
    static std::vector<u8> bytes;
    if (bytes.empty()) {
        bytes.resize(2 * SOURCE_BYTES);
        u64 random = 0x2545F4914F6CDD1Dull;
        for (u64 i = 0; i < bytes.size(); i += 8) {
            const u64 v = nextRandom(random);
            std::memcpy(&bytes[i], &v, 8);
        }
    }
    return bytes;
}

void BM_RandomReaderAlone(benchmark::State& state) {
    readerAlone(state, randomSource());
}
BENCHMARK(BM_RandomReaderAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RandomDeepScanWithCarving(benchmark::State& state) {
    const std::vector<u8>& bytes = randomSource();
    for (auto _ : state) {
        Analyzer analyzer(nullptr);
        analyzer.getDriveHolder() =
            SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(new MemorySource(bytes)), SECTOR));
        analyzer.setPatternsPath(HB_SOURCE_DIR "/lib/cbr.files");
        benchmark::DoNotOptimize(analyzer.scan(0, bytes.size() / SECTOR, nullptr));
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_RandomDeepScanWithCarving)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- The deep scan against cat ----

// SOURCE_BYTES of the mixed content in a file of the scratch folder (tmpfs,
// which reads as an image in the page cache does), written in pieces so that
// the process holds no copy.
const std::string& imageFile() {
    static const std::string path = [] {
        const std::string file = bench::scratch().file("mixed.img");
        std::ofstream out(file, std::ios::binary);
        std::vector<u8> piece(u64(64) << 20);
        u64 random = FIRST_RANDOM;
        for (u64 at = 0; at < SOURCE_BYTES; at += piece.size()) {
            std::fill(piece.begin(), piece.end(), 0);
            fillMixed(piece.data(), piece.size(), random);
            out.write(reinterpret_cast<const char*>(piece.data()),
                      static_cast<std::streamsize>(piece.size()));
        }
        if (!out.flush())
            throw std::runtime_error("cannot write " + file);
        return file;
    }();
    return path;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The system's cat copying the file to /dev/null, started and waited for.
double catSeconds(const std::string& file) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>("cat"), const_cast<char*>(file.c_str()), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = 0;
    const bool ok = posix_spawnp(&pid, "cat", &actions, nullptr, argv, environ) == 0 &&
                    waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
                    WEXITSTATUS(status) == 0;
    const double seconds = secondsSince(start);
    posix_spawn_file_actions_destroy(&actions);
    if (!ok)
        throw std::runtime_error("cat " + file);
    return seconds;
}

void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// What the scanner page is to the scan, but showing nothing: the figure is the
// scan's own cost.
class QuietBox : public ProgressBoxIC {};

// Each repetition: cat of the image, then the analyzer's deep scan of all of it
// with a progress sink, as the scanner page runs it. Counters: both times, their
// ratio, and how far the process's resident memory rose above what it held
// before the scan.
void BM_DeepScanAgainstCat(benchmark::State& state) {
    const std::string& file = imageFile();
    QuietBox progress;
    for (auto _ : state) {
        const double cat = catSeconds(file);
        auto* image = new dt::ReaderFile;
        SharedPtr<dt::Reader> reader(image);
        if (!image->open(file.c_str()))
            throw std::runtime_error("cannot open " + file);
        Analyzer analyzer(nullptr);
        analyzer.getDriveHolder() = SharedPtr<Driver>(new Driver(reader, SECTOR));
        analyzer.setPatternsPath(HB_SOURCE_DIR "/lib/cbr.files");
        resetPeakResident();
        const long before = bench::peakResidentKiB();
        const auto start = std::chrono::steady_clock::now();
        const u64 scanned = analyzer.scan(0, SOURCE_BYTES / SECTOR, &progress);
        const double scan = secondsSince(start);
        if (scanned != SOURCE_BYTES / SECTOR)
            state.SkipWithError("the scan stopped early");
        state.SetIterationTime(scan);
        state.counters["cat_ms"] = cat * 1000;
        state.counters["scan_ms"] = scan * 1000;
        state.counters["ratio"] = scan / cat;
        state.counters["rss_rise_MiB"] =
            static_cast<double>(bench::peakResidentKiB() - before) / 1024;
        state.counters["carved"] = static_cast<double>(analyzer.getCarvedFiles().size());
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * SOURCE_BYTES));
}
BENCHMARK(BM_DeepScanAgainstCat)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(11)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
