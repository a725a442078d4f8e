#pragma once

// Everything needed to read the data of one attribute: a resident value inside
// a FILE record, or the run list of a non-resident attribute.

#include "core/Types.h"
#include "fs/ntfs/Runlist.h"

struct NtfsAttributeData {
    // Bytes of the value or data.
    u64 size = 0;
    bool resident = false;
    // Resident: the record that holds the value, and the value's offset in it.
    u64 recordNumber = 0;
    u32 valueOffset = 0;
    // Non-resident: the runs, and how much of the data was ever written. Bytes
    // from the initialized size on read as zeros whatever their clusters hold
    // (all ones: the whole data is initialized).
    Runlist runs;
    u64 initializedSize = ~u64{0};
    // The runs end before the size the header allocates: a run at the end was
    // lost, and what the reader makes of the last clusters is not the data.
    bool tailLost = false;
};
