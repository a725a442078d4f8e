#include "tests/cbr/CarvingLayouts.h"

#include "core/Array.h"

#include <stdexcept>

namespace corpus {

namespace {

constexpr u64 SECTOR = 512;

} // namespace

DiskImage& DiskImage::other(const std::string& bytes) {
    bytes_ += bytes;
    bytes_.resize((bytes_.size() + SECTOR - 1) / SECTOR * SECTOR, '\0');
    return *this;
}

DiskImage& DiskImage::whole(const Sample& file) {
    whole_.push_back({file.label, bytes_.size(), file.bytes.size(), file.module, file.type});
    return other(file.bytes);
}

DiskImage& DiskImage::holding(const Sample& inner, u64 at) {
    if (whole_.empty())
        throw std::invalid_argument("no file holds " + inner.label);
    const Placed& outer = whole_.back();
    if (at > outer.size || inner.bytes.size() > outer.size - at ||
        bytes_.compare(outer.start + at, inner.bytes.size(), inner.bytes) != 0)
        throw std::invalid_argument(outer.label + " does not hold " + inner.label + " at " +
                                    std::to_string(at));
    whole_.push_back({inner.label, outer.start + at, inner.bytes.size(), inner.module, inner.type});
    return *this;
}

DiskImage& DiskImage::cut(const Sample& file, u64 sectors) {
    if (sectors * SECTOR >= file.bytes.size())
        throw std::invalid_argument(file.label + " has no more than " + std::to_string(sectors) +
                                    " sectors");
    return other(file.bytes.substr(0, sectors * SECTOR));
}

DiskImage& DiskImage::split(const Sample& outer, u64 sectors, const Sample& inner) {
    cut(outer, sectors);
    whole(inner);
    return other(outer.bytes.substr(sectors * SECTOR));
}

DiskImage& DiskImage::zeros(u64 sectors) {
    bytes_.append(sectors * SECTOR, '\0');
    return *this;
}

std::string interruptedRecording(const Sample& movie, u64 sectors) {
    const std::string& m = movie.bytes;
    const u8* bytes = reinterpret_cast<const u8*>(m.data());
    const u64 cut = sectors * SECTOR;
    for (u64 p = 0; p + 8 <= m.size() && p + 8 <= cut;) {
        const u64 size = getBE32(bytes, p);
        if (m.compare(p + 4, 4, "moov") == 0)
            break; // a recording writes its movie atom last
        if (m.compare(p + 4, 4, "mdat") == 0 && p + size > cut)
            return m.substr(0, p) + std::string(4, '\0') + m.substr(p + 4, cut - p - 4);
        if (size < 8)
            break;
        p += size;
    }
    throw std::invalid_argument(movie.label + " has no media data after its first atoms that " +
                                std::to_string(sectors) + " sectors would cut");
}

} // namespace corpus
