#include "gui/MessageDialog.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "core/Text.h"
#include "core/UserInterface.h"
#include "gui/ResizableLabel.h"
#include "tree/Recoverer.h"

namespace gtk {

namespace {

// How each kind looks. Unknown kinds look like errors.
struct KindStyle {
    const char* title; // translated when shown
    const char* icon;
    bool yesNo;
    const char* closeButton; // the one button of a box that asks nothing
};

const KindStyle ERROR_STYLE = {N_("Error"), GTK_STOCK_DIALOG_ERROR, false, GTK_STOCK_CLOSE};

const KindStyle& styleOf(int kind) {
    static const KindStyle question = {N_("Question"), GTK_STOCK_DIALOG_QUESTION, true, nullptr};
    static const KindStyle warning = {N_("Warning"), GTK_STOCK_DIALOG_WARNING, true, nullptr};
    static const KindStyle infoClose = {N_("Information"), GTK_STOCK_DIALOG_INFO, false,
                                        GTK_STOCK_CLOSE};
    static const KindStyle infoOk = {N_("Information"), GTK_STOCK_DIALOG_INFO, false, GTK_STOCK_OK};
    switch (kind) {
    case MESSAGE_QUESTION:
        return question;
    case MESSAGE_WARNING:
        return warning;
    case MESSAGE_INFO_CLOSE:
        return infoClose;
    case MESSAGE_INFO_OK:
        return infoOk;
    default:
        return ERROR_STYLE;
    }
}

// Maximum width of the text before it wraps, and the width it may later be
// narrowed to when the user makes the box smaller.
constexpr int TEXT_MAX_WIDTH = 500;
constexpr int TEXT_MIN_WIDTH = 100;

} // namespace

int messageResult(int kind, int response, bool checked) {
    int result = 0;
    if (styleOf(kind).yesNo && response != GTK_RESPONSE_ACCEPT)
        result = 1;
    if (checked)
        result |= 0x10;
    return result;
}

int runMessageDialog(int kind, const std::string& text, GtkWindow* parent, bool defaultNo,
                     const char* checkLabel, bool checked) {
    const KindStyle& style = styleOf(kind);
    GtkWidget* dialog = gtk_dialog_new();
    // Held so that the dialog can be read and destroyed after its loop, also
    // when its parent took it down meanwhile.
    g_object_ref(dialog);
    GtkWindow* window = GTK_WINDOW(dialog);
    gtk_window_set_title(window, _(style.title));
    if (parent)
        gtk_window_set_transient_for(window, parent);
    gtk_window_set_modal(window, TRUE);
    gtk_window_set_destroy_with_parent(window, TRUE);
    gtk_dialog_set_has_separator(GTK_DIALOG(dialog), FALSE);

    int border = 0;
    int spacing = 0;
    gtk_widget_style_get(dialog, "action-area-border", &border, "button-spacing", &spacing,
                         nullptr);
    GtkWidget* outer = gtk_vbox_new(FALSE, spacing);
    gtk_container_set_border_width(GTK_CONTAINER(outer), border);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), outer, FALSE,
                       FALSE, 0);
    GtkWidget* row = gtk_hbox_new(FALSE, spacing);
    gtk_box_pack_start(GTK_BOX(outer), row, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), gtk_image_new_from_stock(style.icon, GTK_ICON_SIZE_DIALOG),
                       FALSE, FALSE, 0);
    GtkWidget* textBox = gtk_vbox_new(FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), textBox, TRUE, TRUE, 0);
    // Expanding but not filling: a short text stands centred beside the icon.
    GtkWidget* label = createResizableLabel(text.c_str(), TEXT_MAX_WIDTH);
    gtk_box_pack_start(GTK_BOX(textBox), label, TRUE, FALSE, 0);

    GtkWidget* check = nullptr;
    if (checkLabel) {
        check = gtk_check_button_new_with_mnemonic(checkLabel);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), checked);
        g_object_ref(check);
        gtk_box_pack_start(GTK_BOX(outer), check, FALSE, FALSE, 0);
    }

    GtkWidget* defaultButton;
    int defaultResponse;
    if (style.yesNo) {
        GtkWidget* no =
            gtk_dialog_add_button(GTK_DIALOG(dialog), GTK_STOCK_NO, GTK_RESPONSE_REJECT);
        GtkWidget* yes =
            gtk_dialog_add_button(GTK_DIALOG(dialog), GTK_STOCK_YES, GTK_RESPONSE_ACCEPT);
        gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT,
                                                GTK_RESPONSE_REJECT, -1);
        defaultButton = defaultNo ? no : yes;
        defaultResponse = defaultNo ? GTK_RESPONSE_REJECT : GTK_RESPONSE_ACCEPT;
    } else {
        defaultButton =
            gtk_dialog_add_button(GTK_DIALOG(dialog), style.closeButton, GTK_RESPONSE_REJECT);
        defaultResponse = GTK_RESPONSE_REJECT;
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), defaultResponse);
    gtk_widget_grab_focus(defaultButton);

    gtk_widget_show_all(dialog);
    // Shown at its natural width first; from now on the user may narrow it.
    resizableLabelSetWidth(label, TEXT_MIN_WIDTH);

    int response = gtk_dialog_run(GTK_DIALOG(dialog));
    const bool ticked = check && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check));
    gtk_widget_destroy(dialog);
    if (check)
        g_object_unref(check);
    g_object_unref(dialog);

    int result = messageResult(kind, response, ticked);
    logAt("MessageDialog", 129) << ": " << kind << ' ' << text << ' ' << result << '\n';
    return result;
}

void installMessageDialogHandler() {
    setMessageDialogHandler([](int kind, const std::string& text, WindowHandle parent,
                               bool defaultNo, const char* checkLabel, bool checked) {
        return runMessageDialog(kind, text, static_cast<GtkWindow*>(parent), defaultNo, checkLabel,
                                checked);
    });
}

std::string failureText(const std::exception& e) {
    if (dynamic_cast<const tree::Recoverer::Exception*>(&e))
        return e.what();
    return formatMessage(_("An internal error stopped the command:\n%1"), e.what());
}

} // namespace gtk
