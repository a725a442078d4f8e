#pragma once

// The Preferences dialog: every setting of the run and the three carving
// charsets in one modal window. OK writes them all back through the setters,
// so code pages, charsets and the program language take effect at once;
// Cancel changes nothing. The "Drive Language" choice and the five charset
// entries follow each other: a row fills the entries, and entries that match
// no row show "Custom".

#include <gtk/gtk.h>

#include <array>
#include <string>

class Preferences;

// True when the user pressed OK (all values written).
bool runPreferencesDialog(GtkWindow* parent, Preferences& preferences);

// The five charset texts of a drive language, in the order OEM charset,
// codepage, ARJ name, MP3 ID3v1, MP3 ID3v2.
using DriveLanguageTexts = std::array<std::string, 5>;

// The first row of Preferences::driveLanguages with exactly these texts, or
// the row count (the index of "Custom") when none has them.
int driveLanguageRow(const DriveLanguageTexts& texts);
// The texts of a row.
DriveLanguageTexts driveLanguageTexts(int row);
