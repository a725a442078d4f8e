#include "devices/Driver.h"

#include "core/Log.h"

#include <limits>
#include <stdexcept>

Driver::Driver(const SharedPtr<dt::Reader>& reader, u64 sectorSize)
    : reader_(reader), sectorSize_(sectorSize) {
    if (reader_.get() == nullptr)
        throw std::runtime_error("Driver(12)");
    if (sectorSize_ == 0)
        throw std::runtime_error("Driver(13)");
    i64 size = reader_->getSize();
    sectorCount_ = size > 0 ? static_cast<u64>(size) / sectorSize_ : 0;
}

bool Driver::readSectors(u64 lba, u64 count, u8* buffer) {
    constexpr u64 MAX = static_cast<u64>(std::numeric_limits<i64>::max());
    if (lba > MAX / sectorSize_ || count > MAX / sectorSize_ ||
        lba * sectorSize_ > MAX - count * sectorSize_) {
        logAt("Driver", 22) << ": " << lba << ' ' << count << '\n';
        return false;
    }
    return reader_->read(static_cast<i64>(lba * sectorSize_), buffer,
                         static_cast<i64>(count * sectorSize_));
}
