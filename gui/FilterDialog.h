#pragma once

// The "Filter" dialog of the tree view: for each file status the shown kind of
// map knows, nothing, "Hide" or "Only", and whether empty folders are hidden.
// It only rewrites the filter word; the tree view filters afterwards.

#include "gui/TreeViewWidgets.h"
#include "tree/FilterMask.h"

#include <gtk/gtk.h>

namespace gtk {

class MapFilterEditor {
public:
    static constexpr int MAX_ROWS = 6;
    // What a row's menu shows.
    enum RowState : int { ROW_BLANK = 0, ROW_HIDE = 1, ROW_ONLY = 2 };

    // One status row: its label and the pair of filter bits it stands for.
    struct Row {
        const char* label; // untranslated, with its mnemonic
        u32 onlyBit;
        u32 hideBit;
    };

    // The rows a kind of map shows (0 FAT, 1 NTFS, anything else carved files);
    // `count` receives their number.
    static const Row* rowsOf(int mapKind, int& count);
    // The state a row opens with: Hide wins when both bits are set.
    static RowState stateOf(u32 mask, const Row& row);
    // The mask with the row's two bits set for `state`.
    static u32 applyState(u32 mask, const Row& row, RowState state);

    // Builds the dialog over `parent` (null: centred on the screen).
    MapFilterEditor(GtkWindow* parent, tree::FilterMask& mask, const int& mapKind);
    MapFilterEditor(const MapFilterEditor&) = delete;
    MapFilterEditor& operator=(const MapFilterEditor&) = delete;

    GtkDialog* dialog() const { return dialog_.get(); }
    int rowCount() const { return rowCount_; }
    // Null for slots beyond the kind's rows.
    GtkComboBox* rowMenu(int row) const { return menus_[row]; }
    GtkToggleButton* hideEmptyFolders() const { return hideEmpty_; }

    // Writes the rows and the check button into the mask. Bits of pairs the kind
    // shows no row for are left as they were.
    void apply();
    // Runs the dialog with F1 help bound; true when OK was pressed (the mask is
    // then rewritten). Destroys the dialog.
    bool run();

private:
    static void onRowChanged(GtkComboBox* menu, gpointer self);

    tree::FilterMask& mask_;
    const Row* rows_ = nullptr;
    int rowCount_ = 0;
    GtkComboBox* menus_[MAX_ROWS] = {};
    GtkToggleButton* hideEmpty_ = nullptr;
    OwnedDialog dialog_;
};

// True when the user pressed OK and the mask was rewritten.
bool editMapFilter(GtkWindow* parent, tree::FilterMask& mask, const int& mapKind);

} // namespace gtk
