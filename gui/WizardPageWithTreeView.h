#pragma once

// A wizard page whose body is one list or tree view, and the holder of that
// view. The holder keeps its own reference on the scrolled window, so the view
// survives being taken out of the page box between two runs of the page.

#include "gui/WizardPage.h"

#include <gtk/gtk.h>

namespace gtk {

// A scrolled tree view; the model and its columns are the user's business.
class UsesTreeView {
public:
    UsesTreeView();
    ~UsesTreeView();
    UsesTreeView(const UsesTreeView&) = delete;
    UsesTreeView& operator=(const UsesTreeView&) = delete;

    GtkWidget* getWidget() const { return scrolled_; }
    GtkTreeView* getView() const { return view_; }

    // A resizable, autosized text column showing `modelColumn`.
    GtkTreeViewColumn* appendTextColumn(const char* title, int modelColumn);
    // The int in the model column that follows the visible columns (its number
    // is the count of the view's columns) of the selected row; -1 when no row
    // is selected.
    int getSelectedId() const;

    // Activating a row (double click, Enter) answers Next on `dialog`.
    void connectRowActivated(GtkDialog* dialog);
    void disconnectRowActivated();

private:
    static void onRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer dialog);

    GtkWidget* scrolled_;
    GtkTreeView* view_;
    gulong rowActivatedHandler_ = NO_HANDLER;
    static constexpr gulong NO_HANDLER = static_cast<gulong>(-1);
};

class WizardPageWithTreeView : public WizardPage {
public:
    WizardPageWithTreeView(Wizard* wizard, const char* title, bool hasBack)
        : WizardPage(wizard, title, hasBack) {}

    // Gives the view the focus and runs the wizard.
    int run() override;

    UsesTreeView& getTreeView() { return treeView_; }
    const UsesTreeView& getTreeView() const { return treeView_; }

protected:
    // The page with the view filling it; activating a row means Next.
    void showTreePage(const char* text);
    // Takes the view out of the page box again and finishes the page.
    void hideTreePage();

private:
    UsesTreeView treeView_;
};

} // namespace gtk
