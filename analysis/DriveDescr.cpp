#include "analysis/DriveDescr.h"

#include <stdexcept>
#include <utility>

void DriveDescr::setLayout(std::vector<FsCandidate> layout) {
    // The chosen volume is chosen again in the new layout when it is still
    // there; the old pointer would dangle.
    const FsCandidate* old = selectedEntry_;
    selectedEntry_ = nullptr;
    if (old != nullptr) {
        for (FsCandidate& e : layout) {
            if (!e.isPartitionTable && e.startLBA == old->startLBA && e.fscode() == old->fscode()) {
                selectedEntry_ = &e;
                break;
            }
        }
    }
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
