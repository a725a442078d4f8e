#include "cbr/Pattern.h"

#include "cbr/FileModule.h"
#include "core/Checked.h"

#include <cstring>
#include <stdexcept>

namespace cbr {

void Pattern::setBytes(u64 offset, const u8* bytes, u64 length) {
    if (length > MAX_BYTES || !fits(offset, length, SECTOR_BYTES))
        throw std::runtime_error("Patterns(58)");
    offset_ = static_cast<u32>(offset);
    if (length > 0)
        std::memcpy(bytes_, bytes, static_cast<std::size_t>(length));
    length_ = static_cast<u32>(length);
}

bool Pattern::bytesMatch(const u8* sector, u32 size) const {
    if (length_ == 0)
        return true;
    if (offset_ > size || length_ > size - offset_)
        return false;
    return std::memcmp(sector + offset_, bytes_, length_) == 0;
}

bool Pattern::matches(const u8* sector, u32 size) const {
    if (!bytesMatch(sector, size))
        return false;
    return scanModule_ == nullptr || scanModule_->check(sector, size);
}

} // namespace cbr
