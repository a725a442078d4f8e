#pragma once

// Everything known about the current source: the finds of its sector scans, how
// far they went, the candidate file systems built from them, the rebuilt layout
// with the sectors it repaired in memory, the source's sector driver, the entry
// the user chose, the tree built for it and the files found by their contents.
// There is one, the first part of the analyzer; it lives for the whole run and is
// reset when another source is chosen.

#include "analysis/ScanRange.h"
#include "cbr/FileInfo.h"
#include "core/Ownership.h"
#include "devices/Driver.h"
#include "fs/FsCandidate.h"
#include "fs/ScanResults.h"
#include "fs/SectorChange.h"
#include "tree/Map.h"

#include <vector>

class DriveDescr {
public:
    DriveDescr() = default;
    virtual ~DriveDescr() = default;
    // The selected entry points into this object's own layout: a copy would
    // point into the original's.
    DriveDescr(const DriveDescr&) = delete;
    DriveDescr& operator=(const DriveDescr&) = delete;

    ScanResults& getScanResults() { return scanResults_; }
    const ScanResults& getScanResults() const { return scanResults_; }
    ScanRange& getScanRange() { return scanRange_; }
    const ScanRange& getScanRange() const { return scanRange_; }

    // The scan range belongs to the current source (Save Scan is offered).
    bool hasScan() const { return hasScan_; }
    void setHasScan(bool value) { hasScan_ = value; }
    // The scan results are in a file (quitting needs no warning).
    bool isScanSaved() const { return scanSaved_; }
    void setScanSaved(bool value) { scanSaved_ = value; }

    std::vector<FsCandidate>& getFsCollection() { return fsCollection_; }
    const std::vector<FsCandidate>& getFsCollection() const { return fsCollection_; }
    std::vector<FsCandidate>& getLayout() { return layout_; }
    const std::vector<FsCandidate>& getLayout() const { return layout_; }
    // Replaces the layout. The selected entry is set to the element of the new
    // layout with the same start and type, or cleared when there is none.
    void setLayout(std::vector<FsCandidate> layout);
    SectorChanges& getChanges() { return changes_; }
    const SectorChanges& getChanges() const { return changes_; }

    SharedPtr<Driver>& getDriveHolder() { return driver_; }
    // Takes ownership of a newly created driver; the previous one is released.
    void setDrive(Driver* driver) { driver_.reset(driver); }
    // The driver; throws std::runtime_error "DriveDescr(17)" before a source was
    // chosen.
    Driver* getDrive() const;

    // An element of getLayout(), not owned; null stands for the tree of carved
    // files.
    FsCandidate* getSelectedEntry() const { return selectedEntry_; }
    void setSelectedEntry(FsCandidate* entry) { selectedEntry_ = entry; }

    SharedPtr<tree::Map>& getMapHolder() { return map_; }
    void setMap(const SharedPtr<tree::Map>& map) { map_ = map; }

    // In ascending order of start.
    std::vector<cbr::FileInfo>& getCarvedFiles() { return carvedFiles_; }
    const std::vector<cbr::FileInfo>& getCarvedFiles() const { return carvedFiles_; }

    // Forgets the scan and everything built from it; the driver and the scan
    // range stay.
    void reset();

private:
    // Members are released in reverse order: the carved files and the map (whose
    // drives point at the unreadable sectors of the scan results) go first, the
    // scan results last.
    ScanResults scanResults_;
    ScanRange scanRange_;
    bool hasScan_ = false;
    bool scanSaved_ = true;
    std::vector<FsCandidate> fsCollection_;
    std::vector<FsCandidate> layout_;
    SectorChanges changes_;
    SharedPtr<Driver> driver_;
    FsCandidate* selectedEntry_ = nullptr;
    SharedPtr<tree::Map> map_;
    std::vector<cbr::FileInfo> carvedFiles_;
};
