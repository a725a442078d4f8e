#pragma once

// The base of the file-system drives: a source's sectors, the sectors the scan
// found unreadable, and a progress sink that every read polls, so that a long
// walk over a file system can be cancelled between any two reads.

#include "core/Progress.h"
#include "devices/Driver.h"
#include "devices/UnreadableSectors.h"

class Drive : public UsesInterfaceCallback {
public:
    Drive(const SharedPtr<Driver>& driver, const UnreadableSectors* unreadable);
    ~Drive() override = default;

    Driver* getDriver() const { return driver_.get(); }
    const SharedPtr<Driver>& getDriverHolder() const { return driver_; }
    u64 getSectorSize() const { return sectorSize_; }
    const UnreadableSectors* getUnreadable() const { return unreadable_; }

    // Whether any sector of [firstLba, firstLba + count) was found unreadable or
    // lies past the source's end.
    bool isUnreadable(u64 firstLba, u64 count) const;
    // Polls (a cancel throws InterruptedException before reading), then reads.
    bool readSectors(u64 lba, u64 count, u8* buffer);

private:
    u64 sectorSize_;
    SharedPtr<Driver> driver_;
    const UnreadableSectors* unreadable_;
};
