#pragma once

// ARJ archives: a main header, one local header per member with the member's
// packed data behind it, and an empty header at the end. The walk reads the
// headers only and steps over each member's data by its stated size; the
// archive's own name and modification time become the carved file's name and
// time. In a scan, the module keeps the paths of its walks (WalkMemory).

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleArj : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
