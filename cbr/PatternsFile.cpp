#include "cbr/PatternsFile.h"

#include "core/Config.h"
#include "core/FileNames.h"
#include "core/Log.h"

#include <stdexcept>

namespace cbr {

namespace {

// The module named by `key`, null when the key is absent or empty. An unknown
// name fails the whole table: a signature whose confirmation or measurement
// silently went missing would carve wrong files.
FileModule* moduleOf(const PropertyMap& record, const char* key, FileModuleRegistry& registry,
                     int logLine, int throwLine) {
    const std::string name = record.getString(key, "");
    if (name.empty())
        return nullptr;
    FileModule* module = registry.find(name);
    if (module == nullptr) {
        logAt("PatternsFile", logLine) << ": " << name << '\n';
        throw std::runtime_error("PatternsFile(" + std::to_string(throwLine) + ")");
    }
    return module;
}

} // namespace

void PatternsFile::load(const std::string& path, FileModuleRegistry& registry,
                        std::vector<Pattern>& out) {
    std::vector<PropertyMap> records;
    // A file that stops parsing half-way is refused as a whole, like one that
    // cannot be read: a scan with part of its signatures would look complete.
    if (!loadConfigFileRecords(records, path.c_str(), "Type", '#')) {
        logAt("PatternsFile", 16) << ": " << path << '\n';
        throw std::runtime_error("PatternsFile(17)");
    }
    loadRecords(records, registry, out);
}

void PatternsFile::loadRecords(const std::vector<PropertyMap>& records,
                               FileModuleRegistry& registry, std::vector<Pattern>& out) {
    for (const PropertyMap& record : records) {
        Pattern pattern;
        pattern.setType(record.getString("Type", ""));
        const std::string text = record.getString("Pattern", "");
        if (!text.empty()) {
            const std::string bytes = decodeCString(text);
            // Read in 64 bits: an offset beyond 32 bits must fail the sector test,
            // not come back as the default 0.
            const u64 offset = record.getUInt64("Pattern Offset", u64(0));
            pattern.setBytes(offset, reinterpret_cast<const u8*>(bytes.data()), bytes.size());
        }
        pattern.setScanModule(moduleOf(record, "Scan File Module", registry, 37, 38));
        pattern.setAnalyzeModule(moduleOf(record, "Analyze File Module", registry, 46, 47));
        // Nothing to test a sector with: every sector would start a file, and
        // the scan would carve the whole source into pieces of the Max Size.
        if (pattern.length() == 0 && pattern.scanModule() == nullptr &&
            pattern.analyzeModule() == nullptr) {
            logAt("PatternsFile", 55)
                << ": " << pattern.type() << " has neither bytes nor a module\n";
            throw std::runtime_error("PatternsFile(56)");
        }
        pattern.setMaxSize(record.getUInt64("Max Size", DEFAULT_MAX_SIZE));
        out.push_back(pattern);
    }
}

} // namespace cbr
