#include "core/Attributes.h"

#include "core/Log.h"

namespace {

constexpr std::size_t MAX_LENGTH = 255;
constexpr std::size_t RECORD_HEADER = 2; // key length, value length

u8 byteAt(const std::string& s, std::size_t pos) {
    return static_cast<u8>(s[pos]);
}

} // namespace

std::size_t Attributes::find(const std::string& key) const {
    std::size_t pos = 0;
    const std::size_t size = bytes_.size();
    while (pos < size) {
        // A record cut short by a damaged or truncated string ends the search.
        if (RECORD_HEADER > size - pos)
            return NOT_FOUND;
        std::size_t k = byteAt(bytes_, pos);
        std::size_t v = byteAt(bytes_, pos + 1);
        std::size_t body = pos + RECORD_HEADER;
        if (k + v > size - body)
            return NOT_FOUND;
        if (k == key.size() && bytes_.compare(body, k, key) == 0)
            return pos;
        pos = body + k + v;
    }
    return NOT_FOUND;
}

void Attributes::remove(const std::string& key) {
    std::size_t pos = find(key);
    if (pos == NOT_FOUND)
        return;
    std::size_t length = RECORD_HEADER + byteAt(bytes_, pos) + byteAt(bytes_, pos + 1);
    bytes_.erase(pos, length);
}

void Attributes::append(const std::string& key, const std::string& value) {
    std::size_t k = key.size();
    if (k > MAX_LENGTH) {
        logAt("Attributes", 51) << ": " << k << '\n';
        k = MAX_LENGTH;
    }
    std::size_t v = value.size();
    if (v > MAX_LENGTH) {
        logAt("Attributes", 55) << ": " << v << '\n';
        v = MAX_LENGTH;
    }
    bytes_ += static_cast<char>(k);
    bytes_ += static_cast<char>(v);
    bytes_.append(key, 0, k);
    bytes_.append(value, 0, v);
}

void Attributes::set(const std::string& key, const std::string& value) {
    remove(key);
    append(key, value);
}

void Attributes::set(const std::string& key, const char* value) {
    set(key, std::string(value ? value : ""));
}

void Attributes::setFixed(const std::string& key, u64 value, unsigned width) {
    std::string bytes(width, '\0');
    for (unsigned i = 0; i < width; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    set(key, bytes);
}

void Attributes::setUInt8(const std::string& key, u8 value) {
    setFixed(key, value, 1);
}
void Attributes::setUInt32(const std::string& key, u32 value) {
    setFixed(key, value, 4);
}
void Attributes::setUInt64(const std::string& key, u64 value) {
    setFixed(key, value, 8);
}

std::string Attributes::get(const std::string& key, const char* def) const {
    std::size_t pos = find(key);
    if (pos == NOT_FOUND)
        return def ? def : "";
    return bytes_.substr(pos + RECORD_HEADER + byteAt(bytes_, pos), byteAt(bytes_, pos + 1));
}

u64 Attributes::getFixed(const std::string& key, u64 def, unsigned width) const {
    std::size_t pos = find(key);
    if (pos == NOT_FOUND || byteAt(bytes_, pos + 1) != width)
        return def;
    std::size_t value = pos + RECORD_HEADER + byteAt(bytes_, pos);
    u64 result = 0;
    for (unsigned i = width; i-- > 0;)
        result = (result << 8) | byteAt(bytes_, value + i);
    return result;
}

u8 Attributes::getUInt8(const std::string& key, u8 def) const {
    return static_cast<u8>(getFixed(key, def, 1));
}
u32 Attributes::getUInt32(const std::string& key, u32 def) const {
    return static_cast<u32>(getFixed(key, def, 4));
}
u64 Attributes::getUInt64(const std::string& key, u64 def) const {
    return getFixed(key, def, 8);
}
