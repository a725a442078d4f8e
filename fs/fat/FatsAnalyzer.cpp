#include "fs/fat/FatsAnalyzer.h"

#include "core/Array.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "fs/StructureChecks.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// How one copy of a FAT sector describes its clusters.
struct EntryCounts {
    u64 invalid = 0;
    u64 contiguous = 0;
    u64 used = 0;
};

class FatsAnalyzer {
public:
    FatsAnalyzer(Driver* driver, InterfaceCallback* progress)
        : driver_(driver), progress_(progress), sectorSize_(driver->getSectorSize()),
          sectorsPerRead_(
              driver->getProperties().getUInt64(PROP_SECTORS, FAT_ANALYSIS_DEFAULT_PIECE)) {
        // A track size of 0 would never advance through a chunk.
        if (sectorsPerRead_ == 0)
            sectorsPerRead_ = FAT_ANALYSIS_DEFAULT_PIECE;
    }

    void run(Bitmap& out, const FAT_FS_PARAMS& params);

private:
    // count sectors from lba in pieces of at most sectorsPerRead_; a piece that
    // cannot be read becomes zeros. Polls after every piece.
    void readSectors(u64 lba, u64 count, u8* buffer);
    void showDifferences(u64 count);
    EntryCounts countEntries(const u8* chunk, u64 chunkBytes, u64 chunkFirstEntry, u64 first,
                             u64 last) const;

    Driver* driver_;
    InterfaceCallback* progress_;
    u64 sectorSize_;
    u64 sectorsPerRead_;
    FatType width_ = FAT32;
    u64 limit_ = 0;
};

void FatsAnalyzer::readSectors(u64 lba, u64 count, u8* buffer) {
    while (count > 0) {
        const u64 piece = std::min(sectorsPerRead_, count);
        if (!driver_->readSectors(lba, piece, buffer)) {
            std::memset(buffer, 0, static_cast<std::size_t>(piece * sectorSize_));
            logAt("FatsAnalyzer", 61) << ": " << lba << ' ' << count << '\n';
        }
        lba += piece;
        count -= piece;
        buffer += piece * sectorSize_;
        if (progress_)
            progress_->poll();
    }
}

void FatsAnalyzer::showDifferences(u64 count) {
    if (progress_)
        progress_->setText(InterfaceCallback::TEXT_MAIN,
                           std::to_string(count) + " " + _("sectors differ in FAT and FAT Mirror"));
}

EntryCounts FatsAnalyzer::countEntries(const u8* chunk, u64 chunkBytes, u64 chunkFirstEntry,
                                       u64 first, u64 last) const {
    const ConstArray view(chunk, static_cast<u32>(chunkBytes));
    const u64 entryBytes = width_ == FAT12 ? 0 : width_ == FAT16 ? 2 : 4;
    EntryCounts counts;
    for (u64 n = first; n < last; ++n) {
        const u64 index = n - chunkFirstEntry;
        // An entry whose bytes the chunk does not hold is not judged.
        const u64 endByte = entryBytes == 0 ? index * 3 / 2 + 2 : (index + 1) * entryBytes;
        if (endByte > chunkBytes)
            break;
        const u32 v = getFatEntry(width_, static_cast<u32>(index), view, 0);
        if (v == 0)
            continue;
        // Any cluster of the volume is a link, cluster 2 (the next one of a
        // fragmented file) and those numbered as reserved values (a volume
        // filled to its last clusters) alike.
        if (v >= 2 && v < limit_) {
            ++counts.used;
            if (v == n + 1)
                ++counts.contiguous;
            continue;
        }
        const u32 x = widenedFatEntry(width_, v);
        if (x == 0xFFFFFFF8u || x == 0xFFFFFFFFu)
            ++counts.used;
        else
            ++counts.invalid;
    }
    return counts;
}

void FatsAnalyzer::run(Bitmap& out, const FAT_FS_PARAMS& params) {
    // A single FAT has no copy to hold any sector better.
    if (params.hasOneFat())
        return;
    width_ = params.fatType();
    limit_ = static_cast<u64>(params.get_cluster_count()) + 2;
    if (sectorSize_ == 0 || sectorSize_ > 4096) {
        logAt("FatsAnalyzer", 117) << ": sector size " << sectorSize_ << '\n';
        return;
    }
    const u64 chunkBytes = FAT_ANALYSIS_CHUNK * sectorSize_;
    std::vector<u8> fat(static_cast<std::size_t>(chunkBytes));
    std::vector<u8> mirror(static_cast<std::size_t>(chunkBytes));
    u64 differing = 0;
    showDifferences(differing);

    // A FAT12 numbers at most 4,084 clusters, whose entries lie in the FAT's
    // first 12 sectors, in the first chunk whole: its entry pairs never
    // straddle two chunks, and what a FAT padded past them (large clusters or
    // sectors) holds further on is no entry to judge.
    const u64 total = params.sectorsPerFAT;
    for (u64 chunkStart = 0; chunkStart < total; chunkStart += FAT_ANALYSIS_CHUNK) {
        const u64 count = std::min(FAT_ANALYSIS_CHUNK, total - chunkStart);
        readSectors(params.fatLBA + chunkStart, count, fat.data());
        readSectors(params.fatMirrLBA + chunkStart, count, mirror.data());
        const u64 perSector = width_ == FAT16 ? sectorSize_ / 2 : sectorSize_ / 4;
        const u64 chunkFirstEntry = width_ == FAT12 ? 0 : perSector * chunkStart;
        const u64 heldBytes = count * sectorSize_;
        for (u64 i = 0; i < count; ++i) {
            const u64 offset = i * sectorSize_;
            if (std::memcmp(fat.data() + offset, mirror.data() + offset,
                            static_cast<std::size_t>(sectorSize_)) == 0)
                continue;
            showDifferences(++differing);
            const u64 s = chunkStart + i;
            u64 first = 0;
            u64 last = 0;
            if (width_ == FAT12) {
                first = 2 * (sectorSize_ * s / 3);
                last = 2 * (sectorSize_ * (s + 1) / 3);
            } else {
                first = perSector * s;
                last = perSector * (s + 1);
            }
            first = std::max<u64>(first, 2);
            bool lastSector = false;
            if (limit_ < last) {
                last = limit_;
                lastSector = true;
            }
            if (first < last) {
                const EntryCounts f =
                    countEntries(fat.data(), heldBytes, chunkFirstEntry, first, last);
                const EntryCounts m =
                    countEntries(mirror.data(), heldBytes, chunkFirstEntry, first, last);
                const bool takeMirror =
                    m.invalid < f.invalid ||
                    (m.invalid == f.invalid && (f.contiguous < m.contiguous ||
                                                (f.contiguous == m.contiguous && f.used < m.used)));
                if (takeMirror && s < out.size())
                    out.set(s, true);
            }
            if (lastSector)
                return;
        }
    }
}

} // namespace

void analyzeFats(Bitmap& out, Driver* driver, const FAT_FS_PARAMS& params,
                 InterfaceCallback* progress) {
    FatsAnalyzer(driver, progress).run(out, params);
}
