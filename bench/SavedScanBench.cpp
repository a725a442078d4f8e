// Loading saved scans: the three hostile files of about a megabyte that claim
// gigabytes (a gigabyte of unreadable runs, a sound scan followed by 4 GiB of
// zeros, twenty million carved files), a large sound scan of a busy 2 TiB
// source for comparison, and two files whose boot-sector list holds records of
// no file-system kind, each dropped on loading (972 KB with 200 million of them,
// 97 KB with 20 million), which load with an empty scan; and two files of 2 GiB picked by mistake,
// one of zeros and a disk holding only a partition table (holes after their heads), refused from
// their first bytes. Each load runs in a fresh process of its
// own (this program started again with --load), so that its peak resident memory is its own: the
// counter peak_MiB is that process's peak resident set (VmHWM, from its start), loaded is 1 when
// the scan was taken, file_KiB the file's size. The source is an empty reader of 2^32 sectors, so
// that no count is refused for its size.
//
//   build/bench/bench_savedscan [--benchmark_filter=...]

#include "analysis/DriveDescr.h"
#include "analysis/Serializer.h"
#include "analysis/Unserializer.h"
#include "bench/BenchSupport.h"
#include "tests/support/HostileScans.h"
#include "tests/support/TestUtil.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr u64 SOURCE_SECTORS = u64(1) << 32;

// A source of the given size whose reads are never asked for.
class EmptyReader : public dt::Reader {
public:
    explicit EmptyReader(u64 bytes) { setSize(static_cast<i64>(bytes)); }
    bool read(i64, u8*, i64) override { return false; }
};

// A scan as a long deep scan of a busy 2 TiB disk leaves it: two million carved
// files, a hundred thousand unreadable runs, and finds in every list.
std::string soundScanFile() {
    DriveDescr d;
    d.getScanRange().setSecond(SOURCE_SECTORS);
    ScanResults& r = d.getScanResults();
    u64 seed = 1;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return seed >> 33;
    };
    for (u32 i = 0; i < 100000; ++i) {
        r.fatSectors.insert(r.fatSectors.end(), FoundFatSector{i * 40000 + 32, FAT32});
        r.directoryRuns.insert(r.directoryRuns.end(),
                               FoundDirectoryRun{i * 40000 + 100, static_cast<u32>(1 + next() % 8),
                                                 i % 2 == 0, false, static_cast<u32>(next()), 2,
                                                 static_cast<u32>(next() % 100000)});
        r.unreadable.runs().push_back(SectorRun{i * 40000 + 7, static_cast<u32>(1 + next() % 64)});
    }
    const char* const types[] = {"jpg", "doc", "mp3", "zip", "png", "pdf"};
    std::vector<cbr::FileInfo>& files = d.getCarvedFiles();
    u64 sector = 0;
    for (int i = 0; i < 2000000; ++i) {
        sector += 1 + next() % 1000;
        cbr::FileInfo f;
        f.setStart(sector * 512);
        f.setSize(next() % 5000000);
        f.setType(types[next() % 6]);
        if (i % 3 == 0)
            f.getAttributes().setUInt32("time", static_cast<u32>(1500000000 + next() % 100000000));
        files.push_back(f);
    }
    const std::string path = bench::scratch().file("sound.bin");
    if (!saveScan(path.c_str(), d, nullptr))
        throw std::runtime_error("cannot save the sound scan");
    return path;
}

struct ScanFile {
    std::string name;
    std::string path;
};

const std::vector<ScanFile>& files() {
    static const std::vector<ScanFile> paths = [] {
        std::vector<ScanFile> out;
        for (const testutil::HostileScan& scan : testutil::hostileScans()) {
            out.push_back({scan.name,
                           bench::scratch().file("hostile" + std::to_string(out.size()) + ".bin")});
            bench::writeFile(out.back().path, scan.file);
        }
        out.push_back({"a sound scan of two million carved files", soundScanFile()});
        for (unsigned millions : {200u, 20u}) {
            out.push_back({std::to_string(millions) + " million boot sectors of no kind",
                           bench::scratch().file("nokind" + std::to_string(millions) + ".bin")});
            bench::writeFile(out.back().path, testutil::bootSectorsOfNoKind(millions));
        }
        std::string table(512, '\0');
        // One NTFS partition from sector 2048 to the end.
        table.replace(0x1BE + 4, 1, "\x07");
        table.replace(0x1BE + 8, 8, std::string("\x00\x08\x00\x00\x00\xF8\x3F\x00", 8));
        table.replace(0x1FE, 2, "\x55\xAA");
        const std::pair<const char*, std::string> picked[] = {{"2 GiB of zeros", ""},
                                                              {"a partition table alone", table}};
        for (const auto& p : picked) {
            out.push_back({p.first, bench::scratch().file("picked" + std::to_string(out.size()))});
            bench::writeFile(out.back().path, p.second);
            if (::truncate(out.back().path.c_str(), off_t(2) << 30) != 0)
                throw std::runtime_error("cannot make " + out.back().path);
        }
        return out;
    }();
    return paths;
}

void BM_LoadSavedScan(benchmark::State& state) {
    const ScanFile& file = files()[static_cast<std::size_t>(state.range(0))];
    const std::string& path = file.path;
    double peak = 0;
    int loaded = 0;
    const std::string command =
        "/proc/" + std::to_string(getpid()) + "/exe --load " + testutil::shellQuote(path);
    for (auto _ : state) {
        std::string out;
        if (testutil::run(command, &out) != 0 || !(std::istringstream(out) >> loaded >> peak)) {
            state.SkipWithError("the loading process failed");
            return;
        }
    }
    state.counters["peak_MiB"] = peak / 1024;
    state.counters["loaded"] = loaded;
    struct stat st {};
    ::stat(path.c_str(), &st);
    state.counters["file_KiB"] = static_cast<double>(st.st_size) / 1024;
    state.SetLabel(file.name);
}
BENCHMARK(BM_LoadSavedScan)->DenseRange(0, 7)->Unit(benchmark::kMillisecond)->Iterations(3);

// The load alone, as the program does it; prints 1 when the scan was taken, 0
// when not, and the process's peak resident memory in KiB.
int loadInThisProcess(const char* path) {
    DriveDescr d;
    d.setDrive(new Driver(SharedPtr<dt::Reader>(new EmptyReader(SOURCE_SECTORS * 512)), 512));
    const bool loaded = loadScan(path, d, nullptr);
    std::cout << loaded << ' ' << bench::peakResidentKiB() << '\n';
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--load")
        return loadInThisProcess(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
