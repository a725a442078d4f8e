#pragma once

// The sources tree: every place where the user picks a source, a component of a
// software driver or a folder shows it. Rows are the entries DrivesVFS lists
// (drives, partitions, floppies, folders, files) and the user's software
// drivers; each row keeps its descriptor, and children are listed only when a
// row is expanded. Rows that may be chosen carry the mark "|ok=|".
//
// The "_Advanced" button opens a menu: information on the entry, refreshing the
// list, managing software drivers and creating a folder.

#include <gtk/gtk.h>

#include <string>
#include <vector>

class DrivesVFS;

namespace gtk {

class DrivesTree {
public:
    // Model columns.
    enum Column { COLUMN_ICON = 0, COLUMN_TEXT = 1, COLUMN_DESCRIPTOR = 2, COLUMN_COUNT = 3 };
    // nodeText flags.
    enum TextFlags { TEXT_MARKUP = 1, TEXT_EXTRA = 2, TEXT_TRANSLATED = 4 };
    static constexpr int ICON_COUNT = 9;

    // Neither is owned. `sourceList` is the top level of the tree, which the
    // refresh and software-driver commands change.
    DrivesTree(std::vector<std::string>* sourceList, DrivesVFS* vfs);
    ~DrivesTree();
    DrivesTree(const DrivesTree&) = delete;
    DrivesTree& operator=(const DrivesTree&) = delete;

    // The scrolled view with its model and icons. In destination mode only
    // folders and files are listed and only folders may be chosen; with
    // `hideCustom` software drivers are left out.
    GtkWidget* createWidget(GtkWindow* parent, bool destinationMode, bool hideCustom);
    // The "_Advanced" button and its menu (call after createWidget).
    GtkWidget* createAdvancedButton();

    GtkTreeView* getView() const { return view_; }
    GtkWidget* getMenu() const { return menu_; }
    std::vector<std::string>* getSourceList() const { return sourceList_; }
    DrivesVFS* getVfs() const { return vfs_; }
    GtkWidget* getInformationItem() const { return informationItem_; }
    GtkWidget* getEditItem() const { return editItem_; }
    GtkWidget* getRemoveItem() const { return removeItem_; }
    GtkWidget* getCreateDirectoryItem() const { return createDirectoryItem_; }

    // Empties the tree and lists `list` at the top level.
    void fill(const std::vector<std::string>& list);

    // Of the selected row; empty when none is selected.
    std::string getSelectedDescriptor() const;
    // The row's text without markup, with its id in parentheses; type names in
    // English when `untranslated`.
    std::string getSelectedText(bool untranslated) const;
    // The ids of the row and its ancestors from the top down, joined by "|".
    std::string getSelectedPath() const;

    // Follows a row path down as far as it exists, expanding on the way, and
    // puts the cursor on the last row found.
    void selectPath(const std::string& path);
    // The first top-level row with that id and the mark "ok", else the first row.
    void selectById(const std::string& id);

    // The Advanced menu's commands.
    void showInformation();
    void refresh();
    void newDriver();
    void editDriver();
    void removeDriver();
    void createDirectory();
    // Menu item sensitivity for the selected row.
    void updateMenu();

    // The text of a row: TEXT_MARKUP for Pango markup, TEXT_EXTRA to append
    // `extra` in parentheses, TEXT_TRANSLATED for translated type names.
    static std::string nodeText(const std::string& descriptor, const std::string& extra,
                                const std::string& type, int flags);
    // "This operation can cause data damage!": true when the user answers Yes.
    static bool confirmWriteToSource(GtkWindow* parent);

private:
    void addChildren(const std::vector<std::string>& list, GtkTreeIter* parent);
    // Whether a top-level entry gets a row in this mode.
    bool isListed(const std::string& descriptor) const;
    // The entry of the sources list that the selected row shows, found by its
    // place (ids need not be unique); the list's end for a row below the top
    // level, a placeholder or no row.
    std::vector<std::string>::iterator selectedEntry();
    // Puts the cursor on the row of that entry of the sources list.
    void selectEntry(std::vector<std::string>::const_iterator entry);
    void addPlaceholder(GtkTreeIter* parent);
    void removeChildren(GtkTreeIter* row);
    std::string descriptorOf(GtkTreeIter* row) const;
    bool selectedRow(GtkTreeIter* out) const;
    void setCursor(GtkTreeIter* row);
    GtkWidget* addMenuItem(GtkWidget* menu, const char* label, GCallback handler);

    static gboolean onTestExpandRow(GtkTreeView*, GtkTreeIter* iter, GtkTreePath*, gpointer self);
    static gboolean onTestCollapseRow(GtkTreeView*, GtkTreeIter* iter, GtkTreePath*, gpointer self);
    static void onCursorChanged(GtkTreeView*, gpointer self);
    static void onAdvancedClicked(GtkButton* button, gpointer self);

    std::vector<std::string>* sourceList_;
    DrivesVFS* vfs_;
    GtkWindow* parent_ = nullptr;
    bool destinationMode_ = false;
    bool hideCustom_ = false;
    GtkTreeView* view_ = nullptr;
    GtkTreeStore* store_ = nullptr;
    GdkPixbuf* icons_[ICON_COUNT] = {};
    GtkWidget* menu_ = nullptr;
    GtkWidget* informationItem_ = nullptr;
    GtkWidget* editItem_ = nullptr;
    GtkWidget* removeItem_ = nullptr;
    GtkWidget* createDirectoryItem_ = nullptr;
};

} // namespace gtk
