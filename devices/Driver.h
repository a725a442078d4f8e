#pragma once

// A source as fixed-size sectors over its reader chain, with its properties.

#include "core/Attributes.h"
#include "core/Ownership.h"
#include "devices/DtReader.h"

// Property keys.
constexpr const char* PROP_ID = "ID";
constexpr const char* PROP_ID_PATH = "ID_PATH";
constexpr const char* PROP_DESCRIPTION = "DESCRIPTION";
constexpr const char* PROP_DESCRIPTION_BIN = "DESCRIPTION_BIN";
constexpr const char* PROP_IS_FLOPPY = "IS_FLOPPY";
constexpr const char* PROP_USES_PARTITION_TABLES = "USES_PARTITION_TABLES";
constexpr const char* PROP_LAYOUT_FROM_CONTENT = "LAYOUT_FROM_CONTENT";
constexpr const char* PROP_OPTIONS = "OPTIONS";
constexpr const char* PROP_HEADS = "HEADS";
constexpr const char* PROP_SECTORS = "SECTORS";
constexpr const char* PROP_REPAIR_HEADS = "REPAIR_HEADS";
constexpr const char* PROP_REPAIR_SECTORS = "REPAIR_SECTORS";

// What the source's descriptor type says of its layout: a whole "drive" holds
// partition tables, a "partition" and a "floppy" hold one volume from their
// first sector, and only a "floppy" is a floppy. An image file (or a source
// composed of others) may be a copy of any of them: it starts as a volume
// ("USES_PARTITION_TABLES" 0), and "LAYOUT_FROM_CONTENT" 1 lets what its scan
// finds decide (analysis/Analyzer.h).
void setSourceKind(Attributes& properties, const std::string& type);

class Driver {
public:
    Driver(const SharedPtr<dt::Reader>& reader, u64 sectorSize);

    SharedPtr<dt::Reader>& getReader() { return reader_; }
    u64 getSectorSize() const { return sectorSize_; }
    u64 getSectorCount() const { return sectorCount_; }
    Attributes& getProperties() { return properties_; }
    const Attributes& getProperties() const { return properties_; }

    // Reads `count` whole sectors from `lba`; false when the chain fails or the
    // byte address would not fit in 63 bits.
    bool readSectors(u64 lba, u64 count, u8* buffer);

private:
    SharedPtr<dt::Reader> reader_;
    u64 sectorSize_;
    u64 sectorCount_ = 0;
    Attributes properties_;
};
