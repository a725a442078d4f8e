#include "devices/DtReaderRAID0.h"

#include "core/Checked.h"
#include "core/Log.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

namespace dt {

namespace {

constexpr u64 MAX_SIZE = static_cast<u64>(std::numeric_limits<i64>::max());

// The data members of a row times the whole stripes of the smallest component;
// false when one is missing or the product would not fit in 63 bits.
bool stripedSize(const ReaderList& components, u64 dataMembers, u64 stripe, u64& out) {
    u64 smallest = MAX_SIZE;
    for (const SharedPtr<Reader>& c : components) {
        if (!c || c->getSize() < 0)
            return false;
        smallest = std::min(smallest, static_cast<u64>(c->getSize()));
    }
    u64 total = 0;
    if (!checkedMul(smallest / stripe * stripe, dataMembers, total) || total > MAX_SIZE)
        return false;
    out = total;
    return true;
}

} // namespace

bool ReaderStriped::init(const ReaderList& components, i64 stripeSize) {
    const u64 members = components.size();
    if (members <= parityPerRow_) {
        logAt(stem_, 19) << '\n';
        return false;
    }
    // A stripe of no bytes maps nothing: refused when the set is opened, not
    // at its first read.
    if (stripeSize <= 0) {
        logAt(stem_, 24) << ": " << stripeSize << '\n';
        return false;
    }
    u64 total = 0;
    if (!stripedSize(components, members - parityPerRow_, static_cast<u64>(stripeSize), total)) {
        logAt(stem_, 29) << ": " << members << '\n';
        return false;
    }
    components_ = components;
    stripeSize_ = static_cast<u64>(stripeSize);
    setSize(static_cast<i64>(total));
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
    const u64 members = components_.size();
    if (members <= parityPerRow_)
        throw std::runtime_error(std::string(stem_) + "(45)");

    // Both are inside the size now, so neither is negative.
    u64 left = static_cast<u64>(n);
    u64 block = static_cast<u64>(offset) / stripeSize_;
    u64 within = static_cast<u64>(offset) % stripeSize_;
    while (left > 0) {
        u64 member = 0;
        u64 row = 0;
        map_(block, members, member, row);
        const u64 piece = std::min(stripeSize_ - within, left);
        // Every map puts a stripe at a row no further than its block, so
        // row * stripe + within never passes offset: no overflow.
        if (!components_[member]->read(static_cast<i64>(row * stripeSize_ + within), buffer,
                                       static_cast<i64>(piece))) {
            logAt(stem_, memberFailLine_) << '\n';
            return false;
        }
        buffer += piece;
        left -= piece;
        ++block;
        within = 0;
    }
    return true;
}

void ReaderRAID0::locate(u64 block, u64 members, u64& member, u64& row) {
    member = block % members;
    row = block / members;
}

} // namespace dt
