#pragma once

// What the fuzz targets of the carving modules share: byte 0 of the input
// chooses a module, the rest is both the bytes that check() sees and the whole
// window that analyze() reads. Neither may crash, hang or ask for a byte outside
// the window, and a file that analyze() accepts must lie inside it.

#include "cbr/FileModule.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace fuzzsupport {

// A window over the input that treats any request outside it as a fault of
// the module rather than a read that may fail.
class StrictReader : public dt::Reader {
public:
    StrictReader(const u8* data, std::size_t size) : data_(data) {
        setSize(static_cast<i64>(size));
    }
    bool read(i64 offset, u8* buffer, i64 size) override {
        require(dt::rangeInside(offset, size, getSize()));
        if (size > 0)
            std::memcpy(buffer, data_ + offset, static_cast<std::size_t>(size));
        return true;
    }

private:
    const u8* data_;
};

template <std::size_t N>
int fuzzModules(cbr::FileModule* const (&modules)[N], const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    cbr::FileModule& module = *modules[data[0] % N];
    // An exact copy, so that check reading past the bytes meets the sanitizer.
    const std::vector<u8> window(data + 1, data + size);
    module.check(window.data(), static_cast<u32>(window.size()));

    StrictReader reader(window.data(), window.size());
    cbr::FileInfo info;
    if (module.analyze(reader, info)) {
        require(info.getSize() <= window.size());
        require(!info.getType().empty());
        require(info.getStart() == cbr::FileInfo::UNSET);
    }
    return 0;
}

} // namespace fuzzsupport
