#pragma once

// One signature of the content-signature table: a type name, up to 64 bytes
// expected at a fixed place in a sector, the modules that confirm and measure a
// hit, and the largest size a file of it may have.

#include "core/Types.h"

#include <string>

namespace cbr {

class FileModule;

class Pattern {
public:
    static constexpr u32 MAX_BYTES = 64;
    // Where the expected bytes must end at the latest: one sector.
    static constexpr u32 SECTOR_BYTES = 512;

    const std::string& type() const { return type_; }
    void setType(const std::string& type) { type_ = type; }

    // Throws "Patterns(58)" when the bytes would pass the sector's end or are more
    // than MAX_BYTES (tested in 64 bits, so that no offset from a table can wrap
    // round into the sector); the pattern is unchanged then.
    void setBytes(u64 offset, const u8* bytes, u64 length);
    u32 offset() const { return offset_; }
    u32 length() const { return length_; }
    const u8* bytes() const { return bytes_; }

    // Not owned: the registry keeps the modules.
    FileModule* scanModule() const { return scanModule_; }
    void setScanModule(FileModule* module) { scanModule_ = module; }
    FileModule* analyzeModule() const { return analyzeModule_; }
    void setAnalyzeModule(FileModule* module) { analyzeModule_ = module; }

    u64 maxSize() const { return maxSize_; }
    void setMaxSize(u64 maxSize) { maxSize_ = maxSize; }

    // Whether the expected bytes stand at their place and the scan module, when
    // there is one, accepts the sector. `size` counts the bytes from `sector` on;
    // bytes that would lie beyond it never match.
    bool matches(const u8* sector, u32 size) const;
    // The byte test alone.
    bool bytesMatch(const u8* sector, u32 size) const;

private:
    std::string type_;
    u32 offset_ = 0;
    u8 bytes_[MAX_BYTES] = {};
    u32 length_ = 0;
    FileModule* scanModule_ = nullptr;
    FileModule* analyzeModule_ = nullptr;
    u64 maxSize_ = 0;
};

} // namespace cbr
