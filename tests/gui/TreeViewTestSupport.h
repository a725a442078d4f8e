#pragma once

// Shared by the tests of the tree view and its commands: a shown view of a map
// in a window, the rows of both panes, a file dialog source that lists one
// folder, and a script that answers a sequence of dialogs.

#include "core/PropertyMap.h"
#include "core/UserInterface.h"
#include "devices/DrivesVFS.h"
#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "gui/TreeInterfaceImpl.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestEngine.h"

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace guitest {

// A source list with one top-level row, choosable: the folder `path`, or with
// type "file" the image file `path`.
class OneSourceVfs : public DrivesVFS {
public:
    explicit OneSourceVfs(std::string path, std::string type = "directory")
        : path_(std::move(path)), type_(std::move(type)) {}
    bool listChildren(const char* parentId, std::vector<std::string>& out) override {
        if (parentId && *parentId)
            return true;
        out.push_back("type=" + type_ + "|id=" + path_ + "|name=" + path_ + "|ok=");
        return true;
    }

private:
    std::string path_;
    std::string type_;
};

struct FileRow {
    std::string name;
    std::string size;
    std::string time;
    std::string status;
    tree::MapPosition position;
    GdkPixbuf* icon = nullptr;
};

inline std::vector<FileRow> fileRows(gtk::FileListPanel& list) {
    using P = gtk::FileListPanel;
    std::vector<FileRow> rows;
    GtkTreeModel* model = list.model();
    forEachRow(model, nullptr, [&](GtkTreeIter& it) {
        GdkPixbuf* icon = nullptr;
        gtk_tree_model_get(model, &it, P::COL_ICON, &icon, -1);
        // The store keeps the icon alive; the test compares pointers only.
        if (icon)
            g_object_unref(icon);
        rows.push_back({rowString(model, &it, P::COL_NAME), rowString(model, &it, P::COL_SIZE),
                        rowString(model, &it, P::COL_TIME), rowString(model, &it, P::COL_STATUS),
                        P::positionOf(model, &it), icon});
        return false;
    });
    return rows;
}

inline std::vector<std::string> fileNames(gtk::FileListPanel& list) {
    return modelStrings(list.model(), gtk::FileListPanel::COL_NAME);
}

// The folder tree's rows depth first, each name indented by two blanks a level.
inline void collectFolderRows(GtkTreeModel* model, GtkTreeIter* parent, int depth,
                              std::vector<std::string>& out) {
    forEachRow(model, parent, [&](GtkTreeIter& it) {
        out.push_back(std::string(static_cast<std::size_t>(depth) * 2, ' ') +
                      rowString(model, &it, gtk::FolderTreePanel::COL_NAME));
        collectFolderRows(model, &it, depth + 1, out);
        return false;
    });
}
inline std::vector<std::string> folderRows(gtk::FolderTreePanel& tree) {
    std::vector<std::string> out;
    collectFolderRows(tree.model(), nullptr, 0, out);
    return out;
}

// The folder row at a '/'-joined path of names from the top ("ROOT/docs").
inline bool findFolderRow(gtk::FolderTreePanel& tree, const std::string& path, GtkTreeIter& out) {
    GtkTreeIter* parent = nullptr;
    GtkTreeIter parentRow;
    std::istringstream names(path);
    for (std::string name; std::getline(names, name, '/'); parent = &(parentRow = out)) {
        if (!forEachRow(tree.model(), parent, [&](GtkTreeIter& it) {
                out = it;
                return rowString(tree.model(), &it, gtk::FolderTreePanel::COL_NAME) == name;
            }))
            return false;
    }
    return parent != nullptr;
}

// Puts the cursor on a row of a tree view, opening the rows above it as a user
// would (a row inside a collapsed one cannot take the cursor).
inline void setCursor(GtkTreeView* view, GtkTreeModel* model, GtkTreeIter* row) {
    GtkTreePath* path = gtk_tree_model_get_path(model, row);
    GtkTreePath* parent = gtk_tree_path_copy(path);
    if (gtk_tree_path_up(parent) && gtk_tree_path_get_depth(parent) > 0)
        gtk_tree_view_expand_to_path(view, parent);
    gtk_tree_path_free(parent);
    gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
    gtk_tree_path_free(path);
}

// The file list's cursor onto the row named `name`; false when there is none.
inline bool selectFile(gtk::FileListPanel& list, const std::string& name) {
    return forEachRow(list.model(), nullptr, [&](GtkTreeIter& it) {
        if (rowString(list.model(), &it, gtk::FileListPanel::COL_NAME) != name)
            return false;
        setCursor(list.view(), list.model(), &it);
        return true;
    });
}

// A view of a map, shown in a window of its own, with the default filter
// applied. Message boxes are answered by `messages`.
class ShownTree {
public:
    ShownTree(const SharedPtr<tree::Map>& map, DrivesVFS* vfs = nullptr)
        : map_(map), context_(&ui_, nullptr, &known_, vfs) {
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window_), 900, 500);
        ui_.setParentWindow(GTK_WINDOW(window_));
        GtkWidget* widget = nullptr;
        std::unique_ptr<TreeInterface> view =
            gtk::TreeInterfaceImpl::create(GTK_WINDOW(window_), widget, &config_, map_, &context_);
        view_.reset(static_cast<gtk::TreeInterfaceImpl*>(view.release()));
        gtk_container_add(GTK_CONTAINER(window_), widget);
        gtk_widget_show_all(window_);
        pumpEvents();
        view_->applyFilter();
        pumpEvents();
    }
    ~ShownTree() {
        view_.reset();
        gtk_widget_destroy(window_);
        pumpEvents();
    }
    ShownTree(const ShownTree&) = delete;
    ShownTree& operator=(const ShownTree&) = delete;

    gtk::TreeInterfaceImpl& view() { return *view_; }
    gtk::FolderTreePanel& folders() { return view_->folderTree(); }
    gtk::FileListPanel& files() { return view_->fileList(); }
    GuiContext& context() { return context_; }
    GtkWidget* window() const { return window_; }
    tree::Map* map() const { return map_.get(); }
    testutil::ScriptedMessages& messages() { return messages_; }

    // Shows the folder at a path of names from the top in the file list.
    bool openFolder(const std::string& path) {
        GtkTreeIter row;
        if (!findFolderRow(folders(), path, row))
            return false;
        setCursor(folders().view(), folders().model(), &row);
        pumpEvents();
        return true;
    }

private:
    testutil::ScriptedMessages messages_{1};
    SharedPtr<tree::Map> map_;
    PropertyMap config_;
    std::vector<std::string> known_;
    gtk::Interface ui_{nullptr};
    GuiContext context_;
    GtkWidget* window_ = nullptr;
    std::unique_ptr<gtk::TreeInterfaceImpl> view_;
};

// The text a text editor window shows.
inline std::string editorText(GtkDialog* editor) {
    std::vector<GtkWidget*> views = findWidgets(GTK_WIDGET(editor), GTK_TYPE_TEXT_VIEW);
    if (views.empty())
        return std::string();
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(views[0]));
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
    std::string result = text;
    g_free(text);
    return result;
}

// A small tree with an empty folder, a deleted file, a file with sector errors
// and an entry known only from its folder's listing.
inline const char* const SAMPLE_TREE = R"(
root 5
dir 10 in=5 name=docs
dir 11 in=10 name=deep
file 30 in=11 name=inner.txt size=10
file 20 in=10 name=MyDocument.txt size=1000 time=1262304000
file 21 in=10 name=old.txt deleted text=hello
file 22 in=5 name=a.docx size=5
file 23 in=5 name=notes.txt size=1234567
dir 12 in=5 name=empty
file 24 in=5 name=bad.bin size=100 unreadable
entry 5 25 name=invalid.txt
)";

inline SharedPtr<tree::Map> testMap(const std::string& description) {
    return SharedPtr<tree::Map>(testutil::TestEngine::build(description).release());
}

// Marks the folder at a folder-tree path, subtree and all.
inline void markFolder(ShownTree& shown, const std::string& path) {
    GtkTreeIter row;
    ASSERT_TRUE(findFolderRow(shown.folders(), path, row));
    setCursor(shown.folders().view(), shown.folders().model(), &row);
    shown.folders().toggleCheck();
}
// The folder dialog (answered with `name`, or cancelled when empty), then
// the confirmation (accepted when `confirm`).
inline void answerDialogs(DialogScript& script, const std::string& name, bool confirm,
                          std::string* confirmation = nullptr, bool cancelWalk = false) {
    script.then(
        DialogScript::titled("Select Recover Destination Folder"), [name](GtkDialog* dialog) {
            if (name.empty()) {
                gtk_dialog_response(dialog, GTK_RESPONSE_REJECT);
                return;
            }
            std::vector<GtkWidget*> entries = findWidgets(GTK_WIDGET(dialog), GTK_TYPE_ENTRY);
            gtk_entry_set_text(GTK_ENTRY(entries[0]), name.c_str());
            gtk_dialog_response(dialog, GTK_RESPONSE_ACCEPT);
        });
    if (name.empty())
        return;
    script.then(DialogScript::messageBox(), [confirm, confirmation, cancelWalk](GtkDialog* dialog) {
        if (confirmation) {
            for (GtkWidget* label : findWidgets(GTK_WIDGET(dialog), GTK_TYPE_LABEL))
                *confirmation += gtk_label_get_text(GTK_LABEL(label)) + std::string("|");
        }
        gtk_dialog_response(dialog, confirm ? GTK_RESPONSE_ACCEPT : GTK_RESPONSE_CANCEL);
        // The recovery's progress box comes next.
        if (cancelWalk)
            cancelProgressBoxWhenShown("Recovering Files");
    });
}

} // namespace guitest
