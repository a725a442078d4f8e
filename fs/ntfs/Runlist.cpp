#include "fs/ntfs/Runlist.h"

#include "core/Log.h"

#include <algorithm>

u64 getRunlistClusters(const Runlist& runs) {
    u64 total = 0;
    for (const NtfsRun& r : runs)
        total += r.clusters;
    return total;
}

bool RunlistParser::decodePair(MappingPair& pair, const u8* data, u32 bytesLeft) {
    if (bytesLeft == 0) {
        logAt("RunlistParser", 87) << '\n';
        return false;
    }
    const ConstArray bytes(data, bytesLeft);
    const u8 header = bytes.getU8(0);
    const u32 lengthSize = header & 0x0F;
    const u32 offsetSize = header >> 4;
    const u32 size = 1 + lengthSize + offsetSize;
    if (size > bytesLeft) {
        logAt("RunlistParser", 88) << ": pair of " << size << " bytes in " << bytesLeft << '\n';
        return false;
    }
    if (offsetSize > 8 || lengthSize > 8) {
        logAt("RunlistParser", 90) << '\n';
        return false;
    }
    u64 clusters = 0;
    for (u32 i = lengthSize; i-- > 0;)
        clusters = clusters << 8 | bytes.getU8(1 + i);
    if (clusters == 0) {
        logAt("RunlistParser", 99) << '\n';
        return false;
    }
    u64 offset = 0;
    bool backwards = false;
    if (offsetSize != 0) {
        const u32 first = 1 + lengthSize;
        for (u32 i = offsetSize; i-- > 0;)
            offset = offset << 8 | bytes.getU8(first + i);
        // The top bit of the field's last byte is the sign: the step back is
        // the two's complement of the field extended to 64 bits.
        backwards = (bytes.getU8(first + offsetSize - 1) & 0x80) != 0;
        if (backwards) {
            if (offsetSize < 8)
                offset |= ~u64{0} << (8 * offsetSize);
            offset = 0 - offset;
        }
    }
    pair.size = static_cast<u8>(size);
    pair.offsetSize = static_cast<u8>(offsetSize);
    pair.lcnStep = offset;
    pair.backwards = backwards;
    pair.clusters = clusters;
    return true;
}

bool RunlistParser::parse(const u8* data, u32 length) {
    // Every array's first offset counts from cluster 0.
    currentLcn_ = 0;
    const u64 lcnLimit = std::min(MAX_CLUSTERS, volumeClusters_);
    u32 pos = 0;
    for (;;) {
        if (pos >= length) {
            logAt("RunlistParser", 30) << '\n';
            return false;
        }
        if (data[pos] == 0) {
            // A sparse run stays pending: it may go on at the start of the next
            // extent's array.
            if (pending_ && pendingPair_.offsetSize != 0) {
                storePending();
                pending_ = false;
            }
            return true;
        }
        MappingPair pair;
        if (!decodePair(pair, data + pos, length - pos)) {
            logAt("RunlistParser", 35) << '\n';
            return false;
        }
        u64 lcn = 0;
        if (pair.offsetSize != 0) {
            // The offset may move back; it must not move before cluster 0, past
            // the largest list or, when known, past the volume.
            const u64 step = pair.lcnStep;
            bool inside;
            if (pair.backwards) {
                inside = step <= currentLcn_;
                lcn = currentLcn_ - step;
            } else {
                inside = step <= lcnLimit - currentLcn_;
                lcn = currentLcn_ + step;
            }
            if (!inside || lcn > lcnLimit || pair.clusters > lcnLimit - lcn) {
                logAt("RunlistParser", 36)
                    << ": lcn " << currentLcn_ << (pair.backwards ? " back " : " on ")
                    << pair.lcnStep << " clusters " << pair.clusters << " limit " << lcnLimit
                    << '\n';
                return false;
            }
            currentLcn_ = lcn;
        }
        if (!addPair(pair, lcn)) {
            logAt("RunlistParser", 41) << '\n';
            return false;
        }
        pos += pair.size;
    }
}

bool RunlistParser::finish() {
    if (!pending_)
        return true;
    if (!storePending()) {
        logAt("RunlistParser", 75) << '\n';
        return false;
    }
    pending_ = false;
    return true;
}

bool RunlistParser::addPair(const MappingPair& pair, u64 lcn) {
    // Bounds VCN space, so that no sum of run lengths can wrap.
    if (pair.clusters > MAX_CLUSTERS - getParsedClusters()) {
        logAt("RunlistParser", 205)
            << ": clusters " << pair.clusters << " after " << getParsedClusters() << '\n';
        return false;
    }
    const bool sparse = pair.offsetSize == 0;
    bool joins = false;
    if (pending_) {
        const bool pendingSparse = pendingPair_.offsetSize == 0;
        // A stored pair joins when it starts on the cluster after the previous one.
        joins = (sparse && pendingSparse) || (!sparse && !pendingSparse && !pair.backwards &&
                                              pair.lcnStep == previousPairClusters_);
    }
    if (joins) {
        pendingPair_.clusters += pair.clusters;
    } else {
        if (pending_ && !storePending()) {
            logAt("RunlistParser", 216) << '\n';
            return false;
        }
        pending_ = true;
        pendingPair_ = pair;
        pendingLcn_ = lcn;
    }
    previousPairClusters_ = pair.clusters;
    return true;
}

bool RunlistParser::storePending() {
    const u64 clusters = pendingPair_.clusters;
    if (pendingPair_.offsetSize != 0) {
        runs_.push_back(NtfsRun{pendingLcn_, clusters, clusters});
    } else {
        const u64 p = vcnTotal_ % NTFS_COMPRESSION_UNIT_CLUSTERS;
        if (!compressed_ || p == 0) {
            runs_.push_back(NtfsRun{currentLcn_, clusters, 0});
        } else {
            // The sparse clusters complete a compression unit whose first p
            // clusters hold its compressed form.
            const u64 rest = NTFS_COMPRESSION_UNIT_CLUSTERS - p;
            if (clusters < rest) {
                logAt("RunlistParser", 126)
                    << ": " << clusters << " sparse clusters after " << p << '\n';
                return false;
            }
            if (!markCompressedUnit(p)) {
                logAt("RunlistParser", 128) << '\n';
                return false;
            }
            if (clusters > rest)
                runs_.push_back(NtfsRun{currentLcn_, clusters - rest, 0});
        }
    }
    vcnTotal_ += clusters;
    return true;
}

bool RunlistParser::markCompressedUnit(u64 storedClusters) {
    // Find the runs that hold the unit before changing any of them, so that a
    // unit that cannot be formed leaves the list as it was.
    u64 toClaim = storedClusters;
    std::size_t first = runs_.size();
    bool found = false;
    while (first > 0) {
        --first;
        const NtfsRun& r = runs_[first];
        if (!r.isPlain()) {
            logAt("RunlistParser", 170) << '\n';
            return false;
        }
        if (r.storedClusters >= toClaim) {
            found = true;
            break;
        }
        toClaim -= r.storedClusters;
    }
    if (!found) {
        logAt("RunlistParser", 177) << '\n';
        return false;
    }
    for (std::size_t i = first + 1; i < runs_.size(); ++i)
        runs_[i].clusters = 0;
    NtfsRun& head = runs_[first];
    if (head.storedClusters > toClaim) {
        // The run holds the end of the unit before this one and the start of
        // this unit: split it where the unit begins.
        const u64 keep = head.storedClusters - toClaim;
        const NtfsRun piece{head.lcn + keep, 0, toClaim};
        head.clusters = keep;
        head.storedClusters = keep;
        runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(first) + 1, piece);
    } else {
        head.clusters = 0;
    }
    runs_.back().clusters = NTFS_COMPRESSION_UNIT_CLUSTERS;
    return true;
}
