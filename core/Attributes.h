#pragma once

// A small key/value bag packed into one byte string: the attributes of a carved
// file and the properties of a source. Because its whole state is the string, a
// saved scan stores it as one blob and hands it back through setBytes.
//
// Records back to back: [u8 key length][u8 value length][key][value]; integers are
// little-endian with a fixed width (1, 4 or 8 bytes). Keys and values are cut to
// 255 bytes.

#include "core/Types.h"

#include <string>

class Attributes {
public:
    static constexpr std::size_t NOT_FOUND = std::string::npos;

    void clear() { bytes_.clear(); }
    void setBytes(const std::string& bytes) { bytes_ = bytes; }
    const std::string& bytes() const { return bytes_; }

    // The offset of the record of the key, or NOT_FOUND.
    std::size_t find(const std::string& key) const;
    void remove(const std::string& key);

    void set(const std::string& key, const std::string& value);
    void set(const std::string& key, const char* value);
    void setUInt8(const std::string& key, u8 value);
    void setUInt32(const std::string& key, u32 value);
    void setUInt64(const std::string& key, u64 value);
    void setTime(const std::string& key, u32 secondsSince1970) { setUInt32(key, secondsSince1970); }

    // The value bytes of a present key, also when empty; else the default.
    std::string get(const std::string& key, const char* def) const;
    // Typed reads take only a value of exactly their width; anything else gives
    // the default rather than a cut or widened number.
    u8 getUInt8(const std::string& key, u8 def) const;
    u32 getUInt32(const std::string& key, u32 def) const;
    u64 getUInt64(const std::string& key, u64 def) const;

private:
    void append(const std::string& key, const std::string& value);
    void setFixed(const std::string& key, u64 value, unsigned width);
    u64 getFixed(const std::string& key, u64 def, unsigned width) const;

    std::string bytes_;
};
