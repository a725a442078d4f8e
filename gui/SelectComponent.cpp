#include "gui/SelectComponent.h"

#include "core/Config.h"
#include "core/Intl.h"

namespace {

constexpr int DEFAULT_WIDTH = 640;
constexpr int DEFAULT_HEIGHT = 480;

} // namespace

SelectComponent::SelectComponent(const std::vector<std::string>& known, DrivesVFS* vfs,
                                 GtkWindow* parent)
    : known_(known), tree_(&known_, vfs) {
    GtkWidget* widget = gtk_dialog_new_with_buttons(
        _("Select Component"), parent,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, GTK_STOCK_OK, GTK_RESPONSE_OK, nullptr);
    dialog_.reset(GTK_DIALOG(widget));
    gtk_dialog_set_alternative_button_order(dialog_.get(), GTK_RESPONSE_OK, GTK_RESPONSE_CANCEL,
                                            -1);
    gtk_dialog_add_button(dialog_.get(), _("_Information"), GTK_RESPONSE_HELP);
    gtk_window_set_default_size(GTK_WINDOW(widget), DEFAULT_WIDTH, DEFAULT_HEIGHT);

    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    gtk_container_set_border_width(GTK_CONTAINER(box), 8);
    gtk_box_pack_start(GTK_BOX(box), tree_.createWidget(GTK_WINDOW(widget), false, false), TRUE,
                       TRUE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog_.get())), box, TRUE, TRUE, 0);
    tree_.fill(known_);
    g_signal_connect(tree_.getView(), "cursor-changed", G_CALLBACK(onCursorChanged), this);
    g_signal_connect(tree_.getView(), "row-activated", G_CALLBACK(onRowActivated), this);
    tree_.selectById("");
    onCursorChanged(nullptr, this);
    gtk_widget_show_all(box);
}

bool SelectComponent::currentRowChoosable() const {
    std::string unused;
    return getDescrValue(tree_.getSelectedDescriptor().c_str(), "ok", unused);
}

void SelectComponent::onCursorChanged(GtkTreeView*, gpointer self) {
    SelectComponent* select = static_cast<SelectComponent*>(self);
    if (select->dialog_)
        gtk_dialog_set_response_sensitive(select->dialog_.get(), GTK_RESPONSE_OK,
                                          select->currentRowChoosable());
}

void SelectComponent::onRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*,
                                     gpointer self) {
    SelectComponent* select = static_cast<SelectComponent*>(self);
    if (select->dialog_ && select->currentRowChoosable())
        gtk_dialog_response(select->dialog_.get(), GTK_RESPONSE_OK);
}

std::string SelectComponent::run() {
    int response;
    while ((response = gtk::runDialog(dialog_)) == GTK_RESPONSE_HELP)
        tree_.showInformation();
    std::string result = response == GTK_RESPONSE_OK ? tree_.getSelectedDescriptor() : "";
    dialog_.reset();
    return result;
}
