#include "devices/DtReaderReader.h"

#include "core/Log.h"

#include <algorithm>
#include <stdexcept>

namespace dt {

ReaderReader::ReaderReader(Reader* parent) : parent_(parent) {
    if (parent_ == nullptr)
        throw std::runtime_error("ReaderReader(12)");
    setSize(parent_->getSize());
}

bool ReaderReader::init(i64 offset, i64 maxSize) {
    const i64 parentSize = parent_->getSize();
    if (offset < 0 || offset >= parentSize) {
        logAt("ReaderReader", 19) << ": " << offset << ' ' << parentSize << '\n';
        return false;
    }
    if (maxSize < 0) {
        logAt("ReaderReader", 23) << ": " << offset << ' ' << maxSize << '\n';
        return false;
    }
    baseOffset_ = offset;
    setSize(std::min(maxSize, parentSize - offset));
    return true;
}

bool ReaderReader::read(i64 offset, u8* buffer, i64 n) {
    if (!rangeInside(offset, n, getSize())) {
        logAt("ReaderReader", 30) << ": " << offset << ' ' << n << ' ' << getSize() << '\n';
        return false;
    }
    // baseOffset + size never passes the parent's size, so the sum cannot
    // overflow.
    if (!parent_->read(baseOffset_ + offset, buffer, n)) {
        logAt("ReaderReader", 34) << ": " << offset << ' ' << baseOffset_ << ' ' << n << '\n';
        return false;
    }
    return true;
}

} // namespace dt
