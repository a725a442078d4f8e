#include "platform/AlignedBuffer.h"

#include <cstdlib>
#include <unistd.h>
#include <utility>

namespace platform {

AlignedBuffer::~AlignedBuffer() {
    std::free(data_);
}

AlignedBuffer::AlignedBuffer(AlignedBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

AlignedBuffer& AlignedBuffer::operator=(AlignedBuffer&& other) noexcept {
    if (this != &other) {
        std::free(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

bool AlignedBuffer::allocate(std::size_t size) {
    if (size == 0)
        return false;
    void* p = nullptr;
    if (posix_memalign(&p, alignment(), size) != 0)
        return false;
    std::free(data_);
    data_ = static_cast<u8*>(p);
    size_ = size;
    return true;
}

std::size_t AlignedBuffer::alignment() {
    long page = sysconf(_SC_PAGESIZE);
    return page >= 4096 ? static_cast<std::size_t>(page) : 4096;
}

} // namespace platform
