#pragma once

// The FILE records of one file: its base record and the extension records that
// its attribute list names, read through the MFT's run list with their fix-ups
// applied, and every attribute header of them in one list (records in load
// order, attributes in on-disk order within a record). It is also the source of
// resident values for the data readers.

#include "core/Array.h"
#include "core/Types.h"
#include "fs/ntfs/DataReader.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/Runlist.h"
#include "fs/ntfs/RunlistReader.h"

#include <unordered_set>
#include <vector>

class NTFSDrive;

// One attribute of a loaded record.
struct CachedAttribute {
    AttributeHeader header;
    u64 record = 0; // the FILE record that holds it
    u32 slot = 0;   // where that record lies in the cache
};

class NtfsFileRecordsCache : public ntfs::RecordSource {
public:
    // A FILE record covers 1, 2, 4 or 8 sectors (its update sequence says so);
    // a volume whose records would be of another size has no MFT to read.
    static bool isRecordSize(u64 sectorsPerRecord);

    // Throws std::runtime_error for a drive whose records are of no such size
    // (callers check isRecordSize first).
    explicit NtfsFileRecordsCache(NTFSDrive& drive);

    // Reads record `record` of the MFT, checks its FILE header, that it belongs
    // to `expectedBase` (0: a base record), applies its fix-ups and appends its
    // attributes. `deleted` says whether it is not in use. False, with a log
    // line, when it cannot be read or checked; a record whose attributes break
    // off stays loaded with those that parsed, and the result is false. A torn
    // record (a sector without the update sequence number) is loaded and
    // counts for hasTornRecord.
    bool loadRecord(u64 record, u64 expectedBase, bool& deleted);
    // Whether a record loaded since the last clear() was torn.
    bool hasTornRecord() const { return torn_; }
    // Whether the record that loadRecord last refused held nothing but zeros:
    // no FILE record was ever written there, or all of it was wiped.
    bool refusedBlank() const { return blank_; }

    // The loaded record's bytes; null when it is not loaded, or std::runtime_error
    // "NtfsFileRecordsCache(142)" when it must be.
    const u8* getRecord(u64 record, bool mustExist) const;
    bool hasRecord(u64 record) const { return getRecord(record, false) != nullptr; }
    // ntfs::RecordSource
    ConstArray getRecordArray(u64 record) const override;

    // Appends to `out` every attribute from `firstIndex` on with that type and
    // name (UTF-16 units; nameLength 0: unnamed).
    void findAttributes(std::vector<CachedAttribute>& out, u32 type, const u16* name,
                        u32 nameLength, u32 firstIndex = 0) const;
    // The attribute's bytes as its record holds them.
    ConstArray attributeBytes(const CachedAttribute& attribute) const;
    // The bytes in use of the record that holds the attribute, where its header
    // was parsed.
    ConstArray attributeArea(const CachedAttribute& attribute) const;

    const std::vector<CachedAttribute>& getAttributes() const { return attributes_; }
    const std::vector<u64>& getRecordNumbers() const { return recordNumbers_; }
    u32 getRecordSize() const { return recordSize_; }
    u64 getSectorsPerRecord() const { return sectorsPerRecord_; }

    // Forgets every record and attribute (the run list stays).
    void clear();

    // The run list through which records are read; the records loaded stay.
    // False (and no record readable) for a list that no reader can walk.
    bool setReaderRunlist(const Runlist& runs);
    const Runlist& getReaderRunlist() const { return reader_.getRunlist(); }
    // How many records the run list holds.
    u64 getRecordCapacity() const;

    // The record as the disk holds it, without checks or fix-ups, into `buffer`
    // (getRecordSize() bytes). False when it cannot be read.
    bool readRawRecord(u64 record, u8* buffer);
    // The LBA of the record's first sector; all ones when it lies in no stored
    // run of the list (or outside the volume).
    u64 getRecordLBA(u64 record) const;

private:
    // The record's first sector in the MFT's data; false when it lies beyond
    // what 64 bits count.
    bool firstSectorOf(u64 record, u64& sector) const;

    RunlistReader reader_;
    u64 sectorsPerRecord_;
    u32 recordSize_;
    // Loaded records back to back; slot i holds recordNumbers_[i].
    std::vector<u8> records_;
    std::vector<u64> recordNumbers_;
    // A record loaded since the last clear() was torn.
    bool torn_ = false;
    bool blank_ = false;
    // The torn records already logged.
    std::unordered_set<u64> tornLogged_;
    std::vector<CachedAttribute> attributes_;
};
