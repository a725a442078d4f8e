#pragma once

// "Select Component": picks a component of a software driver from a sources
// tree (software drivers included) instead of typing its id.

#include "gui/DrivesTree.h"
#include "gui/TreeViewWidgets.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

class DrivesVFS;

class SelectComponent {
public:
    // The dialog is built at once over `parent` (not shown); `run` destroys it.
    SelectComponent(const std::vector<std::string>& known, DrivesVFS* vfs, GtkWindow* parent);

    // The descriptor of the chosen row, or an empty text when cancelled.
    std::string run();

    GtkDialog* getDialog() const { return dialog_.get(); }
    gtk::DrivesTree& getTree() { return tree_; }

private:
    static void onCursorChanged(GtkTreeView*, gpointer self);
    static void onRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer self);
    bool currentRowChoosable() const;

    // The tree shows a copy: this dialog offers no command that changes the list.
    std::vector<std::string> known_;
    gtk::DrivesTree tree_;
    gtk::OwnedDialog dialog_;
};
