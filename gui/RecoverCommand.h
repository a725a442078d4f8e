#pragma once

// The pieces of the Recover and View File commands (TreeInterface::recover,
// viewFile, viewNode) that stand apart from the tree: the default destination
// name, the confirmation box and the closing note.

#include "core/Types.h"
#include "tree/ParserRecover.h"

#include <ctime>
#include <gtk/gtk.h>
#include <string>

namespace gtk {

// "Recover-" and the local time as twelve digits, "Recover-201001181530".
std::string recoverDestinationName(std::time_t now);

// The modal confirmation over `parent`: `text` (plain text, shown as it is)
// with Cancel and the program's "Recover" button. True only for Recover.
bool confirmRecover(GtkWindow* parent, const std::string& text);
// The confirmation box as confirmRecover shows it, for driving it directly.
GtkDialog* newRecoverConfirmation(GtkWindow* parent, const std::string& text);

// The note shown before the closing message when files were split into
// volumes, written with errors (unreadable data, cut short) or not written at
// all, and where some were too large for the destination, the File Size Limit
// that splits them; empty when none of it happened.
std::string recoverNote(const tree::RecoveryCounts& counts);

} // namespace gtk
