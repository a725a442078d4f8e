#include "gui/FilterDialog.h"

#include "tests/gui/GuiTest.h"

namespace {

using gtk::MapFilterEditor;

class FilterDialogTest : public guitest::GuiTest {};

std::string labelOfRow(MapFilterEditor& editor, int row) {
    GtkWidget* box = gtk_widget_get_parent(GTK_WIDGET(editor.rowMenu(row)));
    for (GtkWidget* label : guitest::findWidgets(box, GTK_TYPE_LABEL)) {
        if (gtk_label_get_mnemonic_widget(GTK_LABEL(label)) == GTK_WIDGET(editor.rowMenu(row)))
            return gtk_label_get_label(GTK_LABEL(label));
    }
    return std::string();
}

TEST_F(FilterDialogTest, RowsFollowTheKindOfMap) {
    tree::FilterMask mask;
    const int ntfs = 1;
    MapFilterEditor ntfsEditor(nullptr, mask, ntfs);
    ASSERT_EQ(6, ntfsEditor.rowCount());
    EXPECT_EQ("_Good Files", labelOfRow(ntfsEditor, 0));
    EXPECT_EQ("Files With Sector _Errors", labelOfRow(ntfsEditor, 5));

    const int fat = 0;
    MapFilterEditor fatEditor(nullptr, mask, fat);
    ASSERT_EQ(5, fatEditor.rowCount());
    EXPECT_EQ("Files with _Valid FAT", labelOfRow(fatEditor, 0));
    EXPECT_EQ("Files With _Invalid FAT", labelOfRow(fatEditor, 3));
    EXPECT_EQ(nullptr, fatEditor.rowMenu(5));

    const int carved = 3;
    MapFilterEditor carvedEditor(nullptr, mask, carved);
    ASSERT_EQ(4, carvedEditor.rowCount());
    EXPECT_EQ("_Possible Files", labelOfRow(carvedEditor, 1));
    EXPECT_EQ("Poor _Files", labelOfRow(carvedEditor, 2));
    EXPECT_EQ(nullptr, carvedEditor.rowMenu(4));
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
