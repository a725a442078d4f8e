#pragma once

// Records files ("key: value" lines with a comment character) and the key lookup
// of descriptor strings ("key=value" pairs joined by "|").

#include "core/PropertyMap.h"

#include <string>
#include <vector>

class Callback {
public:
    // False stops the parse.
    virtual bool handle(const std::string& key, const std::string& value) = 0;
    virtual ~Callback() = default;
};

// One record: every pair into one map; a repeated key stops the parse.
class CallbackConfig : public Callback {
public:
    explicit CallbackConfig(PropertyMap* target) : target_(target) {}
    bool handle(const std::string& key, const std::string& value) override;

private:
    PropertyMap* target_;
};

// Several records: a new one starts at every line whose key is the record key.
class CallbackConfigs : public Callback {
public:
    CallbackConfigs(std::vector<PropertyMap>* out, const char* recordKey)
        : out_(out), recordKey_(recordKey) {}
    // Hands the open record over to the output; a copy would hand it over twice.
    ~CallbackConfigs() override;
    CallbackConfigs(const CallbackConfigs&) = delete;
    CallbackConfigs& operator=(const CallbackConfigs&) = delete;
    bool handle(const std::string& key, const std::string& value) override;

private:
    std::vector<PropertyMap>* out_;
    const char* recordKey_;
    bool open_ = false;
    PropertyMap current_;
};

bool parseConfigText(const char* begin, const char* end, char commentChar, Callback& callback);
// The loaders over text already in memory; the file loaders read the whole file
// and hand it to these.
bool loadConfigText(PropertyMap& out, const std::string& text, char commentChar);
bool loadConfigTextRecords(std::vector<PropertyMap>& out, const std::string& text,
                           const char* recordKey, char commentChar);
bool loadConfigFile(PropertyMap& out, const char* path, char commentChar);
bool loadConfigFileRecords(std::vector<PropertyMap>& out, const char* path, const char* recordKey,
                           char commentChar);

// The position of the value of `key` in the descriptor, or null.
const char* findDescrKey(const char* descriptor, const char* key);
// True and out = the value when the key is found; else false and out emptied.
bool getDescrValue(const char* descriptor, const char* key, std::string& out);
