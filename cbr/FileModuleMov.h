#pragma once

// QuickTime movies and MPEG-4 files: a walk over the top-level atoms gives the
// size; the brand in the "ftyp" atom tells "mp4" from "mov". In a scan, the
// module keeps the paths of its walks (WalkMemory). A movie is whole before
// a later one where its atoms end and its index points into them.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleMov : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
    bool wholeWithin(dt::Reader& file, FileInfo& info) override;
};

} // namespace cbr
