// How the tree view copes with a large folder: a folder of 100,000 files shown
// in the file list, the list sorted by each column, and the root of the tree
// marked for recovery. Runs under a display (xvfb-run); without one it says so
// and measures nothing.

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
