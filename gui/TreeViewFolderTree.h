#pragma once

// The left pane of the tree view: the folders of the shown map, loaded lazily
// two levels below what the user has expanded, each with its check icon.

#include "gui/TreeViewPanels.h"

#include <gtk/gtk.h>

#include <memory>
#include <vector>

namespace gtk {

class FolderTreePanel {
public:
    enum Column : int {
        COL_ICON = 0,
        COL_NAME = 1,
        // 0: the folder's subfolders are not rows yet, 1: they are, 2: theirs too.
        COL_LEVEL = 2,
        COL_FOLDER = 3,
        COL_INDEX = 4,
        COLUMN_COUNT = 5,
    };

    // Builds the tree view into `container` (whose child, if any, is removed).
    FolderTreePanel(InterfaceForPanels* owner, GtkScrolledWindow* container);
    ~FolderTreePanel();
    FolderTreePanel(const FolderTreePanel&) = delete;
    FolderTreePanel& operator=(const FolderTreePanel&) = delete;

    // The rows anew from the root; the cursor on the root row.
    void reload();
    // Loads the children of the row (and theirs, up to `target` levels).
    void loadChildren(GtkTreeIter* row, u64 target);
    // Expands the selected row and puts the cursor on its child at `node`.
    void openChild(const tree::MapPosition& node);
    // Shows the folder of `node` and selects its row; false when no row leads there.
    bool selectNode(const tree::MapPosition& node);
    // The marks of the loaded rows from the nodes: from the root row when
    // `fromRoot` or no row is selected, else from the selected row.
    void refreshChecks(bool fromRoot);
    // Toggles the selected row's mark.
    void toggleCheck();

    bool getSelected(tree::MapPosition& out);
    bool hasFocus() const;
    GtkTreeView* view() const { return view_; }
    const PaneIcons& icons() const { return *icons_; }
    GtkTreeModel* model() const { return GTK_TREE_MODEL(store_); }
    static tree::MapPosition positionOf(GtkTreeModel* model, GtkTreeIter* row);
    // Whether the row shows the marked icon.
    bool rowShowsMark(GtkTreeIter* row);
    // The popup menu of a row, as a right click on it builds it.
    GtkMenu* buildPopup(GtkTreeIter* row);

private:
    static void onCursorChanged(GtkTreeView* view, gpointer self);
    static void onRowExpanded(GtkTreeView* view, GtkTreeIter* row, GtkTreePath* path,
                              gpointer self);
    static gboolean onKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer self);
    static gboolean onButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer self);
    static void onRowActivated(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn* column,
                               gpointer self);

    void appendRow(GtkTreeIter* parent, const tree::MapIterator& cursor, GtkTreeIter* out);
    void setRowIcon(GtkTreeIter* row, bool marked);
    void refreshUpward(GtkTreeIter* row);
    void refreshDown(GtkTreeIter* row);
    void toggleExpanded(GtkTreeIter* row);
    // The selected row; false when there is none.
    bool selectedRow(GtkTreeIter& row) const;

    InterfaceForPanels* owner_;
    GtkTreeView* view_ = nullptr;
    GtkTreeStore* store_ = nullptr;
    GtkTreeViewColumn* column_ = nullptr;
    std::unique_ptr<PaneIcons> icons_;
    PopupMenu popup_;
};

} // namespace gtk
