#pragma once

// A one-line text question.

#include <gtk/gtk.h>

#include <string>

// A modal dialog titled `title` over `parent` (centred on the screen when null)
// with an entry that starts with `value`, the `caption` label before it and a
// wrapped `hint` below it (both may be null). True when the user confirmed with
// OK (or Enter); then `value` holds the entered text, else it is unchanged.
bool textEntryDialog(GtkWindow* parent, const char* title, std::string& value, const char* caption,
                     const char* hint);
