#pragma once

// A byte buffer aligned for direct device transfers (a page), owned and freed
// with the object.

#include "core/Types.h"

#include <cstddef>

namespace platform {

class AlignedBuffer {
public:
    AlignedBuffer() = default;
    ~AlignedBuffer();
    AlignedBuffer(AlignedBuffer&& other) noexcept;
    AlignedBuffer& operator=(AlignedBuffer&& other) noexcept;
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;

    // A fresh buffer of `size` bytes (contents undefined); false, with the old
    // buffer kept, when the system refuses it. Size 0 is refused.
    bool allocate(std::size_t size);

    u8* data() { return data_; }
    const u8* data() const { return data_; }
    std::size_t size() const { return size_; }

    // The alignment of every buffer: the page size, which also satisfies every
    // logical sector size a block device reports.
    static std::size_t alignment();

private:
    u8* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace platform
