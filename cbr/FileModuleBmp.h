#pragma once

// BMP pictures: the file header states the whole file's size.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleBmp : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
};

} // namespace cbr
