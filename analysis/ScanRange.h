#pragma once

// Which source a scan belongs to and how far it went: the scanner page records
// it after every scan, a saved scan stores it, and a later session compares the
// drive id with the chosen source before it offers the scan again.

#include "core/Types.h"

#include <string>
#include <utility>

class ScanRange {
public:
    // The source's identifying text (its "DESCRIPTION_BIN" property).
    const std::string& getDriveId() const { return driveId_; }
    void setDriveId(std::string id) { driveId_ = std::move(id); }

    // The LBA of the boot sector whose volume the last quick scan read; 0 after a
    // full scan.
    u64 getFirst() const { return first_; }
    void setFirst(u64 lba) { first_ = lba; }

    // The LBA a full scan reached (its first LBA plus the sectors it read); 0
    // after a quick scan.
    u64 getSecond() const { return second_; }
    void setSecond(u64 lba) { second_ = lba; }

private:
    std::string driveId_;
    u64 first_ = 0;
    u64 second_ = 0;
};
