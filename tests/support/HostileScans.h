#pragma once

// Saved-scan files that claim far more than they are: a stream of up to 4 GiB
// squeezed into a file of a few megabytes, as a hostile or broken file can be.
// They are made in milliseconds: the repeated middle is compressed once and its
// compressed bytes are repeated.

#include "core/Types.h"

#include <string>
#include <vector>

namespace testutil {

// The image of a compressed file (both length words, the zlib stream, the byte
// chain) whose content is prefix, then `unit` `copies` times, then suffix. The
// content must stay below 4 GiB.
std::string repeatedCompressedFile(const std::string& prefix, const std::string& unit, u64 copies,
                                   const std::string& suffix);

// A saved-scan stream: version 4 with an empty drive id and range and empty
// lists, then `tail` (the unreadable runs and the carved files, from their
// length fields on).
std::string savedScanStream(const std::string& tail);

// The little-endian bytes of `value`, `width` bytes wide.
std::string littleEndian(u64 value, unsigned width);

struct HostileScan {
    const char* name;
    std::string file; // the compressed-file image
};

// The three saved scans of about a megabyte that once made the loader take
// gigabytes: a gigabyte of unreadable runs, a sound scan followed by 4 GiB of
// zeros, and twenty million carved files.
std::vector<HostileScan> hostileScans();

} // namespace testutil
