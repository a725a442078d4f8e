#pragma once

// Windows metafiles with the 22-byte placeable header in front: the metafile
// header states the size in 16-bit words.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleWmf : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
};

} // namespace cbr
