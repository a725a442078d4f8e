#include "fs/ntfs/VolumeHelpers.h"

#include "core/Array.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/Runlist.h"

#include <cstring>

namespace {

using namespace ntfslayout;

constexpr u32 MAX_RECORD_BYTES = 8 * NTFS_RECORD_SECTOR;

// The UTF-16LE bytes of the system files' names.
constexpr u8 MFT_NAME[] = {'$', 0, 'M', 0, 'F', 0, 'T', 0};
constexpr u8 MFT_MIRROR_NAME[] = {'$', 0, 'M', 0, 'F', 0, 'T', 0, 'M', 0, 'i', 0, 'r', 0, 'r', 0};
constexpr u8 BITMAP_NAME[] = {'$', 0, 'B', 0, 'i', 0, 't', 0, 'm', 0, 'a', 0, 'p', 0};

template <std::size_t N> NameView viewOf(const u8 (&bytes)[N]) {
    return NameView{bytes, static_cast<u16>(N)};
}

// Which system file a $FILE_NAME value names; NTFS_ORDINARY_RECORD for any
// other name and for a value too short to hold its name.
u32 systemFileOf(const ConstArray& value) {
    if (value.length() < FN_NAME)
        return NTFS_ORDINARY_RECORD;
    const u32 bytes = 2u * value.getU8(FN_NAME_LENGTH);
    if (bytes > value.length() - FN_NAME)
        return NTFS_ORDINARY_RECORD;
    const NameView name{value.data() + FN_NAME, static_cast<u16>(bytes)};
    if (name == viewOf(MFT_NAME))
        return NTFS_MFT_RECORD;
    if (name == viewOf(MFT_MIRROR_NAME))
        return NTFS_MFT_MIRROR_RECORD;
    if (name == viewOf(BITMAP_NAME))
        return NTFS_BITMAP_RECORD;
    return NTFS_ORDINARY_RECORD;
}

// Where the first run of a $DATA starts; the first offset of a run list counts
// from cluster 0, so it is the cluster itself.
void readDataPlace(const NtfsAttributeParser& parser, const AttributeHeader& header,
                   NtfsSystemRecordInfo& info) {
    NonResidentValue value;
    if (!parser.parseNonResidentValue(value, header))
        return;
    info.size = value.dataSize;
    const ConstArray pairs = parser.mappingPairs(header, value);
    MappingPair first;
    if (RunlistParser::decodePair(first, pairs.data(), pairs.length()) && first.offsetSize != 0 &&
        !first.backwards)
        info.lcn = first.lcnStep;
}

} // namespace

bool NameView::operator==(const NameView& o) const {
    return length == o.length && (length == 0 || std::memcmp(data, o.data, length) == 0);
}

bool clear_NTFS_chkdsk_flag(u8* buffer, u32 length) {
    if (length < NTFS_RECORD_SECTOR)
        return false;
    NtfsFileRecordParser parser(ConstArray(buffer, length));
    FileRecordHeader header;
    const Array record(buffer, length);
    if (!parser.checkFileHeader(header) || !NtfsRecordParser::applyFixups(record))
        return false;
    // From here on every way out but success puts the fix-ups back, so that a
    // caller never keeps a record that is neither raw nor whole.
    u8* flags = nullptr;
    if (header.bytesInUse <= length) {
        NtfsAttributeWalk walk(parser.attributeArea(header),
                               static_cast<u32>(header.firstAttributeOffset));
        AttributeHeader attribute;
        while (walk.next(attribute) == NtfsAttributeWalk::ATTRIBUTE) {
            if (attribute.type != NTFS_ATTR_VOLUME_INFORMATION || !attribute.resident)
                continue;
            ResidentValue value;
            // The walk's area starts at the record's first byte.
            if (walk.parser().parseResidentValue(value, attribute) && value.valueLength > VI_FLAGS)
                flags = buffer + attribute.offset + value.valueOffset + VI_FLAGS;
            break;
        }
    }
    if (flags == nullptr || *flags == 0) {
        NtfsRecordParser::undoFixups(record);
        return false;
    }
    *flags = 0;
    return NtfsRecordParser::undoFixups(record);
}

bool probeNtfsFileRecord(const u8* bytes, u32 length, NtfsSystemRecordInfo& info, u16& sectors) {
    if (length < NTFS_RECORD_SECTOR)
        return false;
    NtfsFileRecordParser raw(ConstArray(bytes, length));
    FileRecordHeader header;
    if (!raw.checkFileHeader(header))
        return false;
    sectors = static_cast<u16>(raw.sectorCount());
    info = NtfsSystemRecordInfo();
    const u32 recordBytes = static_cast<u32>(raw.sectorCount()) * NTFS_RECORD_SECTOR;
    if (recordBytes > length)
        return false;
    // The caller's bytes stay as they are: the fix-ups go into a copy. A torn
    // record is a FILE record all the same, and the tree reads it.
    u8 copy[MAX_RECORD_BYTES];
    std::memcpy(copy, bytes, recordBytes);
    u32 torn = 0;
    if (!NtfsRecordParser::applyFixupsOfTorn(Array(copy, recordBytes), torn) ||
        header.bytesInUse > recordBytes)
        return false;
    NtfsAttributeWalk walk(ConstArray(copy, static_cast<u32>(header.bytesInUse)),
                           static_cast<u32>(header.firstAttributeOffset));
    AttributeHeader attribute;
    for (;;) {
        switch (walk.next(attribute)) {
        case NtfsAttributeWalk::END:
            return true;
        case NtfsAttributeWalk::INVALID:
            return false;
        case NtfsAttributeWalk::ATTRIBUTE:
            break;
        }
        if (attribute.nameLength != 0)
            continue;
        if (attribute.type == NTFS_ATTR_FILE_NAME && attribute.resident) {
            ResidentValue value;
            if (walk.parser().parseResidentValue(value, attribute)) {
                const u32 which = systemFileOf(walk.parser().value(attribute, value));
                if (which != NTFS_ORDINARY_RECORD)
                    info.which = which;
            }
        } else if (attribute.type == NTFS_ATTR_DATA && !attribute.resident &&
                   attribute.startingVcn == 0 && info.which != NTFS_ORDINARY_RECORD) {
            readDataPlace(walk.parser(), attribute, info);
            return true;
        }
    }
}
