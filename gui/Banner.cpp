#include "gui/Banner.h"

#include "core/AppDirectory.h"

namespace {

GtkWidget* loadPicture(const char* name) {
    if (!name)
        return nullptr;
    std::string path = appFilePath(appDirectory(), name);
    return gtk_image_new_from_file(path.c_str());
}

// Keeps the stretch as wide as the room it is given: its picture is rescaled
// whenever the allocation and the picture disagree.
void onStretchAllocate(GtkWidget* widget, GtkAllocation* allocation, gpointer) {
    GtkImage* image = GTK_IMAGE(widget);
    GdkPixbuf* current = gtk_image_get_pixbuf(image);
    if (!current || allocation->width < 1)
        return;
    if (gdk_pixbuf_get_width(current) == allocation->width)
        return;
    GdkPixbuf* scaled = gdk_pixbuf_scale_simple(current, allocation->width,
                                                gdk_pixbuf_get_height(current), GDK_INTERP_NEAREST);
    if (!scaled)
        return;
    gtk_image_set_from_pixbuf(image, scaled);
    g_object_unref(scaled);
}

// The first pixel column of `source`, as a new image that asks for 1 x height
// so that it never widens the strip by itself.
GtkWidget* createStretch(GtkWidget* source) {
    // A picture that did not load shows a stock icon, which has no pixels to cut.
    if (gtk_image_get_storage_type(GTK_IMAGE(source)) != GTK_IMAGE_PIXBUF)
        return nullptr;
    GdkPixbuf* picture = gtk_image_get_pixbuf(GTK_IMAGE(source));
    if (!picture)
        return nullptr;
    int height = gdk_pixbuf_get_height(picture);
    GdkPixbuf* column = gdk_pixbuf_new_subpixbuf(picture, 0, 0, 1, height);
    GdkPixbuf* copy = gdk_pixbuf_copy(column);
    g_object_unref(column);
    GtkWidget* stretch = gtk_image_new_from_pixbuf(copy);
    g_object_unref(copy);
    gtk_widget_set_size_request(stretch, 1, height);
    g_signal_connect(stretch, "size-allocate", G_CALLBACK(onStretchAllocate), nullptr);
    return stretch;
}

} // namespace

GtkWidget* createBanner(const char* leftPicture, const char* rightPicture) {
    GtkWidget* box = gtk_hbox_new(FALSE, 0);
    GtkWidget* left = loadPicture(leftPicture);
    GtkWidget* right = loadPicture(rightPicture);
    GtkWidget* source = left ? left : right;
    GtkWidget* stretch = source ? createStretch(source) : nullptr;

    if (right)
        gtk_box_pack_end(GTK_BOX(box), right, FALSE, FALSE, 0);
    if (stretch)
        gtk_box_pack_end(GTK_BOX(box), stretch, TRUE, TRUE, 0);
    if (left)
        gtk_box_pack_end(GTK_BOX(box), left, FALSE, FALSE, 0);
    return box;
}
