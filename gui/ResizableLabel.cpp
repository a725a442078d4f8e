#include "gui/ResizableLabel.h"

namespace {

void instanceInit(GTypeInstance* instance, gpointer) {
    GtkResizableLabel* self = reinterpret_cast<GtkResizableLabel*>(instance);
    self->label = nullptr;
    self->width = 0;
}

GtkResizableLabel* asResizableLabel(GtkWidget* widget) {
    if (!widget || !G_TYPE_CHECK_INSTANCE_TYPE(widget, GTK_TYPE_RESIZABLE_LABEL))
        return nullptr;
    return reinterpret_cast<GtkResizableLabel*>(widget);
}

// Sets a size request only when it changes: every request queues a resize, and
// this runs inside size allocation, so an unconditional one would never settle.
void setSizeRequest(GtkWidget* widget, int width, int height) {
    int oldWidth = -1;
    int oldHeight = -1;
    gtk_widget_get_size_request(widget, &oldWidth, &oldHeight);
    if (oldWidth != width || oldHeight != height)
        gtk_widget_set_size_request(widget, width, height);
}

// The label wraps at the width the container gives; the widget then asks for
// the height the wrapped text needs.
void onSizeAllocate(GtkWidget* widget, GtkAllocation* allocation, gpointer) {
    GtkResizableLabel* self = asResizableLabel(widget);
    if (!self || !self->label)
        return;
    setSizeRequest(self->label, allocation->width, -1);
    GtkRequisition requisition;
    gtk_widget_size_request(self->label, &requisition);
    setSizeRequest(widget, self->width, requisition.height);
}

bool isValidMarkup(const char* markup) {
    return pango_parse_markup(markup, -1, 0, nullptr, nullptr, nullptr, nullptr);
}

} // namespace

GType gtk_resizable_label_get_type() {
    static gsize type = 0;
    if (g_once_init_enter(&type)) {
        GType registered = g_type_register_static_simple(
            GTK_TYPE_LAYOUT, g_intern_static_string("GtkResizableLabel"),
            sizeof(GtkResizableLabelClass), nullptr, sizeof(GtkResizableLabel), instanceInit,
            static_cast<GTypeFlags>(0));
        g_once_init_leave(&type, registered);
    }
    return type;
}

GtkWidget* createResizableLabel(const char* markup, int maxWidth) {
    GtkWidget* widget = GTK_WIDGET(g_object_new(GTK_TYPE_RESIZABLE_LABEL, nullptr));
    GtkResizableLabel* self = asResizableLabel(widget);
    if (!markup)
        markup = "";

    GtkWidget* label = gtk_label_new(nullptr);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    // Messages carry file names; one with "&" or "<" in it would otherwise show
    // an empty box.
    bool markupOk = isValidMarkup(markup);
    if (markupOk)
        gtk_label_set_markup(GTK_LABEL(label), markup);
    else
        gtk_label_set_text(GTK_LABEL(label), markup);
    self->label = label;

    PangoLayout* layout = gtk_widget_create_pango_layout(label, nullptr);
    if (markupOk)
        pango_layout_set_markup(layout, markup, -1);
    else
        pango_layout_set_text(layout, markup, -1);
    int oneLine = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &oneLine, &height);
    g_object_unref(layout);
    self->width = oneLine < maxWidth ? oneLine : maxWidth;

    gtk_layout_put(GTK_LAYOUT(widget), label, 0, 0);
    gtk_widget_set_size_request(widget, self->width, -1);
    g_signal_connect(widget, "size-allocate", G_CALLBACK(onSizeAllocate), nullptr);
    return widget;
}

void resizableLabelSetWidth(GtkWidget* widget, int width) {
    GtkResizableLabel* self = asResizableLabel(widget);
    if (!self)
        return;
    self->width = width;
    gtk_widget_set_size_request(widget, width, -1);
}

GtkLabel* resizableLabelGetLabel(GtkWidget* widget) {
    GtkResizableLabel* self = asResizableLabel(widget);
    return self && self->label ? GTK_LABEL(self->label) : nullptr;
}
