#pragma once

// A striped set with rotating parity (RAID5), left-asymmetric: the parity of
// row 0 is on the last member and moves one member to the left on each row,
// wrapping after N rows; the data blocks of a row fill the other members from
// the first on. Parity is never read, and nothing is rebuilt from it.

#include "devices/DtReaderRAID0.h"

namespace dt {

class ReaderRAID5 : public ReaderStriped {
public:
    ReaderRAID5() : ReaderStriped("ReaderRAID5", 1, locate, 57) {}

    static void locate(u64 block, u64 members, u64& member, u64& row);
};

} // namespace dt
