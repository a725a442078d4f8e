#pragma once

// The program's one Open and Save File dialog: the sources tree in destination
// mode (folders and files) with a "_Location" entry for the file name. It
// remembers the chosen place in the GuiContext and warns before a file is
// written onto the media of the open source.

#include "gui/DrivesTree.h"
#include "gui/TreeViewWidgets.h"
#include "platform/SystemRoots.h"

#include <gtk/gtk.h>

#include <string>

class GuiContext;

class FileDialog {
public:
    // SAVE chooses a file to write: one that exists is overwritten once the user
    // agrees, a folder of that name is refused. DESTINATION chooses a folder to
    // recover into: one that exists is added to, never replaced, and a file of
    // that name cannot take its place.
    enum Mode { OPEN = 0, SAVE = 1, DESTINATION = 2 };

    // Builds the dialog (not yet run); `title` null gives "Open File" or
    // "Save File". `name` is the initial file name.
    FileDialog(GuiContext& context, const std::string& name, int mode, const char* title);
    FileDialog(const FileDialog&) = delete;
    FileDialog& operator=(const FileDialog&) = delete;

    // Runs until the user chose a file (true, `name` set) or cancelled.
    bool run(std::string& name);
    // What OK does: true when the choice stands (`name` is the file name, the
    // context holds its folder); false sends the user back to the dialog.
    bool accept(std::string& name);

    GtkDialog* getDialog() const { return dialog_.get(); }
    GtkEntry* getEntry() const { return entry_; }
    gtk::DrivesTree& getTree() { return tree_; }

private:
    // Whether `path`, which exists, may be chosen: the question or refusal of
    // the mode over `window`.
    bool acceptExisting(const std::string& path, GtkWindow* window) const;
    static void onSelectionChanged(GtkWidget*, gpointer self);
    static void onRowActivated(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn*,
                               gpointer self);

    GuiContext& context_;
    int mode_;
    gtk::DrivesTree tree_;
    gtk::OwnedDialog dialog_;
    GtkEntry* entry_ = nullptr;
};

// The dialog for one choice: mode 0 opens, 1 saves, 2 chooses a destination
// folder (any other mode returns false at once). On true `name` is the chosen file name and the
// context's current directory its folder (GuiContext::makePath builds the path).
bool runFileDialog(GuiContext& context, std::string& name, int mode, const char* title);

// "Cannot write to file:" and "Cannot read file:" with the path of `name` in the
// context's current directory, as an error box; a write's ends with the
// reason for the error `code`.
void reportWriteError(GuiContext& context, const std::string& name, int code);
void reportReadError(GuiContext& context, const std::string& name);

// Whether writing into `folder` would write onto the source described by
// `sourceDescriptor`: the folder's file system lies on one of the source's
// partitions (its "partitions" value) or on the source device itself, directly or
// below a device mapper or RAID layer. A source that is an image file never
// does.
bool folderLiesOnSource(const std::string& sourceDescriptor, const std::string& folder,
                        const platform::SystemRoots& roots);
