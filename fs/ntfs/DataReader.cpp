#include "fs/ntfs/DataReader.h"

#include "core/Checked.h"
#include "core/Log.h"
#include "devices/UnreadableSectors.h"
#include "fs/ntfs/NTFSDrive.h"
#include "tree/Recoverer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace ntfs {

BaseDataReader::BaseDataReader(NTFSDrive& drive, const RecordSource* records)
    : drive_(&drive), records_(records), reader_(drive), sectorSize_(drive.getSectorSize()),
      chunkSectors_(NTFS_COMPRESSION_UNIT_CLUSTERS * drive.getSectorsPerCluster()) {}

BaseDataReader::~BaseDataReader() = default;

bool BaseDataReader::read(const NtfsAttributeData& data) {
    if (!data.resident)
        return readNonResident(data);
    if (records_ == nullptr)
        throw std::runtime_error("BaseDataReader(29)");
    const ConstArray record = records_->getRecordArray(data.recordNumber);
    // A size beyond 32 bits cannot lie in a record: the view refuses it.
    const u32 size = static_cast<u32>(std::min<u64>(data.size, ~u32{0}));
    const ConstArray value(record, data.valueOffset, size);
    write(value.data(), value.length());
    return true;
}

std::vector<BaseDataReader::Zeros> BaseDataReader::zerosOf(const NtfsAttributeData& data) const {
    std::vector<Zeros> zeros;
    const u64 perCluster = drive_->getSectorsPerCluster();
    u64 sector = 0;
    for (const NtfsRun& r : data.runs) {
        // The reader took the list, so these products do not overflow.
        const u64 sectors = r.clusters * perCluster;
        if (r.isSparse()) {
            if (!zeros.empty() && zeros.back().end == sector)
                zeros.back().end += sectors;
            else
                zeros.push_back(Zeros{sector, sector + sectors});
        }
        sector += sectors;
    }
    if (data.initializedSize != RunlistReader::ALL_INITIALIZED) {
        // The sector holding the initialized end is read and cut by the reader.
        const u64 from = ceilDiv(data.initializedSize, sectorSize_);
        while (!zeros.empty() && zeros.back().first >= from)
            zeros.pop_back();
        if (!zeros.empty() && zeros.back().end >= from)
            zeros.back().end = ~u64{0};
        else
            zeros.push_back(Zeros{from, ~u64{0}});
    }
    return zeros;
}

void BaseDataReader::writeZeros(u64 length) {
    const u64 piece = std::min(length, chunkCapacity_);
    std::memset(chunk_.get(), 0, static_cast<std::size_t>(piece));
    for (u64 left = length; left > 0;) {
        const u64 n = std::min(left, piece);
        write(chunk_.get(), static_cast<u32>(n));
        left -= n;
        if (left > 0)
            drive_->poll();
    }
}

bool BaseDataReader::readNonResident(const NtfsAttributeData& data) {
    reader_.setRunlist(data.runs, data.initializedSize);
    // The file parser makes sure of this; without it a damaged size would have
    // us stream patterns for as long as 64 bits reach.
    if (ceilDiv(data.size, sectorSize_) > reader_.getSectorCount()) {
        logAt("BaseDataReader", 42) << ": size " << data.size << " passes the "
                                    << reader_.getSectorCount() << " sectors of the runs\n";
        return false;
    }
    u64 sectorsLeft = ceilDiv(data.size, sectorSize_);
    u64 bytesLeft = data.size;
    u64 sector = 0;
    bool ok = true;
    // A small value needs no piece of 16 clusters.
    const u64 capacity = std::min(chunkSectors_, sectorsLeft) * sectorSize_;
    if (chunkCapacity_ < capacity) {
        chunk_.reset(new u8[static_cast<std::size_t>(capacity)]);
        chunkCapacity_ = capacity;
    }
    u8* const chunk = chunk_.get();
    // Zeros that no cluster holds go to writeZeros whole: a sparse file of
    // terabytes costs what its data costs.
    const std::vector<Zeros> zeros = zerosOf(data);
    auto zero = zeros.begin();
    while (sectorsLeft > 0) {
        // Sparse stretches never reach the drive, whose reads poll.
        drive_->poll();
        while (zero != zeros.end() && zero->end <= sector)
            ++zero;
        const bool inZeros = zero != zeros.end() && zero->first <= sector;
        u64 pieceSectors = std::min(sectorsLeft, inZeros ? zero->end - sector : chunkSectors_);
        if (!inZeros && zero != zeros.end())
            pieceSectors = std::min(pieceSectors, zero->first - sector);
        const u64 pieceBytes = std::min(bytesLeft, pieceSectors * sectorSize_);
        if (inZeros) {
            writeZeros(pieceBytes);
        } else {
            if (!reader_.read(sector, pieceSectors, chunk)) {
                if (pieceSectors < 2) {
                    fillUnreadablePattern(chunk, pieceBytes);
                    ok = false;
                } else {
                    for (u64 i = 0; i < pieceSectors; ++i) {
                        u8* at = chunk + i * sectorSize_;
                        if (!reader_.read(sector + i, 1, at)) {
                            fillUnreadablePattern(at, sectorSize_);
                            ok = false;
                        }
                    }
                }
            }
            write(chunk, static_cast<u32>(pieceBytes));
        }
        sector += pieceSectors;
        sectorsLeft -= pieceSectors;
        bytesLeft -= pieceBytes;
    }
    return ok;
}

bool BaseDataReader::hasUnreadableData(const NTFSDrive& drive, const NtfsAttributeData& data,
                                       u64 recordLba) {
    const u64 sectorSize = drive.getSectorSize();
    if (data.size == 0)
        return false;
    if (data.resident) {
        if (recordLba == ~u64{0})
            return false;
        // A value lies inside its record; a size that says otherwise is cut at
        // 64 bits rather than wrapped around.
        const u64 lastByte = saturatingAdd(data.valueOffset, data.size - 1);
        const u64 first = data.valueOffset / sectorSize;
        const u64 last = lastByte / sectorSize;
        return drive.isUnreadable(recordLba + first, last - first + 1);
    }
    const u64 spc = drive.getSectorsPerCluster();
    u64 sectorsLeft = ceilDiv(data.size, sectorSize);
    for (const NtfsRun& r : data.runs) {
        if (sectorsLeft == 0)
            break;
        const u64 n = std::min(sectorsLeft, saturatingMul(r.clusters, spc));
        u64 lba = ~u64{0};
        u64 count = 0;
        if (r.isPlain()) {
            count = n;
        } else if (r.isCompressed()) {
            // The whole unit is decompressed from all its stored clusters.
            count = saturatingMul(r.storedClusters, spc);
        }
        if (count != 0 && drive.isClusterValid(r.lcn))
            lba = drive.getClusterLBA(r.lcn);
        if (lba != ~u64{0} && drive.isUnreadable(lba, count))
            return true;
        sectorsLeft -= n;
    }
    return false;
}

BufferDataReader::BufferDataReader(NTFSDrive& drive, const RecordSource* records, u8* destination,
                                   u64 capacity)
    : BaseDataReader(drive, records), destination_(destination), capacity_(capacity) {}

void BufferDataReader::write(const u8* data, u32 length) {
    if (length > capacity_ - written_)
        throw std::runtime_error("BufferDataReader(132)");
    if (length != 0)
        std::memcpy(destination_ + written_, data, length);
    written_ += length;
}

RecovererDataReader::RecovererDataReader(NTFSDrive& drive, const RecordSource* records)
    : BaseDataReader(drive, records) {}

tree::Recoverer& RecovererDataReader::target() const {
    if (recoverer_ == nullptr)
        throw std::runtime_error("RecovererDataReader(143)");
    return *recoverer_;
}

void RecovererDataReader::write(const u8* data, u32 length) {
    target().write(data, length);
}

void RecovererDataReader::writeZeros(u64 length) {
    target().writeZeros(length);
}

} // namespace ntfs
