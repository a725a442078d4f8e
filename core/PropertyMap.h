#pragma once

// A string-to-string map with typed getters: the configuration, each record of a
// records file, and the property record of a disk or volume.

#include "core/Types.h"

#include <map>
#include <string>

class PropertyMap {
public:
    using Map = std::map<std::string, std::string>;

    // With keepExisting and the key present: false, nothing changes.
    bool set(const std::string& key, const std::string& value, bool keepExisting = false);
    bool set(const std::string& key, const char* value, bool keepExisting = false);
    bool set(const std::string& key, i32 value, bool keepExisting = false);
    bool set(const std::string& key, u32 value, bool keepExisting = false);
    bool set(const std::string& key, i64 value, bool keepExisting = false);
    bool set(const std::string& key, u64 value, bool keepExisting = false);

    bool has(const std::string& key) const;
    bool getString(const std::string& key, std::string& out) const;
    std::string getString(const std::string& key, const char* def) const;
    // Decimal, leading blanks skipped, reading stops where the number ends. The
    // output is left alone when the read fails. The output is a pointer because a
    // reference would make every call with a plain variable ambiguous with the
    // default forms below.
    bool getUInt32(const std::string& key, u32* out) const;
    bool getUInt64(const std::string& key, u64* out) const;
    u32 getUInt32(const std::string& key, u32 def) const;
    u64 getUInt64(const std::string& key, u64 def) const;
    void clear();

    const Map& map() const { return map_; }

private:
    Map map_;
};
