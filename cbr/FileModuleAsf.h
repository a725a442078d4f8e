#pragma once

// Windows Media audio and video files (ASF): the header object's File
// Properties give the file's size and creation time, its stream types tell
// audio ("wma") from video ("wmv"), its Content Description the title. In a
// scan, the module keeps the paths of its walks over the header's objects
// (WalkMemory).

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleAsf : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
