#pragma once

// One page of the wizard. A page's run follows one pattern: showPage with its
// description, setHelpTopic, optionally its own buttons between
// beginExtraButtons and endExtraButtons, the wizard's run until a response ends
// the page, then the removal of its widgets, finishPage, and the response.

#include "gui/Wizard.h"

#include <gtk/gtk.h>

namespace gtk {

class WizardPage {
public:
    // `title` is a translated text that outlives the page.
    WizardPage(Wizard* wizard, const char* title, bool hasBack)
        : wizard_(wizard), title_(title), hasBack_(hasBack) {}
    virtual ~WizardPage() = default;
    WizardPage(const WizardPage&) = delete;
    WizardPage& operator=(const WizardPage&) = delete;

    // Shows the page and runs it; the response that ended it.
    virtual int run() = 0;

    Wizard* getWizard() const { return wizard_; }
    bool hasBackButton() const { return hasBack_; }
    const char* getTitle() const { return title_; }

protected:
    void showPage(const char* text) { wizard_->setPage(title_, text, hasBack_); }

    // A row of the page's own buttons at the left of Back and Next: the
    // dialog's action area moves into a row beside the extra button box until
    // endExtraButtons puts it back.
    void beginExtraButtons();
    // A button that ends the page's loop with `response`.
    GtkWidget* addExtraButton(const char* label, int response);
    // Packs any widget into the extra box at the width of a dialog button.
    void packExtraWidget(GtkWidget* widget);
    // Puts the action area back and destroys the extra row with its widgets.
    void endExtraButtons();

    // Called last by every page's run.
    void finishPage() {}

private:
    Wizard* wizard_;
    const char* title_;
    bool hasBack_;
    GtkBox* extraButtons_ = nullptr;
    GtkBox* buttonRow_ = nullptr;
};

// Runs the pages in order: Next goes on, Back goes to the page before (except on
// the first page), anything else stops. True when the last page was passed
// with Next.
bool runWizardPages(int count, WizardPage* const* pages);

} // namespace gtk
