#include "gui/FilterDialog.h"

#include "tests/gui/GuiTest.h"

namespace {

using gtk::MapFilterEditor;

class FilterDialogTest : public guitest::GuiTest {};

// An NTFS tree has six kinds of file, a FAT tree five, found files four.
TEST_F(FilterDialogTest, RowsFollowTheKindOfMap) {
    tree::FilterMask mask;
    for (const auto& kind : {std::make_pair(1, 6), std::make_pair(0, 5), std::make_pair(3, 4)}) {
        MapFilterEditor editor(nullptr, mask, kind.first);
        EXPECT_EQ(kind.second, editor.rowCount()) << kind.first;
        EXPECT_NE(nullptr, editor.rowMenu(kind.second - 1)) << kind.first;
        if (kind.second < MapFilterEditor::MAX_ROWS) {
            EXPECT_EQ(nullptr, editor.rowMenu(kind.second)) << kind.first;
        }
    }
}

TEST_F(FilterDialogTest, OnlyInOneRowClearsHideElsewhere) {
    tree::FilterMask mask(tree::FILTER_HIDE_GOOD | tree::FILTER_HIDE_EMPTY_FOLDERS);
    const int ntfs = 1;
    MapFilterEditor editor(nullptr, mask, ntfs);
    EXPECT_EQ(MapFilterEditor::ROW_HIDE, gtk_combo_box_get_active(editor.rowMenu(0)));
    EXPECT_TRUE(gtk_toggle_button_get_active(editor.hideEmptyFolders()));

    gtk_combo_box_set_active(editor.rowMenu(2), MapFilterEditor::ROW_ONLY); // deleted
    EXPECT_EQ(MapFilterEditor::ROW_BLANK, gtk_combo_box_get_active(editor.rowMenu(0)));
    // Hide afterwards is allowed and leaves Only alone.
    gtk_combo_box_set_active(editor.rowMenu(0), MapFilterEditor::ROW_HIDE);
    EXPECT_EQ(MapFilterEditor::ROW_ONLY, gtk_combo_box_get_active(editor.rowMenu(2)));

    editor.apply();
    EXPECT_EQ(tree::FILTER_HIDE_GOOD | tree::FILTER_ONLY_DELETED | tree::FILTER_HIDE_EMPTY_FOLDERS,
              mask.get());
}

} // namespace
