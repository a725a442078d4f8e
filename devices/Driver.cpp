#include "devices/Driver.h"

#include "core/Checked.h"
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
    u64 offset = 0, bytes = 0, end = 0;
    if (!checkedMul(lba, sectorSize_, offset) || !checkedMul(count, sectorSize_, bytes) ||
        !checkedAdd(offset, bytes, end) || end > MAX) {
        logAt("Driver", 22) << ": " << lba << ' ' << count << '\n';
        return false;
    }
    return reader_->read(static_cast<i64>(offset), buffer, static_cast<i64>(bytes));
}

void setSourceKind(Attributes& properties, const std::string& type) {
    properties.setUInt8(PROP_USES_PARTITION_TABLES, type == "drive" ? 1 : 0);
    properties.setUInt8(PROP_IS_FLOPPY, type == "floppy" ? 1 : 0);
    const bool device = type == "drive" || type == "partition" || type == "floppy";
    properties.setUInt8(PROP_LAYOUT_FROM_CONTENT, device ? 0 : 1);
}
