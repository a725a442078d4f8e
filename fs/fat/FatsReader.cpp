#include "fs/fat/FatsReader.h"

#include "core/Array.h"
#include "fs/StructureChecks.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

// 1024 FAT12 entries take exactly three sectors, so no entry straddles two
// windows.
constexpr u32 FAT12_WINDOW_SECTORS = 3;
constexpr u32 FAT12_WINDOW_ENTRIES = 1024;
// A pass over the whole FAT reads this many windows at once.
constexpr u64 PASS_WINDOWS = 256;

} // namespace

FatsReader::FatsReader(Driver* driver, const FAT_FS_PARAMS& params, const Bitmap& mirrorSectors)
    : driver_(driver), params_(params), mirrorSectors_(mirrorSectors), entryLimit_(0),
      tableLimit_(0), fatType_(params.fatType()) {
    if (driver_ == nullptr || driver_->getSectorSize() != SECTOR_BYTES || !params.isValid())
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

bool FatsReader::readSectors(u64 first, u64 count, u8* buffer) {
    bool whole = true;
    while (count > 0) {
        const bool mirror = fromMirror(first);
        u64 run = 1;
        while (run < count && fromMirror(first + run) == mirror)
            ++run;
        const u64 lba = static_cast<u64>(mirror ? params_.fatMirrLBA : params_.fatLBA) + first;
        if (!driver_->readSectors(lba, run, buffer)) {
            for (u64 s = 0; s < run; ++s) {
                if (!readSector(first + s, mirror, buffer + s * SECTOR_BYTES))
                    whole = false;
            }
        }
        first += run;
        count -= run;
        buffer += run * SECTOR_BYTES;
    }
    return whole;
}

bool FatsReader::readSector(u64 sector, bool mirror, u8* buffer) {
    for (bool fromMirror : {mirror, !mirror}) {
        if (fromMirror && params_.hasOneFat())
            continue;
        const u64 lba = static_cast<u64>(fromMirror ? params_.fatMirrLBA : params_.fatLBA);
        if (driver_->readSectors(lba + sector, 1, buffer))
            return true;
    }
    std::memset(buffer, 0, SECTOR_BYTES);
    if (!unknownSectors_)
        unknownSectors_ = std::make_unique<Bitmap>(params_.sectorsPerFAT);
    if (sector < unknownSectors_->size())
        unknownSectors_->set(sector, true);
    return false;
}

void FatsReader::load(u64 first, u64 count) {
    if (windowStart_ == first)
        return;
    readSectors(first, count, window_.get());
    windowStart_ = first;
}

u64 FatsReader::entryEnd(u32 index) const {
    return fatType_ == FAT12 ? u64{index} * 3 / 2 + 2
                             : (u64{index} + 1) * (SECTOR_BYTES / fatEntriesPerSector(fatType_));
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
    if (start * SECTOR_BYTES + entryEnd(index) > u64{params_.sectorsPerFAT} * SECTOR_BYTES)
        return 0;
    load(start, std::min<u64>(params_.sectorsPerFAT - start, windowSectors));
    return getFatEntry(fatType_, index, ConstArray(window_.get(), windowBytes_), 0);
}

bool FatsReader::isUnknown(u32 cluster) {
    // The window that holds the entry is read, so that its sectors are known to
    // read or not.
    getEntry(cluster);
    if (!unknownSectors_ || !isValidCluster(cluster))
        return false;
    // Only a FAT12 entry, of a byte and a half, may straddle two sectors.
    const u64 last = entryEnd(cluster) - 1;
    const u64 first = fatType_ == FAT12 ? last - 1 : last;
    for (u64 sector : {first / SECTOR_BYTES, last / SECTOR_BYTES}) {
        if (sector < unknownSectors_->size() && unknownSectors_->test(sector))
            return true;
    }
    return false;
}

void FatsReader::forEachEntry(const std::function<void(u32, u32)>& visit) {
    const bool fat12 = fatType_ == FAT12;
    const u32 perWindow = fat12 ? FAT12_WINDOW_ENTRIES : fatEntriesPerSector(fatType_);
    const u64 windowSectors = fat12 ? FAT12_WINDOW_SECTORS : 1;
    std::vector<u8> piece(static_cast<std::size_t>(PASS_WINDOWS * windowSectors * SECTOR_BYTES));
    const u64 fatSectors = params_.sectorsPerFAT;
    for (u64 start = 0; start < fatSectors; start += PASS_WINDOWS * windowSectors) {
        const u64 first = start / windowSectors * perWindow;
        if (first >= entryLimit_)
            return;
        const u64 sectors = std::min(PASS_WINDOWS * windowSectors, fatSectors - start);
        // Where the piece does not read whole, each sector is read apart, so
        // that one bad sector costs no more entries than its own.
        readSectors(start, sectors, piece.data());
        const ConstArray bytes(piece.data(), static_cast<u32>(sectors * SECTOR_BYTES));
        const u64 end = std::min<u64>(entryLimit_, first + PASS_WINDOWS * perWindow);
        for (u64 cluster = std::max<u64>(first, 2); cluster < end; ++cluster) {
            const u32 index = static_cast<u32>(cluster - first);
            // Windows hold whole entries, so the piece holds them as one window.
            if (start * SECTOR_BYTES + entryEnd(index) > fatSectors * SECTOR_BYTES)
                return;
            visit(static_cast<u32>(cluster), getFatEntry(fatType_, index, bytes, 0));
        }
    }
}

ClusterType FatsReader::getClusterType(u32 entry) const {
    // A volume filled to its last clusters numbers them as the FAT's reserved
    // values read (FAT12 of 4,083 clusters has a cluster 0xFF0): whatever
    // names a cluster of this volume is a link.
    if (entry >= 2 && entry < entryLimit_)
        return NEXT_CLUSTER;
    return classifyChainEntry(fatType_, entry);
}
