#pragma once

// MFT records as tree entries. The parser loads one file at a time (its base
// record and the extension records its attribute list names), prepares the data
// of an attribute (resident value or run list), reads small values whole,
// chooses the file's name among its $FILE_NAME attributes, builds its node,
// lists a folder's children from its $I30 index, and reads the MFT's own run
// list from record 0.
//
// Everything read from the disk is checked before it is used: a damaged record,
// attribute, run list or index gives a false result and a log line, never an
// exception. Values read whole are limited to 100000 bytes, runs must lie in the
// volume and every index block is read at most once per listing.

#include "core/Types.h"
#include "fs/Bitmap.h"
#include "fs/ntfs/NtfsAttributeData.h"
#include "fs/ntfs/NtfsFileRecordsCache.h"
#include "fs/ntfs/NtfsLayout.h"
#include "fs/ntfs/Runlist.h"
#include "tree/Folder.h"
#include "tree/Node.h"

#include <ostream>
#include <vector>

class NTFSDrive;

// A parsed $FILE_NAME value.
struct FileNameInfo {
    static constexpr u32 NAME_OFFSET = ntfslayout::FN_NAME;

    u64 parent = 0;         // record number of the folder (48 bits of 0x00)
    u16 parentSequence = 0; // and its sequence number (the high 16 bits)
    u64 time = 0;           // 0x10: modification time, 100 ns ticks since 1601
    u64 size = 0;           // 0x30: data size
    u32 flags = 0;          // 0x38: DOS attributes
    u32 nameSpace = 0;      // 0x41: 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    u32 nameLength = 0;     // 0x40: UTF-16 units
    u32 nameOffset = NAME_OFFSET;

    // False (with a log line) for a value too short for its name.
    static bool parse(const ConstArray& value, FileNameInfo& out);
    // The name as UTF-8 (surrogate pairs kept).
    static std::string name(const ConstArray& value, const FileNameInfo& info);
};

// The folder a name of a file puts it in: its record number and the sequence
// number the reference carries.
struct ParentRef {
    u64 record = 0;
    u16 sequence = 0;
};

// Where the names of a file put it.
struct FileLinks {
    ParentRef chosen; // by the name its node took
    // Each further name but a DOS one beside a long one: a hard link.
    std::vector<std::pair<ParentRef, std::string>> more;
};

// How much of the loaded file buildNode made into a node.
enum class NodeBuild {
    NO_NAME, // no usable name: nothing says where the file belongs
    // a file whose data stream does not read, or that has none and is no
    // metadata file of the volume: the node has the size it states
    NO_DATA,
    WHOLE,
};

// One entry of an $ATTRIBUTE_LIST value.
struct AttributeListEntry {
    u32 offset = 0; // of the entry in the value
    u32 type = 0;
    u32 length = 0;
    u32 nameLength = 0;
    u32 nameOffset = 0; // from the entry start
    u64 startingVcn = 0;
    u64 record = 0;   // the reference's record number
    u16 sequence = 0; // and its sequence number
    u16 instance = 0;

    static constexpr u32 MIN_LENGTH = ntfslayout::AL_MIN_LENGTH;
    // Parses the whole value; false (with a log line) at the first bad entry.
    static bool parseList(const ConstArray& value, std::vector<AttributeListEntry>& out);
};

class NtfsFileParser {
public:
    // The most bytes of an attribute value read whole.
    static constexpr u64 MAX_VALUE_SIZE = 100000;
    // Index blocks are 512 bytes to 64 KiB, a power of two.
    static constexpr u32 MIN_INDEX_BLOCK = 512;
    static constexpr u32 MAX_INDEX_BLOCK = 64 * 1024;
    // B+ trees of real folders are a few levels deep; a deeper chain of
    // sub-nodes is damage, and would otherwise take the stack with it.
    static constexpr u32 MAX_INDEX_DEPTH = 64;

    explicit NtfsFileParser(NTFSDrive& drive);
    NtfsFileParser(const NtfsFileParser&) = delete;
    NtfsFileParser& operator=(const NtfsFileParser&) = delete;

    // Loads the base record and its extension records.
    bool loadFile(u64 record);
    // Sets the bit of every extension record of the loaded file that the bitmap
    // holds.
    void markRecords(Bitmap& records) const;
    // The loaded file as a node: chosen name, the parent's record number as its
    // address, size, time and the flags DIRECTORY, DELETED, HAS_UNREADABLE,
    // SYSTEM, link FROM; the time is the standard information's where the
    // record holds one. The node and `links`, when given, where each name of
    // the file puts it, are filled from NO_DATA on.
    NodeBuild buildNode(tree::Node& node, FileLinks* links = nullptr);
    // The loaded file has a readable $I30 index root.
    bool isDirectory();
    // Appends the entries of the loaded folder's $I30 index (link TO, index =
    // position in the listing). False when the listing breaks off; what it
    // listed so far stays.
    bool listFolder(tree::Folder& folder);
    // The unnamed $DATA of the loaded file, prepared once per file.
    bool getData(NtfsAttributeData& data);
    // Whether the loaded file has an unnamed $DATA at all: the system files
    // that keep everything in named streams and indexes have none.
    bool hasUnnamedData() const;
    // Whether the node is one of the volume's metadata files, which may keep
    // everything in named streams and indexes.
    static bool isMetadataFile(const tree::Node& node);
    // Whether a record of the loaded file was torn (NtfsFileRecordsCache).
    bool isTorn() const { return cache_.hasTornRecord(); }
    // The data of an attribute from all its extents (headers in cache order).
    bool prepareAttribute(NtfsAttributeData& data, const std::vector<CachedAttribute>& extents);
    // The whole value of an attribute of at most MAX_VALUE_SIZE bytes.
    bool readAttributeValue(std::vector<u8>& value, const std::vector<CachedAttribute>& extents);
    // The record number field of the loaded base record; all ones when absent.
    u64 storedRecordNumber() const;
    bool isDeleted() const { return deleted_; }
    // The modification time of the standard information; 0 without one.
    u64 standardModificationTime() const;
    // The sequence number of the loaded base record: a reference to it carries
    // this one while it is in use, and the one before once it was deleted.
    u16 sequence() const;
    u64 getCurrentRecord() const { return current_; }

    // The MFT's run list: setting it clears the cache.
    void setMftRunlist(const Runlist& runs);
    const Runlist& getMftRunlist() const { return cache_.getReaderRunlist(); }
    // Reads the MFT's run list from record 0 of the MFT at its start cluster (or
    // the mirror's) and leaves the list it reached as the MFT run list, also when
    // it fails. `recordZeroLoaded` tells whether record 0 was a FILE record.
    bool readMftRunlist(bool mirror, bool* recordZeroLoaded = nullptr);

    // Where the record's first sector lies; all ones when unmapped.
    u64 getRecordLBA(u64 record) const { return cache_.getRecordLBA(record); }
    // Whether the data touches the scan's unreadable sectors.
    bool hasUnreadableData(const NtfsAttributeData& data) const;
    // The record's number, LBA and text dump.
    void dumpRecord(std::ostream& os, u64 record);

    NTFSDrive* getDrive() const { return drive_; }
    NtfsFileRecordsCache& getRecordsCache() { return cache_; }
    const NtfsFileRecordsCache& getRecordsCache() const { return cache_; }

private:
    bool loadFileRecords(u64 record);
    NodeBuild buildNodeFromRecords(tree::Node& node, FileLinks* links);
    // The value of a resident attribute, where its record holds it; false for
    // one that is not resident or whose value header does not hold.
    bool residentValue(const CachedAttribute& attribute, ConstArray& out) const;
    // The size that the header of the data stream's first extent states,
    // where it reads; `otherwise` where it does not.
    u64 statedDataSize(u64 otherwise) const;
    bool readIndexRoot();
    bool readMftRunlistRecords(bool mirror, bool& recordZeroLoaded);
    bool prepareNonResident(NtfsAttributeData& data, std::vector<CachedAttribute> extents);
    // Resets what belongs to the loaded file.
    void forgetFile();

    NTFSDrive* drive_;
    NtfsFileRecordsCache cache_;
    u64 current_ = ~u64{0};
    bool deleted_ = false;
    u64 dataRecord_ = ~u64{0};
    bool dataOk_ = false;
    NtfsAttributeData data_;
    u64 indexRootRecord_ = ~u64{0};
    bool indexRootOk_ = false;
    std::vector<u8> indexRoot_;
};
