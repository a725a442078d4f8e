// How the windows cope with a large tree: a FAT32 volume of 100,000 files
// chosen as the wizard's last page chooses it (the tree built behind the
// program's own progress box, then shown with its default filter, which walks
// every folder behind another one), with long names (/0) and with 8.3 names
// only (/1); a folder of 100,000 files shown in the file
// list, the list sorted by each column, and the root of the tree marked for
// recovery. Runs under a display; without one it says so and measures nothing:
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_treeview
//
// The same volume's tree built without a window is bench_fat's BM_FatTreeBuild.

#include "analysis/MapInterface.h"
#include "bench/BenchSupport.h"
#include "gui/TreeViewFileList.h"
#include "tests/gui/TreeViewTestSupport.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int FILES = 100000;

// One folder of FILES files of varied sizes and times, some deleted, some
// without a time, and a few subfolders.
guitest::ShownTree& shownTree() {
    static guitest::ShownTree* shown = [] {
        std::string text = "root 5\n";
        for (int d = 0; d < 10; ++d)
            text +=
                "dir " + std::to_string(10 + d) + " in=5 name=folder" + std::to_string(d) + "\n";
        for (int i = 0; i < FILES; ++i) {
            text += "file " + std::to_string(100 + i) + " in=5 name=f" +
                    std::to_string(i * 7919 % FILES) +
                    ".dat size=" + std::to_string(i * 37 % 100000);
            if (i % 13 != 0)
                text += " time=" + std::to_string(1000000000 + i * 61 % 500000);
            if (i % 11 == 0)
                text += " deleted";
            text += "\n";
        }
        return new guitest::ShownTree(guitest::testMap(text));
    }();
    return *shown;
}

bool haveDisplay(benchmark::State& state) {
    if (guitest::gtkStarted())
        return true;
    state.SkipWithError("no display (run under xvfb-run)");
    return false;
}

// The volume's boot sector read into its parameters, as the wizard's
// file-system page hands them on.
struct FatVolume {
    explicit FatVolume(const std::string& image) : driver(bench::openFatVolume(image, fs.fat)) {
        fs.kind = FS_FAT;
    }
    FsParams fs;
    SharedPtr<Driver> driver;
    ScanResults results;
};

void BM_ChooseFatVolumeOf100kFiles(benchmark::State& state) {
    if (!haveDisplay(state))
        return;
    const FatVolume volume(state.range(0) == 0 ? bench::fatSmallFilesImage()
                                               : bench::fatShortNamesImage());
    gtk::Interface ui(nullptr);
    u64 files = 0;
    for (auto _ : state) {
        SharedPtr<tree::Map> map;
        MapInterface::buildMap(map, volume.driver, volume.fs, volume.results, false, &ui);
        auto shown = std::make_unique<guitest::ShownTree>(map);
        state.PauseTiming();
        files = bench::showAll(*static_cast<tree::MapImpl*>(map.get()));
        shown.reset();
        guitest::pumpEvents();
        state.ResumeTiming();
    }
    if (files != bench::SMALL_FILES)
        state.SkipWithError("the tree does not hold every file");
    state.counters["files"] = static_cast<double>(files);
}
// The medians of the repetitions are the figures.
BENCHMARK(BM_ChooseFatVolumeOf100kFiles)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

void BM_ShowFolderOf100kFiles(benchmark::State& state) {
    if (!haveDisplay(state))
        return;
    guitest::ShownTree& shown = shownTree();
    for (auto _ : state) {
        shown.files().showFolder(tree::START_POSITION);
        guitest::pumpEvents();
    }
    state.counters["rows"] = gtk_tree_model_iter_n_children(shown.files().model(), nullptr);
}
BENCHMARK(BM_ShowFolderOf100kFiles)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SortByColumn(benchmark::State& state) {
    if (!haveDisplay(state))
        return;
    guitest::ShownTree& shown = shownTree();
    shown.files().showFolder(tree::START_POSITION);
    GtkTreeSortable* sortable = GTK_TREE_SORTABLE(shown.files().model());
    const int column = gtk::FileListPanel::SORT_NAME + static_cast<int>(state.range(0));
    bool descending = false;
    for (auto _ : state) {
        gtk_tree_sortable_set_sort_column_id(sortable, column,
                                             descending ? GTK_SORT_DESCENDING : GTK_SORT_ASCENDING);
        guitest::pumpEvents();
        descending = !descending;
    }
    gtk_tree_sortable_set_sort_column_id(sortable, GTK_TREE_SORTABLE_UNSORTED_SORT_COLUMN_ID,
                                         GTK_SORT_ASCENDING);
}
// Name, size, modified, status.
BENCHMARK(BM_SortByColumn)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(4);

void BM_MarkTheRoot(benchmark::State& state) {
    if (!haveDisplay(state))
        return;
    guitest::ShownTree& shown = shownTree();
    bool mark = true;
    for (auto _ : state) {
        shown.view().setFolderChecked(tree::START_POSITION, mark);
        guitest::pumpEvents();
        mark = !mark;
    }
}
BENCHMARK(BM_MarkTheRoot)->Unit(benchmark::kMillisecond)->Iterations(4);

} // namespace

BENCHMARK_MAIN();
