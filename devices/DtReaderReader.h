#pragma once

// A movable window onto another reader. The carving modules show one candidate
// file inside a source as a reader of its own through it, re-pointing the same
// window at every candidate.

#include "devices/DtReader.h"

namespace dt {

class ReaderReader : public Reader {
public:
    // The parent is not owned and must outlive the window. A new window shows
    // the parent's whole extent.
    explicit ReaderReader(Reader* parent);

    // Moves the window to [offset, offset + min(maxSize, what the parent has
    // from offset on)). False, with the window left as it was, when offset is
    // not inside the parent or maxSize is negative.
    bool init(i64 offset, i64 maxSize);

    bool read(i64 offset, u8* buffer, i64 n) override;

    i64 getBaseOffset() const { return baseOffset_; }

private:
    Reader* parent_;
    i64 baseOffset_ = 0;
};

} // namespace dt
