#pragma once

// The windowed start-up: the window-free part (Startup.h), then GTK, the window
// icons, the program's stock items and the GTK message box.

#include "core/PropertyMap.h"

#include <string>
#include <vector>

// True when the program can run. False when argc < 1 or GTK cannot start
// (logged "program_init(15)" or "program_init(46)").
bool program_init(PropertyMap& config, int argc, char** argv);

// The files tried as window icons, in order: "Program Path" joined with
// "Program Icon", then, when that name has a ".", the same with "-16", "-32"
// and "-48" before its last ".".
std::vector<std::string> windowIconPaths(const PropertyMap& config);

// Makes the icons of those files that load the default icons of every window;
// returns how many loaded.
int loadWindowIcons(const PropertyMap& config);
