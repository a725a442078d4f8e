#pragma once

// The select, recover and report sequence that every tree command of the probe
// shares (the test engine's tree-demo now, the FAT and NTFS engines' commands
// later): what the Report, Select and Recover commands of the program do, with
// the answers to the questions given on the command line.

#include "core/Types.h"
#include "tests/probe/Probe.h"
#include "tree/Map.h"

#include <string>

namespace probe {

struct RecoverOptions {
    std::string destination;
    std::string mask; // empty: every file
    u64 limit;        // volume limit in bytes; 0 never splits
    int answer;       // to every question: 0 Yes, 1 No, 0x10 Yes and don't ask again
};

// Takes "--mask M", "--limit BYTES" and "--answer yes|no|all" out of args (the
// defaults: every file, the "File Size Limit" preference, No). The destination
// is left for the caller.
RecoverOptions takeRecoverOptions(Args& args);

// Writes the tree's report to standard output, selects the files, recovers them
// below the destination and writes the recover report, the split and error
// counts and the written files. The questions go to standard error. Returns the
// probe's exit code.
int recoverAndReport(tree::Map& map, const RecoverOptions& options);

} // namespace probe
