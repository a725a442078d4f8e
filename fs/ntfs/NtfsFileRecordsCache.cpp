#include "fs/ntfs/NtfsFileRecordsCache.h"

#include "core/Checked.h"
#include "core/Log.h"
#include "fs/ntfs/NTFSDrive.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

NtfsFileRecordsCache::NtfsFileRecordsCache(NTFSDrive& drive)
    : reader_(drive), sectorsPerRecord_(drive.getSectorsPerFileRecord()),
      recordSize_(static_cast<u32>(sectorsPerRecord_ * drive.getSectorSize())) {
    if (!isRecordSize(sectorsPerRecord_))
        throw std::runtime_error("NtfsFileRecordsCache(12)");
    records_.reserve(10 * static_cast<std::size_t>(recordSize_));
}

bool NtfsFileRecordsCache::isRecordSize(u64 sectorsPerRecord) {
    return sectorsPerRecord == 1 || sectorsPerRecord == 2 || sectorsPerRecord == 4 ||
           sectorsPerRecord == 8;
}

bool NtfsFileRecordsCache::firstSectorOf(u64 record, u64& sector) const {
    return checkedMul(record, sectorsPerRecord_, sector);
}

bool NtfsFileRecordsCache::loadRecord(u64 record, u64 expectedBase, bool& deleted) {
    const std::size_t at = records_.size();
    const u32 slot = static_cast<u32>(recordNumbers_.size());
    records_.resize(at + recordSize_);
    u8* bytes = records_.data() + at;
    // The slot is taken back unless the record gets loaded.
    bool keep = false;
    struct Release {
        std::vector<u8>& records;
        std::size_t at;
        bool& keep;
        ~Release() {
            if (!keep)
                records.resize(at);
        }
    } release{records_, at, keep};

    blank_ = false;
    u64 sector = 0;
    if (!firstSectorOf(record, sector) || !reader_.read(sector, sectorsPerRecord_, bytes)) {
        logAt("NtfsFileRecordsCache", 96) << ": " << record << '\n';
        return false;
    }
    NtfsFileRecordParser parser(ConstArray(bytes, recordSize_));
    FileRecordHeader header;
    if (!parser.checkFileHeader(header)) {
        blank_ = std::all_of(bytes, bytes + recordSize_, [](u8 b) { return b == 0; });
        logAt("NtfsFileRecordsCache", 67) << '\n';
        return false;
    }
    if (header.baseRecord != expectedBase) {
        logAt("NtfsFileRecordsCache", 70) << ": " << header.baseRecord << '\n';
        return false;
    }
    u32 torn = 0;
    if (!NtfsRecordParser::applyFixupsOfTorn(Array(bytes, recordSize_), torn)) {
        logAt("NtfsFileRecordsCache", 75) << '\n';
        return false;
    }
    // A record torn by a power loss still holds its file: it is read, and its
    // file told apart, for the user to check. Said once, however often the
    // record is loaded again.
    if (torn != 0 && tornLogged_.insert(record).second)
        logAt("NtfsFileRecordsCache", 80)
            << ": record " << record << " is torn: " << torn << " of "
            << recordSize_ / NTFS_RECORD_SECTOR << " sectors lack its update sequence number\n";
    keep = true;
    recordNumbers_.push_back(record);
    torn_ = torn_ || torn != 0;
    NtfsAttributeWalk walk(parser.attributeArea(header),
                           static_cast<u32>(header.firstAttributeOffset));
    CachedAttribute attribute;
    attribute.record = record;
    attribute.slot = slot;
    for (;;) {
        switch (walk.next(attribute.header)) {
        case NtfsAttributeWalk::ATTRIBUTE:
            attributes_.push_back(attribute);
            continue;
        case NtfsAttributeWalk::END:
            deleted = !header.inUse;
            return true;
        case NtfsAttributeWalk::INVALID:
            logAt("NtfsFileRecordsCache", 83) << '\n';
            return false;
        }
    }
}

const u8* NtfsFileRecordsCache::getRecord(u64 record, bool mustExist) const {
    for (std::size_t i = 0; i < recordNumbers_.size(); ++i) {
        if (recordNumbers_[i] == record)
            return records_.data() + i * recordSize_;
    }
    if (mustExist)
        throw std::runtime_error("NtfsFileRecordsCache(142)");
    return nullptr;
}

ConstArray NtfsFileRecordsCache::getRecordArray(u64 record) const {
    return ConstArray(getRecord(record, true), recordSize_);
}

void NtfsFileRecordsCache::findAttributes(std::vector<CachedAttribute>& out, u32 type,
                                          const u16* name, u32 nameLength, u32 firstIndex) const {
    for (std::size_t i = firstIndex; i < attributes_.size(); ++i) {
        const CachedAttribute& a = attributes_[i];
        if (a.header.type != type || a.header.nameLength != nameLength)
            continue;
        if (nameLength != 0) {
            const ConstArray units = NtfsAttributeParser(attributeArea(a)).name(a.header);
            bool same = true;
            for (u32 k = 0; k < nameLength && same; ++k)
                same = units.getLE16(2 * k) == name[k];
            if (!same)
                continue;
        }
        out.push_back(a);
    }
}

ConstArray NtfsFileRecordsCache::attributeArea(const CachedAttribute& attribute) const {
    const ConstArray record(
        records_.data() + static_cast<std::size_t>(attribute.slot) * recordSize_, recordSize_);
    // The bytes in use were checked against the record when it was loaded.
    return ConstArray(record, 0, record.getLE32(ntfslayout::FILE_BYTES_IN_USE));
}

ConstArray NtfsFileRecordsCache::attributeBytes(const CachedAttribute& attribute) const {
    return NtfsAttributeParser(attributeArea(attribute)).attribute(attribute.header);
}

void NtfsFileRecordsCache::clear() {
    records_.clear();
    recordNumbers_.clear();
    torn_ = false;
    attributes_.clear();
}

bool NtfsFileRecordsCache::setReaderRunlist(const Runlist& runs) {
    return reader_.setRunlist(runs);
}

u64 NtfsFileRecordsCache::getRecordCapacity() const {
    return reader_.getSectorCount() / sectorsPerRecord_;
}

bool NtfsFileRecordsCache::readRawRecord(u64 record, u8* buffer) {
    u64 sector = 0;
    return firstSectorOf(record, sector) && reader_.read(sector, sectorsPerRecord_, buffer);
}

u64 NtfsFileRecordsCache::getRecordLBA(u64 record) const {
    u64 sector = 0;
    if (!firstSectorOf(record, sector))
        return ~u64{0};
    return reader_.getSectorLBA(sector);
}
