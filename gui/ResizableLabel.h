#pragma once

// A wrapping label whose line length follows the width it is given. A plain
// GtkLabel with wrapping asks for a fixed, narrow width and never re-wraps when
// its window grows; this one sits in a layout that hands its allocated width on
// to the label, so the text wraps at whatever width the container allows.

#include <gtk/gtk.h>

// The GObject type "GtkResizableLabel", derived from GtkLayout, registered on
// first use.
GType gtk_resizable_label_get_type();

#define GTK_TYPE_RESIZABLE_LABEL (gtk_resizable_label_get_type())

struct GtkResizableLabel {
    GtkLayout layout;
    GtkWidget* label; // the wrapped label inside
    int width;        // the width the widget asks for
};

struct GtkResizableLabelClass {
    GtkLayoutClass parentClass;
};

// A new resizable label showing `markup` (Pango markup; text that is not valid
// markup is shown as it stands). It asks for the width of the text on one line,
// at most `maxWidth` pixels.
GtkWidget* createResizableLabel(const char* markup, int maxWidth);
// Sets the width the widget asks for; the text re-wraps at the width it gets.
void resizableLabelSetWidth(GtkWidget* widget, int width);
// The label inside, or null when `widget` is no resizable label.
GtkLabel* resizableLabelGetLabel(GtkWidget* widget);
