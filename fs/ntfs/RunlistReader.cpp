#include "fs/ntfs/RunlistReader.h"

#include "core/Array.h"
#include "core/Checked.h"
#include "core/Log.h"
#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/NTFSDrive.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

constexpr u64 MAX_BYTES = u64{1} << 63;

} // namespace

RunlistReader::RunlistReader(NTFSDrive& drive)
    : drive_(&drive), sectorSize_(drive.getSectorSize()),
      sectorsPerCluster_(drive.getSectorsPerCluster()),
      clusterBytes_(sectorSize_ * sectorsPerCluster_),
      unitSectors_(NTFS_COMPRESSION_UNIT_CLUSTERS * sectorsPerCluster_),
      unitBytes_(sectorSize_ * unitSectors_) {}

bool RunlistReader::validate(const Runlist& runs) const {
    if (runs.size() >= NO_CHAIN)
        return false;
    u64 clusters = 0;
    u64 unitStored = 0;
    bool inUnit = false;
    for (const NtfsRun& r : runs) {
        if (r.isCompressed()) {
            // Chain pieces and the last piece of one unit hold at most its 16
            // clusters between them.
            if (r.storedClusters > NTFS_COMPRESSION_UNIT_CLUSTERS - unitStored)
                return false;
            unitStored += r.storedClusters;
            inUnit = r.clusters == 0;
            if (!inUnit)
                unitStored = 0;
        } else if (inUnit || !(r.isPlain() || r.isSparse())) {
            return false;
        }
        if (!checkedAdd(clusters, r.clusters, clusters))
            return false;
    }
    if (inUnit)
        return false;
    u64 bytes = 0;
    return checkedMul(clusters, clusterBytes_, bytes) && bytes <= MAX_BYTES;
}

bool RunlistReader::setRunlist(const Runlist& runs, u64 initializedBytes) {
    reset();
    initializedBytes_ = initializedBytes;
    if (!validate(runs)) {
        logAt("RunlistReader", 40)
            << ": a list of " << runs.size() << " runs that no reader can walk\n";
        runs_.clear();
        totalSectors_ = 0;
        return false;
    }
    runs_ = runs;
    totalSectors_ = getRunlistClusters(runs_) * sectorsPerCluster_;
    return true;
}

void RunlistReader::reset() {
    runStartVcn_ = 0;
    runIndex_ = 0;
    chainStart_ = NO_CHAIN;
    cachedUnitStart_ = NO_UNIT;
    cachedUnitSectors_ = 0;
}

bool RunlistReader::findRun(u64 vcn, u64& runStartVcn, u32& runIndex, u32& chainStart) const {
    for (; runIndex < runs_.size(); ++runIndex) {
        const NtfsRun& r = runs_[runIndex];
        if (r.clusters == 0) {
            if (chainStart == NO_CHAIN)
                chainStart = runIndex;
            continue;
        }
        if (runStartVcn <= vcn && vcn - runStartVcn < r.clusters)
            return true;
        runStartVcn += r.clusters;
        chainStart = NO_CHAIN;
    }
    return false;
}

u64 RunlistReader::getSectorLBA(u64 sector) const {
    const u64 vcn = sector / sectorsPerCluster_;
    u64 start = 0;
    u32 index = 0;
    u32 chain = NO_CHAIN;
    if (!findRun(vcn, start, index, chain) || !runs_[index].isPlain())
        return ~u64{0};
    const u64 lcn = runs_[index].lcn + (vcn - start);
    if (!drive_->isClusterValid(lcn))
        return ~u64{0};
    return drive_->getClusterLBA(lcn) + sector % sectorsPerCluster_;
}

bool RunlistReader::read(u64 sector, u64 count, u8* destination) {
    if (count == 0)
        return true;
    if (sector > totalSectors_ || count > totalSectors_ - sector) {
        logAt("RunlistReader", 60)
            << ": sectors " << sector << " + " << count << " of " << totalSectors_ << '\n';
        return false;
    }
    if (initializedBytes_ == ALL_INITIALIZED)
        return readInitialized(sector, count, destination);
    // What lies from the initialized size on was never written: zeros, read
    // from nowhere. The sector that holds the boundary is read, then cut.
    const u64 end = sector + count;
    const u64 initializedEnd = std::min(end, ceilDiv(initializedBytes_, sectorSize_));
    if (sector < initializedEnd && !readInitialized(sector, initializedEnd - sector, destination))
        return false;
    const u64 zeroFrom = std::max(sector, initializedEnd);
    std::memset(destination + (zeroFrom - sector) * sectorSize_, 0,
                static_cast<std::size_t>((end - zeroFrom) * sectorSize_));
    const u64 partial = initializedBytes_ % sectorSize_;
    const u64 boundary = initializedBytes_ / sectorSize_;
    if (partial != 0 && sector <= boundary && boundary < initializedEnd)
        std::memset(destination + (boundary - sector) * sectorSize_ + partial, 0,
                    static_cast<std::size_t>(sectorSize_ - partial));
    return true;
}

bool RunlistReader::readInitialized(u64 sector, u64 count, u8* destination) {
    if (!serveFromCache(sector, count, destination)) {
        logAt("RunlistReader", 50) << '\n';
        return false;
    }
    if (count == 0)
        return true;
    u64 vcn = sector / sectorsPerCluster_;
    if (vcn < runStartVcn_)
        reset();
    while (count != 0) {
        if (!findRun(vcn, runStartVcn_, runIndex_, chainStart_)) {
            logAt("RunlistReader", 61) << ": VCN " << vcn << '\n';
            return false;
        }
        const NtfsRun& r = runs_[runIndex_];
        const u64 end = runStartVcn_ + r.clusters;
        if (r.isCompressed()) {
            loadUnit(runStartVcn_ * sectorsPerCluster_);
            if (!serveFromCache(sector, count, destination)) {
                logAt("RunlistReader", 70) << '\n';
                return false;
            }
        } else {
            const u64 n = std::min(count, end * sectorsPerCluster_ - sector);
            if (r.isSparse()) {
                std::memset(destination, 0, static_cast<std::size_t>(n * sectorSize_));
            } else {
                // The parser refuses runs past the volume it is told of, but a
                // list may come from elsewhere: never read beyond the volume.
                if (!drive_->areClustersValid(r.lcn, r.storedClusters) ||
                    !drive_->readSectors(drive_->getClusterLBA(r.lcn) + sector -
                                             runStartVcn_ * sectorsPerCluster_,
                                         n, destination)) {
                    logAt("RunlistReader", 85) << '\n';
                    return false;
                }
            }
            count -= n;
            sector += n;
            destination += n * sectorSize_;
        }
        vcn = end;
    }
    return true;
}

bool RunlistReader::serveFromCache(u64& sector, u64& count, u8*& destination) {
    if (cachedUnitStart_ == NO_UNIT || sector < cachedUnitStart_ ||
        sector - cachedUnitStart_ >= unitSectors_)
        return true;
    const u64 k = sector - cachedUnitStart_;
    const u64 n = std::min(unitSectors_ - k, count);
    if (k + n > cachedUnitSectors_) {
        logAt("RunlistReader", 200) << '\n';
        return false;
    }
    std::memcpy(destination, unitCache_.get() + k * sectorSize_,
                static_cast<std::size_t>(n * sectorSize_));
    sector += n;
    count -= n;
    destination += n * sectorSize_;
    return true;
}

void RunlistReader::loadUnit(u64 firstSector) {
    if (unitCache_.get() == nullptr) {
        unitCache_.reset(new u8[static_cast<std::size_t>(unitBytes_)]());
        unitStored_.reset(new u8[static_cast<std::size_t>(unitBytes_)]());
    }
    const u32 first = chainStart_ == NO_CHAIN ? runIndex_ : chainStart_;
    u64 stored = 0;
    for (u32 i = first; i <= runIndex_; ++i) {
        const NtfsRun& r = runs_[i];
        // setRunlist keeps every unit within its 16 clusters.
        if (r.storedClusters > NTFS_COMPRESSION_UNIT_CLUSTERS - stored)
            throw std::runtime_error("RunlistReader(144)");
        if (!drive_->readClusters(r.lcn, unitStored_.get() + stored * clusterBytes_,
                                  r.storedClusters * sectorsPerCluster_)) {
            // Decompress what was read: the chunks before the gap are good.
            logAt("RunlistReader", 148) << '\n';
            break;
        }
        stored += r.storedClusters;
    }
    u64 produced = 0;
    if (stored > 0) {
        u32 srcPos = 0;
        u32 dstPos = 0;
        const Array output(unitCache_.get(), static_cast<u32>(unitBytes_));
        const ConstArray input(unitStored_.get(), static_cast<u32>(stored * clusterBytes_));
        if (!decompressLznt1(output, dstPos, input, srcPos))
            logAt("RunlistReader", 167) << ": srcPos: " << srcPos << ", dstPos: " << dstPos << '\n';
        produced = dstPos;
        const u64 tail = produced % sectorSize_;
        if (tail != 0) {
            std::memset(unitCache_.get() + produced, 0,
                        static_cast<std::size_t>(sectorSize_ - tail));
            produced += sectorSize_ - tail;
        }
    }
    cachedUnitStart_ = firstSector;
    cachedUnitSectors_ = produced / sectorSize_;
}
