#pragma once

// Reading a saved scan back (the stream is described in Serializer.h). A saved
// scan is a file anybody can hand us, so the reader trusts none of it: every
// read is checked against the bytes that are left, every length and count
// before anything is sized by it, and the values that would break what the
// scan lists promise are refused. A file that is damaged anywhere changes
// nothing of the current scan.

#include "core/Types.h"
#include "core/UserInterface.h"
#include "fs/ScanResults.h"

#include <string>

class DriveDescr;

class Unserializer {
public:
    // Reads `size` bytes from `data`, which are not owned.
    Unserializer(const u8* data, u32 size) : data_(data), size_(size) {}

    u8 readU8();
    bool readBool() { return readU8() != 0; }
    u16 readU16();
    u32 readU32();
    u64 readU64();
    // `n` bytes as they stand.
    std::string readBytes(u64 n);

    u64 readEscapedU8();
    u64 readEscapedU16();
    u64 readEscapedU32();

    // Throws std::runtime_error("Unserializer") unless n more bytes are left.
    void need(u64 n) const;
    u32 remaining() const { return size_ - position_; }

private:
    u64 readEscaped(unsigned width);
    u64 readLE(unsigned width);

    const u8* data_;
    u32 size_;
    u32 position_ = 0;
};

// One record of each list, the LBA first. Throws std::runtime_error on a record
// that is cut short or that no scan could have made.
void unserializeFoundStructure(Unserializer& u, FoundPartitionTable& find);
void unserializeFoundStructure(Unserializer& u, FoundBootSector& find);
void unserializeFoundStructure(Unserializer& u, FoundFatSector& find);
void unserializeFoundStructure(Unserializer& u, FoundDirectoryRun& find);
void unserializeFoundStructure(Unserializer& u, FoundNtfsSystemRecord& find);
void unserializeFoundStructure(Unserializer& u, FoundRecordRun& find);

// The six lists and the unreadable runs into `results`, which should be empty
// (a record whose LBA is already in its list is dropped). A record that no scan
// of a source of `sectors` sectors makes (a size of 0 or no power of two, an
// unknown kind, an LBA or run outside the source) is dropped with a log line;
// unreadable runs are cut to the source.
void unserializeScanResults(Unserializer& u, ScanResults& results, u64 sectors = u64(1) << 32);

// Replaces the scan of `d` (scan range, scan results, carved files) with the
// stream in data. A stream of another version, a damaged one (logged, "Cannot
// Load Scan"), or one from another source that the user does not want to load
// anyway gives false and changes nothing. The candidates, the layout and the
// map are the caller's to rebuild.
bool readScan(const u8* data, u32 size, DriveDescr& d, FrTreeInterface* interface);
// Reads the file and then readScan; on success the scan counts as saved.
bool loadScan(const char* path, DriveDescr& d, FrTreeInterface* interface);

// The error box "Cannot Load Scan" (nothing without an interface).
void showCannotLoadScan(FrTreeInterface* interface);
