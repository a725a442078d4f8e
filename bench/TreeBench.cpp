// The tree on the shapes a hostile disk can give it, against a plain one of as
// many files: every phase should cost about what the entries cost.
//
//   BM_EngineTree/<shape>  the tests' in-memory engine (tests/support/TestEngine)
//                          with 100,000 files in one folder, 100,000 sibling
//                          folders of one file each, or 20,000 nested folders of
//                          one file each: the tree built as the program builds
//                          it (with a progress sink), every folder shown, the
//                          report written, everything recovered into tmpfs;
//   BM_FatTree/<shape>     a FAT32 volume made by mkfs.fat and mmd holding
//                          100,000 sibling folders or 20,000 nested ones: built,
//                          shown and reported; and the nested ones with every
//                          folder's "." and ".." overwritten, live or deleted
//                          as a system deletes them (each folder is then read
//                          by the entry that names it).
//
// The report and the recovery stop descending at the walk's path limit, as
// the program's do. The counters give each phase's seconds; the FAT images are
// made once per run (the siblings take mtools a long while).
//
//   build/bench/bench_tree [--benchmark_filter=...]

#include "bench/BenchSupport.h"
#include "fs/DirectoryEntry.h"
#include "fs/FatLayout.h"
#include "tests/support/TestEngine.h"
#include "tree/ParserRecover.h"
#include "tree/ParserReport.h"
#include "tree/ParserSelect.h"
#include "tree/RecovererCopyOff.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

namespace {

enum Shape : int {
    FILES = 0,
    SIBLINGS = 1,
    NESTED = 2,
    NESTED_DOTS_HURT = 3,
    DELETED_DOTS_HURT = 4
};
constexpr u64 WIDE = 100000;
constexpr u64 DEEP = 20000;
// A FAT folder holds at most 65,536 entries (mtools goes round past them).
constexpr u64 FAT_WIDE = 65000;
const char* const SHAPE_NAMES[] = {"files", "siblings", "nested", "nested, dots hurt",
                                   "nested deleted, dots hurt"};

// Runs one phase and keeps its seconds as a counter.
void phase(benchmark::State& state, const char* name, const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.counters[name] = took.count();
}

std::string engineDescription(Shape shape) {
    std::string text = "root 5\n";
    const u64 folders = shape == FILES ? 0 : shape == SIBLINGS ? WIDE : DEEP;
    const u64 firstFile = 10 + folders;
    char line[96];
    for (u64 i = 0; i < folders; ++i) {
        const u64 parent = shape == NESTED && i > 0 ? 10 + i - 1 : 5;
        std::snprintf(line, sizeof line, "dir %llu in=%llu name=d%06llu\n",
                      static_cast<unsigned long long>(10 + i),
                      static_cast<unsigned long long>(parent), static_cast<unsigned long long>(i));
        text += line;
    }
    const u64 files = shape == FILES ? WIDE : folders;
    for (u64 i = 0; i < files; ++i) {
        std::snprintf(line, sizeof line, "file %llu in=%llu name=f%06llu.txt size=100\n",
                      static_cast<unsigned long long>(firstFile + i),
                      static_cast<unsigned long long>(shape == FILES ? 5 : 10 + i),
                      static_cast<unsigned long long>(i));
        text += line;
    }
    return text;
}

void report(tree::Map& map) {
    std::ostringstream out;
    tree::ParserReport(&map, &out, false, nullptr).run();
    benchmark::DoNotOptimize(out.str().size());
}

void BM_EngineTree(benchmark::State& state) {
    const Shape shape = static_cast<Shape>(state.range(0));
    state.SetLabel(SHAPE_NAMES[shape]);
    const testutil::TestDescription description =
        testutil::TestDescription::parse(engineDescription(shape));
    const std::string out = bench::scratch().file("out");
    bench::QuietProgress progress;
    for (auto _ : state) {
        auto engine = std::make_unique<testutil::TestEngine>(description);
        phase(state, "build", [&] {
            InterfaceCallbackScope scope(*engine, &progress);
            engine->finishTree();
            engine->analyzeFoundFiles();
            engine->finishTree();
        });
        phase(state, "show", [&] { benchmark::DoNotOptimize(bench::showAll(*engine)); });
        phase(state, "report", [&] { report(*engine); });
        bench::shell("rm -rf " + bench::quote(out));
        phase(state, "recover", [&] {
            tree::ParserSelect(engine.get(), "").run(tree::START_POSITION, true, nullptr);
            tree::RecovererCopyOff recoverer(out, out, 0);
            std::ostringstream text;
            tree::ParserRecover(engine.get(), &text, &recoverer, nullptr).run();
        });
        state.counters["folders"] = static_cast<double>(engine->folderCount());
    }
}

// mmd makes each folder from the root down, and mtools' paths are short: the
// deep chain is made a hundred levels at a time and each finished chain moved
// into the bottom of the next.
void makeNestedImage(const std::string& image) {
    bench::shell("rm -f " + bench::quote(image) + " && mkfs.fat -C -F 32 -s 1 -i 1234abcd " +
                 bench::quote(image) + " 131072 >/dev/null");
    constexpr u64 LEVELS = 100;
    for (u64 round = 0; round < DEEP / LEVELS; ++round) {
        std::string folder = "::/C" + std::to_string(round);
        std::string folders = bench::quote(folder);
        for (u64 level = 1; level < LEVELS; ++level) {
            folder += "/A";
            folders += " " + bench::quote(folder);
        }
        bench::shell("mmd -i " + bench::quote(image) + " " + folders);
        if (round > 0)
            bench::shell("mmove -i " + bench::quote(image) + " ::/C" + std::to_string(round - 1) +
                         " " + bench::quote(folder + "/"));
    }
}

// About ten minutes: mmd searches the folder for every name it adds.
void makeSiblingsImage(const std::string& image) {
    bench::shell("rm -f " + bench::quote(image) + " && mkfs.fat -C -F 32 -i 1234abcd " +
                 bench::quote(image) + " 1048576 >/dev/null");
    bench::shell("seq -f '::/D%06g' 1 " + std::to_string(FAT_WIDE) + " | xargs mmd -i " +
                 bench::quote(image));
}

// The nested volume with the "." and ".." of every folder overwritten by bytes
// that are no entry; `deleted`: every folder deleted too, its entry marked and
// its cluster freed in both FATs. The deleted entries that the moves left in
// the root become empty deleted files: read first, they would take the
// clusters of folders deep below, which their live entries name too.
void hurtNestedDots(const std::string& image, bool deleted) {
    const std::string nested = bench::cachedImage("nested.img", makeNestedImage);
    FAT_FS_PARAMS params;
    bench::openFatVolume(nested, params);
    std::ifstream in(nested, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const u64 clusterBytes = u64{params.sectorsPerCluster} * 512;
    for (u32 c = 2; c < params.get_cluster_count() + 2; ++c) {
        const u64 at = params.get_cluster_LBA(c) * 512;
        const u8* first = reinterpret_cast<const u8*>(bytes.data() + at);
        const bool folder = isDotEntry(first) && isDotDotEntry(first + DIR_ENTRY_BYTES);
        if (!folder && c != params.rootCluster)
            continue;
        if (folder)
            bytes.replace(at, 2 * DIR_ENTRY_BYTES, 2 * DIR_ENTRY_BYTES, '\xFF');
        for (u64 e = at; e < at + clusterBytes; e += DIR_ENTRY_BYTES) {
            const u8* entry = reinterpret_cast<const u8*>(bytes.data() + e);
            if ((dirEntryAttributes(entry) & ATTR_DIRECTORY) == 0 || !isValidShortDirEntry(entry))
                continue;
            if (entry[DE_NAME] == ENTRY_DELETED) {
                bytes[e + DE_ATTRIBUTES] = static_cast<char>(ATTR_ARCHIVE);
                bytes.replace(e + DE_CLUSTER_HIGH, 2, 2, '\0');
                bytes.replace(e + DE_CLUSTER_LOW, 2, 2, '\0');
            } else if (deleted && entry[DE_NAME] != ENTRY_FREE) {
                bytes[e + DE_NAME] = static_cast<char>(ENTRY_DELETED);
            }
        }
        if (deleted && c != params.rootCluster) {
            for (u64 fat : {params.fatLBA, params.fatMirrLBA})
                bytes.replace(fat * 512 + u64{c} * 4, 4, 4, '\0');
        }
    }
    bench::writeFile(image, bytes);
}

void makeNestedDotsHurtImage(const std::string& image) {
    hurtNestedDots(image, false);
}

void makeDeletedDotsHurtImage(const std::string& image) {
    hurtNestedDots(image, true);
}

std::string fatTreeImage(Shape shape) {
    switch (shape) {
    case NESTED:
        return bench::cachedImage("nested.img", makeNestedImage);
    case NESTED_DOTS_HURT:
        return bench::cachedImage("nested-dots-hurt.img", makeNestedDotsHurtImage);
    case DELETED_DOTS_HURT:
        return bench::cachedImage("nested-deleted-dots-hurt.img", makeDeletedDotsHurtImage);
    default:
        return bench::cachedImage("siblings.img", makeSiblingsImage);
    }
}

void BM_FatTree(benchmark::State& state) {
    const Shape shape = static_cast<Shape>(state.range(0));
    state.SetLabel(SHAPE_NAMES[shape]);
    const std::string image = fatTreeImage(shape);
    bench::QuietProgress progress;
    for (auto _ : state) {
        std::unique_ptr<bench::FatTree> tree;
        phase(state, "build", [&] { tree = std::make_unique<bench::FatTree>(image, &progress); });
        phase(state, "show", [&] { benchmark::DoNotOptimize(tree->showAll()); });
        phase(state, "report", [&] { report(*tree->map); });
        state.counters["folders"] = static_cast<double>(tree->map->folderCount());
    }
}

} // namespace

BENCHMARK(BM_EngineTree)
    ->Arg(FILES)
    ->Arg(SIBLINGS)
    ->Arg(NESTED)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK(BM_FatTree)
    ->Arg(SIBLINGS)
    ->Arg(NESTED)
    ->Arg(NESTED_DOTS_HURT)
    ->Arg(DELETED_DOTS_HURT)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

BENCHMARK_MAIN();
