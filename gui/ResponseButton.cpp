#include "gui/ResponseButton.h"

namespace {

struct ResponseLink {
    GtkDialog* dialog;
    int response;
};

void onClicked(GtkButton*, gpointer data) {
    const ResponseLink* link = static_cast<const ResponseLink*>(data);
    gtk_dialog_response(link->dialog, link->response);
}

void freeLink(gpointer data, GClosure*) {
    delete static_cast<ResponseLink*>(data);
}

} // namespace

void ResponseButton::connect(GtkWidget* button) const {
    g_signal_connect_data(button, "clicked", G_CALLBACK(onClicked),
                          new ResponseLink{dialog_, response_}, freeLink,
                          static_cast<GConnectFlags>(0));
}
