#pragma once

// ZIP archives: local file headers with their data, the central directory, the
// optional signature and zip64 records, and the end-of-central-directory record
// with its comment. The walk steps over every record by its stated lengths and
// accepts only an archive that reaches its end record; entries whose sizes come
// after their data are stepped over by searching for the next header. In a scan,
// the module keeps the paths of its walks (WalkMemory).

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleZip : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
