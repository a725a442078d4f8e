#pragma once

// JPEG pictures: a walk over the marker segments, through the entropy-coded
// data of every scan, to the end-of-image marker. The TIFF module runs the same
// walk on the previews that cameras embed in their maker notes. In a scan, the
// module keeps the paths of its walks (WalkMemory).

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleJpeg : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
