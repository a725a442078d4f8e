#pragma once

// RAR archives (the format with the seven-byte marker "Rar!" 1A 07 00): the
// marker, a main header, then blocks, each a CRC, a type, flags and a header
// size, with a data area behind file and sub-blocks. The walk steps from block
// to block up to the end-of-archive block, or as far as the blocks stay sound.
// In a scan, the module keeps the paths of its walks (WalkMemory).

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleRar : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
