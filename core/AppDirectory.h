#pragma once

// Where the program's data lives: the "lib" folder beside the executable, holding
// "cbr.files", "cbr.directories", images, catalogues and help pages.

#include <string>

std::string& appDirectory();
void setAppDirectory(const std::string& path);
// The two joined by the path separator.
std::string appFilePath(const std::string& directory, const std::string& name);
