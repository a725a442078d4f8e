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
#include <memory>
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
    const bool found = module.analyze(reader, info);
    if (found) {
        require(info.getSize() <= window.size());
        require(!info.getType().empty());
        require(info.getStart() == cbr::FileInfo::UNSET);
    }

    // A module with a scan memory answers a later hit through it as it would
    // afresh: here the whole input is an earlier hit at 0, and the bytes from
    // the next sector start on a later one.
    std::unique_ptr<cbr::ScanMemory> memory = module.newScanMemory();
    if (memory && window.size() > 512) {
        cbr::FileInfo first, later, afresh;
        module.analyzeInScan(reader, first, 0, memory.get());
        StrictReader rest(window.data() + 512, window.size() - 512);
        const bool remembered = module.analyzeInScan(rest, later, 512, memory.get());
        require(remembered == module.analyze(rest, afresh));
        require(!remembered || (later.getSize() == afresh.getSize() &&
                                later.getAttributes().bytes() == afresh.getAttributes().bytes()));
    }
    return 0;
}

} // namespace fuzzsupport
