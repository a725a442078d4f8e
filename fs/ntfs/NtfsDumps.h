#pragma once

// NTFS structures as text: run lists for the debug log, and FILE records with
// their attributes for the node information of the NTFS tree. The log and the
// structure view share these writers, so a structure reads the same wherever it
// is shown. Labels are translated; numbers are decimal.
//
// The writers read through bounds-checked views, so a field outside its view
// throws std::out_of_range. writeResidentValue and dumpNtfsFileRecord catch it
// and end their text with an "Out Of Range" line: a damaged record is described
// as far as it goes, never refused.

#include "core/Array.h"
#include "core/Types.h"
#include "fs/ntfs/Runlist.h"

#include <ostream>
#include <string>

struct AttributeListEntry;

// "{lcn, clusters}" with the run's kind when it is not plain.
void writeRun(std::ostream& os, const NtfsRun& run);
// Every run and a blank, then the total of clusters.
void writeRunlist(std::ostream& os, const Runlist& runs);
// writeRunlist into a string, for log lines.
std::string runlistText(const Runlist& runs);

void writeDosAttributes(std::ostream& os, u32 flags);
void writeAttributeType(std::ostream& os, u32 type);
// UTF-16LE bytes as UTF-8.
void writeUtf16Name(std::ostream& os, const ConstArray& units);
void writeFileTime(std::ostream& os, u64 fileTime);
// Four FILETIMEs: creation, modification, MFT modification, access.
void writeFileTimes(std::ostream& os, const ConstArray& times);
// "<title>:\t<record>, Sequence Number:\t<sequence>"; the title (marked
// with N_) is one text, so that a language words it whole ("Parent File
// Reference" is not "Parent" and "File Reference" side by side).
void writeFileReference(std::ostream& os, const char* title, u64 reference);

// The multi-sector header of a record.
void writeRecordHeader(std::ostream& os, const ConstArray& record);
// Views of one attribute, from its first byte.
void writeAttributeHeader(std::ostream& os, const ConstArray& attribute);
void writeNonResidentHeader(std::ostream& os, const ConstArray& attribute);
void writeResidentValue(std::ostream& os, const ConstArray& attribute);

// Views of attribute values.
void writeStandardInformation(std::ostream& os, const ConstArray& value);
void writeFileName(std::ostream& os, const ConstArray& value);
// One entry as AttributeListEntry::parseList found it in the list `value`.
void writeAttributeListEntry(std::ostream& os, const ConstArray& value,
                             const AttributeListEntry& entry);
void writeAttributeList(std::ostream& os, const ConstArray& value);
void writeIndexRoot(std::ostream& os, const ConstArray& value);
// From an index node header; the entries' keys are $FILE_NAME values when the
// index is of type 0x30.
void writeIndexNode(std::ostream& os, const ConstArray& node, u32 indexedType);

// One FILE record as read from the disk: its fix-ups are applied to the bytes in
// place (when they apply) before the header and every attribute are written.
void dumpNtfsFileRecord(std::ostream& os, u8* data, u32 size);
