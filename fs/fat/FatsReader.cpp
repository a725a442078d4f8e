#include "fs/fat/FatsReader.h"

#include "core/Array.h"
#include "fs/StructureChecks.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

// 1024 FAT12 entries take exactly three sectors, so no entry straddles two
// windows.
constexpr u32 FAT12_WINDOW_SECTORS = 3;
constexpr u32 FAT12_WINDOW_ENTRIES = 1024;

} // namespace

FatsReader::FatsReader(Driver* driver, const FAT_FS_PARAMS& params, const Bitmap& mirrorSectors)
    : driver_(driver), params_(params), mirrorSectors_(mirrorSectors), entryLimit_(0),
      tableLimit_(0), fatType_(fatTypeBySectorsPerFat(params.sectorsPerFAT)) {
    if (driver_ == nullptr || driver_->getSectorSize() != SECTOR_BYTES ||
        (fatType_ != FAT12 && fatType_ != FAT16 && fatType_ != FAT32))
        throw std::runtime_error("FatsReader(24)");
    entryLimit_ = params_.get_cluster_count() + 2;
    // The entries the FAT's sectors hold, up to the first value that no longer
    // links to a cluster.
    const u64 entries =
        fatType_ == FAT12 ? u64{params_.sectorsPerFAT} * FAT12_WINDOW_ENTRIES / FAT12_WINDOW_SECTORS
                          : u64{params_.sectorsPerFAT} * fatEntriesPerSector(fatType_);
    const u64 linkable = fatType_ == FAT12 ? 0xFF0 : fatType_ == FAT16 ? 0xFFF0 : 0x0FFFFFF0;
    tableLimit_ = static_cast<u32>(std::max<u64>(entryLimit_, std::min(entries, linkable)));
    windowBytes_ = (fatType_ == FAT12 ? FAT12_WINDOW_SECTORS : 1) * SECTOR_BYTES;
    window_.reset(new u8[windowBytes_]);
}

bool FatsReader::fromMirror(u64 sector) const {
    // Marks beyond the Bitmap (a caller that made it short) mean the first FAT.
    return sector < mirrorSectors_.size() && mirrorSectors_.test(sector);
}

void FatsReader::readSectors(u64 first, u64 count, u8* buffer) {
    while (count > 0) {
        const bool mirror = fromMirror(first);
        u64 run = 1;
        while (run < count && fromMirror(first + run) == mirror)
            ++run;
        const u64 lba = static_cast<u64>(mirror ? params_.fatMirrLBA : params_.fatLBA) + first;
        if (!driver_->readSectors(lba, run, buffer))
            std::memset(buffer, 0, static_cast<std::size_t>(run * SECTOR_BYTES));
        first += run;
        count -= run;
        buffer += run * SECTOR_BYTES;
    }
}

void FatsReader::load(u64 first, u64 count) {
    if (windowStart_ == first)
        return;
    readSectors(first, count, window_.get());
    windowStart_ = first;
}

u32 FatsReader::getEntry(u32 cluster) {
    if (!isValidCluster(cluster))
        return 0;
    const bool fat12 = fatType_ == FAT12;
    const u32 perWindow = fat12 ? FAT12_WINDOW_ENTRIES : fatEntriesPerSector(fatType_);
    const u64 windowSectors = fat12 ? FAT12_WINDOW_SECTORS : 1;
    const u64 start = windowSectors * (cluster / perWindow);
    const u32 index = cluster % perWindow;
    // The entry's last byte would lie past the FAT's last sector.
    const u64 entryEnd = fat12 ? index * 3 / 2 + 2 : (index + 1) * (SECTOR_BYTES / perWindow);
    if (start * SECTOR_BYTES + entryEnd > u64{params_.sectorsPerFAT} * SECTOR_BYTES)
        return 0;
    load(start, std::min<u64>(params_.sectorsPerFAT - start, windowSectors));
    return getFatEntry(fatType_, index, ConstArray(window_.get(), windowBytes_), 0);
}

ClusterType FatsReader::getClusterType(u32 entry) const {
    return classifyChainEntry(fatType_, entry);
}
