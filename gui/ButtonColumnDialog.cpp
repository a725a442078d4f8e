#include "gui/ButtonColumnDialog.h"

#include "gui/ResponseButton.h"

namespace {

GtkWidget* newButton(const char* id) {
    GtkStockItem item;
    if (gtk_stock_lookup(id, &item))
        return gtk_button_new_from_stock(id);
    return gtk_button_new_with_mnemonic(id);
}

// The title bar is the window manager's and cuts a title wider than the
// window, and a column of short buttons leaves room for none of it: wide
// enough for the title in bold, beside the bar's icon and three buttons, each
// about a line high, and their margins.
int titleBarWidth(GtkWidget* window, const char* title) {
    PangoLayout* layout = gtk_widget_create_pango_layout(window, title ? title : "");
    PangoAttrList* bold = pango_attr_list_new();
    pango_attr_list_insert(bold, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
    pango_layout_set_attributes(layout, bold);
    pango_attr_list_unref(bold);
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    return width + 6 * height;
}

} // namespace

ButtonColumnDialog::ButtonColumnDialog(GtkWindow* parent, const char* title,
                                       const char* const* stockIds)
    : dialog_(GTK_DIALOG(gtk_dialog_new())) {
    // The dialog may be destroyed from outside (with its parent) while it runs;
    // our reference keeps the object valid until we are done with it.
    g_object_ref_sink(dialog_);
    GtkWindow* window = GTK_WINDOW(dialog_);
    if (parent)
        gtk_window_set_transient_for(window, parent);
    else
        gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_window_set_title(window, title ? title : "");
    gtk_window_set_default_size(window, titleBarWidth(GTK_WIDGET(dialog_), title), -1);
    gtk_dialog_set_has_separator(dialog_, FALSE);

    // The buttons stand in one column instead of the action area's row.
    gtk_widget_hide(gtk_dialog_get_action_area(dialog_));
    gtk_widget_set_no_show_all(gtk_dialog_get_action_area(dialog_), TRUE);
    GtkWidget* column = gtk_vbutton_box_new();
    gtk_box_pack_end(GTK_BOX(gtk_dialog_get_content_area(dialog_)), column, FALSE, FALSE, 0);

    int index = 0;
    for (const char* const* id = stockIds; id && *id; ++id, ++index) {
        GtkWidget* button = newButton(*id);
        ResponseButton(dialog_, index).connect(button);
        gtk_container_add(GTK_CONTAINER(column), button);
    }
    GtkWidget* cancel = gtk_button_new_from_stock(GTK_STOCK_CANCEL);
    ResponseButton(dialog_, GTK_RESPONSE_CANCEL).connect(cancel);
    gtk_container_add(GTK_CONTAINER(column), cancel);
    gtk_widget_show_all(column);
}

ButtonColumnDialog::~ButtonColumnDialog() {
    gtk_widget_destroy(GTK_WIDGET(dialog_));
    g_object_unref(dialog_);
}

int ButtonColumnDialog::run() {
    int response = gtk_dialog_run(dialog_);
    gtk_widget_destroy(GTK_WIDGET(dialog_));
    // Our buttons answer 0, 1, ...; everything else (Cancel, a closed or
    // destroyed window) is no choice.
    return response >= 0 ? response : -1;
}
