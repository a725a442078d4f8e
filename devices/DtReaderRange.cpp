#include "devices/DtReaderRange.h"

#include "core/Log.h"

namespace dt {

bool ReaderRange::init(const SharedPtr<Reader>& parent, i64 offset, i64 size) {
    if (!parent || !rangeInside(offset, size, parent->getSize())) {
        logAt("ReaderRange", 17) << '\n';
        return false;
    }
    parent_ = parent;
    rangeOffset_ = offset;
    setSize(size);
    return true;
}

bool ReaderRange::read(i64 offset, u8* buffer, i64 n) {
    if (!rangeInside(offset, n, getSize())) {
        logAt("ReaderRange", 29) << '\n';
        return false;
    }
    // Nothing to fetch; an empty range may not even have a parent yet.
    if (n == 0)
        return true;
    if (!parent_->read(rangeOffset_ + offset, buffer, n)) {
        logAt("ReaderRange", 33) << '\n';
        return false;
    }
    return true;
}

} // namespace dt
