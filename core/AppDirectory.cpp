#include "core/AppDirectory.h"

#include <glib.h>

std::string& appDirectory() {
    static std::string directory;
    return directory;
}

void setAppDirectory(const std::string& path) {
    appDirectory() = path;
}

std::string appFilePath(const std::string& directory, const std::string& name) {
    gchar* joined = g_build_filename(directory.c_str(), name.c_str(), nullptr);
    std::string result(joined);
    g_free(joined);
    return result;
}
