#pragma once

// Shared by the window tests: GTK started once (tests skip without a display),
// running pending events, finding widgets, the dialog scripter (DialogScript.h)
// and a fake machine whose disks, partitions and mounted folder the sources
// tree lists.

#include "core/AppDirectory.h"
#include "core/Config.h"
#include "core/Preferences.h"
#include "devices/SystemSources.h"
#include "tests/gui/DialogScript.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/TestUtil.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace guitest {

// Puts the pointer on the screen's last pixel, where no test window reaches.
// Many test programs share one X server, their windows at its centre where the
// pointer starts. GDK finds the window under the pointer with one XQueryPointer
// per level of the window tree; when the program owning that window exits
// between two levels, the next query names a window that is gone and GDK ends
// this program on the BadWindow. The pointer stays put until the server resets.
inline void movePointerOffTheWindows() {
    GdkDisplay* display = gdk_display_get_default();
    GdkScreen* screen = gdk_display_get_default_screen(display);
    gdk_display_warp_pointer(display, screen, gdk_screen_get_width(screen) - 1,
                             gdk_screen_get_height(screen) - 1);
    gdk_display_sync(display);
}

inline bool gtkStarted() {
    // Many test programs connect to one X server at once; a refused first
    // connection is tried again rather than skipping the test.
    static const bool started = [] {
        for (int tries = 0; tries < 20; ++tries, g_usleep(100000)) {
            int argc = 0;
            if (gtk_init_check(&argc, nullptr)) {
                movePointerOffTheWindows();
                return true;
            }
        }
        return false;
    }();
    return started;
}

// Base fixture: skips every test when there is no display to open; one that
// is named but cannot be opened fails, so that no window test passes unseen.
class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!gtkStarted()) {
            const char* display = std::getenv("DISPLAY");
            if (display && *display)
                FAIL() << "DISPLAY=" << display << " cannot be opened";
            GTEST_SKIP() << "no display";
        }
        setUpWindows();
    }
    // What a fixture makes once GTK runs; not called when the test skips.
    virtual void setUpWindows() {}
};

// For tests that read the program's texts, sizes and dates: English (whatever
// the locale), in UTC.
class EnglishUtcTest : public GuiTest {
protected:
    EnglishUtcTest() { Preferences::instance().language() = 0; }
    testutil::ScopedTimeZone zone{"UTC"};
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

// Calls `visit` on each row below `parent` (null: the top level) until it
// returns true; whether one did.
template <typename Visit> bool forEachRow(GtkTreeModel* model, GtkTreeIter* parent, Visit visit) {
    GtkTreeIter it;
    for (bool more = gtk_tree_model_iter_children(model, &it, parent); more;
         more = gtk_tree_model_iter_next(model, &it)) {
        if (visit(it))
            return true;
    }
    return false;
}

// Column `column` (a string) of a row.
inline std::string rowString(GtkTreeModel* model, GtkTreeIter* row, int column) {
    gchar* text = nullptr;
    gtk_tree_model_get(model, row, column, &text, -1);
    const std::string s = text ? text : "";
    g_free(text);
    return s;
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

// The widget below `root` named `name` (gtk_widget_set_name), or null.
inline GtkWidget* findNamed(GtkWidget* root, const char* name) {
    for (GtkWidget* w : findWidgets(root, GTK_TYPE_WIDGET))
        if (std::string(gtk_widget_get_name(w)) == name)
            return w;
    return nullptr;
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

// Sends one key press (with `state`, such as GDK_MOD1_MASK for a mnemonic) to
// a realised widget; what its handlers answered.
inline bool pressKey(GtkWidget* widget, guint keyval, guint state = 0) {
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    event->key.send_event = TRUE;
    event->key.keyval = keyval;
    event->key.state = state;
    // Mnemonics and accelerators are looked up by the key's code.
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_default(), keyval, &keys, &count))
        event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
    g_free(keys);
    event->key.time = GDK_CURRENT_TIME;
    const bool handled = gtk_widget_event(widget, event) != FALSE;
    gdk_event_free(event);
    return handled;
}

// Sends the window manager's close request, as the title bar's button does.
inline void sendDelete(GtkWidget* window) {
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
}

// The control that the label with that text (as shown) names by its mnemonic.
inline GtkWidget* controlOfLabel(GtkDialog* dialog, const std::string& text) {
    for (GtkWidget* label : findWidgets(GTK_WIDGET(dialog), GTK_TYPE_LABEL))
        if (text == gtk_label_get_text(GTK_LABEL(label)))
            return gtk_label_get_mnemonic_widget(GTK_LABEL(label));
    return nullptr;
}

// Puts the cursor of the only tree view inside `dialog` on the row whose
// descriptor column (2) has that "id"; false when there is none.
inline bool selectRowById(GtkDialog* dialog, const std::string& id) {
    auto views = findWidgets(GTK_WIDGET(dialog), GTK_TYPE_TREE_VIEW);
    if (views.size() != 1)
        return false;
    GtkTreeView* view = GTK_TREE_VIEW(views[0]);
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    return forEachRow(model, nullptr, [&](GtkTreeIter& it) {
        const std::string descriptor = rowString(model, &it, 2);
        const std::string key = "id=" + id + "|";
        if (descriptor.compare(0, key.size(), key) != 0 &&
            descriptor.find("|" + key) == std::string::npos)
            return false;
        GtkTreePath* path = gtk_tree_model_get_path(model, &it);
        gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
        gtk_tree_path_free(path);
        return true;
    });
}

struct FakeSources {
    FakeSources() {
        tree.addDisk("sda", 1 << 21, "8:0", {{"device/model", "DISK1"}, {"device/serial", "A7"}});
        tree.addPartition("sda", "sda1", 1, 1 << 20, "8:1");
        tree.makeNode("fd0", 1474560);
        tree.setMountInfo("30 1 8:1 / " + mount.path() + " rw - vfat /dev/sda1 rw\n");
        testutil::writeAll(imagePath(), testutil::pattern(64 * 1024));
        std::filesystem::create_directory(folder());
        testutil::writeAll(folder() + "/inner.bin", "abc");
        vfs.reset(createSystemSources(tree.roots()));
    }

    std::string imagePath() const { return mount.path() + "/disk.img"; }
    std::string folder() const { return mount.path() + "/folder"; }
    std::string dev(const char* name) const { return tree.dev(name); }

    testutil::FakeSystemTree tree;
    testutil::TempDir mount;
    std::unique_ptr<DrivesVFS> vfs;
};

inline std::string descrValue(const std::string& descriptor, const char* key) {
    std::string out;
    getDescrValue(descriptor.c_str(), key, out);
    return out;
}

inline bool descrHas(const std::string& descriptor, const char* key) {
    std::string out;
    return getDescrValue(descriptor.c_str(), key, out);
}

// Column `column` (a string) of every row under `parent` (null: the top level).
inline std::vector<std::string> modelStrings(GtkTreeModel* model, int column,
                                             GtkTreeIter* parent = nullptr) {
    std::vector<std::string> out;
    forEachRow(model, parent, [&](GtkTreeIter& it) {
        out.push_back(rowString(model, &it, column));
        return false;
    });
    return out;
}

} // namespace guitest
