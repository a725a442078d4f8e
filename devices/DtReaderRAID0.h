#pragma once

// Striped sets. A RAID0 deals its stripes out to the members in turn: stripe k
// of the set is stripe k / N of member k mod N. The RAID5 (DtReaderRAID5.h) is
// a striped set whose map steps over the parity.

#include "devices/DtReader.h"

namespace dt {

// What every striped set shares: members cut into stripes of one size, a map
// from a data stripe to its member and row, and reads that go piece by piece
// straight from the members into the caller's buffer.
class ReaderStriped : public Reader {
public:
    // Needs at least one member more than the parity of a row, and a stripe of
    // at least one byte. The size is the data members of a row times the whole
    // stripes of the smallest member: a partial stripe at a member's end would
    // leave holes in the set, so every offset inside the size reads.
    bool init(const ReaderList& components, i64 stripeSize);

    bool read(i64 offset, u8* buffer, i64 n) override;

protected:
    // Where data stripe `block` of a set of `members` lies.
    using StripeMap = void (*)(u64 block, u64 members, u64& member, u64& row);

    // `stem` names the set in its log lines and exceptions; a failed member
    // read logs `memberFailLine`.
    ReaderStriped(const char* stem, u64 parityPerRow, StripeMap map, int memberFailLine)
        : stem_(stem), parityPerRow_(parityPerRow), map_(map), memberFailLine_(memberFailLine) {}

private:
    const char* stem_;
    u64 parityPerRow_;
    StripeMap map_;
    int memberFailLine_;
    ReaderList components_;
    u64 stripeSize_ = 0;
};

class ReaderRAID0 : public ReaderStriped {
public:
    ReaderRAID0() : ReaderStriped("ReaderRAID0", 0, locate, 51) {}

    static void locate(u64 block, u64 members, u64& member, u64& row);
};

} // namespace dt
