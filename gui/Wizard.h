#pragma once

// The wizard: one modal dialog that shows one page at a time under a banner and
// a description text, with Back and Next at the bottom. The pages
// (WizardPage) put their widgets into the page box and run the dialog's loop
// until a response ends them; the dialog itself keeps no page state.
//
// Responses: GTK_RESPONSE_ACCEPT is Next, GTK_RESPONSE_REJECT is Back (also the
// Escape key), a closed window comes back as GTK_RESPONSE_CLOSE. Buttons of a
// page's own answer positive codes (100, 101).

#include "gui/TreeViewWidgets.h"

#include <gtk/gtk.h>

#include <string>

namespace gtk {

class Wizard {
public:
    // A modal dialog over `parent`, centred on the screen when `parent` is null.
    explicit Wizard(GtkWindow* parent);
    Wizard(const Wizard&) = delete;
    Wizard& operator=(const Wizard&) = delete;

    // A read-only, word-wrapped text view that reads like a label: its
    // insensitive base colour is the normal background of `styleWidget`'s
    // style. `text` may be null.
    static GtkWidget* makeDescriptionView(GtkWidget* styleWidget, const char* text);

    // Shows a new page: title, description, an empty page box, and Back (when
    // `hasBack`) left of Next. The two buttons are rebuilt only when the Back
    // setting differs from the page before.
    void setPage(const char* title, const char* text, bool hasBack);
    // The F1 help topic of the current page; empty binds no F1.
    void setHelpTopic(const std::string& topic) { helpTopic_ = topic; }
    const std::string& getHelpTopic() const { return helpTopic_; }
    // Enables or disables Next (ACCEPT) or Back (REJECT); other codes and
    // buttons that are not there are ignored.
    void setResponseSensitive(int response, bool sensitive);

    // Runs the modal loop until a response; a closed window answers
    // GTK_RESPONSE_CLOSE.
    int run();

    GtkDialog* getDialog() const { return dialog_.get(); }
    GtkWindow* getWindow() const { return GTK_WINDOW(dialog_.get()); }
    GtkBox* getPageBox() const { return pageBox_; }
    GtkWidget* getNextButton() const { return nextButton_; }

private:
    enum ButtonState { BACK_AND_NEXT = 0, NEXT_ONLY = 1, NO_BUTTONS = 2 };

    static void onClose(GtkDialog* dialog, gpointer);

    OwnedDialog dialog_;
    GtkTextBuffer* description_ = nullptr;
    GtkBox* pageBox_ = nullptr;
    int backState_ = NO_BUTTONS;
    GtkWidget* backButton_ = nullptr;
    GtkWidget* nextButton_ = nullptr;
    std::string helpTopic_;
};

// A form label: the mnemonic text followed by ":", right-aligned, centred
// vertically.
GtkWidget* newFormLabel(const char* text);

} // namespace gtk
