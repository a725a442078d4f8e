#pragma once

// GIF pictures (87a and 89a): the block structure after the logical screen,
// images and extensions with their data sub-blocks, up to the trailer.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleGif : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
};

} // namespace cbr
