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
    // Needs at least one member more than the parity of a row. The size is the
    // data members of a row times the smallest member. Any stripe size is taken
    // (a negative one as 0); reading with a stripe of 0 is a broken invariant
    // and throws.
    bool init(const ReaderList& components, i64 stripeSize);

    bool read(i64 offset, u8* buffer, i64 n) override;

protected:
    // Where data stripe `block` of a set of `members` lies.
    using StripeMap = void (*)(i64 block, i64 members, i64& member, i64& row);

    // `stem` names the set in its log lines and exceptions; a failed member
    // read logs `memberFailLine`.
    ReaderStriped(const char* stem, i64 parityPerRow, StripeMap map, int memberFailLine)
        : stem_(stem), parityPerRow_(parityPerRow), map_(map), memberFailLine_(memberFailLine) {}

private:
    const char* stem_;
    i64 parityPerRow_;
    StripeMap map_;
    int memberFailLine_;
    ReaderList components_;
    i64 stripeSize_ = 0;
};

class ReaderRAID0 : public ReaderStriped {
public:
    ReaderRAID0() : ReaderStriped("ReaderRAID0", 0, locate, 51) {}

    static void locate(i64 block, i64 members, i64& member, i64& row);
};

} // namespace dt
