#pragma once

// Saved-scan files that claim far more than they are: a stream of up to 4 GiB
// squeezed into a file of a few megabytes, as a hostile or broken file can be.
// They are made in milliseconds: the repeated middle is compressed once and its
// compressed bytes are repeated.

#include <string>
#include <vector>

namespace testutil {

struct HostileScan {
    const char* name;
    std::string file; // the compressed-file image
};

// The three saved scans of about a megabyte that once made the loader take
// gigabytes: a gigabyte of unreadable runs, a sound scan followed by 4 GiB of
// zeros, and twenty million carved files.
std::vector<HostileScan> hostileScans();

// A scan whose boot-sector list holds `millions` million records of no
// file-system kind, all zeros, each of them dropped on loading: 200 million fit
// in a file of 972 KB. Once each wrote a line into the in-memory log.
std::string bootSectorsOfNoKind(unsigned millions);

} // namespace testutil
