#include "devices/BlockDeviceReader.h"

#include "core/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace dt {

BlockDeviceReader::BlockDeviceReader() : BlockDeviceReader(platform::BlockDeviceFactory()) {}

BlockDeviceReader::BlockDeviceReader(platform::BlockDeviceFactory factory)
    : factory_(factory ? std::move(factory) : platform::BlockDeviceFactory([] {
          return platform::createSystemBlockDevice();
      })) {}

BlockDeviceReader::~BlockDeviceReader() = default;

bool BlockDeviceReader::open(const char* path, bool readOnly) {
    const char* shown = path ? path : "";
    std::unique_ptr<platform::BlockDevice> device = factory_();
    if (!device->open(shown, readOnly)) {
        // A write-mode open that the system refuses because someone else holds
        // the device: we do not unmount it, we give up.
        if (!readOnly && device->lastError() == EBUSY)
            logAt("BlockDeviceReader", 91)
                << ": " << shown << ' ' << device->lastErrorText() << '\n';
        else
            logAt("BlockDeviceReader", 67)
                << ": " << shown << ' ' << device->lastErrorText() << '\n';
        return false;
    }
    u64 size = 0, sectorSize = 0;
    if (!getDeviceSize(*device, size, sectorSize) || size > static_cast<u64>(INT64_MAX)) {
        logAt("BlockDeviceReader", 86) << ": " << shown << '\n';
        return false;
    }
    platform::AlignedBuffer cache;
    if (sectorSize > SIZE_MAX / CACHE_SECTORS || !cache.allocate(CACHE_SECTORS * sectorSize)) {
        logAt("BlockDeviceReader", 97) << '\n';
        return false;
    }
    device_ = std::move(device);
    cache_ = std::move(cache);
    Reader::setSize(static_cast<i64>(size));
    Writer::setSize(static_cast<i64>(size));
    sectorSize_ = sectorSize;
    cacheCapacity_ = CACHE_SECTORS * sectorSize;
    cacheLength_ = 0;
    cacheStart_ = 0;
    cacheBad_ = 0;
    badRuns_.clear();
    return true;
}

bool BlockDeviceReader::read(i64 offset, u8* buffer, i64 n) {
    if (offset < 0 || n < 0) {
        logAt("BlockDeviceReader", 55) << ": " << offset << ' ' << n << '\n';
        return false;
    }
    u64 off = static_cast<u64>(offset), left = static_cast<u64>(n);
    u64 copied = copyFromCache(off, buffer, left);
    off += copied;
    buffer += copied;
    left -= copied;
    while (left > 0) {
        if (!fillCache(off)) {
            logAt("BlockDeviceReader", 128) << ": " << off << '\n';
            return false;
        }
        copied = copyFromCache(off, buffer, left);
        if (copied == 0) {
            logAt("BlockDeviceReader", 133) << ": " << off << ' ' << left << '\n';
            return false;
        }
        off += copied;
        buffer += copied;
        left -= copied;
    }
    return true;
}

u64 BlockDeviceReader::copyFromCache(u64 offset, u8* buffer, u64 n) {
    if (cacheLength_ == 0 || offset < cacheStart_ || offset - cacheStart_ >= cacheLength_)
        return 0;
    const u64 pos = offset - cacheStart_;
    const u64 first = pos / sectorSize_;
    if (cacheBad_ & (u64(1) << first))
        return 0;
    u64 available = cacheLength_ - pos;
    // Good bytes end where the next unreadable sector of the window begins.
    const u64 badAfter = cacheBad_ >> first;
    if (badAfter != 0) {
        u64 next = first;
        while ((cacheBad_ & (u64(1) << next)) == 0)
            ++next;
        available = std::min(available, next * sectorSize_ - pos);
    }
    const u64 count = std::min(available, n);
    std::memcpy(buffer, cache_.data() + pos, count);
    return count;
}

bool BlockDeviceReader::fillCache(u64 offset) {
    if (sectorSize_ == 0) {
        logAt("BlockDeviceReader", 183) << ": " << offset << '\n';
        return false;
    }
    const u64 size = static_cast<u64>(Reader::getSize());
    const u64 start = offset / sectorSize_ * sectorSize_;
    if (start >= size) {
        logAt("BlockDeviceReader", 185) << ": " << start << ' ' << size << '\n';
        return false;
    }
    const u64 sector = start / sectorSize_;
    // A sector that failed once is not read again: on a dying disk every retry
    // costs time and can cost the disk.
    if (isKnownBad(sector)) {
        logAt("BlockDeviceReader", 188) << ": " << start << '\n';
        return false;
    }
    u64 length = std::min(cacheCapacity_, size - start);
    const u64 nextBad = firstKnownBadFrom(sector);
    if (nextBad != ~u64(0))
        length = std::min(length, (nextBad - sector) * sectorSize_);

    if (readAt(start, cache_.data(), length)) {
        cacheStart_ = start;
        cacheLength_ = length;
        cacheBad_ = 0;
        return true;
    }
    logAt("BlockDeviceReader", 192) << ": " << start << ' ' << length << '\n';
    cacheStart_ = start;
    cacheLength_ = length;
    refillBySector();
    return (cacheBad_ & 1) == 0;
}

// One bad sector must not take the 63 good ones of its window with it: the
// retry reader above asks sector by sector and has to get every readable one.
void BlockDeviceReader::refillBySector() {
    cacheBad_ = 0;
    const u64 sectors = cacheLength_ / sectorSize_;
    u64 bad = 0;
    for (u64 i = 0; i < sectors; ++i) {
        const u64 at = cacheStart_ + i * sectorSize_;
        if (!readAt(at, cache_.data() + i * sectorSize_, sectorSize_)) {
            cacheBad_ |= u64(1) << i;
            rememberBad(at / sectorSize_);
            ++bad;
        }
    }
    logAt("BlockDeviceReader", 195) << ": " << cacheStart_ << ' ' << sectors << ' ' << bad << '\n';
}

bool BlockDeviceReader::readAt(u64 offset, u8* buffer, u64 n) {
    std::size_t done = 0;
    if (!device_->readAt(offset, buffer, static_cast<std::size_t>(n), done)) {
        logAt("BlockDeviceReader", 229)
            << ": " << offset << ' ' << n << ' ' << done << ' ' << device_->lastErrorText() << '\n';
        return false;
    }
    return true;
}

bool BlockDeviceReader::write(i64 offset, const u8* buffer, i64 n) {
    if (sectorSize_ == 0 || offset < 0 || n < 0 || static_cast<u64>(offset) % sectorSize_ != 0 ||
        static_cast<u64>(n) % sectorSize_ != 0 || static_cast<u64>(n) > cacheCapacity_) {
        logAt("BlockDeviceReader", 151)
            << ": " << offset << ' ' << n << ' ' << sectorSize_ << ' ' << cacheCapacity_ << '\n';
        return false;
    }
    std::memcpy(cache_.data(), buffer, static_cast<std::size_t>(n));
    cacheLength_ = 0;
    cacheBad_ = 0;
    std::size_t done = 0;
    if (!device_->writeAt(static_cast<u64>(offset), cache_.data(), static_cast<std::size_t>(n),
                          done)) {
        logAt("BlockDeviceReader", 167)
            << ": " << offset << ' ' << n << ' ' << done << ' ' << device_->lastErrorText() << '\n';
        return false;
    }
    // A sector that took a write holds data again (the drive may have remapped it).
    forgetBad(static_cast<u64>(offset) / sectorSize_, static_cast<u64>(n) / sectorSize_);
    return true;
}

bool BlockDeviceReader::isKnownBad(u64 sector) const {
    auto it = badRuns_.upper_bound(sector);
    return it != badRuns_.begin() && sector < std::prev(it)->second;
}

u64 BlockDeviceReader::firstKnownBadFrom(u64 sector) const {
    if (isKnownBad(sector))
        return sector;
    auto it = badRuns_.upper_bound(sector);
    return it == badRuns_.end() ? ~u64(0) : it->first;
}

void BlockDeviceReader::rememberBad(u64 sector) {
    if (isKnownBad(sector))
        return;
    // Kept as runs so that a dead stretch of disk costs one entry, not millions.
    u64 first = sector, end = sector + 1;
    auto next = badRuns_.find(end);
    if (next != badRuns_.end()) {
        end = next->second;
        badRuns_.erase(next);
    }
    auto it = badRuns_.lower_bound(sector);
    if (it != badRuns_.begin() && std::prev(it)->second == sector) {
        std::prev(it)->second = end;
        return;
    }
    badRuns_[first] = end;
}

void BlockDeviceReader::forgetBad(u64 first, u64 count) {
    const u64 end = first + count;
    auto it = badRuns_.upper_bound(first);
    if (it != badRuns_.begin())
        --it;
    while (it != badRuns_.end() && it->first < end) {
        const u64 runFirst = it->first, runEnd = it->second;
        if (runEnd <= first) {
            ++it;
            continue;
        }
        it = badRuns_.erase(it);
        if (runFirst < first)
            badRuns_[runFirst] = first;
        if (runEnd > end)
            badRuns_[end] = runEnd;
    }
}

bool getDeviceSize(platform::BlockDevice& device, u64& size, u64& sectorSize) {
    u64 bytes = 0, sector = 0;
    if (!device.querySize(bytes, sector)) {
        logAt("BlockDeviceReader", 31) << ": " << device.lastErrorText() << '\n';
        return false;
    }
    size = bytes;
    sectorSize = sector;
    if (size != 0 && sectorSize != 0 && size % sectorSize == 0)
        return true;
    logAt("BlockDeviceReader", 57) << ": " << size << ' ' << sectorSize << '\n';
    return false;
}

bool canLockVolume(const char* path) {
    return canLockVolume(
        path, platform::BlockDeviceFactory([] { return platform::createSystemBlockDevice(); }));
}

bool canLockVolume(const char* path, const platform::BlockDeviceFactory& factory) {
    std::unique_ptr<platform::BlockDevice> device = factory();
    if (!device->open(path ? path : "", false)) {
        logAt("BlockDeviceReader", 73)
            << ": " << (path ? path : "") << ' ' << device->lastErrorText() << '\n';
        return false;
    }
    return true; // the device goes out of scope here, which releases it
}

} // namespace dt
