#pragma once

// Byte-addressed reading of a source. Everything above the readers (sectors,
// carving, the source page) reads through this interface and never knows which
// kind of source lies below.

#include "core/Ownership.h"
#include "core/Types.h"

#include <vector>

namespace dt {

class Reader {
public:
    virtual ~Reader() = default;
    // True only when exactly `size` bytes from `offset` were placed at `buffer`;
    // false after one log line otherwise. No retry and no zero fill here.
    virtual bool read(i64 offset, u8* buffer, i64 size) = 0;

    i64 getSize() const { return size_; }
    void setSize(i64 size) { size_ = size; }

private:
    i64 size_ = 0;
};

class Writer {
public:
    virtual ~Writer() = default;
    virtual bool write(i64 offset, const u8* buffer, i64 size) = 0;

    i64 getSize() const { return size_; }
    void setSize(i64 size) { size_ = size; }

private:
    i64 size_ = 0;
};

// Whether [offset, offset + n) lies inside [0, size), without overflow; negative
// values never pass.
constexpr bool rangeInside(i64 offset, i64 n, i64 size) {
    return offset >= 0 && n >= 0 && offset <= size && n <= size - offset;
}

// The components of a composed source, in member order.
using ReaderList = std::vector<SharedPtr<Reader>>;

} // namespace dt
