#include "gui/TreeViewWidgets.h"

namespace gtk {

namespace {

void onWrappedLabelAllocate(GtkWidget* label, GtkAllocation* allocation, gpointer) {
    const int width = allocation->width > 8 ? allocation->width - 8 : 1;
    int current = -1;
    gtk_widget_get_size_request(label, &current, nullptr);
    // Asking again for the width already asked would only queue another resize.
    if (current != width)
        gtk_widget_set_size_request(label, width, -1);
}

} // namespace

void wrapLabelToAllocation(GtkWidget* label) {
    g_signal_connect(label, "size_allocate", G_CALLBACK(onWrappedLabelAllocate), nullptr);
}

GtkEntry* packLabelledEntry(GtkBox* box, const char* caption, const std::string& text) {
    GtkWidget* row = gtk_hbox_new(FALSE, 4);
    GtkWidget* label = gtk_label_new_with_mnemonic(caption);
    GtkEntry* entry = GTK_ENTRY(gtk_entry_new());
    gtk_entry_set_text(entry, text.c_str());
    gtk_entry_set_activates_default(entry, TRUE);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), GTK_WIDGET(entry));
    gtk_box_pack_start(GTK_BOX(row), label, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), GTK_WIDGET(entry), TRUE, TRUE, 0);
    gtk_box_pack_start(box, row, FALSE, FALSE, 0);
    return entry;
}

void packHint(GtkBox* box, const char* text) {
    GtkWidget* hint = gtk_label_new(text);
    gtk_label_set_line_wrap(GTK_LABEL(hint), TRUE);
    gtk_misc_set_alignment(GTK_MISC(hint), 0.0f, 0.0f);
    wrapLabelToAllocation(hint);
    gtk_box_pack_start(box, hint, TRUE, TRUE, 0);
}

GtkDialog* newOkCancelDialog(const char* title, GtkWindow* parent, int cancelResponse,
                             int okResponse) {
    GtkWidget* dialog = gtk_dialog_new_with_buttons(
        title, parent,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT |
                                    GTK_DIALOG_NO_SEPARATOR),
        GTK_STOCK_CANCEL, cancelResponse, GTK_STOCK_OK, okResponse, nullptr);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), okResponse, cancelResponse, -1);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), okResponse);
    return GTK_DIALOG(dialog);
}

void OwnedDialog::reset(GtkDialog* dialog) {
    if (dialog_) {
        GtkWidget* old = GTK_WIDGET(dialog_);
        g_object_remove_weak_pointer(G_OBJECT(old), reinterpret_cast<gpointer*>(&dialog_));
        dialog_ = nullptr;
        gtk_widget_destroy(old);
    }
    dialog_ = dialog;
    if (dialog_)
        g_object_add_weak_pointer(G_OBJECT(dialog_), reinterpret_cast<gpointer*>(&dialog_));
}

int runDialog(OwnedDialog& dialog) {
    if (!dialog)
        return GTK_RESPONSE_NONE;
    return gtk_dialog_run(dialog.get());
}

namespace {

gint64 monotonicClock() {
    return g_get_monotonic_time();
}

GuiClock currentClock = monotonicClock;

} // namespace

gint64 guiClock() {
    return currentClock();
}

GuiClock setGuiClock(GuiClock clock) {
    GuiClock previous = currentClock;
    currentClock = clock ? clock : monotonicClock;
    return previous;
}

} // namespace gtk
