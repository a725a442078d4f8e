#pragma once

// RIFF containers (AVI video, WAVE sound, RMID MIDI, animated cursors): the size
// field of the RIFF chunk, and a "JUNK" chunk that some writers leave after it.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleRiff : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
};

} // namespace cbr
