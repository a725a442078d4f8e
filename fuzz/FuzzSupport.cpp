// Linked into every fuzz target.

#include "core/Log.h"

// The parsers log what they refuse, some of them the rest of their input: kept
// in memory, the log would grow without end over millions of runs.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpLogStream("null");
    return 0;
}
