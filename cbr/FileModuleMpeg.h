#pragma once

// MPEG video: an elementary stream that starts with a sequence header ends at
// the sequence end code; a program stream that starts with a pack header ends
// at the program end code, or with its last pack when the end code is missing.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleMpeg : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
