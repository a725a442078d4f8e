#pragma once

// What the two panes of the tree view (the folder tree and the file list) share:
// the view they report to, their check icons, their popup menus, and the guard
// around every GTK callback.

#include "core/Ownership.h"
#include "core/UserInterface.h"
#include "tree/Map.h"
#include "tree/MapIterator.h"
#include "tree/MapPosition.h"

#include <gtk/gtk.h>

#include <functional>
#include <memory>

class TreeInterface;

namespace gtk {

// Holds the shown map for as long as the view lives.
class MapHolder {
public:
    explicit MapHolder(const SharedPtr<tree::Map>& map) : map_(map) {}
    virtual ~MapHolder() = default;
    tree::Map* heldMap() const { return map_.get(); }

protected:
    SharedPtr<tree::Map> map_;
};

// The view as its panes see it.
class InterfaceForPanels : public MapHolder {
public:
    explicit InterfaceForPanels(const SharedPtr<tree::Map>& map) : MapHolder(map) {}
    ~InterfaceForPanels() override = default;

    // Fills the file list with the folder's visible entries.
    virtual void showFolder(const tree::MapPosition& folder) = 0;
    // Opens a folder, views a file.
    virtual void activateNode(const tree::MapPosition& node) = 0;
    // Marks or unmarks the node and its subtree; the node's new mark.
    virtual bool setFolderChecked(const tree::MapPosition& node, bool mark) = 0;
    virtual bool setFileChecked(const tree::MapPosition& node, bool mark) = 0;
    virtual FrTreeInterface* getInterface() = 0;
    virtual TreeInterface* getTreeInterface() = 0;

    // A cursor at a row's position, or nothing when the map has no such entry.
    std::unique_ptr<tree::MapIterator> cursorAt(const tree::MapPosition& position, bool visibleOnly,
                                                bool directoriesOnly);
    // The node's recovery mark (false when there is no such node).
    bool isMarked(const tree::MapPosition& position);
};

// Runs the work of a GTK callback. Nothing may unwind through GTK's C frames:
// a cancel is only logged (what was done so far stays), any other failure is
// logged and shown in an error box.
void guardCallback(const char* where, const std::function<void()>& work);

// The check icons of a pane: the program's stock items rendered for its widget.
// Each icon is a distinct picture, also when a stock item is missing, because a
// row's mark is told by which icon it shows.
class PaneIcons {
public:
    PaneIcons(GtkWidget* widget, bool withFiles);
    ~PaneIcons();
    PaneIcons(const PaneIcons&) = delete;
    PaneIcons& operator=(const PaneIcons&) = delete;

    GdkPixbuf* folder(bool marked) const { return marked ? folderChecked_ : folder_; }
    // Null for a pane without file icons.
    GdkPixbuf* file(bool marked) const { return marked ? fileChecked_ : file_; }
    GdkPixbuf* of(bool directory, bool marked) const {
        return directory ? folder(marked) : file(marked);
    }

private:
    GdkPixbuf* folder_ = nullptr;
    GdkPixbuf* folderChecked_ = nullptr;
    GdkPixbuf* file_ = nullptr;
    GdkPixbuf* fileChecked_ = nullptr;
};

// The last popup menu of a pane: a new one replaces (destroys) the old one, and
// the last goes with the pane.
class PopupMenu {
public:
    PopupMenu() = default;
    ~PopupMenu() { reset(); }
    PopupMenu(const PopupMenu&) = delete;
    PopupMenu& operator=(const PopupMenu&) = delete;

    // A fresh, empty menu in place of the previous one.
    GtkMenu* start();
    // An item running `action` (guarded); with bold, the label is shown bold.
    GtkWidget* add(const char* label, bool bold, std::function<void()> action);
    void addSeparator();
    // Shows the menu at the button and time of the event.
    void popup(const GdkEventButton* event);
    GtkMenu* get() const { return menu_; }
    void reset();

private:
    static void onActivate(GtkMenuItem* item, gpointer action);
    static void freeAction(gpointer action, GClosure* closure);

    GtkMenu* menu_ = nullptr;
};

// The space key runs `toggle` (guarded) and is not passed on; any other key is
// left to the view.
gboolean toggleOnMarkKey(const GdkEventKey* event, const char* where,
                         const std::function<void()>& toggle);
// A right button press on a row: `build` makes the row's menu (false: no menu
// for it), which then pops up at the event. GTK's own handling of the press
// always goes on: it moves the cursor to the clicked row.
gboolean popupOnRightPress(GtkTreeView* view, const GdkEventButton* event, PopupMenu& popup,
                           const std::function<bool(GtkTreeIter*)>& build);
// Runs `work` (guarded) on the row of `path`, when there is one.
void withRow(GtkTreeView* view, GtkTreePath* path, const char* where,
             const std::function<void(GtkTreeIter*)>& work);

// A pane's tree view may be destroyed with its window before or after the
// pane: `view` becomes a weak pointer, cleared when the view goes.
void watchView(GtkTreeView*& view);
// The pane's end: every handler `owner` connected on a view that still exists
// is disconnected, so that the view never calls into a pane that is gone.
void releaseView(GtkTreeView*& view, gpointer owner);

} // namespace gtk
