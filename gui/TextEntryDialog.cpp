#include "gui/TextEntryDialog.h"

namespace {
constexpr int HINT_WIDTH = 500;
}

bool textEntryDialog(GtkWindow* parent, const char* title, std::string& value, const char* caption,
                     const char* hint) {
    GtkWidget* dialog = gtk_dialog_new_with_buttons(
        title ? title : "", parent,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, GTK_STOCK_OK, GTK_RESPONSE_OK, nullptr);
    // Held so that the entry can be read after the loop even when the parent
    // took the dialog down meanwhile.
    g_object_ref(dialog);
    if (!parent)
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);

    GtkWidget* box = gtk_vbox_new(FALSE, 8);
    gtk_container_set_border_width(GTK_CONTAINER(box), 8);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), box, TRUE, TRUE,
                       0);
    GtkWidget* row = gtk_hbox_new(FALSE, 8);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    if (caption)
        gtk_box_pack_start(GTK_BOX(row), gtk_label_new(caption), FALSE, FALSE, 0);
    GtkWidget* entry = gtk_entry_new();
    g_object_ref(entry);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_box_pack_start(GTK_BOX(row), entry, TRUE, TRUE, 0);
    if (hint) {
        GtkWidget* label = gtk_label_new(hint);
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_widget_set_size_request(label, HINT_WIDTH, -1);
        gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
    }

    gtk_widget_show_all(dialog);
    gtk_entry_set_text(GTK_ENTRY(entry), value.c_str());
    gtk_widget_grab_focus(entry);

    bool ok = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK;
    if (ok)
        value = gtk_entry_get_text(GTK_ENTRY(entry));
    gtk_widget_destroy(dialog);
    g_object_unref(entry);
    g_object_unref(dialog);
    return ok;
}
