// The analysis of the wizard's road (deep scan, candidate collection, filters,
// layout and rebuilt sectors, the file-system page's rows) on images that flood
// it with candidates; each figure should grow with the image, not its square.
//
//   NtfsBootSectorFlood  16 and 64 MiB, an NTFS boot sector in every sector
//   Fat32GridFlood      64 and 160 MiB of FAT32 cluster grids and would-be
//                       roots
//   PartitionGridFlood  64 and 128 MiB of partition tables naming FAT32
//                       partitions between those grids, each partition free
//                       to adopt any grid ahead of it
//   SharedFolderFlood   64, 128 and 256 MiB of FAT32 grids whose first-level
//                       folders share one cluster, each with a would-be root
//                       naming it: scoring every grid against every such root
//                       would be quadratic, so the root search stops at its
//                       budget and most grids go unscored
//   FatSectorFlood      16 and 64 MiB, a FAT16's first sector in every sector
//                       but for a small FAT16 volume's root and two folders
//                       every 64 sectors: each volume guessed from them has
//                       a FAT find in every sector its FATs may start at
//   NamedFatFlood       16 and 64 MiB, the same with a partition table in
//                       the first of every 64 sectors, whose four entries of
//                       the FAT16 (LBA) and hidden FAT types name partitions
//                       that start one to four sectors behind it and reach
//                       the image's end: each is guessed from the FAT finds
//                       inside it
//   FatTypeTableFlood   16 and 64 MiB, such a table in every sector
//   Fat12BootFlood      16 and 64 MiB, a FAT12 boot sector whose hidden
//                       sectors count its own start every four sectors, its
//                       two FATs behind it: on a disk each is read again to
//                       tell a volume of a lost table from a stray copy
//   EbrChain            10,000 extended boot records in one chain, on a disk
//   FileSystemRows      the file-system page's rows for 100,000 volumes
//
// The FAT32 grids begin 69,998 sectors (34 MiB) in, where the folder of
// cluster 70000 lies on a grid of one sector a cluster: those floods start at
// 64 MiB.
//
// peak_MiB is the process's peak so far: run one benchmark at a time
// (--benchmark_filter) for its own.
//
// The images come from tests/support/HostileImages and are kept between runs
// ($HB_BENCH_CACHE, else images/ beside the program), so that the probe can be
// run on the same files: hbprobe analyze 'id=PATH|type=file'.
//
//   build/bench/bench_hostile_analysis [--benchmark_filter=...]

#include "analysis/Analyzer.h"
#include "bench/BenchSupport.h"
#include "core/AppDirectory.h"
#include "core/Array.h"
#include "core/UserInterface.h"
#include "devices/Driver.h"
#include "devices/DtReaderFile.h"
#include "fs/DirectoryEntry.h"
#include "fs/FatLayout.h"
#include "gui/FsStructureView.h"
#include "tests/support/FatBytes.h"
#include "tests/support/FsImages.h"
#include "tests/support/HostileImages.h"

#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>

namespace {

constexpr u32 MIB_SECTORS = 2048;

template <std::string (*IMAGE)(u32 sectors), u32 MIB> void makeFlood(const std::string& path) {
    bench::writeFile(path, IMAGE(MIB * MIB_SECTORS));
}

// The flood of the benchmark's argument in MiB, as "NAME-<MiB>m.img".
template <std::string (*IMAGE)(u32 sectors)>
std::string flood(const benchmark::State& state, const std::string& name) {
    const auto mib = state.range(0);
    void (*make)(const std::string&) = mib == 16    ? makeFlood<IMAGE, 16>
                                       : mib == 64  ? makeFlood<IMAGE, 64>
                                       : mib == 128 ? makeFlood<IMAGE, 128>
                                       : mib == 160 ? makeFlood<IMAGE, 160>
                                       : mib == 256 ? makeFlood<IMAGE, 256>
                                                    : nullptr;
    if (make == nullptr)
        throw std::invalid_argument("no flood of " + std::to_string(mib) + " MiB");
    return bench::cachedImage(name + "-" + std::to_string(mib) + "m.img", make);
}

// Every 64 sectors a root that names two first-level folders, cluster 2, and
// those folders (clusters 3 and 4, one sector a cluster); every other sector
// the first sector of a FAT16 whose clusters 2-4 end their chains.
std::string fatSectorFlood(u32 sectors) {
    std::string fat(512, '\0');
    for (std::size_t i = 0; i < 10; ++i)
        fat[i] = static_cast<char>(i == 0 ? 0xF8 : 0xFF);
    const std::string root = testutil::shortEntry("FOLDERA    ", ATTR_DIRECTORY, 3, 0) +
                             testutil::shortEntry("FOLDERB    ", ATTR_DIRECTORY, 4, 0);
    auto folder = [](u32 cluster) {
        return testutil::shortEntry(".          ", ATTR_DIRECTORY, cluster, 0) +
               testutil::shortEntry("..         ", ATTR_DIRECTORY, 0, 0);
    };
    std::string image;
    image.reserve(static_cast<std::size_t>(sectors) * 512);
    for (u32 lba = 0; lba < sectors; ++lba) {
        const u32 at = lba % 64;
        const std::string piece = at == 60   ? root
                                  : at == 61 ? std::string()
                                  : at == 62 ? folder(3)
                                  : at == 63 ? folder(4)
                                             : fat;
        image += piece;
        image.append(512 - piece.size(), '\0');
    }
    return image;
}

// The four types of the entries of the table in front of the k-th root: the
// FAT16 (LBA) type and the hidden FAT types, in turn.
std::string fatTypeTable(u32 k, u32 sectors, u32 lba) {
    static constexpr u8 TYPES[] = {0x0E, 0x11, 0x14, 0x16, 0x1B, 0x1C, 0x1E};
    auto type = [&](u32 i) { return TYPES[(k + i) % sizeof TYPES]; };
    // Starts count from the table.
    return testutil::makeMbr({{1, sectors - (lba + 1), type(0)},
                              {2, sectors - (lba + 2), type(1)},
                              {3, sectors - (lba + 3), type(2)},
                              {4, sectors - (lba + 4), type(3)}});
}

// fatSectorFlood with a table of FAT types in the first sector of every 64:
// the FAT finds behind it lie in the partitions it names, which reach every
// root behind them.
std::string namedFatFlood(u32 sectors) {
    std::string image = fatSectorFlood(sectors);
    for (u32 lba = 0; lba < sectors; lba += 64)
        image.replace(u64{lba} * 512, 512, fatTypeTable(lba / 64, sectors, lba));
    return image;
}

std::string fatTypeTableFlood(u32 sectors) {
    std::string image;
    image.reserve(static_cast<std::size_t>(sectors) * 512);
    for (u32 lba = 0; lba < sectors; ++lba)
        image += fatTypeTable(lba, sectors, lba);
    return image;
}

// Every four sectors a FAT12 boot sector (one reserved sector, two FATs of
// one sector, sixteen root entries) whose hidden sectors are its own start,
// and the first sectors of its two FATs; its root is empty.
std::string fat12BootFlood(u32 sectors) {
    std::string fat(512, '\0');
    fat[0] = static_cast<char>(0xF8);
    fat[1] = fat[2] = static_cast<char>(0xFF);
    std::string image;
    image.reserve(static_cast<std::size_t>(sectors) * 512);
    for (u32 lba = 0; lba + 4 <= sectors; lba += 4) {
        testutil::Sector boot = testutil::fatBootSector(1, 1, 16, 8, 1);
        Array(boot.data(), 512).setLE32(BS_HIDDEN_SECTORS, lba);
        image.append(boot.begin(), boot.end());
        image += fat + fat;
        image.append(512, '\0');
    }
    image.resize(static_cast<std::size_t>(sectors) * 512, '\0');
    return image;
}

void makeEbrChain(const std::string& path) {
    bench::writeFile(path, testutil::ebrChain(10000));
}

// The source as the source page opens an image file (no partition tables) or a
// whole disk (with them).
void open(Analyzer& analyzer, const std::string& path, bool disk) {
    auto* file = new dt::ReaderFile;
    SharedPtr<dt::Reader> reader(file);
    if (!file->open(path.c_str()))
        throw std::runtime_error("cannot open " + path);
    analyzer.getDriveHolder() = SharedPtr<Driver>(new Driver(reader, 512));
    setSourceKind(analyzer.getDrive()->getProperties(), disk ? "drive" : "file");
}

// The scanner page's work and the file-system page's list.
void road(benchmark::State& state, const std::string& image, bool disk) {
    setAppDirectory(HB_SOURCE_DIR "/lib");
    HeadlessInterface ui;
    std::size_t candidates = 0;
    std::size_t rows = 0;
    for (auto _ : state) {
        Analyzer analyzer(&ui);
        open(analyzer, image, disk);
        analyzer.scan(0, analyzer.getDrive()->getSectorCount(), nullptr);
        analyzer.createFSCollection();
        rows = gtk::fileSystemRows(analyzer).size();
        candidates = analyzer.getFsCollection().size();
    }
    state.counters["candidates"] = static_cast<double>(candidates);
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["peak_MiB"] = static_cast<double>(bench::peakResidentKiB()) / 1024;
}

// The argument of each flood is the image's size in MiB: the time should grow
// with it.
void BM_NtfsBootSectorFlood(benchmark::State& state) {
    road(state, flood<testutil::ntfsBootSectorFlood>(state, "ntfs-boot-flood"), false);
}
BENCHMARK(BM_NtfsBootSectorFlood)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_Fat32GridFlood(benchmark::State& state) {
    road(state, flood<testutil::fat32GridFlood>(state, "fat32-grid-flood"), false);
}
BENCHMARK(BM_Fat32GridFlood)
    ->Arg(64)
    ->Arg(160)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_PartitionGridFlood(benchmark::State& state) {
    road(state, flood<testutil::fat32PartitionGridFlood>(state, "fat32-partition-grid-flood"),
         true);
}
BENCHMARK(BM_PartitionGridFlood)
    ->Arg(64)
    ->Arg(128)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_SharedFolderFlood(benchmark::State& state) {
    road(state, flood<testutil::fat32SharedFolderFlood>(state, "fat32-shared-folder-flood"), false);
}
BENCHMARK(BM_SharedFolderFlood)
    ->Arg(64)
    ->Arg(128)
    ->Arg(256)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_FatSectorFlood(benchmark::State& state) {
    road(state, flood<fatSectorFlood>(state, "fat-sector-flood"), false);
}
BENCHMARK(BM_FatSectorFlood)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_NamedFatFlood(benchmark::State& state) {
    road(state, flood<namedFatFlood>(state, "named-fat-flood"), true);
}
BENCHMARK(BM_NamedFatFlood)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_FatTypeTableFlood(benchmark::State& state) {
    road(state, flood<fatTypeTableFlood>(state, "fat-type-table-flood"), true);
}
BENCHMARK(BM_FatTypeTableFlood)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_Fat12BootFlood(benchmark::State& state) {
    road(state, flood<fat12BootFlood>(state, "fat12-boot-flood"), true);
}
BENCHMARK(BM_Fat12BootFlood)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_EbrChain(benchmark::State& state) {
    road(state, bench::cachedImage("ebr-chain-10000.img", makeEbrChain), true);
}
BENCHMARK(BM_EbrChain)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The file-system page's rows alone, for a layout of 100,000 volumes.
void BM_FileSystemRows(benchmark::State& state) {
    DriveDescr d;
    FsCandidateList layout(100000);
    for (std::size_t i = 0; i < layout.size(); ++i) {
        layout[i].startLBA = static_cast<u32>(2 * i);
        layout[i].hasNtfsVolume = true;
        layout[i].selected = true;
        layout[i].valid = true;
        layout[i].layoutSectors = 2;
    }
    d.setLayout(std::move(layout));
    for (auto _ : state)
        benchmark::DoNotOptimize(gtk::fileSystemRows(d));
}
BENCHMARK(BM_FileSystemRows)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
