#pragma once

// TIFF files and the camera raw formats built on TIFF (Nikon, Pentax, Canon,
// Sony, Kodak, Leaf, Leica, Ricoh, Samsung, Phase One), and Minolta's MRW,
// which wraps a TIFF block. The walk follows the image file directories to
// find where the file ends, names the raw format by the camera's maker and
// model, and keeps the smallest usable preview picture as the thumbnail. It
// never decodes image data; everything it follows must lie inside the window.
// In a scan, it keeps the walks over MRW blocks and over the JPEG previews in
// maker notes (WalkMemory).

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleTiff : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
