#include "gui/GuiContext.h"

#include "core/System.h"

void GuiContext::setLocation(const std::string& id, const std::string& text,
                             const std::string& treePath) {
    locationId_ = id;
    locationText_ = text;
    locationTreePath_ = treePath;
    currentDirectory_.clear();
}

void GuiContext::clearLocation() {
    locationId_.clear();
    locationText_.clear();
    locationTreePath_.clear();
    currentDirectory_.clear();
}

std::string GuiContext::makePath(const char* name) const {
    if (name == nullptr)
        return currentDirectory_;
    return buildFileName(currentDirectory_.c_str(), name);
}
