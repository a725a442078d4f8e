#pragma once

// Bounds-checked, non-owning views of byte buffers. Every on-disk structure is
// read through one of these: an access past the end throws std::out_of_range
// before any byte is touched, instead of reading someone else's memory.

#include "core/Checked.h"
#include "core/Types.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace detail {

// The texts of the three checks differ between the views; the logic does not.
struct ArrayTexts {
    const char* access;
    const char* sub;
    const char* tail;
};
inline constexpr ArrayTexts CONST_ARRAY_TEXTS{"Array(392)", "Array(283)", "Array(275)"};
inline constexpr ArrayTexts ARRAY_TEXTS{"Array(47)", "Array(23)", "Array(15)"};

template <typename Byte, const ArrayTexts& T> class ByteView {
public:
    ByteView() = default;
    ByteView(Byte* data, u32 length) : data_(data), length_(length) {}
    ByteView(const ByteView& parent, u32 offset, u32 length) {
        if (!fits(offset, length, parent.length_))
            throw std::out_of_range(T.sub);
        data_ = parent.data_ + offset;
        length_ = length;
    }
    ByteView(const ByteView& parent, u32 offset) {
        if (offset >= parent.length_)
            throw std::out_of_range(T.tail);
        data_ = parent.data_ + offset;
        length_ = parent.length_ - offset;
    }

    Byte* data() const { return data_; }
    u32 length() const { return length_; }

    void check(u64 offset, u64 size) const {
        if (!fits(offset, size, length_))
            throw std::out_of_range(T.access);
    }

    u8 getU8(u32 offset) const {
        check(offset, 1);
        return data_[offset];
    }
    u16 getLE16(u32 offset) const {
        check(offset, 2);
        return static_cast<u16>(getLE(offset, 2));
    }
    u32 getLE32(u32 offset) const {
        check(offset, 4);
        return static_cast<u32>(getLE(offset, 4));
    }
    u64 getLE64(u32 offset) const {
        check(offset, 8);
        return getLE(offset, 8);
    }
    u64 getBE(unsigned n, u32 offset) const {
        checkWidth(n);
        check(offset, n);
        u64 v = data_[offset];
        for (unsigned i = 1; i < n; ++i)
            v = (v << 8) | data_[offset + i];
        return v;
    }
    u16 getBE16(u32 offset) const { return static_cast<u16>(getBE(2, offset)); }
    u32 getBE32(u32 offset) const { return static_cast<u32>(getBE(4, offset)); }
    u64 getBE64(u32 offset) const { return getBE(8, offset); }

protected:
    static void checkWidth(unsigned n) {
        if (n < 1 || n > 8)
            throw std::out_of_range("Array: integer width " + std::to_string(n));
    }
    u64 getLE(u32 offset, unsigned n) const {
        u64 v = 0;
        for (unsigned i = n; i-- > 0;)
            v = (v << 8) | data_[offset + i];
        return v;
    }

    Byte* data_ = nullptr;
    u32 length_ = 0;
};

} // namespace detail

// Read-only view.
class ConstArray : public detail::ByteView<const u8, detail::CONST_ARRAY_TEXTS> {
    using Base = detail::ByteView<const u8, detail::CONST_ARRAY_TEXTS>;

public:
    using Base::Base;
    ConstArray() = default;
    ConstArray(const Base& b) : Base(b) {}
    ConstArray(const ConstArray& parent, u32 offset, u32 length) : Base(parent, offset, length) {}
    ConstArray(const ConstArray& parent, u32 offset) : Base(parent, offset) {}
};

// Writable view.
class Array : public detail::ByteView<u8, detail::ARRAY_TEXTS> {
    using Base = detail::ByteView<u8, detail::ARRAY_TEXTS>;

public:
    using Base::Base;
    Array() = default;
    Array(const Array& parent, u32 offset, u32 length) : Base(parent, offset, length) {}
    Array(const Array& parent, u32 offset) : Base(parent, offset) {}

    operator ConstArray() const { return ConstArray(data_, length_); }

    void setU8(u32 offset, u8 value) const {
        check(offset, 1);
        data_[offset] = value;
    }
    void setLE16(u32 offset, u16 value) const { setLE(offset, value, 2); }
    void setLE32(u32 offset, u32 value) const { setLE(offset, value, 4); }
    void setLE64(u32 offset, u64 value) const { setLE(offset, value, 8); }
    void setBE(unsigned n, u32 offset, u64 value) const {
        checkWidth(n);
        check(offset, n);
        for (unsigned i = n; i-- > 0;) {
            data_[offset + i] = static_cast<u8>(value);
            value >>= 8;
        }
    }
    void setBE16(u32 offset, u16 value) const { setBE(2, offset, value); }
    void setBE32(u32 offset, u32 value) const { setBE(4, offset, value); }
    void setBE64(u32 offset, u64 value) const { setBE(8, offset, value); }
    void write(u32 offset, const void* source, u32 size) const {
        check(offset, size);
        if (size)
            std::memcpy(data_ + offset, source, size);
    }

private:
    void setLE(u32 offset, u64 value, unsigned n) const {
        check(offset, n);
        for (unsigned i = 0; i < n; ++i) {
            data_[offset + i] = static_cast<u8>(value);
            value >>= 8;
        }
    }
};

// Byte order without bounds checks, for buffers whose size the caller has
// already made sure of.
inline u16 getLE16(const u8* b, u64 off) {
    return static_cast<u16>(b[off] | (b[off + 1] << 8));
}
inline u32 getLE32(const u8* b, u64 off) {
    return static_cast<u32>(b[off]) | static_cast<u32>(b[off + 1]) << 8 |
           static_cast<u32>(b[off + 2]) << 16 | static_cast<u32>(b[off + 3]) << 24;
}
inline u64 getLE64(const u8* b, u64 off) {
    return static_cast<u64>(getLE32(b, off)) | static_cast<u64>(getLE32(b, off + 4)) << 32;
}
inline u16 getBE16(const u8* b, u64 off) {
    return static_cast<u16>(b[off] << 8 | b[off + 1]);
}
inline u32 getBE32(const u8* b, u64 off) {
    return static_cast<u32>(b[off]) << 24 | static_cast<u32>(b[off + 1]) << 16 |
           static_cast<u32>(b[off + 2]) << 8 | static_cast<u32>(b[off + 3]);
}
inline u64 getBE64(const u8* b, u64 off) {
    return static_cast<u64>(getBE32(b, off)) << 32 | getBE32(b, off + 4);
}
inline void setLE16(u8* b, u64 off, u16 v) {
    b[off] = static_cast<u8>(v);
    b[off + 1] = static_cast<u8>(v >> 8);
}
inline void setLE32(u8* b, u64 off, u32 v) {
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<u8>(v >> (8 * i));
}
inline void setLE64(u8* b, u64 off, u64 v) {
    for (int i = 0; i < 8; ++i)
        b[off + i] = static_cast<u8>(v >> (8 * i));
}

// Hex text: printed upper case, parsed in either case.
bool hexDigitValue(u8& out, char c);
bool hexByteValue(u8& out, const char* twoChars);
bool hexDecode(u8* out, u32 n, const char* text);
void hexNibbleChar(char& out, u8 value);
void hexByteChars(char* outTwo, u8 byte);
char* hexEncode(char* out, const u8* bytes, u32 n);
void appendHexByte(std::string& s, u8 byte);
void appendHex(std::string& s, const u8* bytes, u32 n);
std::string toHex(u8 byte);
std::string toHex(const u8* bytes, u32 n);
std::string toHexList(const u8* bytes, u32 n);
