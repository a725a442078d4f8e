#include "gui/DrivesTree.h"

#include "core/AppDirectory.h"
#include "core/Config.h"
#include "core/Intl.h"
#include "core/System.h"
#include "core/Text.h"
#include "core/UserInterface.h"
#include "devices/DrivesVFS.h"
#include "devices/ReaderFactory.h"
#include "gui/DriverEditor.h"
#include "gui/TextEntryDialog.h"
#include "gui/TreeViewPanels.h"
#include "gui/TreeViewWidgets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace gtk {

namespace {

// Icon order of the rows; the last one stands for every other type.
const char* const ICON_NAMES[DrivesTree::ICON_COUNT] = {
    "drive", "floppy", "partition", "network", "workgroup", "server", "share", "directory", "file"};
constexpr int FILE_ICON = DrivesTree::ICON_COUNT - 1;

enum class Children {
    LISTED_AT_ONCE, // listed when the row is added, to know whether it gets an expander
    ALWAYS,         // always an expander (listing may be slow or need the network)
    NONE,
};

struct TypeInfo {
    int icon;
    bool choosable;
    Children children;
};

TypeInfo typeInfo(const std::string& type) {
    for (int i = 0; i < FILE_ICON; ++i) {
        if (type != ICON_NAMES[i])
            continue;
        const bool device = i <= 2; // drive, floppy, partition
        const bool remote = i >= 3 && i <= 6;
        return {i, device, remote ? Children::ALWAYS : Children::LISTED_AT_ONCE};
    }
    return {FILE_ICON, true, Children::NONE};
}

bool isComposedType(const std::string& type) {
    return type == "range" || type == "jbod" || type == "raid0" || type == "raid5";
}

std::string value(const std::string& descriptor, const char* key) {
    std::string out;
    getDescrValue(descriptor.c_str(), key, out);
    return out;
}

bool hasKey(const std::string& descriptor, const char* key) {
    std::string out;
    return getDescrValue(descriptor.c_str(), key, out);
}

// The row id, when the row has one (placeholders have none).
bool idOf(const std::string& descriptor, std::string& id) {
    return getDescrValue(descriptor.c_str(), "id", id);
}

void positionAtButton(GtkMenu*, gint* x, gint* y, gboolean* pushIn, gpointer button) {
    GtkWidget* widget = GTK_WIDGET(button);
    gint originX = 0;
    gint originY = 0;
    if (GdkWindow* window = gtk_widget_get_window(widget))
        gdk_window_get_origin(window, &originX, &originY);
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    *x = originX + allocation.x;
    *y = originY + allocation.y;
    *pushIn = TRUE;
}

// Menu callbacks: each runs one command of the tree, guarded (the listings,
// the driver editor and the reader factory may throw).
template <void (DrivesTree::*command)()> void menuCommand(GtkMenuItem*, gpointer self) {
    guardCallback("DrivesTree", [self] { (static_cast<DrivesTree*>(self)->*command)(); });
}

// Folder names the user types: one component, nothing that leaves the folder,
// and no "|", which the descriptors of the rows could not carry.
bool isPlainFolderName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('|') == std::string::npos && name.find('\0') == std::string::npos;
}

} // namespace

DrivesTree::DrivesTree(std::vector<std::string>* sourceList, DrivesVFS* vfs)
    : sourceList_(sourceList), vfs_(vfs) {}

DrivesTree::~DrivesTree() {
    for (GdkPixbuf* icon : icons_)
        if (icon)
            g_object_unref(icon);
    if (menu_) {
        GtkWidget* menu = menu_;
        g_object_remove_weak_pointer(G_OBJECT(menu), reinterpret_cast<gpointer*>(&menu_));
        gtk_widget_destroy(menu);
    }
    if (view_)
        g_object_remove_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
}

GtkWidget* DrivesTree::createWidget(GtkWindow* parent, bool destinationMode, bool hideCustom) {
    parent_ = parent;
    destinationMode_ = destinationMode;
    hideCustom_ = hideCustom;

    // A page creates the widget afresh on each of its runs.
    for (int i = 0; i < ICON_COUNT; ++i) {
        if (icons_[i])
            g_object_unref(icons_[i]);
        const std::string file =
            appFilePath(appDirectory(), std::string("images/") + ICON_NAMES[i] + ".png");
        icons_[i] = gdk_pixbuf_new_from_file(file.c_str(), nullptr);
    }

    store_ = gtk_tree_store_new(COLUMN_COUNT, GDK_TYPE_PIXBUF, G_TYPE_STRING, G_TYPE_STRING);
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store_));
    g_object_unref(store_); // the view holds the model
    view_ = GTK_TREE_VIEW(view);
    g_object_add_weak_pointer(G_OBJECT(view), reinterpret_cast<gpointer*>(&view_));
    gtk_tree_view_set_headers_visible(view_, FALSE);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(view_), GTK_SELECTION_BROWSE);

    GtkTreeViewColumn* column = gtk_tree_view_column_new();
    gtk_tree_view_column_set_title(column, _("Name"));
    GtkCellRenderer* icon = gtk_cell_renderer_pixbuf_new();
    gtk_tree_view_column_pack_start(column, icon, FALSE);
    gtk_tree_view_column_add_attribute(column, icon, "pixbuf", COLUMN_ICON);
    GtkCellRenderer* text = gtk_cell_renderer_text_new();
    gtk_tree_view_column_pack_start(column, text, TRUE);
    gtk_tree_view_column_add_attribute(column, text, "markup", COLUMN_TEXT);
    gtk_tree_view_column_set_spacing(column, 4);
    gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_AUTOSIZE);
    gtk_tree_view_column_set_resizable(column, TRUE);
    gtk_tree_view_append_column(view_, column);

    g_signal_connect(view, "test-expand-row", G_CALLBACK(onTestExpandRow), this);
    g_signal_connect(view, "test-collapse-row", G_CALLBACK(onTestCollapseRow), this);

    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(scrolled), view);
    return scrolled;
}

GtkWidget* DrivesTree::addMenuItem(GtkWidget* menu, const char* label, GCallback handler) {
    GtkWidget* item = gtk_menu_item_new_with_mnemonic(label);
    g_signal_connect(item, "activate", handler, this);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return item;
}

GtkWidget* DrivesTree::createAdvancedButton() {
    menu_ = gtk_menu_new();
    g_object_add_weak_pointer(G_OBJECT(menu_), reinterpret_cast<gpointer*>(&menu_));
    informationItem_ = addMenuItem(menu_, _("_Information"),
                                   G_CALLBACK(menuCommand<&DrivesTree::showInformation>));
    addMenuItem(menu_, _("_Refresh List"), G_CALLBACK(menuCommand<&DrivesTree::refresh>));
    if (!destinationMode_) {
        GtkWidget* drivers = gtk_menu_new();
        addMenuItem(drivers, _("_New"), G_CALLBACK(menuCommand<&DrivesTree::newDriver>));
        editItem_ =
            addMenuItem(drivers, _("_Edit"), G_CALLBACK(menuCommand<&DrivesTree::editDriver>));
        removeItem_ =
            addMenuItem(drivers, _("_Remove"), G_CALLBACK(menuCommand<&DrivesTree::removeDriver>));
        GtkWidget* item = gtk_menu_item_new_with_mnemonic(_("_Software Drivers"));
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), drivers);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu_), item);
    }
    createDirectoryItem_ = addMenuItem(menu_, _("Create Directory"),
                                       G_CALLBACK(menuCommand<&DrivesTree::createDirectory>));
    gtk_widget_show_all(menu_);

    GtkWidget* button = gtk_button_new_with_mnemonic(_("_Advanced"));
    g_signal_connect(button, "clicked", G_CALLBACK(onAdvancedClicked), this);
    if (view_)
        g_signal_connect(view_, "cursor-changed", G_CALLBACK(onCursorChanged), this);
    updateMenu();
    return button;
}

void DrivesTree::onAdvancedClicked(GtkButton* button, gpointer self) {
    DrivesTree* tree = static_cast<DrivesTree*>(self);
    if (tree->menu_ == nullptr)
        return;
    gtk_menu_popup(GTK_MENU(tree->menu_), nullptr, nullptr, positionAtButton, button, 0,
                   gtk_get_current_event_time());
    gtk_menu_shell_select_first(GTK_MENU_SHELL(tree->menu_), FALSE);
}

void DrivesTree::onCursorChanged(GtkTreeView*, gpointer self) {
    static_cast<DrivesTree*>(self)->updateMenu();
}

std::string DrivesTree::nodeText(const std::string& descriptor, const std::string& extra,
                                 const std::string& type, int flags) {
    const bool markup = (flags & TEXT_MARKUP) != 0;
    const bool translated = (flags & TEXT_TRANSLATED) != 0;
    auto word = [translated](const char* english) { return translated ? _(english) : english; };

    std::string text;
    const char* typeName = N_("Unknown");
    bool showSize = false;
    if (type == "drive") {
        text = value(descriptor, "model");
        if (text.empty())
            text = word("Unknown");
        const std::string serial = value(descriptor, "serial");
        if (!serial.empty())
            text += "-" + serial;
        showSize = true;
        typeName = N_("Drive");
    } else if (type == "floppy" || type == "partition") {
        text = value(descriptor, "comment");
        showSize = true;
        typeName = type == "floppy" ? N_("Floppy Drive") : N_("Partition");
    } else if (type == "network") {
        typeName = N_("Network");
        flags &= ~TEXT_EXTRA;
    } else if (type == "workgroup" || type == "server" || type == "share") {
        text = value(descriptor, "name");
        const std::string comment = value(descriptor, "comment");
        if (!comment.empty())
            text += " (" + comment + ")";
        typeName = type == "workgroup" ? N_("Workgroup")
                   : type == "server"  ? N_("Server")
                                       : N_("Share");
    } else if (type == "directory") {
        text = value(descriptor, "name");
        typeName = N_("Directory");
        flags &= ~TEXT_EXTRA;
    } else if (type == "file") {
        text = value(descriptor, "name");
        showSize = true;
        typeName = N_("File");
        flags &= ~TEXT_EXTRA;
    } else if (isComposedType(type)) {
        showSize = true;
        typeName = type == "range"   ? N_("Range Driver")
                   : type == "jbod"  ? N_("JBOD Driver")
                   : type == "raid0" ? N_("RAID0 Driver")
                                     : N_("RAID5 Driver");
    }
    // Names and comments come from the disk and the file system: under markup
    // they must show as they are.
    if (markup)
        text = escapeMarkup(text);

    std::string details;
    if (showSize) {
        const i64 size = descriptorNumber(value(descriptor, "size"));
        details = formatSize(size > 0 ? static_cast<u64>(size) : 0);
    }
    const std::string name = word(typeName);
    if (!name.empty())
        details += (details.empty() ? "" : " ") + name;
    if (!details.empty()) {
        if (markup)
            details = "<span foreground=\"blue\"><b>" + escapeMarkup(details) + "</b></span>";
        text += (text.empty() ? "" : " ") + details;
    }
    if (flags & TEXT_EXTRA) {
        const std::string shown = markup ? escapeMarkup(extra) : extra;
        text += (text.empty() ? "" : " ") + (markup ? "<i>(" + shown + ")</i>" : "(" + shown + ")");
    }
    return text;
}

bool DrivesTree::confirmWriteToSource(GtkWindow* parent) {
    return messageDialog(MESSAGE_WARNING,
                         _("This operation can cause data damage!\n\nAre you sure you want to "
                           "write files to the source media?"),
                         parent, true, nullptr) == 0;
}

void DrivesTree::addPlaceholder(GtkTreeIter* parent) {
    GtkTreeIter row;
    gtk_tree_store_append(store_, &row, parent);
    gtk_tree_store_set(store_, &row, COLUMN_ICON, nullptr, COLUMN_TEXT, _("&lt;empty&gt;"),
                       COLUMN_DESCRIPTOR, "", -1);
}

bool DrivesTree::isListed(const std::string& descriptor) const {
    if (hideCustom_ && hasKey(descriptor, "custom"))
        return false;
    const std::string type = value(descriptor, "type");
    return !destinationMode_ || type == "directory" || type == "file";
}

void DrivesTree::addChildren(const std::vector<std::string>& list, GtkTreeIter* parent) {
    bool added = false;
    for (const std::string& descriptor : list) {
        if (!isListed(descriptor))
            continue;
        const std::string type = value(descriptor, "type");
        const TypeInfo info = typeInfo(type);
        const bool choosable = destinationMode_ ? type == "directory" : info.choosable;
        const std::string id = value(descriptor, "id");
        const std::string text =
            nodeText(descriptor, id, type, TEXT_MARKUP | TEXT_EXTRA | TEXT_TRANSLATED);
        const std::string stored = choosable ? descriptor + "|ok=|" : descriptor;

        GtkTreeIter row;
        gtk_tree_store_append(store_, &row, parent);
        gtk_tree_store_set(store_, &row, COLUMN_ICON, icons_[info.icon], COLUMN_TEXT, text.c_str(),
                           COLUMN_DESCRIPTOR, stored.c_str(), -1);
        added = true;

        if (info.children == Children::ALWAYS) {
            addPlaceholder(&row);
        } else if (info.children == Children::LISTED_AT_ONCE && vfs_) {
            if (vfs_->hasChildren(id.c_str()))
                addPlaceholder(&row);
        }
    }
    // An expanded entry without children shows the placeholder instead.
    if (!added)
        addPlaceholder(parent);
}

void DrivesTree::removeChildren(GtkTreeIter* row) {
    GtkTreeIter child;
    while (gtk_tree_model_iter_children(GTK_TREE_MODEL(store_), &child, row))
        gtk_tree_store_remove(store_, &child);
}

std::string DrivesTree::descriptorOf(GtkTreeIter* row) const {
    gchar* text = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(store_), row, COLUMN_DESCRIPTOR, &text, -1);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

bool DrivesTree::selectedRow(GtkTreeIter* out) const {
    if (view_ == nullptr || store_ == nullptr)
        return false;
    return gtk_tree_selection_get_selected(gtk_tree_view_get_selection(view_), nullptr, out);
}

void DrivesTree::setCursor(GtkTreeIter* row) {
    GtkTreePath* path = gtk_tree_model_get_path(GTK_TREE_MODEL(store_), row);
    gtk_tree_view_set_cursor(view_, path, nullptr, FALSE);
    gtk_tree_view_scroll_to_cell(view_, path, nullptr, TRUE, 0.5f, 0.0f);
    gtk_tree_path_free(path);
}

gboolean DrivesTree::onTestExpandRow(GtkTreeView*, GtkTreeIter* iter, GtkTreePath*, gpointer self) {
    DrivesTree* tree = static_cast<DrivesTree*>(self);
    // The iterator may point into the view's own copy: work on a stable one.
    GtkTreeIter row = *iter;
    tree->setCursor(&row);
    tree->removeChildren(&row);
    std::string id;
    if (idOf(tree->descriptorOf(&row), id) && tree->vfs_) {
        guardCallback("DrivesTree", [tree, &row, &id] {
            std::vector<std::string> children;
            if (tree->vfs_->listChildren(id.c_str(), children))
                tree->addChildren(children, &row);
        });
    }
    return FALSE; // let it expand (GTK does nothing when no child was added)
}

gboolean DrivesTree::onTestCollapseRow(GtkTreeView*, GtkTreeIter* iter, GtkTreePath*,
                                       gpointer self) {
    // The cursor would otherwise vanish with the hidden child it stood on.
    GtkTreeIter row = *iter;
    static_cast<DrivesTree*>(self)->setCursor(&row);
    return FALSE;
}

void DrivesTree::fill(const std::vector<std::string>& list) {
    if (store_ == nullptr)
        return;
    gtk_tree_store_clear(store_);
    addChildren(list, nullptr);
}

std::string DrivesTree::getSelectedDescriptor() const {
    GtkTreeIter row;
    if (!selectedRow(&row))
        return std::string();
    return descriptorOf(&row);
}

std::vector<std::string>::iterator DrivesTree::selectedEntry() {
    GtkTreeIter row;
    GtkTreeIter parent;
    if (sourceList_ == nullptr || !selectedRow(&row) ||
        gtk_tree_model_iter_parent(GTK_TREE_MODEL(store_), &parent, &row))
        return sourceList_ ? sourceList_->end() : std::vector<std::string>::iterator();
    GtkTreePath* path = gtk_tree_model_get_path(GTK_TREE_MODEL(store_), &row);
    int position = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    // The top level lists the entries in their order, less those left out.
    for (auto it = sourceList_->begin(); it != sourceList_->end(); ++it) {
        if (isListed(*it) && position-- == 0)
            return it;
    }
    return sourceList_->end();
}

void DrivesTree::selectEntry(std::vector<std::string>::const_iterator entry) {
    if (sourceList_ == nullptr || !isListed(*entry))
        return;
    const auto position = std::count_if(sourceList_->cbegin(), entry,
                                        [this](const std::string& d) { return isListed(d); });
    GtkTreeIter row;
    if (gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(store_), &row, nullptr,
                                      static_cast<gint>(position)))
        setCursor(&row);
}

std::string DrivesTree::getSelectedText(bool untranslated) const {
    GtkTreeIter row;
    if (!selectedRow(&row))
        return std::string();
    const std::string descriptor = descriptorOf(&row);
    return nodeText(descriptor, value(descriptor, "id"), value(descriptor, "type"),
                    TEXT_EXTRA | (untranslated ? 0 : TEXT_TRANSLATED));
}

std::string DrivesTree::getSelectedPath() const {
    GtkTreeIter row;
    if (!selectedRow(&row))
        return std::string();
    std::vector<std::string> ids;
    for (;;) {
        ids.push_back(value(descriptorOf(&row), "id"));
        GtkTreeIter parent;
        if (!gtk_tree_model_iter_parent(GTK_TREE_MODEL(store_), &parent, &row))
            break;
        row = parent;
    }
    std::string path;
    for (auto it = ids.rbegin(); it != ids.rend(); ++it)
        path += (it == ids.rbegin() ? "" : "|") + *it;
    return path;
}

void DrivesTree::selectPath(const std::string& path) {
    if (store_ == nullptr)
        return;
    std::vector<std::string> parts;
    split(path, parts, '|');
    GtkTreeIter row;
    if (!gtk_tree_model_get_iter_first(GTK_TREE_MODEL(store_), &row))
        return;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        bool found = false;
        do {
            std::string id;
            if (idOf(descriptorOf(&row), id) && id == parts[i]) {
                found = true;
                break;
            }
        } while (gtk_tree_model_iter_next(GTK_TREE_MODEL(store_), &row));
        if (!found)
            return;
        if (i + 1 == parts.size()) {
            setCursor(&row);
            return;
        }
        GtkTreePath* rowPath = gtk_tree_model_get_path(GTK_TREE_MODEL(store_), &row);
        gtk_tree_view_expand_row(view_, rowPath, FALSE);
        gtk_tree_path_free(rowPath);
        GtkTreeIter child;
        if (!gtk_tree_model_iter_children(GTK_TREE_MODEL(store_), &child, &row))
            return;
        row = child;
    }
}

void DrivesTree::selectById(const std::string& id) {
    if (store_ == nullptr)
        return;
    GtkTreeIter first;
    if (!gtk_tree_model_get_iter_first(GTK_TREE_MODEL(store_), &first))
        return;
    GtkTreeIter row = first;
    do {
        const std::string descriptor = descriptorOf(&row);
        std::string rowId;
        if (idOf(descriptor, rowId) && rowId == id && hasKey(descriptor, "ok")) {
            setCursor(&row);
            return;
        }
    } while (gtk_tree_model_iter_next(GTK_TREE_MODEL(store_), &row));
    setCursor(&first);
}

void DrivesTree::updateMenu() {
    GtkTreeIter row;
    const bool selected = selectedRow(&row);
    const std::string descriptor = selected ? descriptorOf(&row) : std::string();
    const std::string type = value(descriptor, "type");
    const bool custom = hasKey(descriptor, "custom");
    if (informationItem_)
        gtk_widget_set_sensitive(informationItem_, selected);
    // Folders only: here a partition or floppy row names a device node, not a
    // place where a folder could be made.
    if (createDirectoryItem_)
        gtk_widget_set_sensitive(createDirectoryItem_, type == "directory" || type == "share");
    if (editItem_)
        gtk_widget_set_sensitive(editItem_, custom);
    if (removeItem_)
        gtk_widget_set_sensitive(removeItem_, custom);
}

void DrivesTree::showInformation() {
    GtkTreeIter row;
    if (!selectedRow(&row)) {
        messageDialog(MESSAGE_INFO_CLOSE, _("No drive selected"), parent_, false, nullptr);
        return;
    }
    const std::string descriptor = descriptorOf(&row);
    const std::string type = value(descriptor, "type");
    std::string text = escapeMarkup(getSelectedText(false)) + "\n";
    auto line = [&text, &descriptor](const char* label, const char* key) {
        const std::string v = value(descriptor, key);
        if (v.empty())
            return;
        text += std::string("\n<span foreground='darkgreen'><i>") + _(label) +
                "</i></span>: " + escapeMarkup(v);
    };
    if (value(descriptor, "id") != "//")
        line(N_("ID"), "id");
    line(N_("Type"), "type");
    if (isComposedType(type)) {
        line(N_("Component IDs"), "components");
        if (type == "range") {
            line(N_("Range Offset"), "rangeOffset");
            line(N_("Range Size"), "rangeSize");
        } else if (type == "raid0" || type == "raid5") {
            line(N_("Block Size"), "blockSize");
        }
    }
    line(N_("Model Number"), "model");
    line(N_("Serial Number"), "serial");
    line(N_("Comment"), "comment");
    line(N_("File System"), "fstype");
    line(N_("Size (in bytes)"), "size");
    messageDialog(MESSAGE_INFO_CLOSE, text.c_str(), parent_, false, nullptr);
}

void DrivesTree::refresh() {
    if (vfs_ == nullptr || sourceList_ == nullptr)
        return;
    std::vector<std::string> fresh;
    vfs_->listChildren("", fresh);
    keepCustomDescriptors(*sourceList_, fresh);
    const std::string path = getSelectedPath();
    fill(*sourceList_);
    selectPath(path);
}

void DrivesTree::newDriver() {
    if (sourceList_ == nullptr)
        return;
    const std::string result = runDriverEditor(*sourceList_, vfs_, std::string(), parent_);
    if (result.empty())
        return;
    sourceList_->push_back(result);
    fill(*sourceList_);
    selectById(value(result, "id"));
}

void DrivesTree::editDriver() {
    if (sourceList_ == nullptr)
        return;
    const auto edited = selectedEntry();
    if (edited == sourceList_->end() || !hasKey(*edited, "custom"))
        return;
    // A refresh inside the editor (Add Component lists the sources anew)
    // rebuilds the list: the entry is found again by its id, and among
    // drivers of the same id (a saved list may hold two) by its place.
    const std::string id = value(*edited, "id");
    auto sameId = [&id](const std::string& d) {
        return hasKey(d, "custom") && value(d, "id") == id;
    };
    const auto place = std::count_if(sourceList_->begin(), edited, sameId);
    const std::string result = runDriverEditor(*sourceList_, vfs_, *edited, parent_);
    if (result.empty())
        return;
    auto it = std::find_if(sourceList_->begin(), sourceList_->end(), sameId);
    for (auto n = place; n > 0 && it != sourceList_->end(); --n)
        it = std::find_if(std::next(it), sourceList_->end(), sameId);
    if (it == sourceList_->end())
        it = sourceList_->insert(it, result);
    else
        *it = result;
    fill(*sourceList_);
    // The cursor stays on the driver edited, not on the first of its id.
    selectEntry(it);
}

void DrivesTree::removeDriver() {
    if (sourceList_ == nullptr)
        return;
    const auto removed = selectedEntry();
    if (removed == sourceList_->end() || !hasKey(*removed, "custom"))
        return;
    sourceList_->erase(removed);
    fill(*sourceList_);
    GtkTreeIter first;
    if (gtk_tree_model_get_iter_first(GTK_TREE_MODEL(store_), &first))
        setCursor(&first);
}

void DrivesTree::createDirectory() {
    GtkTreeIter row;
    if (!selectedRow(&row))
        return;
    std::string name;
    if (!textEntryDialog(parent_, _("Create Directory"), name, _("Name"), nullptr))
        return;
    const std::string id = value(descriptorOf(&row), "id");
    const std::string rowPath = getSelectedPath();
    const std::string path = buildFileName(id.c_str(), name.c_str());
    int error = EINVAL;
    if (isPlainFolderName(name))
        error = makeDirectory(path.c_str(), 0755) == 0 ? 0 : errno;
    if (error != 0) {
        messageDialog(MESSAGE_ERROR, escapeMarkup(std::strerror(error)).c_str(), parent_, false,
                      nullptr);
        return;
    }
    // Collapsed, the row lists its children afresh on the way down.
    GtkTreePath* treePath = gtk_tree_model_get_path(GTK_TREE_MODEL(store_), &row);
    gtk_tree_view_collapse_row(view_, treePath);
    gtk_tree_path_free(treePath);
    selectPath(rowPath + "|" + path);
}

} // namespace gtk
