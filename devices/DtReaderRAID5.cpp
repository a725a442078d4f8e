#include "devices/DtReaderRAID5.h"

namespace dt {

void ReaderRAID5::locate(i64 block, i64 members, i64& member, i64& row) {
    const i64 data = members - 1;
    row = block / data;
    const i64 parity = data - row % members;
    const i64 j = block % data;
    member = j < parity ? j : j + 1;
}

} // namespace dt
