#include "devices/Drive.h"

#include <stdexcept>

Drive::Drive(const SharedPtr<Driver>& driver, const UnreadableSectors* unreadable)
    : sectorSize_(driver.get() ? driver->getSectorSize() : 512), driver_(driver),
      unreadable_(unreadable) {}

bool Drive::isUnreadable(u64 firstLba, u64 count) const {
    if (count == 0)
        return false;
    // A volume may run past the end of a copy that stopped early; what lies
    // beyond the source is as lost as a sector that failed.
    if (driver_.get() != nullptr) {
        const u64 sectors = driver_->getSectorCount();
        if (firstLba >= sectors || count > sectors - firstLba)
            return true;
    }
    return unreadable_ != nullptr && unreadable_->contains(firstLba, count);
}

bool Drive::readSectors(u64 lba, u64 count, u8* buffer) {
    poll();
    // A drive built without a source has nothing to read from.
    if (driver_.get() == nullptr)
        throw std::runtime_error("Drive(18)");
    return driver_->readSectors(lba, count, buffer);
}
