#pragma once

// RAR archives (the format with the seven-byte marker "Rar!" 1A 07 00): the
// marker, a main header, then blocks, each a CRC, a type, flags and a header
// size, with a data area behind file and sub-blocks. The walk steps from block
// to block up to the end-of-archive block, or as far as the blocks stay sound.
// A hit inside an archive the module found is one of that archive's members.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleRar : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    bool ownsHitsInsideItsFiles() const override { return true; }
};

} // namespace cbr
