#pragma once

// A choice among buttons stacked in one column, with Cancel last.

#include <gtk/gtk.h>

class ButtonColumnDialog {
public:
    // `stockIds` ends with a null entry; an entry that is no stock id becomes
    // the button's mnemonic label. Entry i answers i.
    ButtonColumnDialog(GtkWindow* parent, const char* title, const char* const* stockIds);
    ~ButtonColumnDialog();
    ButtonColumnDialog(const ButtonColumnDialog&) = delete;
    ButtonColumnDialog& operator=(const ButtonColumnDialog&) = delete;

    // Runs the modal loop and destroys the dialog: the index of the chosen
    // button, or -1 for Cancel and a closed window.
    int run();

    GtkDialog* getDialog() const { return dialog_; }

private:
    GtkDialog* dialog_;
};
