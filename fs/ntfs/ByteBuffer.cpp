#include "fs/ntfs/ByteBuffer.h"

#include <cstring>

ByteBuffer::ByteBuffer(u32 n) {
    reserve(n);
}

void ByteBuffer::reserve(u32 n) {
    if (size_ >= n)
        return;
    // Zeroed: a short read into the buffer must not show bytes of the heap.
    ScopedArray<u8> grown(new u8[n]());
    if (size_ != 0)
        std::memcpy(grown.get(), data_, size_);
    storage_.swap(grown);
    data_ = storage_.get();
    size_ = n;
}
