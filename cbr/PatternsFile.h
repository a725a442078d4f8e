#pragma once

// The content-signature table "cbr.files": "key: value" records, one per "Type"
// line, '#' starting a comment. Keys of a record: "Type", "Pattern" (bytes in
// C escape notation), "Pattern Offset", "Scan File Module", "Analyze File
// Module" and "Max Size"; other keys are ignored.

#include "cbr/FileModuleRegistry.h"
#include "cbr/Pattern.h"
#include "core/PropertyMap.h"

#include <string>
#include <vector>

namespace cbr {

class PatternsFile {
public:
    // Without "Max Size" a file may grow to this many bytes.
    static constexpr u64 DEFAULT_MAX_SIZE = 100000000;

    // Appends one pattern per record, in file order. Every error (an unreadable
    // or malformed file, a bad escape, bytes past the sector, an unknown module,
    // a record with neither bytes nor a module) throws std::runtime_error; the
    // patterns appended before it stay in out.
    static void load(const std::string& path, FileModuleRegistry& registry,
                     std::vector<Pattern>& out);
    // The same over records already read.
    static void loadRecords(const std::vector<PropertyMap>& records, FileModuleRegistry& registry,
                            std::vector<Pattern>& out);
};

} // namespace cbr
