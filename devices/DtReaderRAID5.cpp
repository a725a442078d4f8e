#include "devices/DtReaderRAID5.h"

namespace dt {

void ReaderRAID5::locate(u64 block, u64 members, u64& member, u64& row) {
    const u64 data = members - 1;
    row = block / data;
    const u64 parity = data - row % members;
    const u64 j = block % data;
    member = j < parity ? j : j + 1;
}

} // namespace dt
