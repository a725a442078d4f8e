#pragma once

// PNG pictures: the chunk chain from the signature to the IEND chunk. In a
// scan, the module keeps the paths of its walks (WalkMemory).

#include "cbr/FileModule.h"

namespace cbr {

class FileModulePng : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
