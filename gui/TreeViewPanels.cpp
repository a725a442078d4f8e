#include "gui/TreeViewPanels.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "gui/MessageDialog.h"
#include "gui/TreeInterface.h"
#include "gui/TreeViewWidgets.h"

#include <gdk/gdkkeysyms.h>

namespace gtk {

std::unique_ptr<tree::MapIterator> InterfaceForPanels::cursorAt(const tree::MapPosition& position,
                                                                bool visibleOnly,
                                                                bool directoriesOnly) {
    return getTreeInterface()->openCursor(position, visibleOnly, directoriesOnly);
}

bool InterfaceForPanels::isMarked(const tree::MapPosition& position) {
    std::unique_ptr<tree::MapIterator> cursor = cursorAt(position, false, false);
    return cursor && cursor->isSelected();
}

void guardCallback(const char* where, const std::function<void()>& work) {
    try {
        work();
    } catch (const InterruptedException&) {
        logAt("TreeView", 27) << ": " << where << ": cancelled\n";
    } catch (const std::exception& e) {
        logAt("TreeView", 29) << ": " << where << ": " << e.what() << '\n';
        const std::string text = escapeMarkup(failureText(e));
        messageDialog(MESSAGE_ERROR, text.c_str(), nullptr, false, nullptr);
    } catch (...) {
        logAt("TreeView", 33) << ": " << where << '\n';
        messageDialog(MESSAGE_ERROR, _("Unknown exception"), nullptr, false, nullptr);
    }
}

namespace {

GdkPixbuf* renderIcon(GtkWidget* widget, const char* stockId, guint32 fallbackColour) {
    GdkPixbuf* icon = gtk_widget_render_icon(widget, stockId, GTK_ICON_SIZE_SMALL_TOOLBAR, nullptr);
    if (icon)
        return icon;
    // Without the stock item a plain square of its own colour still tells the
    // four apart.
    int width = 16;
    int height = 16;
    gtk_icon_size_lookup(GTK_ICON_SIZE_SMALL_TOOLBAR, &width, &height);
    icon = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    gdk_pixbuf_fill(icon, fallbackColour);
    return icon;
}

void unrefIcon(GdkPixbuf*& icon) {
    if (icon)
        g_object_unref(icon);
    icon = nullptr;
}

} // namespace

PaneIcons::PaneIcons(GtkWidget* widget, bool withFiles) {
    folder_ = renderIcon(widget, "Directory", 0xC0A040FFu);
    folderChecked_ = renderIcon(widget, "DirectoryChecked", 0xC02020FFu);
    if (withFiles) {
        file_ = renderIcon(widget, "File", 0x808080FFu);
        fileChecked_ = renderIcon(widget, "FileChecked", 0xE04040FFu);
    }
}

PaneIcons::~PaneIcons() {
    unrefIcon(folder_);
    unrefIcon(folderChecked_);
    unrefIcon(file_);
    unrefIcon(fileChecked_);
}

GtkMenu* PopupMenu::start() {
    reset();
    menu_ = GTK_MENU(gtk_menu_new());
    // The pane owns the menu until it replaces it.
    g_object_ref_sink(menu_);
    return menu_;
}

void PopupMenu::reset() {
    if (!menu_)
        return;
    gtk_widget_destroy(GTK_WIDGET(menu_));
    g_object_unref(menu_);
    menu_ = nullptr;
}

void PopupMenu::onActivate(GtkMenuItem*, gpointer action) {
    const auto& work = *static_cast<std::function<void()>*>(action);
    guardCallback("popup", work);
}

void PopupMenu::freeAction(gpointer action, GClosure*) {
    delete static_cast<std::function<void()>*>(action);
}

GtkWidget* PopupMenu::add(const char* label, bool bold, std::function<void()> action) {
    GtkWidget* item = gtk_menu_item_new_with_mnemonic(label);
    if (bold) {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(item));
        const std::string markup = "<b>" + escapeMarkup(label) + "</b>";
        gtk_label_set_markup_with_mnemonic(GTK_LABEL(child), markup.c_str());
    }
    g_signal_connect_data(item, "activate", G_CALLBACK(onActivate),
                          new std::function<void()>(std::move(action)), freeAction,
                          static_cast<GConnectFlags>(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), item);
    gtk_widget_show(item);
    return item;
}

void PopupMenu::addSeparator() {
    GtkWidget* item = gtk_separator_menu_item_new();
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), item);
    gtk_widget_show(item);
}

void PopupMenu::popup(const GdkEventButton* event) {
    gtk_menu_popup(menu_, nullptr, nullptr, nullptr, nullptr, event ? event->button : 0,
                   event ? event->time : gtk_get_current_event_time());
}

gboolean toggleOnMarkKey(const GdkEventKey* event, const char* where,
                         const std::function<void()>& toggle) {
    if (event->keyval != GDK_KEY_space)
        return FALSE;
    guardCallback(where, toggle);
    return TRUE;
}

gboolean popupOnRightPress(GtkTreeView* view, const GdkEventButton* event, PopupMenu& popup,
                           const std::function<bool(GtkTreeIter*)>& build) {
    if (event->type != GDK_BUTTON_PRESS || event->button != 3)
        return FALSE;
    guardCallback("popup", [&] {
        GtkTreePath* path = nullptr;
        if (!gtk_tree_view_get_path_at_pos(view, static_cast<gint>(event->x),
                                           static_cast<gint>(event->y), &path, nullptr, nullptr,
                                           nullptr))
            return;
        GtkTreeIter row;
        const bool exists = gtk_tree_model_get_iter(gtk_tree_view_get_model(view), &row, path);
        gtk_tree_path_free(path);
        if (exists && build(&row))
            popup.popup(event);
    });
    return FALSE;
}

void withRow(GtkTreeView* view, GtkTreePath* path, const char* where,
             const std::function<void(GtkTreeIter*)>& work) {
    guardCallback(where, [&] {
        GtkTreeIter row;
        if (gtk_tree_model_get_iter(gtk_tree_view_get_model(view), &row, path))
            work(&row);
    });
}

void watchView(GtkTreeView*& view) {
    g_object_add_weak_pointer(G_OBJECT(view), reinterpret_cast<gpointer*>(&view));
}

void releaseView(GtkTreeView*& view, gpointer owner) {
    if (!view)
        return;
    g_signal_handlers_disconnect_matched(view, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, owner);
    g_object_remove_weak_pointer(G_OBJECT(view), reinterpret_cast<gpointer*>(&view));
    view = nullptr;
}

} // namespace gtk
