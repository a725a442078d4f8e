#include "gui/FilterDialog.h"

#include "core/Intl.h"
#include "gui/Help.h"

namespace gtk {

namespace {

using tree::FILTER_HIDE_DELETED;
using tree::FILTER_HIDE_EMPTY_FOLDERS;
using tree::FILTER_HIDE_FROM;
using tree::FILTER_HIDE_GOOD;
using tree::FILTER_HIDE_SYSTEM;
using tree::FILTER_HIDE_TO;
using tree::FILTER_HIDE_UNREADABLE;
using tree::FILTER_ONLY_DELETED;
using tree::FILTER_ONLY_FROM;
using tree::FILTER_ONLY_GOOD;
using tree::FILTER_ONLY_SYSTEM;
using tree::FILTER_ONLY_TO;
using tree::FILTER_ONLY_UNREADABLE;

const MapFilterEditor::Row NTFS_ROWS[] = {
    {N_("_Good Files"), FILTER_ONLY_GOOD, FILTER_HIDE_GOOD},
    {N_("_Found Files"), FILTER_ONLY_FROM, FILTER_HIDE_FROM},
    {N_("_Deleted Files"), FILTER_ONLY_DELETED, FILTER_HIDE_DELETED},
    {N_("_System Files"), FILTER_ONLY_SYSTEM, FILTER_HIDE_SYSTEM},
    {N_("_Invalid Files"), FILTER_ONLY_TO, FILTER_HIDE_TO},
    {N_("Files With Sector _Errors"), FILTER_ONLY_UNREADABLE, FILTER_HIDE_UNREADABLE},
};

const MapFilterEditor::Row FAT_ROWS[] = {
    {N_("Files with _Valid FAT"), FILTER_ONLY_TO, FILTER_HIDE_TO},
    {N_("_Deleted Files"), FILTER_ONLY_DELETED, FILTER_HIDE_DELETED},
    {N_("_System Files"), FILTER_ONLY_SYSTEM, FILTER_HIDE_SYSTEM},
    {N_("Files With _Invalid FAT"), FILTER_ONLY_FROM, FILTER_HIDE_FROM},
    {N_("Files With Sector _Errors"), FILTER_ONLY_UNREADABLE, FILTER_HIDE_UNREADABLE},
};

const MapFilterEditor::Row CARVED_ROWS[] = {
    {N_("_Good Files"), FILTER_ONLY_GOOD, FILTER_HIDE_GOOD},
    {N_("_Possible Files"), FILTER_ONLY_FROM, FILTER_HIDE_FROM},
    {N_("Poor _Files"), FILTER_ONLY_TO, FILTER_HIDE_TO},
    {N_("Files With Sector _Errors"), FILTER_ONLY_UNREADABLE, FILTER_HIDE_UNREADABLE},
};

template <std::size_t N>
const MapFilterEditor::Row* rowsWithCount(const MapFilterEditor::Row (&rows)[N], int& count) {
    count = static_cast<int>(N);
    return rows;
}

} // namespace

const MapFilterEditor::Row* MapFilterEditor::rowsOf(int mapKind, int& count) {
    switch (mapKind) {
    case 0:
        return rowsWithCount(FAT_ROWS, count);
    case 1:
        return rowsWithCount(NTFS_ROWS, count);
    default:
        return rowsWithCount(CARVED_ROWS, count);
    }
}

MapFilterEditor::RowState MapFilterEditor::stateOf(u32 mask, const Row& row) {
    if (mask & row.hideBit)
        return ROW_HIDE;
    if (mask & row.onlyBit)
        return ROW_ONLY;
    return ROW_BLANK;
}

u32 MapFilterEditor::applyState(u32 mask, const Row& row, RowState state) {
    mask &= ~(row.onlyBit | row.hideBit);
    if (state == ROW_HIDE)
        mask |= row.hideBit;
    else if (state == ROW_ONLY)
        mask |= row.onlyBit;
    return mask;
}

MapFilterEditor::MapFilterEditor(GtkWindow* parent, tree::FilterMask& mask, const int& mapKind)
    : mask_(mask) {
    rows_ = rowsOf(mapKind, rowCount_);
    dialog_.reset(newOkCancelDialog(_("Filter"), parent, GTK_RESPONSE_CANCEL, GTK_RESPONSE_OK));
    if (!parent)
        gtk_window_set_position(GTK_WINDOW(dialog_.get()), GTK_WIN_POS_CENTER);

    GtkBox* content = GTK_BOX(gtk_dialog_get_content_area(dialog_.get()));
    gtk_box_pack_start(content, gtk_label_new(_("Press F1 for more Help.")), FALSE, FALSE, 0);
    gtk_box_pack_start(content, gtk_hseparator_new(), FALSE, FALSE, 0);

    const u32 word = mask_.get();
    for (int i = 0; i < rowCount_; ++i) {
        GtkWidget* row = gtk_hbox_new(FALSE, 0);
        gtk_container_set_border_width(GTK_CONTAINER(row), 4);
        GtkWidget* menu = gtk_combo_box_text_new();
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(menu), "");
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(menu), _("Hide"));
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(menu), _("Only"));
        gtk_combo_box_set_active(GTK_COMBO_BOX(menu), stateOf(word, rows_[i]));
        GtkWidget* label = gtk_label_new_with_mnemonic(_(rows_[i].label));
        gtk_label_set_mnemonic_widget(GTK_LABEL(label), menu);
        gtk_box_pack_start(GTK_BOX(row), menu, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(row), label, FALSE, FALSE, 4);
        gtk_box_pack_start(GTK_BOX(row), gtk_label_new(""), TRUE, TRUE, 0);
        gtk_box_pack_start(content, row, FALSE, FALSE, 0);
        menus_[i] = GTK_COMBO_BOX(menu);
    }
    GtkWidget* checkBox = gtk_hbox_new(FALSE, 0);
    gtk_container_set_border_width(GTK_CONTAINER(checkBox), 4);
    hideEmpty_ = GTK_TOGGLE_BUTTON(gtk_check_button_new_with_mnemonic(_("_Hide Empty Folders")));
    gtk_toggle_button_set_active(hideEmpty_, (word & FILTER_HIDE_EMPTY_FOLDERS) != 0);
    gtk_box_pack_start(GTK_BOX(checkBox), GTK_WIDGET(hideEmpty_), FALSE, FALSE, 0);
    gtk_box_pack_start(content, checkBox, FALSE, FALSE, 0);

    // Connected only now, so that setting the rows from the mask above does not
    // already apply the rule between rows.
    for (int i = 0; i < rowCount_; ++i)
        g_signal_connect(menus_[i], "changed", G_CALLBACK(onRowChanged), this);
    gtk_widget_show_all(GTK_WIDGET(content));
}

void MapFilterEditor::onRowChanged(GtkComboBox* menu, gpointer self) {
    auto* editor = static_cast<MapFilterEditor*>(self);
    if (gtk_combo_box_get_active(menu) != ROW_ONLY)
        return;
    // "Only" of one status and "Hide" of another would rarely leave anything to
    // show: choosing Only drops the other rows' Hide.
    for (int i = 0; i < editor->rowCount_; ++i) {
        GtkComboBox* other = editor->menus_[i];
        if (other != menu && gtk_combo_box_get_active(other) == ROW_HIDE)
            gtk_combo_box_set_active(other, ROW_BLANK);
    }
}

void MapFilterEditor::apply() {
    for (int i = 0; i < rowCount_; ++i) {
        const int active = gtk_combo_box_get_active(menus_[i]);
        const RowState state = active == ROW_HIDE   ? ROW_HIDE
                               : active == ROW_ONLY ? ROW_ONLY
                                                    : ROW_BLANK;
        mask_.set(applyState(mask_.get(), rows_[i], state));
    }
    u32 word = mask_.get() & ~u32(FILTER_HIDE_EMPTY_FOLDERS);
    if (gtk_toggle_button_get_active(hideEmpty_))
        word |= FILTER_HIDE_EMPTY_FOLDERS;
    mask_.set(word);
}

bool MapFilterEditor::run() {
    bool accepted = false;
    {
        F1HelpBinding help(GTK_WIDGET(dialog_.get()), "MapFilterEditor");
        accepted = runDialog(dialog_) == GTK_RESPONSE_OK;
    }
    if (accepted)
        apply();
    dialog_.reset();
    return accepted;
}

bool editMapFilter(GtkWindow* parent, tree::FilterMask& mask, const int& mapKind) {
    MapFilterEditor editor(parent, mask, mapKind);
    return editor.run();
}

} // namespace gtk
