#pragma once

// Shared by the GUI tests: GTK started once (tests skip without a display),
// running pending events, finding widgets, and answering modal dialogs from a
// timeout while their own loop runs.

#include "core/AppDirectory.h"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <string>
#include <utility>
#include <vector>

namespace guitest {

inline bool gtkStarted() {
    static const bool started = [] {
        int argc = 0;
        return gtk_init_check(&argc, nullptr) != FALSE;
    }();
    return started;
}

// Base fixture: skips every test when GTK cannot open a display.
class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!gtkStarted())
            GTEST_SKIP() << "no display";
    }
};

// Keeps the process's application directory and puts it back at the end, so a
// test can point the program's pictures and pages elsewhere.
class ScopedAppDirectory {
public:
    ScopedAppDirectory() : saved_(appDirectory()) {}
    ~ScopedAppDirectory() { setAppDirectory(saved_); }
    ScopedAppDirectory(const ScopedAppDirectory&) = delete;
    ScopedAppDirectory& operator=(const ScopedAppDirectory&) = delete;
    void use(const std::string& path) { setAppDirectory(path); }
    // The pictures and pages of the source tree.
    void useShipped() { setAppDirectory(std::string(HB_SOURCE_DIR) + "/lib"); }

private:
    std::string saved_;
};

inline void pumpEvents() {
    while (gtk_events_pending())
        gtk_main_iteration();
}

// Runs events until `done` holds or `ms` milliseconds have passed; whether it held.
inline bool pumpUntil(const std::function<bool()>& done, int ms = 2000) {
    gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(ms) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() > deadline)
            return false;
        pumpEvents();
        g_usleep(2000);
    }
    return true;
}

// Every widget below `root` (itself included) of type `type`, internal children
// such as a dialog's action area included, in depth-first order.
inline void collectWidgets(GtkWidget* root, GType type, std::vector<GtkWidget*>& out) {
    if (G_TYPE_CHECK_INSTANCE_TYPE(root, type))
        out.push_back(root);
    if (GTK_IS_CONTAINER(root)) {
        std::pair<GType, std::vector<GtkWidget*>*> args(type, &out);
        gtk_container_forall(
            GTK_CONTAINER(root),
            [](GtkWidget* child, gpointer data) {
                auto* a = static_cast<std::pair<GType, std::vector<GtkWidget*>*>*>(data);
                collectWidgets(child, a->first, *a->second);
            },
            &args);
    }
}
inline std::vector<GtkWidget*> findWidgets(GtkWidget* root, GType type) {
    std::vector<GtkWidget*> out;
    collectWidgets(root, type, out);
    return out;
}

// The button below `root` whose label is `label` (a stock id or mnemonic text).
inline GtkWidget* findButton(GtkWidget* root, const char* label) {
    for (GtkWidget* button : findWidgets(root, GTK_TYPE_BUTTON)) {
        const char* text = gtk_button_get_label(GTK_BUTTON(button));
        if (text && std::string(text) == label)
            return button;
    }
    return nullptr;
}

// The visible dialog window most recently shown, or null.
inline GtkDialog* findVisibleDialog() {
    GtkDialog* found = nullptr;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* l = toplevels; l; l = l->next) {
        GtkWidget* window = GTK_WIDGET(l->data);
        if (GTK_IS_DIALOG(window) && gtk_widget_get_visible(window)) {
            found = GTK_DIALOG(window);
            break;
        }
    }
    g_list_free(toplevels);
    return found;
}

// Sends the window manager's close request, as the title bar's button does.
inline void sendDelete(GtkWidget* window) {
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
}

// Runs `action` on the first visible dialog from a timeout, so that it answers
// a dialog whose modal loop the test is about to start. When no dialog shows
// within five seconds the test fails.
class DialogAnswer {
public:
    explicit DialogAnswer(std::function<void(GtkDialog*)> action) : action_(std::move(action)) {
        source_ = g_timeout_add(10, &DialogAnswer::tick, this);
        deadline_ = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
    }
    ~DialogAnswer() {
        if (source_)
            g_source_remove(source_);
    }
    DialogAnswer(const DialogAnswer&) = delete;
    DialogAnswer& operator=(const DialogAnswer&) = delete;
    bool answered() const { return answered_; }

private:
    static gboolean tick(gpointer data) {
        auto* self = static_cast<DialogAnswer*>(data);
        GtkDialog* dialog = findVisibleDialog();
        if (dialog && gtk_widget_get_mapped(GTK_WIDGET(dialog))) {
            self->answered_ = true;
            self->source_ = 0;
            self->action_(dialog);
            return FALSE;
        }
        if (g_get_monotonic_time() > self->deadline_) {
            ADD_FAILURE() << "no dialog appeared";
            self->source_ = 0;
            return FALSE;
        }
        return TRUE;
    }

    std::function<void(GtkDialog*)> action_;
    guint source_ = 0;
    gint64 deadline_ = 0;
    bool answered_ = false;
};

// Saves a picture of a shown window when HB_GUI_SHOTS names a folder; for
// looking at, never for asserting.
inline void screenshot(GtkWidget* widget, const char* name) {
    const char* folder = std::getenv("HB_GUI_SHOTS");
    if (!folder || !gtk_widget_get_realized(widget))
        return;
    pumpEvents();
    gdk_window_process_all_updates();
    gdk_flush();
    GdkWindow* window = gtk_widget_get_window(widget);
    int width = 0;
    int height = 0;
    gdk_drawable_get_size(GDK_DRAWABLE(window), &width, &height);
    GdkPixbuf* picture = gdk_pixbuf_get_from_drawable(nullptr, GDK_DRAWABLE(window), nullptr, 0, 0,
                                                      0, 0, width, height);
    if (!picture)
        return;
    std::string path = std::string(folder) + "/" + name + ".png";
    gdk_pixbuf_save(picture, path.c_str(), "png", nullptr, nullptr);
    g_object_unref(picture);
}

} // namespace guitest
