#include "gui/StockItems.h"

#include "core/AppDirectory.h"
#include "core/Intl.h"

#include <gtk/gtk.h>

namespace {

struct StockRow {
    const char* id;
    const char* label;   // English; translated at registration; null for none
    const char* gtkIcon; // a GTK stock icon, or
    const char* picture; // a picture in the application directory
};

const StockRow STOCK_ROWS[] = {
    {"Next", N_("_Next"), GTK_STOCK_GO_FORWARD, nullptr},
    {"Directory", nullptr, nullptr, "Directory.png"},
    {"DirectoryChecked", nullptr, nullptr, "DirectoryChecked.png"},
    {"File", nullptr, nullptr, "File.png"},
    {"FileChecked", nullptr, nullptr, "FileChecked.png"},
    {"Wizard", N_("Wizard"), GTK_STOCK_GO_FORWARD, nullptr},
    {"Recover", N_("_Recover"), GTK_STOCK_SAVE, nullptr},
};

// The factory of the last registration. A new language brings a new factory;
// the old one leaves the default list so that switches do not pile them up.
GtkIconFactory* registeredFactory = nullptr;

} // namespace

void registerStockItems() {
    constexpr std::size_t count = sizeof STOCK_ROWS / sizeof STOCK_ROWS[0];
    GtkStockItem items[count];
    for (std::size_t i = 0; i < count; ++i) {
        const StockRow& row = STOCK_ROWS[i];
        // GTK copies the strings; it never writes through them.
        items[i].stock_id = const_cast<gchar*>(row.id);
        items[i].label = row.label ? const_cast<gchar*>(_(row.label)) : nullptr;
        items[i].modifier = static_cast<GdkModifierType>(0);
        items[i].keyval = 0;
        items[i].translation_domain = nullptr;
    }
    gtk_stock_add(items, count);

    GtkIconFactory* factory = gtk_icon_factory_new();
    for (const StockRow& row : STOCK_ROWS) {
        if (row.gtkIcon) {
            if (GtkIconSet* set = gtk_icon_factory_lookup_default(row.gtkIcon))
                gtk_icon_factory_add(factory, row.id, set);
            continue;
        }
        std::string path = appFilePath(appDirectory(), row.picture);
        GdkPixbuf* picture = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
        if (!picture)
            continue;
        GtkIconSet* set = gtk_icon_set_new_from_pixbuf(picture);
        gtk_icon_factory_add(factory, row.id, set);
        gtk_icon_set_unref(set);
        g_object_unref(picture);
    }
    if (registeredFactory)
        gtk_icon_factory_remove_default(registeredFactory);
    gtk_icon_factory_add_default(factory);
    // The default list holds its own reference; we keep only the pointer.
    g_object_unref(factory);
    registeredFactory = factory;
}
