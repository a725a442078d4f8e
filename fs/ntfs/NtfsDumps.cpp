#include "fs/ntfs/NtfsDumps.h"

#include "core/DateTime.h"
#include "core/Intl.h"
#include "core/NameConversions.h"
#include "devices/DriveGeometry.h"
#include "fs/ntfs/NtfsFileParser.h"
#include "fs/ntfs/NtfsRecord.h"

#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

using namespace ntfslayout;

const char* typeName(u32 type) {
    switch (type) {
    case 0x10:
        return "STANDARD_INFORMATION";
    case 0x20:
        return "ATTRIBUTE_LIST";
    case 0x30:
        return "FILE_NAME";
    case 0x40:
        return "OBJECT_ID";
    case 0x50:
        return "SECURITY_DESCRIPTOR";
    case 0x60:
        return "VOLUME_NAME";
    case 0x70:
        return "VOLUME_INFORMATION";
    case 0x80:
        return "DATA";
    case 0x90:
        return "INDEX_ROOT";
    case 0xA0:
        return "INDEX_ALLOCATION";
    case 0xB0:
        return "BITMAP";
    case 0xC0:
        return "REPARSE_POINT";
    case 0xD0:
        return "EA_INFORMATION";
    case 0xE0:
        return "EA";
    case 0xF0:
        return "PROPERTY_SET";
    case 0x100:
        return "LOGGED_UTILITY_STREAM";
    default:
        return nullptr;
    }
}

struct FlagName {
    u32 bit;
    const char* name;
};

constexpr FlagName DOS_ATTRIBUTES[] = {
    {0x0001, N_("Read-only")},        {0x0002, N_("Hidden")},
    {0x0004, N_("System")},           {0x0008, N_("Volume")},
    {0x0010, N_("DOS Directory")},    {0x0020, N_("Archive")},
    {0x0040, N_("Device")},           {0x0080, N_("Normal")},
    {0x0100, N_("Temporary")},        {0x0200, N_("Sparse")},
    {0x0400, N_("Reparse Point")},    {0x0800, N_("Compressed")},
    {0x1000, N_("Offline")},          {0x2000, N_("Not Content Indexed")},
    {0x4000, N_("Encrypted")},        {0x10000000, N_("Directory")},
    {0x20000000, N_("View indexed")},
};
constexpr u32 KNOWN_DOS_ATTRIBUTES = 0x30007FFF;

const char* const NAMESPACES[] = {N_("POSIX"), N_("WIN32"), N_("DOS"), N_("WIN32 and DOS")};

// "Label:\t"
std::ostream& label(std::ostream& os, const char* text) {
    return os << _(text) << ":\t";
}

// Offsets computed in 64 bits; one past a view's reach is out of range.
u32 offsetIn(u64 offset) {
    if (offset > ~u32{0})
        throw std::out_of_range("NtfsDumps(183)");
    return static_cast<u32>(offset);
}

unsigned byteAt(const ConstArray& view, u32 offset) {
    return view.getU8(offset);
}

// A UTF-16 name of `units` units at `offset`.
void writeNameAt(std::ostream& os, const ConstArray& view, u64 offset, u32 units) {
    // Without a name the offset field may point anywhere.
    if (units == 0)
        return;
    writeUtf16Name(os, ConstArray(view, offsetIn(offset), 2 * units));
}

// "Title {", the text with a tab before every line, "}"; nothing for no text.
void writeBlock(std::ostream& os, const char* title, const std::string& text) {
    if (text.empty())
        return;
    os << _(title) << " {\n";
    writeWithLinePrefix(os, text, "\t");
    os << "}\n";
}

void writeOutOfRange(std::ostream& os) {
    os << '\n' << _("Out Of Range") << '\n';
}

void writeEntryLine(std::ostream& os, u64 offset, u32 size) {
    os << "--- " << _("Entry Offset") << ": " << offset << ", " << _("Size") << ": " << size
       << " ---\n";
}

void writeEntryLine(std::ostream& os, u64 offset) {
    os << "--- " << _("Entry Offset") << ": " << offset << " ---\n";
}

void writeEntrySizeError(std::ostream& os) {
    os << _("Error") << ": " << _("Entry Size") << '\n';
}

} // namespace

void writeRun(std::ostream& os, const NtfsRun& run) {
    os << '{' << run.lcn << ", " << run.clusters;
    if (run.clusters >= run.storedClusters) {
        if (run.storedClusters == 0)
            os << "  (" << _("sparse") << ')';
        else if (run.clusters > run.storedClusters)
            os << " (" << _("compressed to") << ' ' << run.storedClusters << ')';
    } else if (run.clusters == 0) {
        os << " (" << _("compressed chain") << ' ' << run.storedClusters << ')';
    } else {
        os << ", " << run.storedClusters << " (" << _("invalid") << ')';
    }
    os << '}';
}

void writeRunlist(std::ostream& os, const Runlist& runs) {
    for (const NtfsRun& r : runs) {
        writeRun(os, r);
        os << ' ';
    }
    const u64 total = getRunlistClusters(runs);
    os << total << ' ' << ngettext_("cluster", "clusters", static_cast<unsigned long>(total));
}

std::string runlistText(const Runlist& runs) {
    std::ostringstream text;
    writeRunlist(text, runs);
    return text.str();
}

void writeDosAttributes(std::ostream& os, u32 flags) {
    label(os, "Attributes");
    bool first = true;
    for (const FlagName& f : DOS_ATTRIBUTES) {
        if ((flags & f.bit) == 0)
            continue;
        if (!first)
            os << ',';
        os << ' ' << _(f.name);
        first = false;
    }
    if ((flags & ~KNOWN_DOS_ATTRIBUTES) != 0) {
        os << ", ";
        label(os, "Left") << (flags & ~KNOWN_DOS_ATTRIBUTES);
    }
}

void writeAttributeType(std::ostream& os, u32 type) {
    label(os, "Type");
    if (const char* name = typeName(type))
        os << name;
    else
        os << type;
}

void writeUtf16Name(std::ostream& os, const ConstArray& units) {
    // The whole name at once, so that surrogate pairs stay one character.
    std::vector<u16> name(units.length() / 2);
    for (u32 i = 0; i < name.size(); ++i)
        name[i] = units.getLE16(2 * i);
    os << utf16ToUtf8(name.data(), name.size());
}

void writeFileTime(std::ostream& os, u64 fileTime) {
    os << fileTime;
    const u32 time = fileTimeToUnixTime(fileTime);
    if (time != NO_TIME)
        os << '\t' << formatTime(time);
}

void writeFileTimes(std::ostream& os, const ConstArray& times) {
    const char* const labels[] = {N_("Creation Time"), N_("Modification Time"),
                                  N_("MFT Modification Time"), N_("Access Time")};
    for (u32 i = 0; i < 4; ++i) {
        label(os, labels[i]);
        writeFileTime(os, times.getLE64(8 * i));
        os << '\n';
    }
}

void writeFileReference(std::ostream& os, const char* title, u64 reference) {
    label(os, title) << ntfsRecordNumber(reference) << ", ";
    label(os, "Sequence Number") << (reference >> 48) << '\n';
}

void writeRecordHeader(std::ostream& os, const ConstArray& record) {
    const ConstArray magic(record, 0, 4);
    label(os, "Magic") << '\''
                       << codePageToUtf8(
                              std::string(reinterpret_cast<const char*>(magic.data()), 4))
                       << "'\n";
    label(os, "Update Sequence Offset") << record.getLE16(REC_USA_OFFSET) << ", ";
    label(os, "Size") << record.getLE16(REC_USA_COUNT) << '\n';
    label(os, "Log Sequence Number") << record.getLE64(REC_LSN) << '\n';
}

void writeAttributeHeader(std::ostream& os, const ConstArray& attribute) {
    writeAttributeType(os, attribute.getLE32(ATTR_TYPE));
    os << '\n';
    label(os, "Size") << attribute.getLE32(ATTR_LENGTH) << '\n';
    label(os, "Non-resident") << byteAt(attribute, ATTR_NON_RESIDENT) << '\n';
    const u32 nameLength = attribute.getU8(ATTR_NAME_LENGTH);
    const u32 nameOffset = attribute.getLE16(ATTR_NAME_OFFSET);
    label(os, "Name Length") << nameLength << ", ";
    label(os, "Offset") << nameOffset << "\t'";
    writeNameAt(os, attribute, nameOffset, nameLength);
    os << "'\n";
    label(os, "Flags") << attribute.getLE16(ATTR_FLAGS) << '\n';
    label(os, "Instance") << attribute.getLE16(ATTR_INSTANCE) << '\n';
}

void writeNonResidentHeader(std::ostream& os, const ConstArray& attribute) {
    label(os, "Start VCN") << attribute.getLE64(ATTR_STARTING_VCN) << '\n';
    label(os, "Last VCN") << attribute.getLE64(ATTR_LAST_VCN) << '\n';
    const u32 runlistOffset = attribute.getLE16(ATTR_RUNLIST_OFFSET);
    label(os, "Runlist Offset") << runlistOffset;
    // The runs as the file parser decodes them, so the text shows the units of
    // a compressed attribute as a reader meets them.
    const NtfsAttributeParser parser(attribute);
    AttributeHeader header;
    NonResidentValue value;
    if (parser.parseHeader(header) && !header.isEnd() && !header.resident &&
        parser.parseNonResidentValue(value, header)) {
        os << '\t';
        const ConstArray pairs = parser.mappingPairs(header, value);
        RunlistParser runs(value.compressed, RunlistParser::ANY_VOLUME);
        if (runs.parse(pairs) && runs.finish())
            writeRunlist(os, runs.getRunlist());
        else
            label(os, "Invalid Runlist") << toHexList(pairs.data(), pairs.length());
    }
    os << '\n';
    label(os, "Compression Unit Size") << byteAt(attribute, ATTR_COMPRESSION_UNIT) << '\n';
    label(os, "Allocated Size") << attribute.getLE64(ATTR_ALLOCATED_SIZE) << '\n';
    label(os, "Real Size") << attribute.getLE64(ATTR_DATA_SIZE) << '\n';
    label(os, "Initialized Size") << attribute.getLE64(ATTR_INITIALIZED_SIZE) << '\n';
}

void writeStandardInformation(std::ostream& os, const ConstArray& value) {
    writeFileTimes(os, ConstArray(value, SI_TIMES, TIMES_SIZE));
    writeDosAttributes(os, value.getLE32(SI_FLAGS));
    os << '\n';
    label(os, "Versions Number") << value.getLE32(SI_MAX_VERSIONS) << '\n';
    label(os, "Version") << value.getLE32(SI_VERSION) << '\n';
    label(os, "Class ID") << value.getLE32(SI_CLASS_ID);
    if (value.length() >= SI_LONG_SIZE) {
        os << '\n';
        label(os, "Owner ID") << value.getLE32(SI_OWNER_ID) << '\n';
        label(os, "Security ID") << value.getLE32(SI_SECURITY_ID) << '\n';
        label(os, "Quota Charged") << value.getLE64(SI_QUOTA) << '\n';
        label(os, "Update Sequence Number") << value.getLE64(SI_USN);
    }
    os << '\n';
}

void writeFileName(std::ostream& os, const ConstArray& value) {
    writeFileReference(os, N_("Parent File Reference"), value.getLE64(FN_PARENT));
    writeFileTimes(os, ConstArray(value, FN_TIMES, TIMES_SIZE));
    label(os, "Allocated Size") << value.getLE64(FN_ALLOCATED_SIZE) << '\n';
    label(os, "Real Size") << value.getLE64(FN_DATA_SIZE) << '\n';
    writeDosAttributes(os, value.getLE32(FN_FLAGS));
    os << '\n';
    const u32 nameLength = value.getU8(FN_NAME_LENGTH);
    label(os, "File Name Length") << nameLength << '\n';
    const u32 space = value.getU8(FN_NAMESPACE);
    label(os, "File Namespace");
    if (space < 4)
        os << _(NAMESPACES[space]);
    else
        os << space;
    os << '\n';
    label(os, "File Name") << '\'';
    writeNameAt(os, value, FN_NAME, nameLength);
    os << "'\n";
}

void writeAttributeListEntry(std::ostream& os, const ConstArray& value,
                             const AttributeListEntry& entry) {
    writeEntryLine(os, entry.offset, entry.length);
    writeAttributeType(os, entry.type);
    os << '\n';
    label(os, "Size") << entry.length << '\n';
    label(os, "Name Length") << entry.nameLength << ", ";
    label(os, "Offset") << entry.nameOffset << "\t'";
    writeNameAt(os, value, u64{entry.offset} + entry.nameOffset, entry.nameLength);
    os << "'\n";
    label(os, "VCN") << entry.startingVcn << '\n';
    writeFileReference(os, N_("File Reference"), u64{entry.sequence} << 48 | entry.record);
    label(os, "Instance") << entry.instance << "\n\n";
}

void writeAttributeList(std::ostream& os, const ConstArray& value) {
    std::vector<AttributeListEntry> entries;
    const bool whole = AttributeListEntry::parseList(value, entries);
    for (const AttributeListEntry& e : entries)
        writeAttributeListEntry(os, value, e);
    if (!whole) {
        writeEntryLine(os,
                       entries.empty() ? 0 : u64{entries.back().offset} + entries.back().length);
        writeEntrySizeError(os);
    }
}

void writeIndexRoot(std::ostream& os, const ConstArray& value) {
    const u32 type = value.getLE32(IR_TYPE);
    writeAttributeType(os, type);
    os << '\n';
    label(os, "Collation Rule") << value.getLE32(IR_COLLATION) << '\n';
    label(os, "Index Allocation Entry Size") << value.getLE32(IR_BLOCK_SIZE) << '\n';
    label(os, "Clusters Per Index Record") << byteAt(value, IR_CLUSTERS_PER_BLOCK) << '\n';
    writeIndexNode(os, ConstArray(value, IR_NODE), type);
}

void writeIndexNode(std::ostream& os, const ConstArray& node, u32 indexedType) {
    const u32 entriesOffset = node.getLE32(NODE_ENTRIES_OFFSET);
    label(os, "Index Entries Offset") << entriesOffset << '\n';
    label(os, "Index Entries Size") << node.getLE32(NODE_ENTRIES_END) << '\n';
    label(os, "Allocated Index Entries Size") << node.getLE32(NODE_ALLOCATED_SIZE) << '\n';
    const unsigned flags = node.getLE32(NODE_FLAGS) & 0xFF;
    label(os, "Flags") << flags;
    if (flags != 0)
        os << ' ' << _("large index");
    os << '\n';
    // Every entry is at least IE_HEADER_SIZE bytes long, and each one is read
    // through the node's view: the walk ends at the last entry, at a bad size
    // or when it leaves the node.
    for (u64 offset = entriesOffset;;) {
        const u32 size = node.getLE16(offsetIn(offset + IE_LENGTH));
        writeEntryLine(os, offset, size);
        if (size < IE_HEADER_SIZE) {
            writeEntrySizeError(os);
            os << '\n';
            return;
        }
        const u32 at = offsetIn(offset);
        writeFileReference(os, N_("File Reference"), node.getLE64(at + IE_REFERENCE));
        label(os, "Size") << size << '\n';
        const u32 keyLength = node.getLE16(at + IE_KEY_LENGTH);
        label(os, "Stream Size") << keyLength << '\n';
        const u8 entryFlags = node.getU8(at + IE_FLAGS);
        label(os, "Flags") << static_cast<unsigned>(entryFlags);
        if ((entryFlags & NTFS_INDEX_ENTRY_SUB_NODE) != 0) {
            os << ' ' << _("node") << '\n';
            label(os, "Node VCN") << node.getLE64(offsetIn(offset + size - IE_SUB_NODE_VCN_SIZE));
        }
        if ((entryFlags & NTFS_INDEX_ENTRY_LAST) != 0) {
            os << ' ' << _("last") << '\n';
            return;
        }
        os << '\n';
        if (indexedType == NTFS_ATTR_FILE_NAME)
            writeFileName(os, ConstArray(node, offsetIn(offset + IE_KEY), keyLength));
        offset += size;
    }
}

void writeResidentValue(std::ostream& os, const ConstArray& attribute) {
    const u32 length = attribute.getLE16(ATTR_VALUE_LENGTH);
    const u32 offset = attribute.getLE16(ATTR_VALUE_OFFSET);
    label(os, "Stream Length") << length << ", ";
    label(os, "Offset") << offset << '\n';
    label(os, "Indexed") << byteAt(attribute, ATTR_INDEXED) << '\n';
    std::ostringstream text;
    bool outOfRange = false;
    try {
        const ConstArray value(attribute, offset, length);
        switch (attribute.getLE32(ATTR_TYPE)) {
        case NTFS_ATTR_STANDARD_INFORMATION:
            writeStandardInformation(text, value);
            break;
        case NTFS_ATTR_FILE_NAME:
            writeFileName(text, value);
            break;
        case NTFS_ATTR_VOLUME_NAME:
            label(text, "Volume Name") << '\'';
            writeUtf16Name(text, value);
            text << "'\n";
            break;
        case NTFS_ATTR_ATTRIBUTE_LIST:
            writeAttributeList(text, value);
            break;
        case NTFS_ATTR_INDEX_ROOT:
            writeIndexRoot(text, value);
            break;
        default:
            break;
        }
    } catch (const std::out_of_range&) {
        outOfRange = true;
    }
    writeBlock(os, "Stream", text.str());
    if (outOfRange)
        writeOutOfRange(os);
}

void dumpNtfsFileRecord(std::ostream& os, u8* data, u32 size) {
    const ConstArray record(data, size);
    FileRecordHeader header;
    bool headerOk = false;
    // The record parser needs a whole sector; a shorter record is described
    // as far as it goes.
    if (size >= NTFS_RECORD_SECTOR) {
        NtfsFileRecordParser parser(record);
        headerOk = parser.checkFileHeader(header);
    }
    if (!headerOk)
        os << _("Invalid NTFS File Record") << '\n';
    if (!NtfsRecordParser::applyFixups(Array(data, size)))
        os << _("Invalid Update Sequence") << '\n';

    std::ostringstream attributes;
    try {
        writeRecordHeader(os, record);
        label(os, "Sequence Number") << record.getLE16(FILE_SEQUENCE) << '\n';
        label(os, "Reference Count") << record.getLE16(FILE_LINKS) << '\n';
        label(os, "Attributes Offset") << record.getLE16(FILE_FIRST_ATTRIBUTE) << '\n';
        const u16 flags = record.getLE16(FILE_FLAGS);
        label(os, "Flags");
        if ((flags & NTFS_RECORD_IN_USE) != 0)
            os << ' ' << _("In use");
        if ((flags & NTFS_RECORD_DIRECTORY) != 0)
            os << ' ' << _("Directory");
        if ((flags & 0xFFFC) != 0) {
            os << ", ";
            label(os, "Left") << (flags & 0xFFFC);
        }
        os << '\n';
        label(os, "Used Bytes") << record.getLE32(FILE_BYTES_IN_USE) << '\n';
        label(os, "Allocated Bytes") << record.getLE32(FILE_BYTES_ALLOCATED) << '\n';
        writeFileReference(os, N_("Base File Reference"), record.getLE64(FILE_BASE_REFERENCE));
        label(os, "Next Attribute Instance") << record.getLE16(FILE_NEXT_INSTANCE);
        if (record.getLE16(REC_USA_OFFSET) == FILE_USA_WITH_NUMBER) {
            os << '\n';
            label(os, "Unknown 0x2A-0x2B") << record.getLE16(FILE_RESERVED) << '\n';
            label(os, "XP MFT Index") << record.getLE32(FILE_RECORD_NUMBER);
        }
        os << '\n';

        // Without a valid header the walk goes over the whole record from the
        // offset it names; every step is bounded by that view.
        const ConstArray area =
            headerOk ? ConstArray(record, 0, static_cast<u32>(header.bytesInUse)) : record;
        const NtfsAttributeParser parser(area);
        u64 offset = headerOk ? header.firstAttributeOffset : record.getLE16(FILE_FIRST_ATTRIBUTE);
        for (;;) {
            attributes << _("Attribute Offset") << ": " << offset << '\n';
            AttributeHeader attribute;
            attribute.offset = offsetIn(offset);
            if (!parser.parseHeader(attribute)) {
                attributes << '\n' << _("Invalid Attribute") << '\n';
                break;
            }
            if (attribute.isEnd()) {
                attributes << _("$END") << '\n';
                break;
            }
            const ConstArray view = parser.attribute(attribute);
            writeAttributeHeader(attributes, view);
            if (attribute.resident)
                writeResidentValue(attributes, view);
            else
                writeNonResidentHeader(attributes, view);
            attributes << '\n';
            // At least one fixed header long: the walk moves on.
            offset += attribute.length;
        }
    } catch (const std::out_of_range&) {
        writeBlock(os, "Attributes", attributes.str());
        writeOutOfRange(os);
        return;
    }
    writeBlock(os, "Attributes", attributes.str());
}
