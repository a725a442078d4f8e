#include "core/Config.h"

#include "core/Log.h"
#include "core/System.h"

#include <cstring>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

const char* skipToLineEnd(const char* p, const char* end) {
    while (p != end && !isLineEnd(*p))
        ++p;
    return p;
}

// The end of [begin, end) without its trailing blanks.
const char* trimBlanks(const char* begin, const char* end) {
    while (end != begin && isBlank(end[-1]))
        --end;
    return end;
}

} // namespace

bool parseConfigText(const char* begin, const char* end, char commentChar, Callback& callback) {
    const char* p = begin;
    for (;;) {
        while (p != end && (isBlank(*p) || isLineEnd(*p)))
            ++p;
        if (p == end)
            return true;
        if (*p == commentChar) {
            p = skipToLineEnd(p, end);
            continue;
        }

        const char* colon = p;
        while (colon != end && *colon != ':' && *colon != commentChar && !isLineEnd(*colon))
            ++colon;
        if (colon == end || *colon != ':') {
            logAt("Config", 149) << ": " << std::string(p, end) << '\n';
            return false;
        }
        std::string key(p, trimBlanks(p, colon));

        const char* value = colon + 1;
        while (value != end && isBlank(*value))
            ++value;
        const char* valueEnd = value;
        while (valueEnd != end && *valueEnd != commentChar && !isLineEnd(*valueEnd))
            ++valueEnd;
        std::string text(value, trimBlanks(value, valueEnd));
        p = skipToLineEnd(valueEnd, end);

        if (!callback.handle(key, text)) {
            logAt("Config", 158) << ": " << key << ' ' << text << '\n';
            return false;
        }
    }
}

bool CallbackConfig::handle(const std::string& key, const std::string& value) {
    if (target_->set(key, value, true))
        return true;
    logAt("Config", 90) << ": " << key << ' ' << value << '\n';
    return false;
}

bool CallbackConfigs::handle(const std::string& key, const std::string& value) {
    if (recordKey_ != nullptr && key == recordKey_) {
        if (open_) {
            out_->push_back(current_);
            current_.clear();
        } else {
            // Pairs before the first record key belong to the first record.
            open_ = true;
        }
    }
    if (current_.set(key, value, true))
        return true;
    logAt("Config", 127) << ": " << key << ' ' << value << '\n';
    return false;
}

CallbackConfigs::~CallbackConfigs() {
    if (open_)
        out_->push_back(current_);
}

bool loadConfigText(PropertyMap& out, const std::string& text, char commentChar) {
    CallbackConfig callback(&out);
    if (parseConfigText(text.data(), text.data() + text.size(), commentChar, callback))
        return true;
    logAt("Config", 172) << '\n';
    return false;
}

bool loadConfigTextRecords(std::vector<PropertyMap>& out, const std::string& text,
                           const char* recordKey, char commentChar) {
    // The callback hands over its open record when it goes, also after a failure.
    CallbackConfigs callback(&out, recordKey);
    if (parseConfigText(text.data(), text.data() + text.size(), commentChar, callback))
        return true;
    logAt("Config", 183) << '\n';
    return false;
}

bool loadConfigFile(PropertyMap& out, const char* path, char commentChar) {
    std::string text;
    if (!readFile(path, text)) {
        logAt("Config", 193) << ": " << path << '\n';
        return false;
    }
    if (loadConfigText(out, text, commentChar))
        return true;
    logAt("Config", 197) << '\n';
    return false;
}

bool loadConfigFileRecords(std::vector<PropertyMap>& out, const char* path, const char* recordKey,
                           char commentChar) {
    std::string text;
    if (!readFile(path, text)) {
        logAt("Config", 208) << ": " << path << '\n';
        return false;
    }
    if (loadConfigTextRecords(out, text, recordKey, commentChar))
        return true;
    logAt("Config", 212) << '\n';
    return false;
}

const char* findDescrKey(const char* descriptor, const char* key) {
    if (descriptor == nullptr || key == nullptr)
        return nullptr;
    const std::size_t length = std::strlen(key);
    const char* p = descriptor;
    while (const char* match = std::strstr(p, key)) {
        bool startsPair = match == descriptor || match[-1] == '|';
        if (startsPair && match[length] == '=')
            return match + length + 1;
        // An empty key matches at the terminator too; stepping past it would
        // read beyond the string.
        if (*match == '\0')
            return nullptr;
        p = match + 1;
    }
    return nullptr;
}

bool getDescrValue(const char* descriptor, const char* key, std::string& out) {
    const char* value = findDescrKey(descriptor, key);
    if (value == nullptr) {
        out.clear();
        return false;
    }
    out.assign(value, std::strcspn(value, "|"));
    return true;
}
