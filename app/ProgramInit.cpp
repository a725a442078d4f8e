#include "app/ProgramInit.h"

#include "app/Startup.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "core/System.h"
#include "gui/MessageDialog.h"
#include "gui/StockItems.h"

#include <gtk/gtk.h>

std::vector<std::string> windowIconPaths(const PropertyMap& config) {
    std::string base = buildFileName(config.getString("Program Path", "").c_str(),
                                     config.getString("Program Icon", "").c_str());
    std::vector<std::string> paths{base};
    std::string::size_type dot = base.rfind('.');
    if (dot == std::string::npos)
        return paths;
    for (const char* size : {"16", "32", "48"})
        paths.push_back(base.substr(0, dot) + "-" + size + base.substr(dot));
    return paths;
}

int loadWindowIcons(const PropertyMap& config) {
    GList* icons = nullptr;
    for (const std::string& path : windowIconPaths(config)) {
        // A missing icon file is not worth a word: the window manager's own
        // icon stands in.
        if (GdkPixbuf* icon = gdk_pixbuf_new_from_file(path.c_str(), nullptr))
            icons = g_list_append(icons, icon);
    }
    int count = static_cast<int>(g_list_length(icons));
    gtk_window_set_default_icon_list(icons);
    g_list_free_full(icons, g_object_unref);
    return count;
}

bool program_init(PropertyMap& config, int argc, char** argv) {
    if (!programInitCore(config, argc, argv))
        return false;
    if (!gtk_init_check(&argc, &argv)) {
        logAt("program_init", 46) << '\n';
        return false;
    }
    loadWindowIcons(config);
    registerStockItems();
    // From now on questions and errors are GTK boxes, and a change of the
    // program language re-translates the stock labels.
    gtk::installMessageDialogHandler();
    Preferences::setLanguageChangedHook(registerStockItems);
    return true;
}
