#pragma once

// LHA archives: one header per member (levels 0, 1 and 2), each followed by the
// member's packed data, and a closing zero byte. The walk steps from header to
// header by the header's length and the packed size, as far as the headers look
// sound and the window reaches. A hit inside an archive the module found is one
// of that archive's members.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleLzh : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    bool ownsHitsInsideItsFiles() const override { return true; }
};

} // namespace cbr
