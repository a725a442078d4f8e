#include "gui/TreeInterfaceImpl.h"

#include "analysis/MapInterface.h"
#include "core/System.h"
#include "fs/Params.h"
#include "gui/FilterDialog.h"
#include "tests/gui/TreeViewTestSupport.h"
#include "tests/support/FsImages.h"

#include <gdk/gdkkeysyms.h>

namespace {

using guitest::DialogScript;
using guitest::ShownTree;

class TreeInterfaceImplTest : public guitest::EnglishUtcTest {};

TEST_F(TreeInterfaceImplTest, FoldersInTheTreeFilesInTheList) {
    ShownTree shown(guitest::testMap(guitest::SAMPLE_TREE));
    // The empty folder, the file with sector errors and the invalid file are
    // hidden by the default filter.
    EXPECT_EQ(0x83u, shown.view().filter().get());
    EXPECT_EQ((std::vector<std::string>{"ROOT", "  docs", "    deep"}),
              guitest::folderRows(shown.folders()));
    EXPECT_EQ((std::vector<std::string>{"docs", "a.docx", "notes.txt"}),
              guitest::fileNames(shown.files()));
    std::vector<guitest::FileRow> rows = guitest::fileRows(shown.files());
    EXPECT_EQ("<DIR>", rows[0].size);
    EXPECT_EQ("Folder  /  Valid", rows[0].status);
    EXPECT_EQ("1,234,567", rows[2].size);
    EXPECT_EQ("<span foreground=\"#008000\">Excellent</span>  /  Valid", rows[2].status);
    EXPECT_EQ("Invalid Time", rows[2].time);
    // The root row is the folder tree's cursor, its contents the file list.
    tree::MapPosition current;
    ASSERT_TRUE(shown.folders().getSelected(current));
    EXPECT_EQ(tree::START_POSITION, current);
}

TEST_F(TreeInterfaceImplTest, UnmarkingTheOnlyMarkedFileClearsTheFoldersAbove) {
    ShownTree shown(guitest::testMap(guitest::SAMPLE_TREE));
    ASSERT_TRUE(shown.openFolder("ROOT/docs/deep"));
    ASSERT_TRUE(guitest::selectFile(shown.files(), "inner.txt"))
        << testing::PrintToString(guitest::fileNames(shown.files()));
    shown.files().toggleCheck();
    GtkTreeIter deep;
    GtkTreeIter docs;
    GtkTreeIter root;
    ASSERT_TRUE(guitest::findFolderRow(shown.folders(), "ROOT/docs/deep", deep));
    ASSERT_TRUE(guitest::findFolderRow(shown.folders(), "ROOT/docs", docs));
    ASSERT_TRUE(guitest::findFolderRow(shown.folders(), "ROOT", root));
    EXPECT_TRUE(shown.folders().rowShowsMark(&deep));
    EXPECT_TRUE(shown.folders().rowShowsMark(&docs));
    EXPECT_TRUE(shown.folders().rowShowsMark(&root));

    gtk_widget_grab_focus(GTK_WIDGET(shown.files().view()));
    EXPECT_TRUE(guitest::pressKey(GTK_WIDGET(shown.files().view()), GDK_KEY_space));
    EXPECT_FALSE(shown.folders().rowShowsMark(&deep));
    EXPECT_FALSE(shown.folders().rowShowsMark(&docs));
    EXPECT_FALSE(shown.folders().rowShowsMark(&root));
}

TEST_F(TreeInterfaceImplTest, MarksStayInStepAfterSortingByAnotherColumn) {
    ShownTree shown(guitest::testMap(guitest::SAMPLE_TREE));
    ASSERT_TRUE(shown.openFolder("ROOT/docs"));
    gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(shown.files().model()),
                                         gtk::FileListPanel::SORT_SIZE, GTK_SORT_DESCENDING);
    ASSERT_TRUE(guitest::selectFile(shown.files(), "old.txt"));
    shown.files().toggleCheck();
    GtkTreeIter docs;
    ASSERT_TRUE(guitest::findFolderRow(shown.folders(), "ROOT/docs", docs));
    guitest::setCursor(shown.folders().view(), shown.folders().model(), &docs);
    shown.folders().toggleCheck();
    // Every row's icon agrees with its own node.
    const gtk::PaneIcons& icons = shown.files().icons();
    for (const guitest::FileRow& row : guitest::fileRows(shown.files())) {
        std::unique_ptr<tree::MapIterator> cursor =
            shown.view().cursorAt(row.position, true, false);
        EXPECT_EQ(icons.of(cursor->isDirectory(), cursor->isSelected()), row.icon) << row.name;
    }
}

TEST_F(TreeInterfaceImplTest, SelectByMaskTagsMatchingFiles) {
    ShownTree shown(guitest::testMap(guitest::SAMPLE_TREE));
    DialogScript script;
    script.then(DialogScript::titled("Select By Mask"), [](GtkDialog* dialog) {
        std::vector<GtkWidget*> entries = guitest::findWidgets(GTK_WIDGET(dialog), GTK_TYPE_ENTRY);
        gtk_entry_set_text(GTK_ENTRY(entries[0]), "*.docx");
        gtk_dialog_response(dialog, GTK_RESPONSE_ACCEPT);
    });
    shown.view().selectByMask();
    EXPECT_EQ(1u, script.answered());
    std::vector<guitest::FileRow> rows = guitest::fileRows(shown.files());
    EXPECT_FALSE(shown.view().isMarked(rows[0].position)); // docs
    EXPECT_TRUE(shown.view().isMarked(rows[1].position));  // a.docx
    EXPECT_FALSE(shown.view().isMarked(rows[2].position)); // notes.txt
    GtkTreeIter root;
    ASSERT_TRUE(guitest::findFolderRow(shown.folders(), "ROOT", root));
    EXPECT_TRUE(shown.folders().rowShowsMark(&root));
    EXPECT_EQ("*.docx", shown.view().selectByMaskRecord().mask());
}

TEST_F(TreeInterfaceImplTest, TheFilterDialogHidesDeletedEntries) {
    ShownTree shown(guitest::testMap(guitest::SAMPLE_TREE));
    ASSERT_TRUE(shown.openFolder("ROOT/docs"));
    ASSERT_EQ(3u, guitest::fileNames(shown.files()).size());
    DialogScript script;
    script.then(DialogScript::titled("Filter"), [](GtkDialog* dialog) {
        std::vector<GtkWidget*> menus =
            guitest::findWidgets(GTK_WIDGET(dialog), GTK_TYPE_COMBO_BOX);
        gtk_combo_box_set_active(GTK_COMBO_BOX(menus[2]), gtk::MapFilterEditor::ROW_HIDE);
        gtk_dialog_response(dialog, GTK_RESPONSE_OK);
    });
    shown.view().editFilter();
    EXPECT_EQ(0x83u | tree::FILTER_HIDE_DELETED, shown.view().filter().get());
    ASSERT_TRUE(shown.openFolder("ROOT/docs"));
    EXPECT_EQ((std::vector<std::string>{"deep", "MyDocument.txt"}),
              guitest::fileNames(shown.files()));
}

TEST_F(TreeInterfaceImplTest, FindSkipsHiddenEntriesAndEntriesWithoutTime) {
    ShownTree shown(guitest::testMap(guitest::SAMPLE_TREE));
    shown.view().findParams().setMask(".txt");
    shown.view().findParams().setUseDates(true);
    // inner.txt has no time, invalid.txt is hidden: MyDocument.txt is the one.
    {
        DialogScript script;
        script.then(DialogScript::titled("Find File"),
                    [](GtkDialog* dialog) { gtk_dialog_response(dialog, GTK_RESPONSE_ACCEPT); });
        shown.view().find(false);
    }
    tree::MapPosition found;
    ASSERT_TRUE(shown.view().getSelectedFileNode(found));
    EXPECT_EQ("MyDocument.txt", shown.view().cursorAt(found, true, false)->getName());
    shown.view().find(true);
    EXPECT_EQ(1u, shown.messages().asked().size());
}

TEST_F(TreeInterfaceImplTest, FindEndsOnATreeWhoseFolderNamesItsAncestor) {
    // Folder 11 lists an entry for folder 10, which holds 11: going down
    // without end would never finish.
    ShownTree shown(guitest::testMap(R"(
root 5
dir 10 in=5 name=a
dir 11 in=10 name=b
entry 11 10 name=loop dir
file 20 in=11 name=x.txt
)"));
    shown.view().findParams().setMask("nothing-like-this");
    shown.view().find(true);
    ASSERT_EQ(1u, shown.messages().asked().size());
    EXPECT_EQ("Search complete", shown.messages().asked()[0].text);
}

} // namespace

namespace {

class TreeViewLifetimeTest : public guitest::GuiTest {};

TEST_F(TreeViewLifetimeTest, WidgetsAndViewMayGoInEitherOrder) {
    PropertyMap config;
    gtk::Interface ui(nullptr);
    GuiContext context(&ui, nullptr, nullptr, nullptr);
    SharedPtr<tree::Map> map = guitest::testMap(guitest::SAMPLE_TREE);
    for (bool viewFirst : {true, false}) {
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        GtkWidget* widget = nullptr;
        std::unique_ptr<TreeInterface> view =
            gtk::TreeInterfaceImpl::create(GTK_WINDOW(window), widget, &config, map, &context);
        gtk_container_add(GTK_CONTAINER(window), widget);
        gtk_widget_show_all(window);
        view->applyFilter();
        if (viewFirst) {
            // The main window drops the old view, then its widgets; events on
            // the orphaned widgets must not reach the gone view.
            view.reset();
            gtk_widget_grab_focus(gtk_paned_get_child1(GTK_PANED(widget)));
            guitest::pumpEvents();
        }
        gtk_widget_destroy(window);
        tree::MapPosition node;
        EXPECT_TRUE(viewFirst || !view->getSelectedFileNode(node));
    }
    // The map outlives both views and was held once more by each while it lived.
    EXPECT_EQ(1, map.useCount());
}

} // namespace
