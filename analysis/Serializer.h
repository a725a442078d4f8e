#pragma once

// Writing a saved scan. A scan (the scan range with the source's identifying
// text, the six lists of finds, the unreadable sectors and the carved files) is
// written as a stream of little-endian fields into the program's compressed-file
// format, so that the source need not be scanned again in a later session.
// Unserializer.h reads it back.
//
// The stream, version 4:
//   version (escaped u16), L (escaped u16), scan range first and second
//   (escaped u32 each), the drive id (L bytes);
//   lists 0 to 5 of the scan results, each a u32 count and its records: u32 LBA
//   and the payload (see serializeFoundStructure);
//   the unreadable runs: u32 byte length, then 8 bytes a run (start and count,
//   big-endian);
//   the carved files: escaped u32 count, then per file u64 start, escaped u32
//   size, escaped u8 length of the attribute bytes and the bytes.
// An escaped integer is its short field when the value is below the field's
// all-ones value, else the all-ones value followed by the value as u64.

#include "core/Types.h"
#include "core/UserInterface.h"
#include "fs/ScanResults.h"

#include <string>

class DriveDescr;

class Serializer {
public:
    // Appends to `out`, which is not owned.
    explicit Serializer(std::string* out) : out_(out) {}

    void writeU8(u8 value);
    void writeBool(bool value) { writeU8(value ? 1 : 0); }
    void writeU16(u16 value);
    void writeU32(u32 value);
    void writeU64(u64 value);
    void writeBytes(const std::string& bytes);

    void writeEscapedU8(u64 value);
    void writeEscapedU16(u64 value);
    void writeEscapedU32(u64 value);

private:
    // The value in `width` bytes, or the marker and the whole value.
    void writeEscaped(u64 value, unsigned width);
    void writeLE(u64 value, unsigned width);

    std::string* out_;
};

// Version 5 keeps the sector size a FAT boot sector states; a stream of
// version 4, which does not, still loads, that size unknown (0).
constexpr u64 SAVED_SCAN_VERSION = 5;
constexpr u64 SAVED_SCAN_VERSION_WITHOUT_SECTOR_SIZE = 4;
// The all-ones value of an escaped field `width` bytes wide (1, 2 or 4), which
// announces the whole value as u64; written and read alike.
constexpr u64 escapeMarker(unsigned width) {
    return (u64(1) << (8 * width)) - 1;
}
constexpr const char* SAVED_SCAN_FILE_NAME = "Scan.bin";

// One record of each list: the LBA, then its payload. The u8 fields of boot
// sectors, FAT sectors and system records hold the low byte of the wider field.
void serializeFoundStructure(Serializer& s, const FoundPartitionTable& find);
void serializeFoundStructure(Serializer& s, const FoundBootSector& find);
void serializeFoundStructure(Serializer& s, const FoundFatSector& find);
void serializeFoundStructure(Serializer& s, const FoundDirectoryRun& find);
void serializeFoundStructure(Serializer& s, const FoundNtfsSystemRecord& find);
void serializeFoundStructure(Serializer& s, const FoundRecordRun& find);

// The six lists and the unreadable runs.
void serializeScanResults(Serializer& s, const ScanResults& results);
// The whole stream of the drive description's scan.
void serializeScan(Serializer& s, const DriveDescr& d);

// Writes the scan to `path` in the compressed-file format. On success the scan
// counts as saved; on failure the error box "Cannot Save Scan" with the path
// and the reason is shown through `interface` (when there is one).
bool saveScan(const char* path, DriveDescr& d, FrTreeInterface* interface);
