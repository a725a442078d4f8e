#pragma once

// F1 help: one HTML page per topic (the name of a window or page, such as
// "MainFrame" or "WizardPageScanner") in the language folders under the
// application directory, shown by the system's viewer.

#include <gtk/gtk.h>

#include <string>

// Opens the page of `topic` in the program language (English when there is no
// page in that language). `window` is the window the request came from.
void helpFile(GtkWindow* window, const char* topic);

// The path of a topic's page.
std::string helpFilePath(const char* topic);

// From construction to destruction, F1 pressed in `window` opens `topic`; the
// key does not reach the focused widget. The binding must not move while it is
// connected (the handler holds its address).
class F1HelpBinding {
public:
    F1HelpBinding(GtkWidget* window, const char* topic);
    ~F1HelpBinding();
    F1HelpBinding(const F1HelpBinding&) = delete;
    F1HelpBinding& operator=(const F1HelpBinding&) = delete;

private:
    static gboolean onKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer self);

    GtkWidget* widget_;
    gulong handler_;
    const std::string topic_;
};
