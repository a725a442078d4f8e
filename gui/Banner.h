#pragma once

// The picture strip across the top of the main window and the wizard: a picture
// on the left, one on the right, and between them the first pixel column of the
// left (or else the right) picture stretched to whatever width is left.

#include <gtk/gtk.h>

// Either name may be null (no picture on that side). Pictures are files in the
// application directory; one that cannot be loaded shows GTK's missing-image
// icon, and when it is the one the stretch is cut from there is no stretch.
GtkWidget* createBanner(const char* leftPicture, const char* rightPicture);
