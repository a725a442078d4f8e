#pragma once

// OLE compound files: the structured-storage container of office documents,
// installer databases and the files of several drawing, publishing and project
// programs. The module itself lives in its source file; the registry makes it
// through the factory below.

#include "cbr/FileModule.h"

namespace cbr {

// A new compound-file module; the caller owns it.
FileModule* createFileModuleOle();

} // namespace cbr
