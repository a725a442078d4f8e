#include "gui/Wizard.h"

#include "core/AppDirectory.h"
#include "gui/Banner.h"
#include "gui/Help.h"

#include <memory>

namespace gtk {

namespace {

constexpr int DEFAULT_WIDTH = 550;
constexpr int DEFAULT_HEIGHT = 400;

void destroyChildren(GtkContainer* container) {
    GList* children = gtk_container_get_children(container);
    for (GList* c = children; c; c = c->next)
        gtk_widget_destroy(GTK_WIDGET(c->data));
    g_list_free(children);
}

} // namespace

Wizard::Wizard(GtkWindow* parent) {
    GtkWidget* widget = gtk_dialog_new_with_buttons(
        nullptr, parent,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), nullptr);
    // The dialog goes away with its parent; the holder then forgets it.
    dialog_.reset(GTK_DIALOG(widget));
    gtk_window_set_default_size(GTK_WINDOW(widget), DEFAULT_WIDTH, DEFAULT_HEIGHT);
    if (parent == nullptr)
        gtk_window_set_position(GTK_WINDOW(widget), GTK_WIN_POS_CENTER);

    GtkBox* content = GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(widget)));
    gtk_box_pack_start(content, createBanner(nullptr, "WizardBannerRight.png"), FALSE, FALSE, 0);

    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_container_set_border_width(GTK_CONTAINER(frame), 8);
    GtkWidget* row = gtk_hbox_new(FALSE, 8);
    const std::string hand = appFilePath(appDirectory(), "WizardHand.png");
    gtk_box_pack_start(GTK_BOX(row), gtk_image_new_from_file(hand.c_str()), FALSE, FALSE, 0);
    GtkWidget* align = gtk_alignment_new(0, 0.5f, 1, 0);
    GtkWidget* view = makeDescriptionView(widget, nullptr);
    description_ = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    gtk_container_add(GTK_CONTAINER(align), view);
    gtk_box_pack_start(GTK_BOX(row), align, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(frame), row);
    gtk_box_pack_start(content, frame, FALSE, FALSE, 0);

    GtkWidget* pageBox = gtk_vbox_new(FALSE, 0);
    gtk_container_set_border_width(GTK_CONTAINER(pageBox), 8);
    pageBox_ = GTK_BOX(pageBox);
    gtk_box_pack_start(content, pageBox, TRUE, TRUE, 0);

    g_signal_connect(widget, "close", G_CALLBACK(onClose), nullptr);
    gtk_widget_show_all(widget);
}

// Escape means Back. The dialog's own handler would turn the key into a delete
// event, whose response would overwrite ours within the same loop.
void Wizard::onClose(GtkDialog* dialog, gpointer) {
    g_signal_stop_emission_by_name(dialog, "close");
    gtk_dialog_response(dialog, GTK_RESPONSE_REJECT);
}

GtkWidget* Wizard::makeDescriptionView(GtkWidget* styleWidget, const char* text) {
    GtkWidget* view = gtk_text_view_new();
    gtk_widget_set_sensitive(view, FALSE);
    if (styleWidget) {
        GtkStyle* style = gtk_widget_get_style(styleWidget);
        if (style)
            gtk_widget_modify_base(view, GTK_STATE_INSENSITIVE, &style->bg[GTK_STATE_NORMAL]);
    }
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD);
    if (text)
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text, -1);
    return view;
}

void Wizard::setPage(const char* title, const char* text, bool hasBack) {
    gtk_window_set_title(getWindow(), title ? title : "");
    gtk_text_buffer_set_text(description_, text ? text : "", -1);
    destroyChildren(GTK_CONTAINER(pageBox_));

    const int wanted = hasBack ? BACK_AND_NEXT : NEXT_ONLY;
    if (backState_ == wanted)
        return;
    GtkDialog* dialog = dialog_.get();
    destroyChildren(GTK_CONTAINER(gtk_dialog_get_action_area(dialog)));
    backButton_ =
        hasBack ? gtk_dialog_add_button(dialog, GTK_STOCK_GO_BACK, GTK_RESPONSE_REJECT) : nullptr;
    // "Next" is the program's own stock item, registered at start-up.
    nextButton_ = gtk_dialog_add_button(dialog, "Next", GTK_RESPONSE_ACCEPT);
    backState_ = wanted;
}

void Wizard::setResponseSensitive(int response, bool sensitive) {
    GtkWidget* button = nullptr;
    if (response == GTK_RESPONSE_ACCEPT)
        button = nextButton_;
    else if (response == GTK_RESPONSE_REJECT)
        button = backButton_;
    if (button)
        gtk_widget_set_sensitive(button, sensitive);
}

int Wizard::run() {
    GtkDialog* dialog = dialog_.get();
    gtk_container_set_border_width(GTK_CONTAINER(gtk_dialog_get_content_area(dialog)), 0);
    std::unique_ptr<F1HelpBinding> help;
    if (!helpTopic_.empty())
        help = std::make_unique<F1HelpBinding>(GTK_WIDGET(dialog), helpTopic_.c_str());
    gtk_widget_show_all(GTK_WIDGET(dialog));
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_dialog_set_default_response(dialog, GTK_RESPONSE_ACCEPT);
    const int response = gtk_dialog_run(dialog);
    return response == GTK_RESPONSE_DELETE_EVENT ? GTK_RESPONSE_CLOSE : response;
}

GtkWidget* newFormLabel(const char* text) {
    const std::string withColon = std::string(text) + ":";
    GtkWidget* label = gtk_label_new_with_mnemonic(withColon.c_str());
    gtk_misc_set_alignment(GTK_MISC(label), 1.0f, 0.5f);
    return label;
}

} // namespace gtk
