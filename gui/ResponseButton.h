#pragma once

// Makes any button answer a dialog, for buttons that do not stand in the
// dialog's action area.

#include <gtk/gtk.h>

class ResponseButton {
public:
    ResponseButton(GtkDialog* dialog, int response) : dialog_(dialog), response_(response) {}

    // A click on `button` emits the response on the dialog. The connection
    // keeps its own copy of the two values, so this object may go away first.
    void connect(GtkWidget* button) const;

private:
    GtkDialog* dialog_;
    int response_;
};
