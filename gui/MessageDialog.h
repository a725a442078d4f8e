#pragma once

// The GTK implementation of the program's one message box (messageDialog in
// core/UserInterface.h): five kinds, an optional check box, and a result that
// tells Yes from No.

#include <gtk/gtk.h>

#include <exception>
#include <string>

namespace gtk {

// Shows the box and runs its modal loop; the result is that of messageDialog:
// for kinds 1 and 2 (question, warning) 0 for Yes and 1 for anything else, 0 for
// every other kind, plus 0x10 when the check box exists and is ticked. `text` is
// Pango markup (text that is not valid markup is shown as it stands). An unknown
// kind shows an error box. With `checked` the check box starts ticked.
int runMessageDialog(int kind, const std::string& text, GtkWindow* parent, bool defaultNo,
                     const char* checkLabel, bool checked = false);

// The result for a dialog response: `response` is the code the box's loop
// returned, `checked` whether its check box exists and is ticked.
int messageResult(int kind, int response, bool checked);

// Makes messageDialog show GTK boxes from now on.
void installMessageDialogHandler();

// The plain text of the error box for an exception that ended a command: a
// failure the user can act on (a file or folder that could not be written)
// in its own words, which say what, where and why; a fault of the program as
// that, with its text for the log and for support.
std::string failureText(const std::exception& e);

} // namespace gtk
