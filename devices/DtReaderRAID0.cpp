#include "devices/DtReaderRAID0.h"

#include "core/Log.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace dt {

namespace {

// The data members of a row times the smallest component's size; -1 when one
// is missing or the product would not fit in 63 bits.
i64 stripedSize(const ReaderList& components, i64 dataMembers) {
    i64 smallest = -1;
    for (const SharedPtr<Reader>& c : components) {
        if (!c)
            return -1;
        if (smallest < 0 || c->getSize() < smallest)
            smallest = c->getSize();
    }
    i64 total = 0;
    if (__builtin_mul_overflow(smallest, dataMembers, &total))
        return -1;
    return total;
}

} // namespace

bool ReaderStriped::init(const ReaderList& components, i64 stripeSize) {
    const i64 members = static_cast<i64>(components.size());
    if (members <= parityPerRow_) {
        logAt(stem_, 19) << '\n';
        return false;
    }
    const i64 total = stripedSize(components, members - parityPerRow_);
    if (total < 0) {
        logAt(stem_, __LINE__) << ": " << members << '\n';
        return false;
    }
    components_ = components;
    stripeSize_ = std::max<i64>(stripeSize, 0);
    setSize(total);
    return true;
}

bool ReaderStriped::read(i64 offset, u8* buffer, i64 n) {
    if (!rangeInside(offset, n, getSize())) {
        logAt(stem_, 38) << '\n';
        return false;
    }
    if (n == 0)
        return true;
    if (stripeSize_ == 0)
        throw std::runtime_error(std::string(stem_) + "(41)");
    const i64 members = static_cast<i64>(components_.size());
    if (members <= parityPerRow_)
        throw std::runtime_error(std::string(stem_) + "(45)");

    i64 block = offset / stripeSize_;
    i64 within = offset % stripeSize_;
    while (n > 0) {
        i64 member = 0;
        i64 row = 0;
        map_(block, members, member, row);
        const i64 piece = std::min(stripeSize_ - within, n);
        // Every map puts a stripe at a row no further than its block, so
        // row * stripe + within never passes offset: no overflow.
        if (!components_[member]->read(row * stripeSize_ + within, buffer, piece)) {
            logAt(stem_, memberFailLine_) << '\n';
            return false;
        }
        buffer += piece;
        n -= piece;
        ++block;
        within = 0;
    }
    return true;
}

void ReaderRAID0::locate(i64 block, i64 members, i64& member, i64& row) {
    member = block % members;
    row = block / members;
}

} // namespace dt
