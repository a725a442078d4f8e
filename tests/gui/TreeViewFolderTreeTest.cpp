#include "gui/TreeViewFolderTree.h"

#include "tests/gui/TreeViewTestSupport.h"

#include <gdk/gdkkeysyms.h>

namespace {

using guitest::ShownTree;

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

} // namespace
