#include "gui/TreeViewFileList.h"

#include "tests/gui/TreeViewTestSupport.h"

namespace {

using gtk::FileListPanel;
using gtk::statusLevel;
using guitest::ShownTree;

TEST(StatusLevelTest, RatingsByKindCodeAndDeletion) {
    // FAT
    EXPECT_EQ(gtk::LEVEL_EXCELLENT, statusLevel(tree::MAP_FAT, 0, false));
    EXPECT_EQ(gtk::LEVEL_GOOD, statusLevel(tree::MAP_FAT, 1, true));
    EXPECT_EQ(gtk::LEVEL_POSSIBLE, statusLevel(tree::MAP_FAT, 2, false));
    EXPECT_EQ(gtk::LEVEL_POOR, statusLevel(tree::MAP_FAT, 2, true));
    // NTFS
    EXPECT_EQ(gtk::LEVEL_EXCELLENT, statusLevel(tree::MAP_NTFS, 0, false));
    EXPECT_EQ(gtk::LEVEL_GOOD, statusLevel(tree::MAP_NTFS, 0, true));
    EXPECT_EQ(gtk::LEVEL_GOOD, statusLevel(tree::MAP_NTFS, 1, false));
    EXPECT_EQ(gtk::LEVEL_POSSIBLE, statusLevel(tree::MAP_NTFS, 1, true));
    EXPECT_EQ(gtk::LEVEL_UNRECOVERABLE, statusLevel(tree::MAP_NTFS, 2, false));
    // Carved files; codes above 2 count as 2.
    EXPECT_EQ(gtk::LEVEL_GOOD, statusLevel(tree::MAP_CBR, 0, false));
    EXPECT_EQ(gtk::LEVEL_POSSIBLE, statusLevel(tree::MAP_CBR, 1, false));
    EXPECT_EQ(gtk::LEVEL_POOR, statusLevel(tree::MAP_CBR, 7, false));
}

TEST(StatusLevelTest, MarkupEscapesTheTechnicalText) {
    EXPECT_EQ("<span foreground=\"#FF0000\">Unrecoverable</span>  /  a &lt;b&gt; &amp; c",
              gtk::statusMarkup(tree::MAP_NTFS, 2, false, false, "a <b> & c"));
    EXPECT_EQ("Folder  /  Deleted: Found",
              gtk::statusMarkup(tree::MAP_NTFS, 1, true, true, "Found"));
}

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
    std::vector<std::string> sorted(ShownTree& shown, int column, GtkSortType order) {
        gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(shown.files().model()), column,
                                             order);
        return guitest::fileNames(shown.files());
    }
};

TEST_F(FileListTest, SortingKeepsFoldersFirstAndTiesInNameOrder) {
    ShownTree shown(guitest::testMap(SORTABLE));
    // Show the invalid entry too.
    shown.view().filter().set(0);
    shown.view().applyFilter();
    using V = std::vector<std::string>;
    EXPECT_EQ((V{"Alpha", "zeta", "a.txt", "b.txt", "C.txt", "d.txt", "e.txt"}),
              sorted(shown, FileListPanel::SORT_NAME, GTK_SORT_ASCENDING));
    EXPECT_EQ((V{"zeta", "Alpha", "e.txt", "d.txt", "C.txt", "b.txt", "a.txt"}),
              sorted(shown, FileListPanel::SORT_NAME, GTK_SORT_DESCENDING));
    EXPECT_EQ((V{"Alpha", "zeta", "e.txt", "C.txt", "d.txt", "a.txt", "b.txt"}),
              sorted(shown, FileListPanel::SORT_SIZE, GTK_SORT_ASCENDING));
    EXPECT_EQ((V{"Alpha", "zeta", "a.txt", "b.txt", "d.txt", "C.txt", "e.txt"}),
              sorted(shown, FileListPanel::SORT_SIZE, GTK_SORT_DESCENDING));
    // No time comes last in both orders.
    EXPECT_EQ((V{"Alpha", "zeta", "e.txt", "a.txt", "b.txt", "d.txt", "C.txt"}),
              sorted(shown, FileListPanel::SORT_MODIFIED, GTK_SORT_ASCENDING));
    EXPECT_EQ((V{"Alpha", "zeta", "d.txt", "b.txt", "a.txt", "e.txt", "C.txt"}),
              sorted(shown, FileListPanel::SORT_MODIFIED, GTK_SORT_DESCENDING));
    // Deleted last in both orders; the invalid entry (code 2) after the valid.
    EXPECT_EQ((V{"Alpha", "zeta", "a.txt", "b.txt", "C.txt", "e.txt", "d.txt"}),
              sorted(shown, FileListPanel::SORT_STATUS, GTK_SORT_ASCENDING));
    EXPECT_EQ((V{"Alpha", "zeta", "e.txt", "a.txt", "b.txt", "C.txt", "d.txt"}),
              sorted(shown, FileListPanel::SORT_STATUS, GTK_SORT_DESCENDING));
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
    // Answer the box as soon as the first poll runs events.
    g_idle_add(
        [](gpointer) -> gboolean {
            GtkDialog* box = guitest::findVisibleDialog();
            if (box)
                gtk_dialog_response(box, GTK_RESPONSE_CANCEL);
            return FALSE;
        },
        nullptr);
    shown.files().showFolder(tree::START_POSITION);
    gtk::setGuiClock(previous);
    EXPECT_TRUE(shown.files().showedProgress());
    EXPECT_EQ(1000u, guitest::fileNames(shown.files()).size());
    // The list stays usable.
    EXPECT_TRUE(guitest::selectFile(shown.files(), "f10"));
    tree::MapPosition cursor;
    EXPECT_TRUE(shown.files().getCursor(cursor));
}

} // namespace
