#pragma once

// Reading a saved scan back (the stream is described in Serializer.h). A saved
// scan is a file anybody can hand us, so the reader trusts none of it: every
// read is checked against the bytes that are left, every length and count
// before anything is sized by it, and the values that would break what the
// scan lists promise are refused. A file that is damaged anywhere changes
// nothing of the current scan.

#include "analysis/Serializer.h"
#include "core/Types.h"
#include "core/UserInterface.h"
#include "fs/ScanResults.h"

#include <string>
#include <vector>

class CompressedFile;
class DriveDescr;

class Unserializer {
public:
    // Reads `size` bytes from `data`, which are not owned.
    Unserializer(const u8* data, u32 size);
    // Reads the content of an opened compressed file as it goes, holding no
    // more of it than the field in hand; `file` is not owned.
    explicit Unserializer(CompressedFile& file);

    u8 readU8();
    bool readBool() { return readU8() != 0; }
    u16 readU16();
    u32 readU32();
    u64 readU64();
    // The unreadable runs' fields are big-endian.
    u32 readBE32();
    // `n` bytes as they stand; a byte string of the stream is a name or an
    // attribute text, and one longer than MAX_BYTES is damage.
    std::string readBytes(u64 n);
    static constexpr u64 MAX_BYTES = 1 << 20;

    u64 readEscapedU8();
    u64 readEscapedU16();
    u64 readEscapedU32();

    // The version of the stream, which says the layout of its records.
    u64 version() const { return version_; }
    void setVersion(u64 version) { version_ = version; }

    // Throws std::runtime_error("Unserializer") unless n more bytes are left.
    // Written so that no sum can wrap around.
    void need(u64 n) {
        if (n > static_cast<u64>(size_ - position_))
            refill(n);
    }
    // At most this many bytes are left (exactly so in memory; a compressed
    // file's content may end before its claimed length).
    u64 remaining() const { return length_ - (consumed_ + position_); }
    // Whether no byte is left: the stream ends soundly here.
    bool atEnd();

    // Counts `bytes` that reading is about to allocate, and throws
    // std::runtime_error("Unserializer") once they pass what a stream of its
    // size may take (ALLOWANCE_FLOOR plus ALLOWANCE_PER_BYTE for every byte of
    // the file, or of the stream in memory). Everything a load keeps or sizes is
    // counted, so that a file holding little can never take much: a megabyte
    // stays below 400 MB. A real scan takes about 8 times its file; the most
    // compressible one a scanner could leave (a carved file at every sector,
    // all of one size) about 120 times.
    void claim(u64 bytes);
    static constexpr u64 ALLOWANCE_FLOOR = u64(64) << 20;
    static constexpr u64 ALLOWANCE_PER_BYTE = 256;

private:
    // Brings n more bytes into the window, or throws.
    void refill(u64 n);
    u64 readEscaped(unsigned width);
    u64 readLE(unsigned width);

    // The bytes in hand: the caller's, or the window over a compressed file.
    const u8* data_;
    u32 size_;
    u32 position_ = 0;
    // The stream's (claimed) length and the bytes of it before data_.
    u64 length_;
    u64 consumed_ = 0;
    CompressedFile* file_ = nullptr;
    std::vector<u8> window_;
    u64 allowance_;
    u64 claimed_ = 0;
    u64 version_ = SAVED_SCAN_VERSION;
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
// unknown kind, an LBA or run outside the source) is dropped; the log gets one
// line per list and reason with their count; unreadable runs are cut to the
// source. More runs than sectors are damage.
void unserializeScanResults(Unserializer& u, ScanResults& results, u64 sectors = u64(1) << 32);

// Replaces the scan of `d` (scan range, scan results, carved files) with the
// stream in data. A stream of another version, a damaged one or one that the
// memory left cannot hold (logged, "Cannot Load Scan"), or one from another
// source that the user does not want to load anyway gives false and changes
// nothing. Damaged are also: bytes after the last carved file, counts that the
// source cannot hold (more carved files or unreadable runs than it has
// sectors), and a stream that would take more memory than its size allows
// (Unserializer::claim). Carved files that do not start at a sector start of
// the source are dropped and counted, as the records of the lists are. The
// candidates, the layout and the map are the caller's to rebuild.
bool readScan(const u8* data, u32 size, DriveDescr& d, FrTreeInterface* interface);
bool readScan(Unserializer& u, DriveDescr& d, FrTreeInterface* interface);
// Reads the file and then readScan, inflating the stream as it is read; on
// success the scan counts as saved.
bool loadScan(const char* path, DriveDescr& d, FrTreeInterface* interface);
