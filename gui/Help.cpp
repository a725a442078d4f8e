#include "gui/Help.h"

#include "core/Preferences.h"
#include "core/System.h"

#include <gdk/gdkkeysyms.h>

std::string helpFilePath(const char* topic) {
    std::string name = std::string(topic ? topic : "") + ".html";
    return Preferences::instance().localeFilePath(name);
}

void helpFile(GtkWindow* window, const char* topic) {
    // The viewer is a separate program; a missing page is its to report.
    (void)window;
    std::string path = helpFilePath(topic);
    systemOpenFile(path.c_str(), topic);
}

F1HelpBinding::F1HelpBinding(GtkWidget* window, const char* topic)
    : widget_(window), handler_(0), topic_(topic ? topic : "") {
    handler_ = g_signal_connect(widget_, "key_press_event", G_CALLBACK(onKeyPress), this);
    // The window may go before the binding (destroyed with its parent); the weak
    // pointer then turns null instead of dangling.
    g_object_add_weak_pointer(G_OBJECT(widget_), reinterpret_cast<gpointer*>(&widget_));
}

F1HelpBinding::~F1HelpBinding() {
    if (!widget_)
        return;
    g_object_remove_weak_pointer(G_OBJECT(widget_), reinterpret_cast<gpointer*>(&widget_));
    if (g_signal_handler_is_connected(widget_, handler_))
        g_signal_handler_disconnect(widget_, handler_);
}

gboolean F1HelpBinding::onKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer self) {
    if (event->keyval != GDK_F1)
        return FALSE;
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    GtkWindow* window = GTK_IS_WINDOW(toplevel) ? GTK_WINDOW(toplevel) : nullptr;
    helpFile(window, static_cast<F1HelpBinding*>(self)->topic_.c_str());
    return TRUE;
}
