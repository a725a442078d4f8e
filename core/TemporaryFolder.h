#pragma once

// The program's own folder in the system's temporary directory, where View
// File puts its copies of recovered files: the user's data, maybe private. It
// lives as long as the run: it and everything in it go when the process ends
// normally (Quit, SIGTERM and SIGINT end the main loop and return from main),
// and the next run sweeps what a killed one left.
//
// A run holds a lock on a file inside its folder for as long as it lives; the
// kernel lets go of it however the process ends. A folder whose lock can be
// taken belongs to a run that is gone.

#include <string>

// "halbrook-XXXXXX" in `parent`, mode 0700, made and locked on the first call
// for that parent and kept for the run; empty when it cannot be made or locked,
// errno then holding the reason of the call that failed.
std::string runTemporaryFolder(const std::string& parent);

// Removes this run's folders and everything in them now (they are also removed
// at exit). A later runTemporaryFolder makes a new one.
void removeRunTemporaryFolder();

// Removes the folders "halbrook-XXXXXX" in `parent` that this user owns and
// whose run is gone; a folder without the lock file (made by a build without
// it) when it has not changed for a minute. Links are never followed. Returns
// how many were removed.
unsigned sweepTemporaryFolders(const std::string& parent);

// Removes a folder and everything below it without following a link or
// crossing into another file system; false when something stays.
bool removeFolderTree(const std::string& path);
