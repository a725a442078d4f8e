#pragma once

// The wizard's third page: the file systems the analysis found (and "Found
// Files" when content carving found anything). Next builds the tree of the
// chosen one, which the main window then shows; the main window's Select
// Partition command runs the page alone, without Back. "_View File System"
// opens the structure view of the chosen file system: which on-disk
// structures were found, created or changed, and a dump of each.

#include "gui/WizardPageWithTreeView.h"

#include <gtk/gtk.h>

class Analyzer;
class DriveDescr;
class GuiContext;
struct FsCandidate;

namespace gtk {

class WizardPageSelectFs : public WizardPageWithTreeView {
public:
    // Neither is owned; both outlive the page.
    WizardPageSelectFs(Wizard* wizard, Analyzer* analyzer, GuiContext* context, bool hasBack);

    int run() override;

    // The candidate of the selected row; null for "Found Files" and no row.
    FsCandidate* getSelectedCandidate() const;
    // Refills the list from the layout and the carved files; the cursor goes
    // to the first row.
    void fillList();
    // What a response does; true when it leaves the page.
    bool handleResponse(int response);

    // The structure view of `candidate`, over the wizard, until closed.
    void showComponentsDialog(const FsCandidate& candidate);
    // Dumps one structure of the selected candidate into the text editor.
    void showComponent(GtkWindow* parent, int component);

    GtkWidget* getViewButton() const { return viewButton_; }

private:
    static void onCursorChanged(GtkTreeView*, gpointer self);
    void updateViewButton();

    Analyzer* analyzer_;
    GuiContext* context_;
    DriveDescr* driveDescr_;
    GtkListStore* store_;
    GtkWidget* viewButton_ = nullptr;
};

} // namespace gtk
