#pragma once

// NTFS multi-sector records: FILE records of the MFT and INDX blocks of folder
// indexes. On disk the last two bytes of every 512-byte sector of such a record
// carry the update sequence number, and the bytes they stand for wait in the
// update sequence array of the header. These parsers check the headers, undo and
// redo that protection and walk the attribute headers of a FILE record.
//
// They work on views of a buffer that the caller owns and never read or write
// outside it. Callers go in this order: construct an NtfsFileRecordParser over
// the record, check the FILE header, apply the fix-ups through an Array over the
// same buffer, then walk the attributes (NtfsAttributeWalk) over the first
// bytes-in-use bytes of it.

#include "core/Array.h"
#include "core/Types.h"
#include "fs/ntfs/NtfsLayout.h"

// Log switches of the parsers, on at start. The sector scanner turns both off
// (ByteOverride) while it probes every sector of a disk for FILE records.
extern bool logNtfsRecordParser;     // NtfsRecordParser
extern bool logNtfsFileRecordParser; // NtfsFileRecordParser and NtfsAttributeParser

// A file reference holds the record number in its low 48 bits and a sequence
// number in the high 16; the engine only ever uses the record number.
constexpr u64 ntfsRecordNumber(u64 reference) {
    return reference & 0x0000FFFFFFFFFFFFull;
}

// What the FILE header check found.
struct FileRecordHeader {
    bool inUse = false;
    u64 baseRecord = 0; // 0 for a base record
    u64 bytesInUse = 0; // end of the attribute area
    u64 firstAttributeOffset = 0;
    u16 flags = 0;          // 0x16: NTFS_RECORD_IN_USE, NTFS_RECORD_DIRECTORY
    u16 sequenceNumber = 0; // 0x10
};

// One attribute header; the caller sets `offset`, the parse fills the rest.
struct AttributeHeader {
    u32 offset = 0; // of the attribute in the record
    u32 type = 0;
    u32 length = 0;     // distance to the next attribute
    u32 nameLength = 0; // UTF-16 units
    u32 nameOffset = 0; // from the attribute start
    bool resident = false;
    u32 headerSize = 0;  // first byte after the fixed header and the name
    u64 startingVcn = 0; // non-resident only
    u16 flags = 0;       // NTFS_ATTR_FLAG_*

    bool isEnd() const { return type == NTFS_ATTR_END; }
};

struct ResidentValue {
    u32 valueLength = 0;
    u32 valueOffset = 0; // from the attribute start
};

struct NonResidentValue {
    u64 dataSize = 0;
    u32 runlistOffset = 0; // mapping pairs, from the attribute start
    u32 runlistLength = 0; // attribute length - run list offset
    u64 lastVcn = 0;
    u64 allocatedSize = 0;
    u64 initializedSize = 0; // bytes past it read as zeros
    u8 compressionUnit = 0;  // log2 of the clusters of a unit; 0 uncompressed
    // The data is held in compression units (isCompressed); only then do
    // sparse runs complete units.
    bool compressed = false;

    // A compression method is flagged, or a unit size is given on an attribute
    // not flagged sparse. libntfs-3g gives plain sparse files a unit too: their
    // holes are only zeros, never the rest of a unit.
    static bool isCompressed(u16 attributeFlags, u8 compressionUnit) {
        return (attributeFlags & NTFS_ATTR_COMPRESSION_MASK) != 0 ||
               (compressionUnit != 0 && (attributeFlags & NTFS_ATTR_FLAG_SPARSE) == 0);
    }
};

// A multi-sector record: header and update sequence.
class NtfsRecordParser {
public:
    // Views the whole record; throws std::runtime_error for less than 512 bytes.
    explicit NtfsRecordParser(const ConstArray& record);

    // Magic and sector count (1, 2, 4 or 8 sectors).
    bool checkHeader(u32 magic);
    // Set by checkHeader.
    u64 sectorCount() const { return sectorCount_; }
    const ConstArray& record() const { return record_; }

    // Applies (reading) or undoes (before writing back) the fix-ups of the record
    // in `record`, in place. Everything is checked before a byte changes: the
    // array's offset and count, that the buffer holds the sectors, and, when
    // applying, whether every sector ends with the update sequence number. A
    // sector that does not was not written with the others (a write torn by a
    // power loss). Without `tornSectors` such a record is refused; with it, it
    // is applied all the same and `tornSectors` counts those sectors, since
    // the rest of a torn record is still worth reading. A record that fails
    // keeps its bytes. Applying a whole record and then undoing gives back the
    // bytes read from the disk.
    static bool fixups(const Array& record, bool apply, u32* tornSectors = nullptr);
    static bool applyFixups(const Array& record) { return fixups(record, true); }
    static bool applyFixupsOfTorn(const Array& record, u32& tornSectors) {
        return fixups(record, true, &tornSectors);
    }
    static bool undoFixups(const Array& record) { return fixups(record, false); }

protected:
    ConstArray record_;
    u64 sectorCount_ = 0;
};

// A FILE record of the MFT.
class NtfsFileRecordParser : public NtfsRecordParser {
public:
    using NtfsRecordParser::NtfsRecordParser;

    bool checkFileHeader(FileRecordHeader& header);

    // The record's own number (u32 at 44), carried when the update sequence sits
    // at 48; all ones otherwise.
    u64 storedRecordNumber() const;

    // The bytes in use, where the attributes lie. The buffer must hold them: it
    // does once the fix-ups applied (else std::out_of_range).
    ConstArray attributeArea(const FileRecordHeader& header) const;
};

// An INDX block of a folder index.
class NtfsIndexRecordParser : public NtfsRecordParser {
public:
    using NtfsRecordParser::NtfsRecordParser;

    static constexpr u32 NODE_OFFSET = ntfslayout::INDX_NODE;

    // Header check with "INDX"; gives the VCN the block claims.
    bool checkIndexHeader(u64& vcn);
};

// Attribute headers over the bytes in use of a FILE record (view from offset 0).
class NtfsAttributeParser {
public:
    explicit NtfsAttributeParser(const ConstArray& area) : area_(area) {}

    // The header at header.offset. The end marker succeeds with nothing more
    // read. A parsed attribute lies inside the area and its length covers its
    // header (at least 24 bytes), so a walk always moves on.
    bool parseHeader(AttributeHeader& header) const;
    bool parseResidentValue(ResidentValue& value, const AttributeHeader& header) const;
    bool parseNonResidentValue(NonResidentValue& value, const AttributeHeader& header) const;

    // Views of what the parses above found; never out of range for their output.
    ConstArray attribute(const AttributeHeader& header) const;
    ConstArray name(const AttributeHeader& header) const; // UTF-16LE bytes
    ConstArray value(const AttributeHeader& header, const ResidentValue& value) const;
    ConstArray mappingPairs(const AttributeHeader& header, const NonResidentValue& value) const;

    const ConstArray& area() const { return area_; }

private:
    ConstArray area_;
};

// The attribute walk of a FILE record: from the first attribute offset, one header
// after another, each step at least 24 bytes on, so it ends inside the area.
class NtfsAttributeWalk {
public:
    enum Step { ATTRIBUTE, END, INVALID };

    NtfsAttributeWalk(const ConstArray& area, u32 firstOffset)
        : parser_(area), next_(firstOffset) {}

    // ATTRIBUTE with the next header, END at the end marker, INVALID at a header
    // that does not parse; after END or INVALID it stays there.
    Step next(AttributeHeader& header);
    const NtfsAttributeParser& parser() const { return parser_; }

private:
    NtfsAttributeParser parser_;
    u32 next_;
    bool done_ = false;
    Step last_ = ATTRIBUTE;
};
