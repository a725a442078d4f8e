#pragma once

// LHA archives: one header per member (levels 0, 1 and 2), each followed by the
// member's packed data, and a closing zero byte. The walk steps from header to
// header by the header's length and the packed size, as far as the headers look
// sound and the window reaches. In a scan, the module keeps the paths of its
// walks (WalkMemory).

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleLzh : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
