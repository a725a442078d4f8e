#pragma once

// Canon's CRW raw files, in the CIFF heap format. A CIFF file keeps its root
// directory at its very end and names the directory's place in its last four
// bytes, so the end cannot be found by walking forward: the module searches the
// window for a position where a consistent root directory (one that holds raw
// image data) ends, and takes that as the end of the file.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleCrw : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
