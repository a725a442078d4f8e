#pragma once

// MPEG-1 and MPEG-2 Layer III audio: an optional ID3v2 tag in front, a gapless
// chain of frames, and an ID3v1 or ID3v2 tag at the end. The title of a tag
// becomes the file's name.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleMp3 : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
};

} // namespace cbr
