// The two panes of the tree view: sorting, loading, marks and the guard
// around their callbacks.

#include "gui/TreeViewFileList.h"
#include "gui/TreeViewFolderTree.h"
#include "gui/TreeViewPanels.h"

#include "core/Intl.h"
#include "core/Progress.h"
#include "tests/gui/TreeViewTestSupport.h"

#include <clocale>
#include <gdk/gdkkeysyms.h>
#include <stdexcept>

namespace {

using gtk::FileListPanel;
using guitest::ShownTree;

// Files of every sort key: sizes, times (one without), deleted and status.
const char* const SORTABLE = R"(
root 5
dir 10 in=5 name=zeta
dir 11 in=5 name=Alpha
file 20 in=5 name=b.txt size=300 time=2000
file 21 in=5 name=a.txt size=300 time=1000
file 22 in=5 name=C.txt size=100
file 23 in=5 name=d.txt size=200 time=3000 deleted
entry 5 24 name=e.txt size=50 time=500
)";

class FileListTest : public guitest::GuiTest {
protected:
    // The names in the list, blank-separated.
    std::string sorted(ShownTree& shown, int column, GtkSortType order) {
        gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(shown.files().model()), column,
                                             order);
        std::string names;
        for (const std::string& name : guitest::fileNames(shown.files()))
            names += (names.empty() ? "" : " ") + name;
        return names;
    }
};

TEST_F(FileListTest, SortingKeepsFoldersFirstAndTiesInNameOrder) {
    ShownTree shown(guitest::testMap(SORTABLE));
    // Show the invalid entry too.
    shown.view().filter().set(0);
    shown.view().applyFilter();
    // Folders first, no time and deleted last in both orders, ties by name.
    using P = FileListPanel;
    const GtkSortType UP = GTK_SORT_ASCENDING, DOWN = GTK_SORT_DESCENDING;
    const struct {
        int column;
        GtkSortType order;
        const char* names;
    } cases[] = {
        {P::SORT_NAME, UP, "Alpha zeta a.txt b.txt C.txt d.txt e.txt"},
        {P::SORT_NAME, DOWN, "zeta Alpha e.txt d.txt C.txt b.txt a.txt"},
        {P::SORT_SIZE, UP, "Alpha zeta e.txt C.txt d.txt a.txt b.txt"},
        {P::SORT_SIZE, DOWN, "Alpha zeta a.txt b.txt d.txt C.txt e.txt"},
        {P::SORT_MODIFIED, UP, "Alpha zeta e.txt a.txt b.txt d.txt C.txt"},
        {P::SORT_MODIFIED, DOWN, "Alpha zeta d.txt b.txt a.txt e.txt C.txt"},
        {P::SORT_STATUS, UP, "Alpha zeta a.txt b.txt C.txt e.txt d.txt"},
        {P::SORT_STATUS, DOWN, "Alpha zeta e.txt a.txt b.txt C.txt d.txt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sorted(shown, c.column, c.order), c.names) << c.column << ' ' << c.order;
}

// A clock that moves on by `step` microseconds at every look.
gint64 fakeNow = 0;
gint64 fakeStep = 0;
gint64 fakeClock() {
    fakeNow += fakeStep;
    return fakeNow;
}

std::string bigFolder(int files) {
    std::string text = "root 5\n";
    for (int i = 0; i < files; ++i)
        text += "file " + std::to_string(100 + i) + " in=5 name=f" + std::to_string(i) + "\n";
    return text;
}

TEST_F(FileListTest, TitlesAndWholeTimesShowUncutInEveryLanguage) {
    testutil::ScopedTimeZone zone("UTC");
    // 12/28/2028 08:58:58pm: every field of a time at its widest.
    ShownTree shown(guitest::testMap("root 5\nfile 20 in=5 name=a.txt size=1 time=1861649938\n"));
    // Our catalogue bound as the program binds it; the messages' locale, the
    // domain and the program language (for the date format) put back at the end.
    bindtextdomain(TEXT_DOMAIN, HB_BINARY_DIR "/lib/locale");
    bind_textdomain_codeset(TEXT_DOMAIN, "UTF-8");
    const std::string domain = textdomain(nullptr);
    const std::string locale = std::setlocale(LC_MESSAGES, nullptr);
    textdomain(TEXT_DOMAIN);
    const struct {
        int language;
        const char* locale;
        const char* sizeTitle;
    } languages[] = {{0, "C", "Size (Bytes)"},
                     {1, "de_DE.UTF-8", "Größe (Bytes)"},
                     {2, "ja_JP.UTF-8", "サイズ (バイト)"}};
    for (const auto& l : languages) {
        if (!std::setlocale(LC_MESSAGES, l.locale))
            continue; // this machine lacks the locale
        Preferences::instance().language() = l.language;
        shown.view().refreshTexts();
        guitest::pumpEvents();
        FileListPanel& list = shown.files();
        EXPECT_STREQ(gtk_tree_view_column_get_title(list.column(1)), l.sizeTitle);
        // The last column takes what room is left; the others must hold their
        // titles at the width they start with.
        for (int i = 0; i < 3; ++i) {
            GtkRequisition wanted;
            gtk_widget_size_request(list.column(i)->button, &wanted);
            EXPECT_LE(wanted.width, list.column(i)->button->allocation.width)
                << l.locale << ": " << gtk_tree_view_column_get_title(list.column(i));
        }
        GtkTreeIter row;
        ASSERT_TRUE(gtk_tree_model_get_iter_first(list.model(), &row));
        const std::string time = guitest::rowString(list.model(), &row, FileListPanel::COL_TIME);
        PangoLayout* layout = gtk_widget_create_pango_layout(GTK_WIDGET(list.view()), time.c_str());
        int textWidth = 0;
        pango_layout_get_pixel_size(layout, &textWidth, nullptr);
        g_object_unref(layout);
        GtkTreePath* path = gtk_tree_model_get_path(list.model(), &row);
        GdkRectangle cell;
        gtk_tree_view_get_cell_area(list.view(), path, list.column(2), &cell);
        gtk_tree_path_free(path);
        // The text renderer keeps 2 pixels free on either side.
        EXPECT_LE(textWidth + 4, cell.width) << l.locale << ": " << time;
    }
    std::setlocale(LC_MESSAGES, locale.c_str());
    textdomain(domain.c_str());
    Preferences::instance().language() = 0;
}

TEST_F(FileListTest, OnlyASlowFolderShowsTheLoadingBox) {
    ShownTree shown(guitest::testMap(bigFolder(2500)));
    gtk::GuiClock previous = gtk::setGuiClock(fakeClock);
    fakeStep = 1000; // a millisecond a look: quick
    shown.files().showFolder(tree::START_POSITION);
    EXPECT_FALSE(shown.files().showedProgress());
    EXPECT_EQ(2500u, guitest::fileNames(shown.files()).size());

    fakeStep = 200000; // 0.4 s between the start and the 1000th row
    shown.files().showFolder(tree::START_POSITION);
    EXPECT_TRUE(shown.files().showedProgress());
    EXPECT_EQ(2500u, guitest::fileNames(shown.files()).size());
    gtk::setGuiClock(previous);
}

TEST_F(FileListTest, CancellingTheLoadingBoxKeepsTheRowsSoFar) {
    ShownTree shown(guitest::testMap(bigFolder(2500)));
    gtk::GuiClock previous = gtk::setGuiClock(fakeClock);
    fakeStep = 400000;
    guitest::cancelProgressBoxWhenShown("Please Wait");
    shown.files().showFolder(tree::START_POSITION);
    gtk::setGuiClock(previous);
    EXPECT_TRUE(shown.files().showedProgress());
    EXPECT_EQ(1000u, guitest::fileNames(shown.files()).size());
    // The list stays usable.
    EXPECT_TRUE(guitest::selectFile(shown.files(), "f10"));
    tree::MapPosition cursor;
    EXPECT_TRUE(shown.files().getCursor(cursor));
}

class FolderTreeTest : public guitest::GuiTest {};

TEST_F(FolderTreeTest, FoldersLoadTwoLevelsBelowWhatIsExpanded) {
    ShownTree shown(guitest::testMap(R"(
root 5
dir 10 in=5 name=a
dir 11 in=10 name=b
dir 12 in=11 name=c
dir 13 in=12 name=d
file 20 in=13 name=f.txt
)"));
    // ROOT is expanded: its children and theirs are rows, nothing deeper.
    EXPECT_EQ((std::vector<std::string>{"ROOT", "  a", "    b"}),
              guitest::folderRows(shown.folders()));
    GtkTreeIter a;
    ASSERT_TRUE(guitest::findFolderRow(shown.folders(), "ROOT/a", a));
    GtkTreePath* path = gtk_tree_model_get_path(shown.folders().model(), &a);
    gtk_tree_view_expand_row(shown.folders().view(), path, FALSE);
    gtk_tree_path_free(path);
    EXPECT_EQ((std::vector<std::string>{"ROOT", "  a", "    b", "      c"}),
              guitest::folderRows(shown.folders()));
}

TEST_F(FolderTreeTest, TickingAFolderMarksItsSubtree) {
    ShownTree shown(guitest::testMap(guitest::SAMPLE_TREE));
    GtkTreeIter docs;
    ASSERT_TRUE(guitest::findFolderRow(shown.folders(), "ROOT/docs", docs));
    guitest::setCursor(shown.folders().view(), shown.folders().model(), &docs);
    guitest::pumpEvents();
    gtk_widget_grab_focus(GTK_WIDGET(shown.folders().view()));
    // The space key toggles the mark and goes no further.
    EXPECT_TRUE(guitest::pressKey(GTK_WIDGET(shown.folders().view()), GDK_KEY_space));
    EXPECT_TRUE(shown.folders().rowShowsMark(&docs));
    GtkTreeIter deep;
    ASSERT_TRUE(guitest::findFolderRow(shown.folders(), "ROOT/docs/deep", deep));
    EXPECT_TRUE(shown.folders().rowShowsMark(&deep));
    GtkTreeIter root;
    ASSERT_TRUE(guitest::findFolderRow(shown.folders(), "ROOT", root));
    EXPECT_TRUE(shown.folders().rowShowsMark(&root));
    // The file list shows docs: every row marked.
    for (const guitest::FileRow& row : guitest::fileRows(shown.files()))
        EXPECT_TRUE(shown.view().isMarked(row.position)) << row.name;
    std::vector<guitest::FileRow> rows = guitest::fileRows(shown.files());
    EXPECT_NE(rows[0].icon, rows[1].icon); // a marked folder, a marked file
    // Other keys are left to the view.
    EXPECT_FALSE(guitest::pressKey(GTK_WIDGET(shown.folders().view()), GDK_KEY_a));
}

class TreeViewPanelsTest : public guitest::GuiTest {};

TEST_F(TreeViewPanelsTest, GuardKeepsFailuresOutOfGtk) {
    testutil::ScriptedMessages messages;
    gtk::guardCallback("test", [] { throw InterruptedException(); });
    EXPECT_TRUE(messages.asked().empty());
    gtk::guardCallback("test", [] { throw std::runtime_error("Map(<12>)"); });
    ASSERT_EQ(1u, messages.asked().size());
    EXPECT_EQ(MESSAGE_ERROR, messages.asked()[0].kind);
    EXPECT_EQ("An internal error stopped the command:\nMap(&lt;12&gt;)", messages.asked()[0].text);
    gtk::guardCallback("test", [] { throw 42; });
    ASSERT_EQ(2u, messages.asked().size());
    EXPECT_EQ("Unknown exception", messages.asked()[1].text);
    bool ran = false;
    gtk::guardCallback("test", [&ran] { ran = true; });
    EXPECT_TRUE(ran);
}

} // namespace
