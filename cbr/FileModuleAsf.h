#pragma once

// Windows Media audio and video files (ASF): the header object's File
// Properties give the file's size and creation time, its stream types tell
// audio ("wma") from video ("wmv"), its Content Description the title.

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleAsf : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
};

} // namespace cbr
