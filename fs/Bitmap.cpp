#include "fs/Bitmap.h"

#include <stdexcept>

Bitmap::Bitmap(u64 size) : size_(size) {
    if (size > MAX_SIZE)
        throw std::runtime_error("Bitmap(7)");
    bits_.assign(static_cast<std::size_t>((size + 7) / 8), 0);
}

BitPosition Bitmap::position(u64 pos) const {
    if (pos >= size_)
        throw std::runtime_error("Bitmap(72)");
    return BitPosition{pos >> 3, static_cast<u8>(1u << (pos & 7))};
}

bool Bitmap::set(u64 pos, bool value) {
    BitPosition p = position(pos);
    u8& byte = bits_[static_cast<std::size_t>(p.byteIndex)];
    bool old = (byte & p.mask) != 0;
    if (old != value) {
        if (value) {
            byte = static_cast<u8>(byte | p.mask);
            ++count_;
        } else {
            byte = static_cast<u8>(byte & ~p.mask);
            --count_;
        }
    }
    return old;
}

bool Bitmap::test(u64 pos) const {
    BitPosition p = position(pos);
    return (bits_[static_cast<std::size_t>(p.byteIndex)] & p.mask) != 0;
}
