#pragma once

// The Preferences dialog: every setting of the run and the three carving
// charsets in one modal window. OK writes them all back through the setters,
// so code pages, charsets and the program language take effect at once;
// Cancel changes nothing. The "Drive Language" choice and the four entries of
// what names are read as (the source's OEM charset and the three carving
// charsets) follow each other: a row fills the entries, and entries that match
// no row show "Custom". The destination's code page is no part of a row: names
// are written in the system's own charset (UTF-8) unless the user types one.

#include <gtk/gtk.h>

#include <array>
#include <string>

class Preferences;

// True when the user pressed OK (all values written).
bool runPreferencesDialog(GtkWindow* parent, Preferences& preferences);

// The charset texts of a drive language that say what names are read as, in
// the order OEM charset, ARJ name, MP3 ID3v1, MP3 ID3v2.
using DriveLanguageTexts = std::array<std::string, 4>;

// The first row of Preferences::driveLanguages with exactly these texts, or
// the row count (the index of "Custom") when none has them.
int driveLanguageRow(const DriveLanguageTexts& texts);
// The texts of a row.
DriveLanguageTexts driveLanguageTexts(int row);
