#pragma once

// Translation lookup. Every text the user sees goes through these, in the text
// domain "Halbrook"; callers pass the English text as the key.

#include <libintl.h>

inline const char* _(const char* text) {
    return gettext(text);
}

// Marks a text for the catalogue where it is translated later.
constexpr const char* N_(const char* text) {
    return text;
}

inline const char* ngettext_(const char* singular, const char* plural, unsigned long n) {
    return ngettext(singular, plural, n);
}

constexpr const char* TEXT_DOMAIN = "Halbrook";
