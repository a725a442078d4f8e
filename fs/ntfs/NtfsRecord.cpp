#include "fs/ntfs/NtfsRecord.h"

#include "core/Checked.h"
#include "core/Log.h"

#include <stdexcept>

bool logNtfsRecordParser = true;
bool logNtfsFileRecordParser = true;

namespace {

using namespace ntfslayout;

// The last two bytes of each protected sector.
constexpr u32 SECTOR_TAIL = NTFS_RECORD_SECTOR - 2;

} // namespace

NtfsRecordParser::NtfsRecordParser(const ConstArray& record) : record_(record) {
    if (record.length() < NTFS_RECORD_SECTOR)
        throw std::runtime_error("NtfsRecordParser(41)");
}

bool NtfsRecordParser::checkHeader(u32 magic) {
    sectorCount_ = 0;
    if (record_.getLE32(REC_MAGIC) != magic) {
        if (logNtfsRecordParser)
            logAt("NtfsRecordParser", 47) << '\n';
        return false;
    }
    // A count field of 0 covers no sector and must not wrap into a huge count.
    const u32 count = record_.getLE16(REC_USA_COUNT);
    const u32 sectors = count == 0 ? 0 : count - 1;
    if (sectors != 1 && sectors != 2 && sectors != 4 && sectors != 8) {
        if (logNtfsRecordParser)
            logAt("NtfsRecordParser", 53) << '\n';
        return false;
    }
    sectorCount_ = sectors;
    return true;
}

bool NtfsRecordParser::fixups(const Array& record, bool apply, u32* tornSectors) {
    const u64 size = record.length();
    if (size < REC_HEADER_FIELDS_END) {
        if (logNtfsRecordParser)
            logAt("NtfsRecordParser", 71) << ": " << size << " bytes\n";
        return false;
    }
    const u32 arrayOffset = record.getLE16(REC_USA_OFFSET);
    const u32 count = record.getLE16(REC_USA_COUNT);
    if (count < 2) {
        if (logNtfsRecordParser)
            logAt("NtfsRecordParser", 73) << ": count " << count << '\n';
        return false;
    }
    const u64 sectors = count - 1;
    const u64 arrayEnd = u64{arrayOffset} + 2 + 2 * sectors;
    if (arrayEnd > size || NTFS_RECORD_SECTOR * sectors > size) {
        if (logNtfsRecordParser)
            logAt("NtfsRecordParser", 72) << ": array end " << arrayEnd << " of " << size << '\n';
        return false;
    }
    // The array must neither overlap the header fields (undoing would overwrite
    // the count) nor a sector tail (applying would read what it just wrote).
    if (arrayOffset < REC_HEADER_FIELDS_END || arrayEnd > SECTOR_TAIL) {
        if (logNtfsRecordParser)
            logAt("NtfsRecordParser", 74)
                << ": offset " << arrayOffset << " count " << count << '\n';
        return false;
    }
    const u16 number = record.getLE16(arrayOffset);
    if (apply) {
        u32 torn = 0;
        for (u32 i = 0; i < sectors; ++i) {
            const u16 tail = record.getLE16(SECTOR_TAIL + NTFS_RECORD_SECTOR * i);
            if (tail == number)
                continue;
            if (tornSectors == nullptr) {
                if (logNtfsRecordParser)
                    logAt("NtfsRecordParser", 75)
                        << ": sector " << i << " tail " << tail << " number " << number << '\n';
                return false;
            }
            ++torn;
        }
        if (tornSectors != nullptr)
            *tornSectors = torn;
    }
    for (u32 i = 0; i < sectors; ++i) {
        const u32 tail = SECTOR_TAIL + NTFS_RECORD_SECTOR * i;
        const u32 slot = arrayOffset + 2 + 2 * i;
        if (apply) {
            record.setLE16(tail, record.getLE16(slot));
        } else {
            record.setLE16(slot, record.getLE16(tail));
            record.setLE16(tail, number);
        }
    }
    return true;
}

bool NtfsFileRecordParser::checkFileHeader(FileRecordHeader& header) {
    if (!checkHeader(NTFS_MAGIC_FILE)) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 49) << '\n';
        return false;
    }
    const u32 allocated = record_.getLE32(FILE_BYTES_ALLOCATED);
    if (allocated != sectorCount_ * NTFS_RECORD_SECTOR) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 52) << '\n';
        return false;
    }
    const u32 inUse = record_.getLE32(FILE_BYTES_IN_USE);
    if (inUse > allocated) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 55) << '\n';
        return false;
    }
    const u32 first = record_.getLE16(FILE_FIRST_ATTRIBUTE);
    if (first >= inUse) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 58) << '\n';
        return false;
    }
    header.flags = record_.getLE16(FILE_FLAGS);
    header.inUse = (header.flags & NTFS_RECORD_IN_USE) != 0;
    header.baseRecord = ntfsRecordNumber(record_.getLE64(FILE_BASE_REFERENCE));
    header.bytesInUse = inUse;
    header.firstAttributeOffset = first;
    header.sequenceNumber = record_.getLE16(FILE_SEQUENCE);
    return true;
}

u64 NtfsFileRecordParser::storedRecordNumber() const {
    if (record_.getLE16(REC_USA_OFFSET) != FILE_USA_WITH_NUMBER)
        return ~u64{0};
    return record_.getLE32(FILE_RECORD_NUMBER);
}

ConstArray NtfsFileRecordParser::attributeArea(const FileRecordHeader& header) const {
    return ConstArray(record_, 0, static_cast<u32>(header.bytesInUse));
}

bool NtfsIndexRecordParser::checkIndexHeader(u64& vcn) {
    if (!checkHeader(NTFS_MAGIC_INDX)) {
        // Written whatever the switches say: a broken index block is never probed
        // for, it is met while listing a folder.
        logAt("NtfsIndexRecordParser", 41) << '\n';
        return false;
    }
    vcn = record_.getLE64(INDX_VCN);
    return true;
}

bool NtfsAttributeParser::parseHeader(AttributeHeader& header) const {
    const u64 size = area_.length();
    const u32 a = header.offset;
    if (!fits(a, 4, size)) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 75) << '\n';
        return false;
    }
    header.type = area_.getLE32(a + ATTR_TYPE);
    if (header.isEnd())
        return true;
    if (!fits(a, ATTR_HEADER_SIZE, size)) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 80) << '\n';
        return false;
    }
    header.length = area_.getLE32(a + ATTR_LENGTH);
    if (!fits(a, header.length, size)) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 82) << '\n';
        return false;
    }
    const u8 nonResident = area_.getU8(a + ATTR_NON_RESIDENT);
    if (nonResident == 1) {
        header.resident = false;
        header.startingVcn = area_.getLE64(a + ATTR_STARTING_VCN);
        header.headerSize = ATTR_NON_RESIDENT_HEADER_SIZE;
        if (header.headerSize > header.length) {
            if (logNtfsFileRecordParser)
                logAt("NtfsFileRecordParser", 91) << '\n';
            return false;
        }
        if (area_.getU8(a + ATTR_COMPRESSION_UNIT) != 0)
            header.headerSize = ATTR_COMPRESSED_HEADER_SIZE;
    } else if (nonResident == 0) {
        header.resident = true;
        header.startingVcn = 0;
        header.headerSize = ATTR_HEADER_SIZE;
    } else {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 96) << '\n';
        return false;
    }
    header.nameLength = area_.getU8(a + ATTR_NAME_LENGTH);
    header.nameOffset = area_.getLE16(a + ATTR_NAME_OFFSET);
    if (header.nameLength != 0) {
        if (header.nameOffset < header.headerSize) {
            if (logNtfsFileRecordParser)
                logAt("NtfsFileRecordParser", 103) << '\n';
            return false;
        }
        header.headerSize = header.nameOffset + 2 * header.nameLength;
    }
    if (header.headerSize > header.length) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 106) << '\n';
        return false;
    }
    header.flags = area_.getLE16(a + ATTR_FLAGS);
    return true;
}

bool NtfsAttributeParser::parseResidentValue(ResidentValue& value,
                                             const AttributeHeader& header) const {
    if (!header.resident) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 112) << ": type " << header.type << '\n';
        return false;
    }
    const u32 a = header.offset;
    value.valueLength = area_.getLE32(a + ATTR_VALUE_LENGTH);
    value.valueOffset = 0;
    if (value.valueLength == 0)
        return true;
    value.valueOffset = area_.getLE16(a + ATTR_VALUE_OFFSET);
    if (value.valueOffset < header.headerSize) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 116) << '\n';
        return false;
    }
    if (!fits(value.valueOffset, value.valueLength, header.length)) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 117) << '\n';
        return false;
    }
    return true;
}

bool NtfsAttributeParser::parseNonResidentValue(NonResidentValue& value,
                                                const AttributeHeader& header) const {
    if (header.resident) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 122) << ": type " << header.type << '\n';
        return false;
    }
    const u32 a = header.offset;
    value.runlistOffset = area_.getLE16(a + ATTR_RUNLIST_OFFSET);
    if (value.runlistOffset < header.headerSize) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 126) << '\n';
        return false;
    }
    if (!fits(value.runlistOffset, 1, header.length)) {
        if (logNtfsFileRecordParser)
            logAt("NtfsFileRecordParser", 127) << '\n';
        return false;
    }
    value.runlistLength = header.length - value.runlistOffset;
    value.dataSize = area_.getLE64(a + ATTR_DATA_SIZE);
    value.lastVcn = area_.getLE64(a + ATTR_LAST_VCN);
    value.allocatedSize = area_.getLE64(a + ATTR_ALLOCATED_SIZE);
    value.initializedSize = area_.getLE64(a + ATTR_INITIALIZED_SIZE);
    value.compressionUnit = area_.getU8(a + ATTR_COMPRESSION_UNIT);
    value.compressed = NonResidentValue::isCompressed(header.flags, value.compressionUnit);
    return true;
}

ConstArray NtfsAttributeParser::attribute(const AttributeHeader& header) const {
    return ConstArray(area_, header.offset, header.length);
}

ConstArray NtfsAttributeParser::name(const AttributeHeader& header) const {
    // Without a name the offset field is not checked and may point anywhere.
    if (header.nameLength == 0)
        return ConstArray(area_, header.offset, 0);
    return ConstArray(area_, header.offset + header.nameOffset, 2 * header.nameLength);
}

ConstArray NtfsAttributeParser::value(const AttributeHeader& header,
                                      const ResidentValue& value) const {
    return ConstArray(area_, header.offset + value.valueOffset, value.valueLength);
}

ConstArray NtfsAttributeParser::mappingPairs(const AttributeHeader& header,
                                             const NonResidentValue& value) const {
    return ConstArray(area_, header.offset + value.runlistOffset, value.runlistLength);
}

NtfsAttributeWalk::Step NtfsAttributeWalk::next(AttributeHeader& header) {
    if (done_)
        return last_;
    header = AttributeHeader();
    header.offset = next_;
    if (!parser_.parseHeader(header)) {
        done_ = true;
        last_ = INVALID;
        return last_;
    }
    if (header.isEnd()) {
        done_ = true;
        last_ = END;
        return last_;
    }
    // Inside the area and at least one fixed header long (parseHeader).
    next_ += header.length;
    return ATTRIBUTE;
}
