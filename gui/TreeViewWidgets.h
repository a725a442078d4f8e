#pragma once

// Small widget helpers shared by the tree view and its dialogs (find, filter,
// select by mask, recover).

#include "core/Text.h"

#include <gtk/gtk.h>

#include <string>

namespace gtk {

// From now on the label re-wraps to the width it is given: on every
// "size_allocate" its requested width becomes the allocated width minus 8.
void wrapLabelToAllocation(GtkWidget* label);

// Packs into `box` a row with the mnemonic `caption` and an entry that fills
// the rest, holds `text` and activates the default response; returns the entry.
GtkEntry* packLabelledEntry(GtkBox* box, const char* caption, const std::string& text);
// Packs into `box`, expanding, a hint label aligned to the top left that wraps
// to the width the dialog gives it.
void packHint(GtkBox* box, const char* text);

// A modal dialog (destroyed with its parent, no separator) over `parent` with a
// Cancel button answering `cancelResponse` and an OK button answering
// `okResponse`, OK first in the alternative order and the default response.
GtkDialog* newOkCancelDialog(const char* title, GtkWindow* parent, int cancelResponse,
                             int okResponse);

// Sole owner of a dialog window for one run. The dialog may also go away on its
// own (destroyed with its parent while it runs); the holder then just forgets it.
class OwnedDialog {
public:
    explicit OwnedDialog(GtkDialog* dialog = nullptr) { reset(dialog); }
    ~OwnedDialog() { reset(); }
    OwnedDialog(const OwnedDialog&) = delete;
    OwnedDialog& operator=(const OwnedDialog&) = delete;

    GtkDialog* get() const { return dialog_; }
    explicit operator bool() const { return dialog_ != nullptr; }
    // Destroys the dialog held (if it still exists) and takes `dialog`.
    void reset(GtkDialog* dialog = nullptr);

private:
    GtkDialog* dialog_ = nullptr;
};

// gtk_dialog_run, with a dialog that went away while it ran reported as
// GTK_RESPONSE_NONE.
int runDialog(OwnedDialog& dialog);

// The text of a translated, fixed message as Pango markup: markup characters of
// inserted parts (paths, names) must show as they are, not stop the box.
using ::escapeMarkup;

using ::validUtf8;

// The one clock of the windows: monotonic microseconds. Tests put in their own
// (null puts the real one back); the previous one is returned.
using GuiClock = gint64 (*)();
gint64 guiClock();
GuiClock setGuiClock(GuiClock clock);

} // namespace gtk
