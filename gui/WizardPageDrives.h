#pragma once

// The wizard's first page: choosing the source to scan from the sources tree.
// On Next it builds the reader chain of the chosen descriptor, wraps it in a
// Driver of 512-byte sectors with the source's identity in its properties, and
// hands it to the DriveDescr, which forgets the old scan when the source
// changed. In destination mode the page records a chosen folder in the
// GuiContext instead.

#include "gui/DrivesTree.h"
#include "gui/WizardPage.h"

#include <string>
#include <vector>

class DrivesVFS;
class GuiContext;

namespace gtk {

class WizardPageDrives : public WizardPage {
public:
    enum Mode { SOURCE = 0, DESTINATION = 1 };
    // The page's own button in destination mode with Back.
    static constexpr int RESPONSE_NO_DESTINATION = 100;

    WizardPageDrives(Wizard* wizard, int mode, GuiContext* context,
                     std::vector<std::string>* sourceList, DrivesVFS* vfs, bool hasBack);

    int run() override;

    // Takes the selected row: true when the page may be left with Next.
    bool applySelection();

    int getMode() const { return mode_; }
    DrivesTree& getTree() { return tree_; }

private:
    static void onCursorChanged(GtkTreeView*, gpointer self);
    static void onRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer self);
    bool selectedRowChoosable() const;
    bool applySource();

    int mode_;
    GuiContext* context_;
    DrivesTree tree_;
};

} // namespace gtk
