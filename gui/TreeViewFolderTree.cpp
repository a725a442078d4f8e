#include "gui/TreeViewFolderTree.h"

#include "core/Intl.h"
#include "gui/TreeInterface.h"
#include "gui/TreeViewWidgets.h"

#include <deque>

namespace gtk {

FolderTreePanel::FolderTreePanel(InterfaceForPanels* owner, GtkScrolledWindow* container)
    : owner_(owner) {
    if (GtkWidget* old = gtk_bin_get_child(GTK_BIN(container)))
        gtk_container_remove(GTK_CONTAINER(container), old);
    store_ = gtk_tree_store_new(COLUMN_COUNT, GDK_TYPE_PIXBUF, G_TYPE_STRING, G_TYPE_UINT64,
                                G_TYPE_UINT64, G_TYPE_UINT64);
    view_ = GTK_TREE_VIEW(gtk_tree_view_new_with_model(GTK_TREE_MODEL(store_)));
    watchView(view_);
    gtk_tree_view_set_headers_visible(view_, FALSE);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(view_), GTK_SELECTION_BROWSE);

    column_ = gtk_tree_view_column_new();
    GtkCellRenderer* icon = gtk_cell_renderer_pixbuf_new();
    gtk_tree_view_column_pack_start(column_, icon, FALSE);
    gtk_tree_view_column_add_attribute(column_, icon, "pixbuf", COL_ICON);
    GtkCellRenderer* name = gtk_cell_renderer_text_new();
    gtk_tree_view_column_pack_start(column_, name, TRUE);
    gtk_tree_view_column_add_attribute(column_, name, "text", COL_NAME);
    gtk_tree_view_append_column(view_, column_);

    gtk_container_add(GTK_CONTAINER(container), GTK_WIDGET(view_));
    icons_ = std::make_unique<PaneIcons>(GTK_WIDGET(container), false);

    g_signal_connect(view_, "cursor-changed", G_CALLBACK(onCursorChanged), this);
    g_signal_connect(view_, "row-expanded", G_CALLBACK(onRowExpanded), this);
    g_signal_connect(view_, "key_press_event", G_CALLBACK(onKeyPress), this);
    g_signal_connect(view_, "button-press-event", G_CALLBACK(onButtonPress), this);
    g_signal_connect(view_, "row-activated", G_CALLBACK(onRowActivated), this);
}

FolderTreePanel::~FolderTreePanel() {
    popup_.reset();
    releaseView(view_, this);
    icons_.reset();
    g_object_unref(store_);
}

tree::MapPosition FolderTreePanel::positionOf(GtkTreeModel* model, GtkTreeIter* row) {
    guint64 folder = 0;
    guint64 index = 0;
    gtk_tree_model_get(model, row, COL_FOLDER, &folder, COL_INDEX, &index, -1);
    return tree::MapPosition{folder, static_cast<u32>(index)};
}

void FolderTreePanel::setRowIcon(GtkTreeIter* row, bool marked) {
    gtk_tree_store_set(store_, row, COL_ICON, icons_->folder(marked), -1);
}

bool FolderTreePanel::rowShowsMark(GtkTreeIter* row) {
    GdkPixbuf* icon = nullptr;
    gtk_tree_model_get(model(), row, COL_ICON, &icon, -1);
    const bool marked = icon == icons_->folder(true);
    if (icon)
        g_object_unref(icon);
    return marked;
}

void FolderTreePanel::appendRow(GtkTreeIter* parent, const tree::MapIterator& cursor,
                                GtkTreeIter* out) {
    const tree::MapPosition& position = cursor.getPosition();
    gtk_tree_store_append(store_, out, parent);
    gtk_tree_store_set(store_, out, COL_ICON, icons_->folder(cursor.isSelected()), COL_NAME,
                       printableName(cursor.getName()).c_str(), COL_LEVEL, guint64(0), COL_FOLDER,
                       guint64(position.folder), COL_INDEX, guint64(position.index), -1);
}

void FolderTreePanel::loadChildren(GtkTreeIter* row, u64 target) {
    guint64 level = 0;
    gtk_tree_model_get(model(), row, COL_LEVEL, &level, -1);
    if (level == 0) {
        std::unique_ptr<tree::MapIterator> cursor =
            owner_->cursorAt(positionOf(model(), row), true, true);
        if (cursor && cursor->down()) {
            do {
                GtkTreeIter child;
                appendRow(row, *cursor, &child);
            } while (cursor->next());
        }
        level = 1;
        gtk_tree_store_set(store_, row, COL_LEVEL, level, -1);
    }
    if (level < target && level < 2) {
        GtkTreeIter child;
        for (bool more = gtk_tree_model_iter_children(model(), &child, row); more;
             more = gtk_tree_model_iter_next(model(), &child))
            loadChildren(&child, 1);
        gtk_tree_store_set(store_, row, COL_LEVEL, guint64(2), -1);
    }
}

void FolderTreePanel::reload() {
    gtk_tree_store_clear(store_);
    std::unique_ptr<tree::MapIterator> cursor = owner_->cursorAt(tree::START_POSITION, true, true);
    if (!cursor)
        return;
    GtkTreeIter root;
    appendRow(nullptr, *cursor, &root);
    loadChildren(&root, 1);
    GtkTreePath* path = gtk_tree_model_get_path(model(), &root);
    gtk_tree_view_expand_row(view_, path, FALSE);
    gtk_widget_grab_focus(GTK_WIDGET(view_));
    // Focusing puts the cursor on the first row only where the view is realised;
    // the root folder's contents must show either way.
    gtk_tree_view_set_cursor(view_, path, nullptr, FALSE);
    gtk_tree_path_free(path);
}

bool FolderTreePanel::selectedRow(GtkTreeIter& row) const {
    return view_ &&
           gtk_tree_selection_get_selected(gtk_tree_view_get_selection(view_), nullptr, &row);
}

bool FolderTreePanel::getSelected(tree::MapPosition& out) {
    GtkTreeIter row;
    if (!selectedRow(row))
        return false;
    out = positionOf(model(), &row);
    return true;
}

bool FolderTreePanel::hasFocus() const {
    return view_ && gtk_widget_is_focus(GTK_WIDGET(view_));
}

void FolderTreePanel::openChild(const tree::MapPosition& node) {
    GtkTreeIter selected;
    if (!selectedRow(selected))
        return;
    loadChildren(&selected, 1);
    GtkTreeIter child;
    for (bool more = gtk_tree_model_iter_children(model(), &child, &selected); more;
         more = gtk_tree_model_iter_next(model(), &child)) {
        if (positionOf(model(), &child) != node)
            continue;
        GtkTreePath* parentPath = gtk_tree_model_get_path(model(), &selected);
        gtk_tree_view_expand_row(view_, parentPath, FALSE);
        gtk_tree_path_free(parentPath);
        GtkTreePath* path = gtk_tree_model_get_path(model(), &child);
        gtk_tree_view_set_cursor(view_, path, nullptr, FALSE);
        gtk_tree_path_free(path);
        return;
    }
}

bool FolderTreePanel::selectNode(const tree::MapPosition& node) {
    std::unique_ptr<tree::MapIterator> cursor = owner_->cursorAt(node, true, false);
    if (!cursor || !cursor->up())
        return false;
    tree::MapPosition selected;
    if (getSelected(selected) && selected == cursor->getPosition())
        return true;
    // The index of every folder on the way, in its parent folder, root first.
    std::deque<u32> indices{cursor->getPosition().index};
    while (cursor->up())
        indices.push_front(cursor->getPosition().index);

    GtkTreeIter row;
    GtkTreeIter* parent = nullptr;
    GtkTreeIter parentRow;
    while (!indices.empty()) {
        const u32 wanted = indices.front();
        indices.pop_front();
        bool found = false;
        for (bool more = gtk_tree_model_iter_children(model(), &row, parent); more;
             more = gtk_tree_model_iter_next(model(), &row)) {
            if (positionOf(model(), &row).index == wanted) {
                found = true;
                break;
            }
        }
        if (!found)
            return false;
        GtkTreePath* path = gtk_tree_model_get_path(model(), &row);
        if (indices.empty()) {
            gtk_tree_view_set_cursor(view_, path, nullptr, FALSE);
            gtk_tree_view_scroll_to_cell(view_, path, nullptr, FALSE, 0, 0);
            gtk_tree_path_free(path);
            return true;
        }
        // Expanding loads the children of the row's children.
        loadChildren(&row, 1);
        gtk_tree_view_expand_row(view_, path, FALSE);
        gtk_tree_path_free(path);
        parentRow = row;
        parent = &parentRow;
    }
    return false;
}

void FolderTreePanel::refreshDown(GtkTreeIter* row) {
    GtkTreeIter child;
    for (bool more = gtk_tree_model_iter_children(model(), &child, row); more;
         more = gtk_tree_model_iter_next(model(), &child)) {
        const bool marked = owner_->isMarked(positionOf(model(), &child));
        if (rowShowsMark(&child) == marked)
            continue;
        setRowIcon(&child, marked);
        refreshDown(&child);
    }
}

void FolderTreePanel::refreshUpward(GtkTreeIter* from) {
    refreshDown(from);
    GtkTreeIter row = *from;
    for (;;) {
        const bool marked = owner_->isMarked(positionOf(model(), &row));
        if (rowShowsMark(&row) == marked)
            return;
        setRowIcon(&row, marked);
        GtkTreeIter parent;
        if (!gtk_tree_model_iter_parent(model(), &parent, &row))
            return;
        row = parent;
    }
}

void FolderTreePanel::refreshChecks(bool fromRoot) {
    GtkTreeIter row;
    if (!fromRoot && selectedRow(row)) {
        refreshUpward(&row);
        return;
    }
    if (gtk_tree_model_get_iter_first(model(), &row))
        refreshUpward(&row);
}

void FolderTreePanel::toggleCheck() {
    GtkTreeIter row;
    if (!selectedRow(row))
        return;
    const bool old = rowShowsMark(&row);
    const bool marked = owner_->setFolderChecked(positionOf(model(), &row), !old);
    if (marked != old)
        refreshUpward(&row);
}

void FolderTreePanel::toggleExpanded(GtkTreeIter* row) {
    GtkTreePath* path = gtk_tree_model_get_path(model(), row);
    if (gtk_tree_view_row_expanded(view_, path))
        gtk_tree_view_collapse_row(view_, path);
    else
        gtk_tree_view_expand_row(view_, path, FALSE);
    gtk_tree_path_free(path);
}

GtkMenu* FolderTreePanel::buildPopup(GtkTreeIter* row) {
    GtkMenu* menu = popup_.start();
    if (gtk_tree_model_iter_has_child(model(), row)) {
        GtkTreePath* path = gtk_tree_model_get_path(model(), row);
        const bool expanded = gtk_tree_view_row_expanded(view_, path);
        gtk_tree_path_free(path);
        popup_.add(expanded ? _("Close") : _("Open"), true, [this] {
            GtkTreeIter selected;
            if (selectedRow(selected))
                toggleExpanded(&selected);
        });
        popup_.addSeparator();
    }
    popup_.add(rowShowsMark(row) ? _("Uncheck") : _("Check"), false, [this] { toggleCheck(); });
    popup_.addSeparator();
    popup_.add(_("Properies"), false, [this] {
        tree::MapPosition position;
        if (getSelected(position))
            owner_->getTreeInterface()->showNodeProperties(position);
    });
    return menu;
}

void FolderTreePanel::onCursorChanged(GtkTreeView*, gpointer self) {
    auto* panel = static_cast<FolderTreePanel*>(self);
    guardCallback("folder cursor", [panel] {
        tree::MapPosition position;
        if (panel->getSelected(position))
            panel->owner_->showFolder(position);
    });
}

void FolderTreePanel::onRowExpanded(GtkTreeView*, GtkTreeIter* row, GtkTreePath*, gpointer self) {
    auto* panel = static_cast<FolderTreePanel*>(self);
    GtkTreeIter expanded = *row;
    guardCallback("folder expanded", [panel, &expanded] { panel->loadChildren(&expanded, 2); });
}

gboolean FolderTreePanel::onKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
    auto* panel = static_cast<FolderTreePanel*>(self);
    return toggleOnMarkKey(event, "folder mark", [panel] { panel->toggleCheck(); });
}

gboolean FolderTreePanel::onButtonPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* panel = static_cast<FolderTreePanel*>(self);
    return popupOnRightPress(panel->view_, event, panel->popup_, [panel](GtkTreeIter* row) {
        if (!panel->owner_->cursorAt(positionOf(panel->model(), row), true, true))
            return false;
        panel->buildPopup(row);
        return true;
    });
}

void FolderTreePanel::onRowActivated(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn*,
                                     gpointer self) {
    auto* panel = static_cast<FolderTreePanel*>(self);
    withRow(view, path, "folder activated",
            [panel](GtkTreeIter* row) { panel->toggleExpanded(row); });
}

} // namespace gtk
