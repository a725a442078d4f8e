#pragma once

// The small record the main window hands to its dialogs, wizard pages and tree
// views: who shows messages, the current source's analysis state, the sources
// the sources tree knows, and where the user last chose a file.

#include "platform/SystemRoots.h"

#include <string>
#include <vector>

class DriveDescr;
class DrivesVFS;

namespace gtk {
class Interface;
}

class GuiContext {
public:
    // None of the four is owned; all outlive the context.
    GuiContext(gtk::Interface* interface, DriveDescr* driveDescr,
               std::vector<std::string>* knownDescriptors, DrivesVFS* drivesVfs)
        : interface_(interface), driveDescr_(driveDescr), knownDescriptors_(knownDescriptors),
          drivesVfs_(drivesVfs) {}

    gtk::Interface* getInterface() const { return interface_; }
    DriveDescr* getDriveDescr() const { return driveDescr_; }
    std::vector<std::string>* getKnownDescriptors() const { return knownDescriptors_; }
    DrivesVFS* getDrivesVfs() const { return drivesVfs_; }

    // The sources-tree row last chosen in a file dialog: its id, its text and
    // its row path (to select it again next time).
    std::string& locationId() { return locationId_; }
    std::string& locationText() { return locationText_; }
    std::string& locationTreePath() { return locationTreePath_; }
    const std::string& currentDirectory() const { return currentDirectory_; }

    // Also forgets the current directory, which belonged to the old location.
    void setLocation(const std::string& id, const std::string& text, const std::string& treePath);
    void setCurrentDirectory(const std::string& directory) { currentDirectory_ = directory; }
    void clearLocation();

    // The path of `name` in the current directory; the directory itself when
    // `name` is null.
    std::string makePath(const char* name) const;

    // Where the machine's devices and mount table are looked up when deciding
    // whether a destination lies on the source (tests point it elsewhere).
    const platform::SystemRoots& getSystemRoots() const { return systemRoots_; }
    void setSystemRoots(const platform::SystemRoots& roots) { systemRoots_ = roots; }

private:
    gtk::Interface* interface_;
    DriveDescr* driveDescr_;
    std::vector<std::string>* knownDescriptors_;
    DrivesVFS* drivesVfs_;
    std::string locationId_;
    std::string locationText_;
    std::string locationTreePath_;
    std::string currentDirectory_;
    platform::SystemRoots systemRoots_;
};
