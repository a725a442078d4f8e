#pragma once

// GIF pictures (87a and 89a): the block structure after the logical screen,
// images and extensions with their data sub-blocks, up to the trailer.
// In a scan, the module keeps the paths of its walks (WalkMemory).

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleGif : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
