#pragma once

// The "Select By Mask" dialog: asks for the file-name mask with which the tree
// view tags files for recovery. The record lives with the tree view, so the
// mask last accepted is offered again.

#include "gui/TreeViewWidgets.h"

#include <gtk/gtk.h>

#include <string>

namespace gtk {

class SelectByMask {
public:
    SelectByMask() = default;

    // Runs the dialog over `parent`; true when OK was pressed with a non-empty
    // mask, which is then stored. Pressing OK with an empty entry keeps the
    // dialog open with the focus in the entry.
    bool run(GtkWindow* parent);
    const std::string& mask() const { return mask_; }

    // The dialog of one run, for driving its response handling without a modal
    // loop: build, type into entry(), then take().
    class Dialog {
    public:
        Dialog(GtkWindow* parent, const std::string& mask);
        GtkDialog* dialog() const { return dialog_.get(); }
        GtkEntry* entry() const { return entry_; }
        // The entry's text into `mask`; false (focus on the entry, mask unchanged)
        // when it is empty.
        bool take(std::string& mask);
        // Runs the modal loop until OK with a mask (true) or any other answer.
        bool run(std::string& mask);

    private:
        OwnedDialog dialog_;
        GtkEntry* entry_ = nullptr;
    };

private:
    std::string mask_ = "*.txt";
};

} // namespace gtk
