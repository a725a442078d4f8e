// The NTFS engine on volumes made by mkntfs and filled by our builder
// (hbntfsbuild, beside the benchmarks' folder or named by HB_NTFSBUILD):
// building the tree of a volume that holds 100,000 files, and recovering 1 GiB
// of uncompressed files from an image the page cache holds, once into a sink
// that only counts and once into files on tmpfs as the Recover command writes
// them.

#include "devices/DtReaderFile.h"
#include "fs/ntfs/MftRunlist.h"
#include "fs/ntfs/NTFSMapImpl.h"
#include "fs/ntfs/NtfsLayout.h"
#include "tree/ParserRecover.h"
#include "tree/ParserSelect.h"
#include "tree/RecovererCopyOff.h"

#include <benchmark/benchmark.h>

#include <algorithm>
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

std::string shell(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

std::string builderPath() {
    if (const char* named = std::getenv("HB_NTFSBUILD"))
        return named;
    std::vector<char> exe(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    std::string dir = n > 0 ? std::string(exe.data(), static_cast<std::size_t>(n)) : "";
    dir = dir.substr(0, dir.rfind('/'));
    return dir.substr(0, dir.rfind('/')) + "/hbntfsbuild";
}

// A folder on tmpfs (the temporary directory when there is none), removed with
// everything in it.
class ScratchDir {
public:
    ScratchDir() {
        const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/hbntfsbench-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!mkdtemp(buffer.data()))
            throw std::runtime_error("mkdtemp");
        path_ = buffer.data();
    }
    ~ScratchDir() { std::system(("rm -rf " + shell(path_)).c_str()); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The builder's script (one command a line, tab-separated) on the volume, in a
// run of its own: the library hands out the records freed before it again.
void build(const std::string& image, const std::string& script, const ScratchDir& dir) {
    const std::string scriptFile = dir.file("script.txt");
    std::ofstream(scriptFile) << script;
    run("SOURCE_DATE_EPOCH=1600000000 " + shell(builderPath()) + " " + shell(image) + " -f " +
        shell(scriptFile));
}

// The source as the program opens it, and the tree as it builds it.
struct Volume {
    explicit Volume(const std::string& image) {
        auto* file = new dt::ReaderFile;
        SharedPtr<dt::Reader> reader(file);
        if (!file->open(image.c_str()))
            throw std::runtime_error("cannot open " + image);
        driver.reset(new Driver(reader, 512));
        u8 boot[512];
        if (!driver->readSectors(0, 1, boot) ||
            !ntfsFsParamsFromBootSector(0, boot, params, driver->getSectorCount()))
            throw std::runtime_error("no NTFS volume in " + image);
    }

    std::unique_ptr<tree::NTFSMapImpl> buildTree() {
        Runlist mft;
        {
            NTFSDrive drive(driver, params, &unreadable);
            recreateMftRunlist(mft, drive, FoundList<FoundRecordRun>());
        }
        auto map = std::make_unique<tree::NTFSMapImpl>(driver, params, mft, &unreadable);
        map->analyzeFoundFiles();
        map->finishTree();
        return map;
    }

    SharedPtr<Driver> driver;
    NTFS_FS_PARAMS params;
    UnreadableSectors unreadable;
};

// mkntfs, then the builder's scripts, each run on its own, and the volume
// opened; null, with the benchmark skipped, where a tool fails.
std::unique_ptr<Volume> madeVolume(benchmark::State& state, const std::string& image, u64 megabytes,
                                   const std::vector<std::string>& scripts, const ScratchDir& dir) {
    try {
        run("truncate -s " + std::to_string(megabytes) + "M " + shell(image));
        run("PATH=\"$PATH:/usr/sbin:/sbin\" mkntfs -F -Q -q -c 4096 " + shell(image) +
            " >/dev/null 2>&1");
        for (const std::string& script : scripts)
            build(image, script, dir);
        return std::make_unique<Volume>(image);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return nullptr;
    }
}

// Builds the volume's tree once an iteration; count(map) reads each tree
// outside the timing, and the last count is the counter's.
template <typename Count>
void timeTreeBuilds(benchmark::State& state, Volume& volume, const char* counter, Count count) {
    u64 counted = 0;
    for (auto _ : state) {
        auto map = volume.buildTree();
        state.PauseTiming();
        counted = count(*map);
        state.ResumeTiming();
    }
    state.counters[counter] = static_cast<double>(counted);
}

// range(0): folders the 100,000 files are spread over.
void BM_TreeOf100000Files(benchmark::State& state) {
    const u64 folders = static_cast<u64>(state.range(0));
    const u64 files = 100000;
    ScratchDir dir;
    std::ostringstream script;
    for (u64 f = 0; f < folders; ++f) {
        script << "mkdir\t/d" << f << '\n'
               << "files\t/d" << f << '\t' << files / folders << "\t100\n";
    }
    const auto volume = madeVolume(state, dir.file("files.img"), 400, {script.str()}, dir);
    if (!volume)
        return;
    u64 nodes = 0;
    for (auto _ : state) {
        auto map = volume->buildTree();
        nodes = 0;
        for (u64 f = 0; f < folders; ++f) {
            tree::Folder* top = map->getFolder(map->getRootAddress());
            for (const tree::Node& n : top->getNodes())
                if (n.isDirectory() && n.getName() == "d" + std::to_string(f))
                    nodes += map->getFolder(n.getAddress())->size();
        }
        benchmark::DoNotOptimize(nodes);
    }
    state.counters["files"] = static_cast<double>(nodes);
}

// range(0) files in a folder that was then deleted with all of them: no index
// lists them, so each is placed from its own record. The tree's search for a
// listed entry to merge with runs over the whole folder for every one of them,
// which makes this grow with the square of the count.
void BM_TreeOfDeletedFiles(benchmark::State& state) {
    const u64 files = static_cast<u64>(state.range(0));
    ScratchDir dir;
    const auto volume =
        madeVolume(state, dir.file("deleted.img"), 400,
                   {"mkdir\t/d\nfiles\t/d\t" + std::to_string(files) + "\t100\nrmtree\t/d\n"}, dir);
    if (!volume)
        return;
    for (auto _ : state) {
        auto map = volume->buildTree();
        benchmark::DoNotOptimize(map->folderCount());
    }
}

// The folder of that name in the folder at `address`, which hangs there;
// NO_FOLDER when there is none.
u64 subfolder(tree::NTFSMapImpl& map, u64 address, const std::string& name) {
    const tree::Folder* folder = map.getFolder(address);
    for (u32 i = 0; i < folder->size(); ++i) {
        const tree::Node n = folder->node(i);
        if (n.isDirectory() && n.getName() == name &&
            map.getFolder(n.getAddress())->getParent() == address)
            return n.getAddress();
    }
    return tree::NO_FOLDER;
}

// The entries of the folders named "d..." in the folder at `address` that hang
// there.
u64 entriesOfSubfolders(tree::NTFSMapImpl& map, u64 address) {
    u64 entries = 0;
    if (address == tree::NO_FOLDER)
        return entries;
    const tree::Folder* folder = map.getFolder(address);
    for (u32 i = 0; i < folder->size(); ++i) {
        const tree::Node n = folder->node(i);
        if (!n.isDirectory() || n.getName().rfind('d', 0) != 0)
            continue;
        const tree::Folder* sub = map.getFolder(n.getAddress());
        if (sub->getParent() == address)
            entries += sub->size();
    }
    return entries;
}

// range(0) folders of 5 files each, whose own records are zeroed while an
// index still names each of them. range(1): 0 they are folders of the root,
// whose index is read first; 1 they are folders of /top, whose record comes
// after the records of their files, so that each stands in "Found" until
// /top's index names it.
void BM_TreeOfLostFolders(benchmark::State& state) {
    const u64 folders = static_cast<u64>(state.range(0));
    const bool namedLast = state.range(1) != 0;
    const u64 filesEach = 5;
    const std::string top = namedLast ? "/top" : "";
    ScratchDir dir;
    std::ostringstream made;
    std::ostringstream filled;
    if (namedLast) {
        // Records for the files, freed below the folders' own.
        made << "mkdir\t/j\nfiles\t/j\t" << folders * filesEach << "\t10\nmkdir\t/top\n";
    }
    for (u64 f = 0; f < folders; ++f)
        made << "mkdir\t" << top << "/d" << f << '\n';
    if (namedLast)
        made << "rmtree\t/j\n";
    for (u64 f = 0; f < folders; ++f)
        filled << "files\t" << top << "/d" << f << '\t' << filesEach << "\t10\n";
    for (u64 f = 0; f < folders; ++f)
        filled << "zero-record\t" << top << "/d" << f << '\n';
    const auto volume =
        madeVolume(state, dir.file("lost.img"), 400, {made.str(), filled.str()}, dir);
    if (!volume)
        return;
    // Each file under the name its folder's index gives the folder.
    timeTreeBuilds(state, *volume, "placed", [&](tree::NTFSMapImpl& map) {
        const u64 root = map.getRootAddress();
        return entriesOfSubfolders(map, namedLast ? subfolder(map, root, "top") : root);
    });
}

// range(0) files in use whose data streams do not read (their run lists
// garbage) in a folder whose own record is zeroed: each is placed from its own
// record, to be told as not recovered.
void BM_TreeOfUnreadableData(benchmark::State& state) {
    const u64 files = static_cast<u64>(state.range(0));
    ScratchDir dir;
    std::ostringstream script;
    script << "mkdir\t/u\nfiles\t/u\t" << files << "\t2000\n";
    char name[16];
    for (u64 i = 1; i <= files; ++i) {
        std::snprintf(name, sizeof name, "f%06u", static_cast<unsigned>(i));
        script << "corrupt-data\t/u/" << name << '\t' << ntfslayout::ATTR_NON_RESIDENT_HEADER_SIZE
               << "\tff\n";
    }
    script << "zero-record\t/u\n";
    const auto volume = madeVolume(state, dir.file("unreadable.img"), 400, {script.str()}, dir);
    if (!volume)
        return;
    timeTreeBuilds(state, *volume, "placed", [](tree::NTFSMapImpl& map) {
        const u64 folder = subfolder(map, map.getRootAddress(), "u");
        return folder == tree::NO_FOLDER ? 0 : map.getFolder(folder)->size();
    });
}

// Counts what it is given and keeps nothing.
class CountingRecoverer : public tree::Recoverer {
public:
    void beginFile(const tree::FileEntry&, const std::vector<std::string>&) override {}
    void write(const void*, u32 size) override { bytes += size; }
    void endFile() override {}
    u64 bytes = 0;
};

constexpr u64 FILE_MIB = 64;
constexpr u64 FILES = 16; // 1 GiB

// range(0): 0 counts the data, 1 writes it to files on tmpfs.
void BM_Recover1GiB(benchmark::State& state) {
    const bool toFiles = state.range(0) != 0;
    ScratchDir dir;
    const std::string image = dir.file("data.img");
    const std::string data = dir.file("data.bin");
    {
        std::vector<char> bytes(FILE_MIB << 20);
        u32 x = 12345;
        for (char& c : bytes) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 23);
        }
        std::ofstream(data, std::ios::binary).write(bytes.data(), bytes.size());
    }
    std::ostringstream script;
    script << "mkdir\t/big\n";
    for (u64 i = 0; i < FILES; ++i)
        script << "write\t/big/file" << i << ".bin\t" << data << '\n';
    const auto volume = madeVolume(state, image, FILES * FILE_MIB + 200, {script.str()}, dir);
    unlink(data.c_str());
    if (!volume)
        return;
    auto map = volume->buildTree();
    u64 bytes = 0;
    for (auto _ : state) {
        // The walk takes the marks off what it recovered.
        state.PauseTiming();
        tree::ParserSelect(map.get(), "").run(tree::START_POSITION, true, nullptr);
        state.ResumeTiming();
        std::ostringstream report;
        if (toFiles) {
            const std::string out = dir.file("out");
            tree::RecovererCopyOff recoverer(out, out, 2147483647ull);
            tree::ParserRecover(map.get(), &report, &recoverer, nullptr).run();
            state.PauseTiming();
            run("rm -rf " + shell(out));
            state.ResumeTiming();
            bytes = FILES * (FILE_MIB << 20);
        } else {
            CountingRecoverer recoverer;
            tree::ParserRecover(map.get(), &report, &recoverer, nullptr).run();
            bytes = FILES * (FILE_MIB << 20);
            if (recoverer.bytes < bytes)
                state.SkipWithError("the files did not come back whole");
        }
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * bytes));
}

} // namespace

BENCHMARK(BM_TreeOf100000Files)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TreeOfDeletedFiles)
    ->Arg(10000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_TreeOfLostFolders)
    ->Args({2000, 0})
    ->Args({8000, 0})
    ->Args({2000, 1})
    ->Args({8000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_TreeOfUnreadableData)
    ->Arg(5000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_Recover1GiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
