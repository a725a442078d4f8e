#pragma once

// Mail-store files that carry their store class identifier at offset 8 and
// their total size in the header: the size is taken as it stands.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleDbx : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
};

} // namespace cbr
