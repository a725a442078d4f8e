#include "analysis/DriveDescr.h"

#include <stdexcept>
#include <utility>

void DriveDescr::setLayout(std::vector<FsCandidate> layout) {
    selectedEntry_ = nullptr;
    layout_ = std::move(layout);
}

Driver* DriveDescr::getDrive() const {
    if (!driver_)
        throw std::runtime_error("DriveDescr(17)");
    return driver_.get();
}

void DriveDescr::reset() {
    // The map goes before the lists it was built from.
    map_.reset();
    selectedEntry_ = nullptr;
    carvedFiles_.clear();
    changes_.clear();
    layout_.clear();
    fsCollection_.clear();
    scanResults_.clear();
    hasScan_ = false;
    scanSaved_ = true;
}
