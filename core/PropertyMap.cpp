#include "core/PropertyMap.h"

#include <sstream>

namespace {

template <typename T> std::string decimal(T value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

// Read into a temporary so that a failed read leaves the caller's value alone
// (a stream sets its target to 0 or the maximum when the number is bad).
template <typename T> bool readNumber(const PropertyMap::Map& map, const std::string& key, T* out) {
    auto it = map.find(key);
    if (it == map.end())
        return false;
    std::istringstream in(it->second);
    T value{};
    if (!(in >> value))
        return false;
    *out = value;
    return true;
}

} // namespace

bool PropertyMap::set(const std::string& key, const std::string& value, bool keepExisting) {
    auto it = map_.lower_bound(key);
    if (it != map_.end() && it->first == key) {
        if (keepExisting)
            return false;
        it->second = value;
        return true;
    }
    map_.emplace_hint(it, key, value);
    return true;
}

bool PropertyMap::set(const std::string& key, const char* value, bool keepExisting) {
    return set(key, std::string(value ? value : ""), keepExisting);
}
bool PropertyMap::set(const std::string& key, i32 value, bool keepExisting) {
    return set(key, decimal(value), keepExisting);
}
bool PropertyMap::set(const std::string& key, u32 value, bool keepExisting) {
    return set(key, decimal(value), keepExisting);
}
bool PropertyMap::set(const std::string& key, i64 value, bool keepExisting) {
    return set(key, decimal(value), keepExisting);
}
bool PropertyMap::set(const std::string& key, u64 value, bool keepExisting) {
    return set(key, decimal(value), keepExisting);
}

bool PropertyMap::has(const std::string& key) const {
    return map_.count(key) != 0;
}

bool PropertyMap::getString(const std::string& key, std::string& out) const {
    auto it = map_.find(key);
    if (it == map_.end())
        return false;
    out = it->second;
    return true;
}

std::string PropertyMap::getString(const std::string& key, const char* def) const {
    auto it = map_.find(key);
    if (it != map_.end())
        return it->second;
    return def ? def : "";
}

bool PropertyMap::getUInt32(const std::string& key, u32* out) const {
    return readNumber(map_, key, out);
}
bool PropertyMap::getUInt64(const std::string& key, u64* out) const {
    return readNumber(map_, key, out);
}

u32 PropertyMap::getUInt32(const std::string& key, u32 def) const {
    getUInt32(key, &def);
    return def;
}
u64 PropertyMap::getUInt64(const std::string& key, u64 def) const {
    getUInt64(key, &def);
    return def;
}

void PropertyMap::clear() {
    map_.clear();
}
