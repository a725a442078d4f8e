#pragma once

// Streams the whole data of one attribute, resident or not, to a sink in pieces
// of at most 16 clusters, so that recovering a file needs one piece of memory
// whatever its size. Sectors that cannot be read arrive as the "(unreadable)"
// pattern, sector by sector, so the rest of the file still arrives and it keeps
// its length; the result then says that something was missing.
//
// BufferDataReader copies into memory, RecovererDataReader hands the pieces to
// a tree::Recoverer.

#include "core/Array.h"
#include "core/Ownership.h"
#include "core/Types.h"
#include "fs/ntfs/NtfsAttributeData.h"
#include "fs/ntfs/RunlistReader.h"

#include <vector>

class NTFSDrive;

namespace tree {
class Recoverer;
}

namespace ntfs {

// Where resident values are read from: the FILE records loaded for the current
// file, with their fix-ups applied.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    // The whole record; throws std::runtime_error when it is not loaded.
    virtual ConstArray getRecordArray(u64 record) const = 0;
};

class BaseDataReader {
public:
    // `records` may be null for a reader that only meets non-resident data.
    BaseDataReader(NTFSDrive& drive, const RecordSource* records);
    BaseDataReader(const BaseDataReader&) = delete;
    BaseDataReader& operator=(const BaseDataReader&) = delete;
    virtual ~BaseDataReader();

    // Streams the value through write(): exactly data.size bytes, in order. True
    // when every sector was read. A resident value needs its record loaded in
    // the record source (std::runtime_error otherwise; std::out_of_range when
    // the value does not lie in it). A non-resident size that its runs do not
    // cover is refused before anything is written. A cancel throws
    // InterruptedException.
    bool read(const NtfsAttributeData& data);

    // Receives the pieces; a piece never exceeds 16 clusters.
    virtual void write(const u8* data, u32 length) = 0;
    // Receives a stretch of zeros that no cluster holds (sparse runs, and what
    // lies past the initialized size) in one go. This body writes it as pieces
    // of zeros, polling between them.
    virtual void writeZeros(u64 length);

    NTFSDrive& getDrive() const { return *drive_; }
    RunlistReader& getRunlistReader() { return reader_; }

    // Whether any sector that holds the data lies in the scan's unreadable
    // sectors: the value's sectors inside its record (`recordLba`, the record's
    // first sector; all ones when unmapped) or every sector its runs store.
    static bool hasUnreadableData(const NTFSDrive& drive, const NtfsAttributeData& data,
                                  u64 recordLba);

private:
    bool readNonResident(const NtfsAttributeData& data);
    // The sectors of the data that read as zeros without a cluster: [first, end).
    struct Zeros {
        u64 first;
        u64 end;
    };
    std::vector<Zeros> zerosOf(const NtfsAttributeData& data) const;

    NTFSDrive* drive_;
    const RecordSource* records_;
    RunlistReader reader_;
    u64 sectorSize_;
    u64 chunkSectors_;
    ScopedArray<u8> chunk_;
    u64 chunkCapacity_ = 0;
};

// Copies into a buffer of the caller's.
class BufferDataReader : public BaseDataReader {
public:
    // The destination holds `capacity` bytes; streaming more throws
    // std::runtime_error (the caller sizes it from the attribute).
    BufferDataReader(NTFSDrive& drive, const RecordSource* records, u8* destination, u64 capacity);

    void write(const u8* data, u32 length) override;
    // Bytes written so far.
    u64 getWritten() const { return written_; }

private:
    u8* destination_;
    u64 capacity_;
    u64 written_ = 0;
};

// Hands the data to the recoverer set before each file.
class RecovererDataReader : public BaseDataReader {
public:
    RecovererDataReader(NTFSDrive& drive, const RecordSource* records);

    void setRecoverer(tree::Recoverer* recoverer) { recoverer_ = recoverer; }
    tree::Recoverer* getRecoverer() const { return recoverer_; }
    // Throw std::runtime_error when no recoverer is set.
    void write(const u8* data, u32 length) override;
    // The recoverer leaves a hole.
    void writeZeros(u64 length) override;

private:
    tree::Recoverer& target() const;

    tree::Recoverer* recoverer_ = nullptr;
};

} // namespace ntfs
