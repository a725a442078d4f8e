#include "gui/WizardPageWithTreeView.h"

namespace gtk {

UsesTreeView::UsesTreeView() {
    scrolled_ = gtk_scrolled_window_new(nullptr, nullptr);
    g_object_ref_sink(scrolled_);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled_), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    view_ = GTK_TREE_VIEW(gtk_tree_view_new());
    gtk_container_add(GTK_CONTAINER(scrolled_), GTK_WIDGET(view_));
}

UsesTreeView::~UsesTreeView() {
    gtk_widget_destroy(scrolled_);
    g_object_unref(scrolled_);
}

GtkTreeViewColumn* UsesTreeView::appendTextColumn(const char* title, int modelColumn) {
    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    GtkTreeViewColumn* column =
        gtk_tree_view_column_new_with_attributes(title, renderer, "text", modelColumn, nullptr);
    gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_AUTOSIZE);
    gtk_tree_view_column_set_resizable(column, TRUE);
    gtk_tree_view_append_column(view_, column);
    return column;
}

int UsesTreeView::getSelectedId() const {
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(view_), &model, &iter))
        return -1;
    GList* columns = gtk_tree_view_get_columns(view_);
    const gint idColumn = static_cast<gint>(g_list_length(columns));
    g_list_free(columns);
    if (idColumn >= gtk_tree_model_get_n_columns(model))
        return -1;
    gint id = -1;
    gtk_tree_model_get(model, &iter, idColumn, &id, -1);
    return id;
}

void UsesTreeView::onRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer dialog) {
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
}

void UsesTreeView::connectRowActivated(GtkDialog* dialog) {
    if (rowActivatedHandler_ != NO_HANDLER)
        return;
    rowActivatedHandler_ =
        g_signal_connect(view_, "row-activated", G_CALLBACK(onRowActivated), dialog);
}

void UsesTreeView::disconnectRowActivated() {
    if (rowActivatedHandler_ == NO_HANDLER)
        return;
    g_signal_handler_disconnect(view_, rowActivatedHandler_);
    rowActivatedHandler_ = NO_HANDLER;
}

void WizardPageWithTreeView::showTreePage(const char* text) {
    showPage(text);
    gtk_box_pack_start(getWizard()->getPageBox(), treeView_.getWidget(), TRUE, TRUE, 8);
    treeView_.connectRowActivated(getWizard()->getDialog());
}

void WizardPageWithTreeView::hideTreePage() {
    treeView_.disconnectRowActivated();
    GtkWidget* widget = treeView_.getWidget();
    if (GtkWidget* parent = gtk_widget_get_parent(widget))
        gtk_container_remove(GTK_CONTAINER(parent), widget);
    finishPage();
}

int WizardPageWithTreeView::run() {
    gtk_widget_grab_focus(GTK_WIDGET(treeView_.getView()));
    return getWizard()->run();
}

} // namespace gtk
