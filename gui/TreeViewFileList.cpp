#include "gui/TreeViewFileList.h"

#include "core/DateTime.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/Text.h"
#include "gui/ProgressBox.h"
#include "gui/TreeInterface.h"
#include "gui/TreeViewWidgets.h"
#include "tree/Node.h"

#include <algorithm>

namespace gtk {

namespace {

struct LevelStyle {
    const char* text;
    const char* colour;
};

const LevelStyle LEVELS[] = {
    {N_("Excellent"), "#008000"}, {N_("Good"), "#B06813"},          {N_("Possible"), "#910092"},
    {N_("Poor"), "#FF0000"},      {N_("Unrecoverable"), "#FF0000"},
};

} // namespace

StatusLevel statusLevel(int mapKind, int statusCode, bool deleted) {
    const int code = statusCode < 0 ? 0 : statusCode > 2 ? 2 : statusCode;
    switch (mapKind) {
    case tree::MAP_FAT:
        if (code == 0)
            return LEVEL_EXCELLENT;
        if (code == 1)
            return LEVEL_GOOD;
        return deleted ? LEVEL_POOR : LEVEL_POSSIBLE;
    case tree::MAP_NTFS:
        if (code == 0)
            return deleted ? LEVEL_GOOD : LEVEL_EXCELLENT;
        if (code == 1)
            return deleted ? LEVEL_POSSIBLE : LEVEL_GOOD;
        return LEVEL_UNRECOVERABLE;
    default:
        return code == 0 ? LEVEL_GOOD : code == 1 ? LEVEL_POSSIBLE : LEVEL_POOR;
    }
}

StatusTexts::StatusTexts()
    : folder_(escapeMarkup(_("Folder")) + "  /  "),
      deleted_(escapeMarkup(std::string(_("Deleted")) + ": ")) {
    for (int level = LEVEL_EXCELLENT; level <= LEVEL_UNRECOVERABLE; ++level)
        levels_[level] = std::string("<span foreground=\"") + LEVELS[level].colour + "\">" +
                         escapeMarkup(_(LEVELS[level].text)) + "</span>  /  ";
}

std::string StatusTexts::markup(int mapKind, int statusCode, bool deleted, bool directory,
                                const std::string& technical) const {
    std::string markup = directory ? folder_ : levels_[statusLevel(mapKind, statusCode, deleted)];
    if (deleted)
        markup += deleted_;
    // Technical texts come from damaged disks as much as names do.
    return markup + escapeMarkup(technical);
}

std::string statusMarkup(int mapKind, int statusCode, bool deleted, bool directory,
                         const std::string& technical) {
    return StatusTexts().markup(mapKind, statusCode, deleted, directory, technical);
}

FileListPanel::FileListPanel(InterfaceForPanels* owner, GtkScrolledWindow* container,
                             GtkWindow* parent)
    : owner_(owner), parent_(parent) {
    store_ =
        gtk_list_store_new(COLUMN_COUNT, GDK_TYPE_PIXBUF, G_TYPE_STRING, G_TYPE_STRING,
                           G_TYPE_STRING, G_TYPE_STRING, G_TYPE_UINT64, G_TYPE_UINT64, G_TYPE_UINT);
    view_ = GTK_TREE_VIEW(gtk_tree_view_new_with_model(GTK_TREE_MODEL(store_)));
    watchView(view_);
    gtk_tree_view_set_rules_hint(view_, TRUE);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(view_), GTK_SELECTION_SINGLE);

    // Wide enough for every title in every language ("Größe (Bytes)"); the
    // time column grows past its width where the font needs it (setTitles).
    static const int WIDTHS[4] = {300, 150, 150, 150};
    for (int i = 0; i < 4; ++i) {
        GtkTreeViewColumn* column = gtk_tree_view_column_new();
        if (i == 0) {
            GtkCellRenderer* icon = gtk_cell_renderer_pixbuf_new();
            gtk_tree_view_column_pack_start(column, icon, FALSE);
            gtk_tree_view_column_add_attribute(column, icon, "pixbuf", COL_ICON);
        }
        GtkCellRenderer* text = gtk_cell_renderer_text_new();
        gtk_tree_view_column_pack_start(column, text, TRUE);
        gtk_tree_view_column_add_attribute(column, text, i == 3 ? "markup" : "text", COL_NAME + i);
        gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
        gtk_tree_view_column_set_resizable(column, TRUE);
        gtk_tree_view_column_set_fixed_width(column, WIDTHS[i]);
        gtk_tree_view_column_set_sort_column_id(column, SORT_NAME + i);
        sortLinks_[i] = {this, SORT_NAME + i};
        gtk_tree_sortable_set_sort_func(GTK_TREE_SORTABLE(store_), SORT_NAME + i, compareRows,
                                        &sortLinks_[i], nullptr);
        gtk_tree_view_append_column(view_, column);
        columns_[i] = column;
    }
    gtk_tree_view_set_fixed_height_mode(view_, TRUE);
    setTitles();

    gtk_container_add(GTK_CONTAINER(container), GTK_WIDGET(view_));
    icons_ = std::make_unique<PaneIcons>(GTK_WIDGET(container), true);

    g_signal_connect(view_, "row-activated", G_CALLBACK(onRowActivated), this);
    g_signal_connect(view_, "key_press_event", G_CALLBACK(onKeyPress), this);
    g_signal_connect(view_, "button-press-event", G_CALLBACK(onButtonPress), this);
}

FileListPanel::~FileListPanel() {
    popup_.reset();
    releaseView(view_, this);
    icons_.reset();
    g_object_unref(store_);
}

void FileListPanel::setTitles() {
    const char* titles[4] = {_("Name"), _("Size (Bytes)"), _("Modified"),
                             _("Status  /  Technical Information")};
    for (int i = 0; i < 4; ++i)
        gtk_tree_view_column_set_title(columns_[i], titles[i]);
    fitTimeColumn();
}

void FileListPanel::fitTimeColumn() {
    // A time cut before its "am" or "pm" shows the wrong half of the day, and
    // one cut at all hides its seconds: the column is never narrower than a
    // whole time of the language's format needs in the font in use. The
    // fields have fixed widths; of the day's halves the wider one counts.
    GtkTreeViewColumn* column = columns_[COL_TIME - COL_NAME];
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
    GtkCellRenderer* text = cells ? GTK_CELL_RENDERER(cells->data) : nullptr;
    g_list_free(cells);
    if (!text)
        return;
    constexpr u32 SAMPLE = 1861649938; // 12/28/2028 08:58:58pm UTC
    gint needed = 0;
    for (u32 time : {SAMPLE, SAMPLE - 12 * 3600}) {
        g_object_set(text, "text", formatTime(time).c_str(), nullptr);
        gint width = 0;
        gtk_cell_renderer_get_size(text, GTK_WIDGET(view_), nullptr, nullptr, nullptr, &width,
                                   nullptr);
        needed = std::max(needed, width);
    }
    gint separator = 0;
    gtk_widget_style_get(GTK_WIDGET(view_), "horizontal-separator", &separator, nullptr);
    needed += separator;
    if (gtk_tree_view_column_get_fixed_width(column) < needed)
        gtk_tree_view_column_set_fixed_width(column, needed);
}

tree::MapPosition FileListPanel::positionOf(GtkTreeModel* model, GtkTreeIter* row) {
    guint64 folder = 0;
    guint64 index = 0;
    gtk_tree_model_get(model, row, COL_FOLDER, &folder, COL_INDEX, &index, -1);
    return tree::MapPosition{folder, static_cast<u32>(index)};
}

void FileListPanel::setRowIcon(GtkTreeIter* row, bool directory, bool marked) {
    gtk_list_store_set(store_, row, COL_ICON, icons_->of(directory, marked), -1);
}

void FileListPanel::fill(const tree::MapPosition& folder, GtkTreeIter& first, bool& haveFirst) {
    std::unique_ptr<tree::MapIterator> cursor = owner_->cursorAt(folder, true, false);
    if (!cursor || !cursor->down())
        return;
    const int kind = owner_->heldMap()->getKind();
    const StatusTexts status;
    const std::string directorySize = _("<DIR>");
    std::unique_ptr<ProgressBox> box;
    const gint64 start = guiClock();
    u32 rows = 0;
    do {
        std::string technical;
        const int code = cursor->getStatus(technical, true);
        const bool deleted = cursor->isDeleted();
        const bool directory = cursor->isDirectory();
        const tree::MapPosition& position = cursor->getPosition();
        const std::string size = directory ? directorySize : formatThousands(cursor->getSize());
        // The keys first: a sorted store compares the row as it goes in.
        rowKeys_.push_back({printableName(cursor->getName()), cursor->getSize(), cursor->getTime(),
                            static_cast<u32>(code < 0 ? 0 : code), directory, deleted});
        const RowKey& key = rowKeys_.back();
        GtkTreeIter row;
        gtk_list_store_insert_with_values(
            store_, &row, -1, COL_ICON, icons_->of(directory, cursor->isSelected()), COL_NAME,
            key.name.c_str(), COL_SIZE, size.c_str(), COL_TIME, formatTime(key.time).c_str(),
            COL_STATUS, status.markup(kind, code, deleted, directory, technical).c_str(),
            COL_FOLDER, guint64(position.folder), COL_INDEX, guint64(position.index), COL_ROW,
            guint(rowKeys_.size() - 1), -1);
        if (!haveFirst) {
            first = row;
            haveFirst = true;
        }
        if (++rows % ROWS_PER_POLL != 0)
            continue;
        if (!box) {
            if (guiClock() - start <= SLOW_LOAD_US)
                continue;
            box = std::make_unique<ProgressBox>(parent_, ProgressBox::MODE_TEXT, 0, 0, 320);
            box->setText(InterfaceCallback::TEXT_MAIN, _("Loading Directory"));
            showedProgress_ = true;
        }
        box->poll();
    } while (cursor->next());
}

void FileListPanel::showFolder(const tree::MapPosition& folder) {
    gtk_list_store_clear(store_);
    rowKeys_.clear();
    // Remembered whatever the filling brings, so that the language change and
    // Find know which folder the list stands for.
    shown_ = folder;
    showedProgress_ = false;
    GtkTreeIter first;
    bool haveFirst = false;
    // A cancel of a slow folder, or an entry that cannot be read, ends the
    // filling: the rows so far stay usable.
    guardCallback("showFolder", [&] { fill(folder, first, haveFirst); });
    if (haveFirst && view_) {
        GtkTreePath* path = gtk_tree_model_get_path(model(), &first);
        gtk_tree_view_set_cursor(view_, path, nullptr, FALSE);
        gtk_tree_path_free(path);
    }
}

void FileListPanel::refreshIcons() {
    // One walk of the shown folder rather than a cursor a row: the marks of a
    // folder of 100,000 files follow at once. Indexes count the folder's own
    // entries, so the table is no larger than the folder.
    std::vector<bool> marks;
    std::unique_ptr<tree::MapIterator> cursor = owner_->cursorAt(shown_, true, false);
    if (cursor && cursor->down()) {
        do {
            const u32 index = cursor->getPosition().index;
            if (index >= marks.size())
                marks.resize(static_cast<std::size_t>(index) + 1, false);
            marks[index] = cursor->isSelected();
        } while (cursor->next());
    }
    GtkTreeIter row;
    for (bool more = gtk_tree_model_get_iter_first(model(), &row); more;
         more = gtk_tree_model_iter_next(model(), &row)) {
        const u32 index = positionOf(model(), &row).index;
        setRowIcon(&row, keyOf(model(), &row).directory, index < marks.size() && marks[index]);
    }
}

bool FileListPanel::cursorRow(GtkTreeIter& row) const {
    if (!view_)
        return false;
    GtkTreePath* path = nullptr;
    gtk_tree_view_get_cursor(view_, &path, nullptr);
    if (!path)
        return false;
    const bool exists = gtk_tree_model_get_iter(model(), &row, path);
    gtk_tree_path_free(path);
    return exists;
}

bool FileListPanel::getCursor(tree::MapPosition& out) {
    GtkTreeIter row;
    if (!cursorRow(row))
        return false;
    out = positionOf(model(), &row);
    return true;
}

bool FileListPanel::selectIndex(const tree::MapPosition& node) {
    if (node == shown_)
        return true;
    GtkTreeIter row;
    for (bool more = gtk_tree_model_get_iter_first(model(), &row); more;
         more = gtk_tree_model_iter_next(model(), &row)) {
        if (positionOf(model(), &row).index != node.index)
            continue;
        GtkTreePath* path = gtk_tree_model_get_path(model(), &row);
        gtk_tree_view_set_cursor(view_, path, nullptr, FALSE);
        gtk_tree_path_free(path);
        return true;
    }
    return false;
}

void FileListPanel::toggleCheck() {
    GtkTreeIter row;
    if (!cursorRow(row))
        return;
    const tree::MapPosition position = positionOf(model(), &row);
    const bool old = owner_->isMarked(position);
    const bool marked = owner_->setFileChecked(position, !old);
    if (marked == old)
        return;
    setRowIcon(&row, keyOf(model(), &row).directory, marked);
}

void FileListPanel::activateCursor() {
    tree::MapPosition position;
    if (getCursor(position))
        owner_->activateNode(position);
}

GtkMenu* FileListPanel::buildPopup(GtkTreeIter* row) {
    GtkMenu* menu = popup_.start();
    popup_.add(keyOf(model(), row).directory ? _("Open") : _("View"), true,
               [this] { activateCursor(); });
    popup_.addSeparator();
    const bool marked = owner_->isMarked(positionOf(model(), row));
    popup_.add(marked ? _("Uncheck") : _("Check"), false, [this] { toggleCheck(); });
    popup_.addSeparator();
    popup_.add(_("Properies"), false, [this] {
        tree::MapPosition position;
        if (getCursor(position))
            owner_->getTreeInterface()->showNodeProperties(position);
    });
    return menu;
}

const FileListPanel::RowKey& FileListPanel::keyOf(GtkTreeModel* model, GtkTreeIter* row) const {
    guint index = 0;
    gtk_tree_model_get(model, row, COL_ROW, &index, -1);
    return rowKeys_[index];
}

gint FileListPanel::compareRows(GtkTreeModel* model, GtkTreeIter* a, GtkTreeIter* b,
                                gpointer link) {
    const SortLink& sort = *static_cast<const SortLink*>(link);
    gint sortId = 0;
    GtkSortType order = GTK_SORT_ASCENDING;
    gtk_tree_sortable_get_sort_column_id(GTK_TREE_SORTABLE(model), &sortId, &order);
    const bool descending = order == GTK_SORT_DESCENDING;
    // GTK turns the result round for a descending order; what must hold in both
    // orders is turned round here first.
    auto inBothOrders = [descending](gint result) { return descending ? -result : result; };
    const RowKey& first = sort.panel->keyOf(model, a);
    const RowKey& second = sort.panel->keyOf(model, b);

    if (first.directory != second.directory)
        return inBothOrders(first.directory ? -1 : 1);
    switch (sort.column) {
    case SORT_SIZE:
        if (!first.directory && first.size != second.size)
            return first.size < second.size ? -1 : 1;
        break;
    case SORT_MODIFIED:
        if (first.time != second.time) {
            if (first.time == NO_TIME)
                return inBothOrders(1);
            if (second.time == NO_TIME)
                return inBothOrders(-1);
            return first.time < second.time ? -1 : 1;
        }
        break;
    case SORT_STATUS:
        if (first.deleted != second.deleted)
            return inBothOrders(first.deleted ? 1 : -1);
        if (first.code != second.code)
            return first.code < second.code ? -1 : 1;
        break;
    default:
        break;
    }
    const int byName = tree::compareNamesNoCase(first.name, second.name);
    const gint result = byName < 0 ? -1 : byName > 0 ? 1 : 0;
    // Ties of another column stay in ascending name order.
    return sort.column != SORT_NAME ? inBothOrders(result) : result;
}

void FileListPanel::onRowActivated(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn*,
                                   gpointer self) {
    auto* panel = static_cast<FileListPanel*>(self);
    withRow(view, path, "file activated", [panel](GtkTreeIter* row) {
        panel->owner_->activateNode(positionOf(panel->model(), row));
    });
}

gboolean FileListPanel::onKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
    auto* panel = static_cast<FileListPanel*>(self);
    return toggleOnMarkKey(event, "file mark", [panel] { panel->toggleCheck(); });
}

gboolean FileListPanel::onButtonPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* panel = static_cast<FileListPanel*>(self);
    return popupOnRightPress(panel->view_, event, panel->popup_, [panel](GtkTreeIter* row) {
        if (!panel->owner_->cursorAt(positionOf(panel->model(), row), true, false))
            return false;
        panel->buildPopup(row);
        return true;
    });
}

} // namespace gtk
