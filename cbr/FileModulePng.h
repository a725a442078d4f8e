#pragma once

// PNG pictures: the chunk chain from the signature to the IEND chunk.

#include "cbr/FileModule.h"

namespace cbr {

class FileModulePng : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
};

} // namespace cbr
