#pragma once

// A byte range of another source, shown as a source of its own.

#include "core/Ownership.h"
#include "devices/DtReader.h"

namespace dt {

class ReaderRange : public Reader {
public:
    // False when the range [offset, offset + size) is not inside the parent
    // (negative values never are).
    bool init(const SharedPtr<Reader>& parent, i64 offset, i64 size);

    bool read(i64 offset, u8* buffer, i64 n) override;

private:
    SharedPtr<Reader> parent_;
    i64 rangeOffset_ = 0;
};

} // namespace dt
