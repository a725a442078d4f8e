#include "tests/support/FailingReader.h"

#include "core/Log.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace testutil {

MemoryReader::MemoryReader(std::string bytes) : bytes_(std::move(bytes)) {
    setSize(static_cast<i64>(bytes_.size()));
}

bool MemoryReader::read(i64 offset, u8* buffer, i64 size) {
    if (!dt::rangeInside(offset, size, getSize())) {
        logAt("MemoryReader", 1) << ": " << offset << ' ' << size << ' ' << getSize() << '\n';
        return false;
    }
    if (size > 0)
        std::memcpy(buffer, bytes_.data() + offset, static_cast<std::size_t>(size));
    return true;
}

SharedPtr<Driver> openMemoryDriver(const std::string& bytes) {
    return SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(new MemoryReader(bytes)), 512));
}

Driver sizedDriver(u64 sectors) {
    struct Sized : dt::Reader {
        explicit Sized(u64 bytes) { setSize(static_cast<i64>(bytes)); }
        bool read(i64, u8*, i64) override { return false; }
    };
    return Driver(SharedPtr<dt::Reader>(new Sized(sectors * 512)), 512);
}

std::string numberedSectors(u64 sectors) {
    std::string out(sectors * 512, '\0');
    for (u64 lba = 0; lba < sectors; ++lba) {
        for (u64 off = 0; off < 512; off += 4) {
            for (u64 b = 0; b < 4; ++b)
                out[lba * 512 + off + b] = static_cast<char>((lba >> (8 * b)) & 0xFF);
        }
    }
    return out;
}

std::string pattern(std::size_t n, int seed) {
    std::string s(n, '\0');
    u32 x = static_cast<u32>(seed) * 2654435761u + 1;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 23);
    }
    return s;
}

FailingReader::FailingReader(const SharedPtr<dt::Reader>& inner, const std::vector<u64>& badSectors)
    : inner_(inner), bad_(badSectors.begin(), badSectors.end()) {
    setSize(inner_->getSize());
}

bool FailingReader::touchesBadSector(i64 offset, i64 size) const {
    if (offset < 0 || size <= 0)
        return false;
    // Both are non-negative i64, so the last byte fits in u64.
    const u64 first = static_cast<u64>(offset) / SECTOR_SIZE;
    const u64 last = (static_cast<u64>(offset) + static_cast<u64>(size) - 1) / SECTOR_SIZE;
    auto it = bad_.lower_bound(first);
    return it != bad_.end() && *it <= last;
}

bool FailingReader::read(i64 offset, u8* buffer, i64 size) {
    if (touchesBadSector(offset, size)) {
        logAt("FailingReader", 1) << ": " << offset << ' ' << size << '\n';
        requests_.push_back({offset, size, false});
        return false;
    }
    const bool ok = inner_->read(offset, buffer, size);
    requests_.push_back({offset, size, ok});
    return ok;
}

} // namespace testutil
