#include "analysis/SectorsCollector.h"

#include "core/Log.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

std::runtime_error failure(int event) {
    return std::runtime_error("SectorsCollector(" + std::to_string(event) + ")");
}

} // namespace

SectorsCollector::SectorsCollector(u32 windowSectors, u32 lookAheadSectors, u32 sectorSize)
    : windowSectors_(windowSectors), lookAheadSectors_(lookAheadSectors), sectorSize_(sectorSize) {
    if (windowSectors == 0 || sectorSize == 0)
        throw failure(20);
    const u64 bytes = (static_cast<u64>(windowSectors) + lookAheadSectors) * sectorSize;
    // A sector with everything after it must stay addressable by a u32 byte count.
    if (bytes > 0xFFFFFFFFu)
        throw failure(24);
    buffer_.reset(new u8[bytes]);
}

void SectorsCollector::processBuffered() {
    const u8* first = bufferEnd() - static_cast<u64>(bufferedCount_) * sectorSize_;
    for (u32 i = 0; i < bufferedCount_; ++i)
        processSector(first + static_cast<u64>(i) * sectorSize_, bufferedLba_ + i,
                      bufferedCount_ - i);
}

void SectorsCollector::flush() {
    processBuffered();
    bufferedLba_ += bufferedCount_;
    bufferedCount_ = 0;
}

void SectorsCollector::addSectors(u64 lba, u32 count) {
    addSectorsAt(lba, bufferEnd(), count);
}

void SectorsCollector::addSectorsAt(u64 lba, u8* sectors, u32 count) {
    if (count > windowSectors_) {
        logAt("SectorsCollector", 42) << ": " << count << ' ' << windowSectors_ << '\n';
        throw failure(43);
    }
    const u64 waiting = static_cast<u64>(bufferedCount_) * sectorSize_;
    u8* at = sectors;
    u64 first = lba;
    u32 n = count;
    if (bufferedLba_ + bufferedCount_ == lba) {
        // The block continues the waiting sectors: they now see it after them.
        at = sectors - waiting;
        if (sectors != bufferEnd())
            std::memcpy(at, bufferEnd() - waiting, static_cast<std::size_t>(waiting));
        first = bufferedLba_;
        n = bufferedCount_ + count;
    } else {
        processBuffered();
    }
    for (; n > lookAheadSectors_; --n, ++first, at += sectorSize_)
        processSector(at, first, n);
    // The tail waits just before bufferEnd() for the block that continues it.
    const u64 tail = static_cast<u64>(n) * sectorSize_;
    std::memmove(bufferEnd() - tail, at, static_cast<std::size_t>(tail));
    bufferedLba_ = first;
    bufferedCount_ = n;
}
