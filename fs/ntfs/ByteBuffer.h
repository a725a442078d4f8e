#pragma once

// The growable byte buffer that the NTFS engine reads records and attribute
// values into. Growing keeps the bytes held so far; it never shrinks.

#include "core/Array.h"
#include "core/Ownership.h"
#include "core/Types.h"

class ByteBuffer {
public:
    ByteBuffer() = default;
    // n bytes, zeroed.
    explicit ByteBuffer(u32 n);
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    // Grows to n bytes, keeping the first size() bytes (the new ones are zero);
    // nothing happens when it holds n bytes already.
    void reserve(u32 n);

    u8* data() const { return data_; }
    u32 size() const { return size_; }
    Array array() const { return Array(data_, size_); }

private:
    ScopedArray<u8> storage_;
    u8* data_ = nullptr;
    u32 size_ = 0;
};
