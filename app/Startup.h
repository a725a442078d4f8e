#pragma once

// The window-free part of start-up: the debug log's target from the command line,
// the first log line, and the configuration map beside the executable.

#include "core/PropertyMap.h"

// Under a file-size limit (ulimit -f) the kernel would end the program by
// SIGXFSZ at the first write past it, before the recovery could report: with
// the signal ignored that write fails with EFBIG, which cuts that one file.
void ignoreFileSizeSignal();

// The text after the last argument (from index 1) that begins with "dbg=", or
// null when there is none.
const char* debugLogTarget(int argc, char** argv);

// Sets the log up from the command line and writes its first line, naming the
// program and its revision.
void startDebugLog(int argc, char** argv);

// The fixed revision text of this build.
const char* programRevision();

// Stores "Program Path", loads the configuration file beside the executable
// (named after it with ".cfg"), exports "Locale" as LC_ALL, binds the text domain
// and sets the library directory. False only when argc < 1. The windowed start-up
// adds GTK, the icons and the stock items on top of it.
bool programInitCore(PropertyMap& config, int argc, char** argv);

// A descriptor open for appending to the file log, for the crash path to write
// to from a signal handler; -1 when the log is not a file.
int crashLogDescriptor(int argc, char** argv);
