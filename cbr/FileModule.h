#pragma once

// The shape of every file-type module of the content carver. A module holds no
// state between files: check() looks at the bytes of a sector start that are
// already in memory, analyze() reads the candidate through a window of the
// source (byte 0 is the candidate sector; its length is the pattern's Max Size,
// cut at the end of the source) and sets the size, the type "t" and any further
// attributes. Modules never throw and never log: a failure is false.

#include "cbr/FileInfo.h"
#include "devices/DtReader.h"

namespace cbr {

class FileModule {
public:
    virtual bool check(const u8* sector, u32 size) = 0;
    virtual bool analyze(dt::Reader& file, FileInfo& info) = 0;
    virtual ~FileModule() = default;
};

} // namespace cbr
