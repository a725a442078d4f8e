#include "gui/WizardPage.h"

#include <algorithm>

namespace gtk {

namespace {

// Moves `child` from its container to the start (or end) of `box`.
void moveInto(GtkWidget* child, GtkBox* box, bool atEnd, bool expand) {
    g_object_ref(child);
    gtk_container_remove(GTK_CONTAINER(gtk_widget_get_parent(child)), child);
    if (atEnd)
        gtk_box_pack_end(box, child, expand, TRUE, 0);
    else
        gtk_box_pack_start(box, child, expand, TRUE, 0);
    g_object_unref(child);
}

} // namespace

void WizardPage::beginExtraButtons() {
    GtkDialog* dialog = wizard_->getDialog();
    gint spacing = 0;
    gint border = 0;
    gtk_widget_style_get(GTK_WIDGET(dialog), "button-spacing", &spacing, "action-area-border",
                         &border, nullptr);
    extraButtons_ = GTK_BOX(gtk_hbox_new(FALSE, spacing));
    gtk_container_set_border_width(GTK_CONTAINER(extraButtons_), static_cast<guint>(border));
    buttonRow_ = GTK_BOX(gtk_hbox_new(FALSE, 0));
    gtk_box_pack_start(buttonRow_, GTK_WIDGET(extraButtons_), FALSE, FALSE, 0);
    moveInto(gtk_dialog_get_action_area(dialog), buttonRow_, false, true);
    gtk_box_pack_end(GTK_BOX(gtk_dialog_get_content_area(dialog)), GTK_WIDGET(buttonRow_), FALSE,
                     TRUE, 0);
    gtk_widget_show_all(GTK_WIDGET(buttonRow_));
}

GtkWidget* WizardPage::addExtraButton(const char* label, int response) {
    // Added through the dialog so that a click answers `response`; the
    // connection stays with the button when it moves.
    GtkWidget* button = gtk_dialog_add_button(wizard_->getDialog(), label, response);
    g_object_ref(button);
    gtk_container_remove(GTK_CONTAINER(gtk_widget_get_parent(button)), button);
    packExtraWidget(button);
    g_object_unref(button);
    return button;
}

void WizardPage::packExtraWidget(GtkWidget* widget) {
    GtkWidget* actionArea = gtk_dialog_get_action_area(wizard_->getDialog());
    gint padX = 0;
    gint minWidth = 0;
    gtk_widget_style_get(actionArea, "child-internal-pad-x", &padX, "child-min-width", &minWidth,
                         nullptr);
    GtkRequisition natural;
    gtk_widget_size_request(widget, &natural);
    gtk_widget_set_size_request(widget, std::max(natural.width + padX, minWidth), natural.height);
    gtk_box_pack_start(extraButtons_, widget, FALSE, FALSE, 0);
    gtk_widget_show(widget);
}

void WizardPage::endExtraButtons() {
    if (buttonRow_ == nullptr)
        return;
    GtkDialog* dialog = wizard_->getDialog();
    moveInto(gtk_dialog_get_action_area(dialog), GTK_BOX(gtk_dialog_get_content_area(dialog)), true,
             false);
    gtk_widget_destroy(GTK_WIDGET(buttonRow_));
    buttonRow_ = nullptr;
    extraButtons_ = nullptr;
}

bool runWizardPages(int count, WizardPage* const* pages) {
    int i = 0;
    while (i < count) {
        const int response = pages[i]->run();
        if (response == GTK_RESPONSE_ACCEPT)
            ++i;
        else if (response == GTK_RESPONSE_REJECT && i > 0)
            --i;
        else
            return false;
    }
    return true;
}

} // namespace gtk
