// Records files ("cbr.files", "cbr.directories", the configuration): arbitrary
// bytes through both callbacks, then the properties every parsed pair must have.

#include "core/Config.h"
#include "fuzz/FuzzSupport.h"

namespace {

using fuzzsupport::require;

constexpr char COMMENT = '#';

// What the line syntax guarantees: no line end or comment character in a pair,
// no blanks around the value, none after the key, no colon in the key.
void checkPair(const std::string& key, const std::string& value) {
    for (char c : key)
        require(c != '\r' && c != '\n' && c != COMMENT && c != ':');
    for (char c : value)
        require(c != '\r' && c != '\n' && c != COMMENT);
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    require(key.empty() || (!blank(key.front()) && !blank(key.back())));
    require(value.empty() || (!blank(value.front()) && !blank(value.back())));
}

void checkMap(const PropertyMap& map) {
    for (const auto& pair : map.map())
        checkPair(pair.first, pair.second);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // libFuzzer hands over a buffer of exactly this size, so a read past the end
    // is caught by the address sanitizer.
    const char* begin = reinterpret_cast<const char*>(data);
    const char* end = begin + size;

    PropertyMap map;
    CallbackConfig one(&map);
    bool ok = parseConfigText(begin, end, COMMENT, one);
    checkMap(map);

    std::vector<PropertyMap> records;
    {
        CallbackConfigs several(&records, "Type");
        parseConfigText(begin, end, COMMENT, several);
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        checkMap(records[i]);
        // A record is only opened by its record key.
        require(records[i].has("Type"));
    }

    // A parsed map written back as lines parses to the same map.
    if (ok) {
        std::string text;
        for (const auto& pair : map.map())
            text += pair.first + ": " + pair.second + "\n";
        PropertyMap again;
        require(loadConfigText(again, text, COMMENT));
        require(again.map() == map.map());
    }

    // The descriptor lookup over the same bytes, up to the first NUL.
    std::string descriptor(begin, size);
    std::string value;
    for (const char* key : {"type", "name", "", "="}) {
        if (getDescrValue(descriptor.c_str(), key, value))
            require(value.find('|') == std::string::npos);
    }
    return 0;
}
