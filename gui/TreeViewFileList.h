#pragma once

// The right pane of the tree view: the visible entries of one folder with their
// size, time and status (a rating in colour and the technical text), each with
// its check icon, sortable by every column.

#include "gui/TreeViewPanels.h"

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

namespace gtk {

// The rating shown in the status column.
enum StatusLevel : int {
    LEVEL_EXCELLENT = 0,
    LEVEL_GOOD = 1,
    LEVEL_POSSIBLE = 2,
    LEVEL_POOR = 3,
    LEVEL_UNRECOVERABLE = 4,
};

// The rating of an entry from the map's kind, its status code and whether it
// is deleted.
StatusLevel statusLevel(int mapKind, int statusCode, bool deleted);
// The status column's markup: the coloured rating (or "Folder"), "  /  " and
// the technical text, which is escaped.
std::string statusMarkup(int mapKind, int statusCode, bool deleted, bool directory,
                         const std::string& technical);

// The fixed parts of the status column, translated and escaped once: a folder
// of 100,000 files would otherwise look up and escape the same few words for
// every row.
class StatusTexts {
public:
    StatusTexts();
    // What statusMarkup returns.
    std::string markup(int mapKind, int statusCode, bool deleted, bool directory,
                       const std::string& technical) const;

private:
    std::string folder_;
    std::string levels_[LEVEL_UNRECOVERABLE + 1];
    std::string deleted_;
};

class FileListPanel {
public:
    enum Column : int {
        COL_ICON = 0,
        COL_NAME = 1,
        COL_SIZE = 2,
        COL_TIME = 3,
        COL_STATUS = 4,
        COL_FOLDER = 5,
        COL_INDEX = 6,
        // The row's sort keys: its place in rowKeys_. Sorting reads one number
        // of the store a row, never the map and never a text copy.
        COL_ROW = 7,
        COLUMN_COUNT = 8,
    };
    enum SortColumn : int { SORT_NAME = 1, SORT_SIZE = 2, SORT_MODIFIED = 3, SORT_STATUS = 4 };

    // Rows between two looks at the clock (then polls of the box) while a
    // folder loads, and the time a load may take before the "Loading
    // Directory" box appears.
    static constexpr u32 ROWS_PER_POLL = 1000;
    static constexpr gint64 SLOW_LOAD_US = 333000;

    FileListPanel(InterfaceForPanels* owner, GtkScrolledWindow* container, GtkWindow* parent);
    ~FileListPanel();
    FileListPanel(const FileListPanel&) = delete;
    FileListPanel& operator=(const FileListPanel&) = delete;

    // The folder's visible entries; the first row inserted gets the cursor. A
    // cancelled "Loading Directory" box leaves the rows added so far.
    void showFolder(const tree::MapPosition& folder);
    const tree::MapPosition& shownFolder() const { return shown_; }
    // Every row's icon from its own node.
    void refreshIcons();
    // The cursor onto the row of `node` (a node in the shown folder); true also
    // when `node` is the shown folder itself.
    bool selectIndex(const tree::MapPosition& node);
    // Toggles the cursor row's mark.
    void toggleCheck();
    // The column titles in the program language, and the time column wide
    // enough for a whole time in its format.
    void setTitles();
    bool getCursor(tree::MapPosition& out);
    // Whether the last filling showed the "Loading Directory" box.
    bool showedProgress() const { return showedProgress_; }

    GtkTreeView* view() const { return view_; }
    const PaneIcons& icons() const { return *icons_; }
    GtkTreeModel* model() const { return GTK_TREE_MODEL(store_); }
    GtkTreeViewColumn* column(int i) const { return columns_[i]; }
    static tree::MapPosition positionOf(GtkTreeModel* model, GtkTreeIter* row);
    // The popup menu of a row, as a right click on it builds it.
    GtkMenu* buildPopup(GtkTreeIter* row);

    // The order of two rows for the sort column and order the store has;
    // `link` is the column's SortLink.
    static gint compareRows(GtkTreeModel* model, GtkTreeIter* a, GtkTreeIter* b, gpointer link);

private:
    void fitTimeColumn();
    static void onRowActivated(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn* column,
                               gpointer self);
    static gboolean onKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer self);
    static gboolean onButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer self);

    void fill(const tree::MapPosition& folder, GtkTreeIter& first, bool& haveFirst);
    void setRowIcon(GtkTreeIter* row, bool directory, bool marked);
    // The cursor's row; false when there is none.
    bool cursorRow(GtkTreeIter& row) const;
    void activateCursor();

    struct RowKey {
        std::string name;
        u64 size;
        u32 time;
        u32 code;
        bool directory;
        bool deleted;
    };
    struct SortLink {
        FileListPanel* panel;
        int column;
    };
    const RowKey& keyOf(GtkTreeModel* model, GtkTreeIter* row) const;

    InterfaceForPanels* owner_;
    GtkWindow* parent_;
    std::vector<RowKey> rowKeys_;
    SortLink sortLinks_[4] = {};
    GtkTreeView* view_ = nullptr;
    GtkListStore* store_ = nullptr;
    std::unique_ptr<PaneIcons> icons_;
    PopupMenu popup_;
    tree::MapPosition shown_{tree::NO_FOLDER, 0};
    GtkTreeViewColumn* columns_[4] = {};
    bool showedProgress_ = false;
};

} // namespace gtk
