#pragma once

// What the fuzz targets share: a failed expectation is a crash that the fuzzer
// keeps; the input as a source, as little-endian fields, and as a driver; the
// whole walk of a tree with a recoverer that holds every file to the size it
// announced; and the run of a carving module. Every target is linked with
// FuzzSupport.cpp, which silences the log.

#include "cbr/FileModuleRegistry.h"
#include "core/Array.h"
#include "core/Types.h"
#include "devices/Driver.h"
#include "tests/support/FailingReader.h"
#include "tree/ParserRecover.h"
#include "tree/ParserReport.h"
#include "tree/ParserSelect.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace fuzzsupport {

inline void require(bool condition) {
    if (!condition)
        std::abort();
}

// A volume that a boot sector forms may run past the end of a source that was
// copied only in part, but the source holds at least half of it.
inline bool sourceHoldsHalf(u64 startLba, u64 totalSectors, u64 sourceSectors) {
    if (startLba >= sourceSectors)
        return false;
    const u64 held = sourceSectors - startLba;
    return totalSectors <= held || totalSectors - held <= held;
}

inline std::string textOf(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// `n` bytes of input as a source of `size` bytes, zeros past them. A strict
// source takes a request outside it as a fault of the code that asked.
class InputReader : public dt::Reader {
public:
    InputReader(const u8* data, std::size_t n, u64 size, bool strict = true)
        : data_(data), n_(n), strict_(strict) {
        setSize(static_cast<i64>(size));
    }
    InputReader(const u8* data, std::size_t n) : InputReader(data, n, n) {}
    bool read(i64 offset, u8* buffer, i64 size) override {
        const bool inside = dt::rangeInside(offset, size, getSize());
        require(inside || !strict_);
        if (!inside || size <= 0)
            return inside;
        const u64 at = static_cast<u64>(offset);
        const u64 have = at < n_ ? std::min<u64>(n_ - at, static_cast<u64>(size)) : 0;
        std::memset(buffer, 0, static_cast<std::size_t>(size));
        if (have != 0)
            std::memcpy(buffer, data_ + at, have);
        return true;
    }

private:
    const u8* data_;
    std::size_t n_;
    bool strict_;
};

// A driver of 512-byte sectors over the reader, which it takes.
inline SharedPtr<Driver> driverOver(dt::Reader* reader) {
    return SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(reader), 512));
}

// Little-endian fields off the front of the input; zeros once it is used up.
class Fields {
public:
    Fields(const u8* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::size_t at() const { return at_; }
    u64 take(unsigned bytes) {
        u64 v = 0;
        for (unsigned i = 0; i < bytes; ++i, ++at_)
            v |= static_cast<u64>(at_ < size_ ? data_[at_] : 0) << (8 * i);
        return v;
    }
    u8 u8_() { return static_cast<u8>(take(1)); }
    u32 u32_() { return static_cast<u32>(take(4)); }
    u64 u64_() { return take(8); }

private:
    const u8* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Counts what each file brings and checks it against the size it announced.
class SizeCheckingRecoverer : public tree::Recoverer {
public:
    void beginFile(const tree::FileEntry& entry, const std::vector<std::string>&) override {
        clearFileCounts();
        expected_ = entry.getSize();
        written_ = 0;
        fileMade_ = true;
    }
    void write(const void*, u32 size) override {
        written_ += size;
        fileBytes_ = written_;
        require(written_ <= expected_);
    }
    void endFile() override { require(written_ == expected_); }

private:
    u64 expected_ = 0;
    u64 written_ = 0;
};

// The report, the selection of everything and the recovery of every file, as
// the program runs them over a built tree.
inline void walkWhole(tree::Map& map) {
    std::ostringstream report;
    tree::ParserReport(&map, &report, true, nullptr).run();
    tree::ParserSelect(&map, "").run(tree::START_POSITION, true, nullptr);
    SizeCheckingRecoverer sink;
    tree::ParserRecover(&map, &report, &sink, nullptr).run();
}

// The carving modules: byte 0 of the input chooses a module, the rest is both
// the bytes that check() sees and the whole window that analyze() and
// wholeWithin() read. None may crash, hang or ask for a byte outside the
// window, and a file that they accept must lie inside it.

// The program's modules of these names, in this order.
inline std::vector<cbr::FileModule*> modulesNamed(std::initializer_list<const char*> names) {
    static const cbr::FileModuleRegistry registry;
    std::vector<cbr::FileModule*> modules;
    for (const char* name : names) {
        modules.push_back(registry.find(name));
        require(modules.back() != nullptr);
    }
    return modules;
}

// One module over the window, as the carver runs it.
inline void fuzzModule(cbr::FileModule& module, const std::vector<u8>& window) {
    module.check(window.data(), static_cast<u32>(window.size()));
    InputReader reader(window.data(), window.size());
    cbr::FileInfo info;
    if (module.analyze(reader, info)) {
        require(info.getSize() <= window.size());
        require(!info.getType().empty());
        require(info.getStart() == cbr::FileInfo::UNSET);
    }
    cbr::FileInfo whole;
    if (module.wholeWithin(reader, whole))
        require(whole.getSize() <= window.size());

    // A module with a scan memory answers every hit through it as it would
    // afresh: here every sector start of the input is a hit, in order, with a
    // window to the input's end or, where a byte of the input says so, one
    // that ends sooner, as a pattern with a smaller size limit would give.
    std::unique_ptr<cbr::ScanMemory> memory = module.newScanMemory();
    if (!memory)
        return;
    for (std::size_t hit = 0; hit < window.size(); hit += 512) {
        const std::size_t rest = window.size() - hit;
        const std::size_t length = (window[hit] & 1) != 0 ? rest - rest / 4 : rest;
        InputReader reader(window.data() + hit, length);
        cbr::FileInfo remembered, afresh;
        const bool found = module.analyzeInScan(reader, remembered, hit, memory.get());
        require(found == module.analyze(reader, afresh));
        require(!found || (remembered.getSize() == afresh.getSize() &&
                           remembered.getAttributes().bytes() == afresh.getAttributes().bytes()));
    }
}

inline int fuzzModules(const std::vector<cbr::FileModule*>& modules, const std::uint8_t* data,
                       std::size_t size) {
    // An exact copy, so that check reading past the bytes meets the sanitizer.
    if (size >= 1)
        fuzzModule(*modules[data[0] % modules.size()], std::vector<u8>(data + 1, data + size));
    return 0;
}

} // namespace fuzzsupport
