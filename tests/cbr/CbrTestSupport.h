#pragma once

// What the tests of the signature table, the scanner and the carved tree share:
// modules whose answers a test scripts, disk images laid out sector by sector,
// a callback that keeps every file reported, and a scan with the program's own
// table and modules.

#include "cbr/FileInfo.h"
#include "cbr/FileModule.h"
#include "cbr/FileModuleRegistry.h"
#include "cbr/PatternsFile.h"
#include "cbr/Scanner.h"
#include "core/Array.h"
#include "tests/support/FailingReader.h"

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace cbrtest {

// A module that counts its calls and answers as the test says: by default every
// check passes and every analysis fails.
class StubModule : public cbr::FileModule {
public:
    using Check = std::function<bool(const u8*, u32)>;
    using Analyze = std::function<bool(dt::Reader&, cbr::FileInfo&)>;

    bool check(const u8* sector, u32 size) override {
        ++checks;
        return onCheck ? onCheck(sector, size) : true;
    }
    bool analyze(dt::Reader& file, cbr::FileInfo& info) override {
        ++analyses;
        windowSizes.push_back(file.getSize());
        return onAnalyze ? onAnalyze(file, info) : false;
    }

    bool wholeWithin(dt::Reader& file, cbr::FileInfo& info) override {
        return onWholeWithin ? onWholeWithin(file, info) : false;
    }

    Check onCheck;
    Analyze onAnalyze;
    Analyze onWholeWithin;
    int checks = 0;
    int analyses = 0;
    std::vector<i64> windowSizes;
};

// An analysis that takes the little-endian u32 at byte 4 of the window as the
// file's size, and gives the type; false when that size passes the window.
inline StubModule::Analyze sizeAtByte4(const std::string& type) {
    return [type](dt::Reader& file, cbr::FileInfo& info) {
        u8 head[8];
        if (!file.read(0, head, sizeof head))
            return false;
        const u32 size = getLE32(head, 4);
        if (size > file.getSize())
            return false;
        info.clear();
        info.setType(type);
        info.setSize(size);
        return true;
    };
}

// A registry holding one stub under a name; the stub stays reachable for counts.
struct StubHandle {
    StubModule* stub;
    SharedPtr<cbr::FileModule> holder;
};
inline StubHandle addStub(cbr::FileModuleRegistry& registry, const std::string& name) {
    auto* stub = new StubModule;
    StubHandle handle{stub, SharedPtr<cbr::FileModule>(stub)};
    registry.add(name, handle.holder);
    return handle;
}

// A source of whole sectors, filled with a byte that no test signature uses.
class Image {
public:
    explicit Image(u64 sectors, char fill = '.') : bytes_(sectors * 512, fill) {}
    // The bytes, cut to whole sectors.
    explicit Image(const std::string& bytes) : bytes_(bytes, 0, bytes.size() / 512 * 512) {}
    // Writes bytes at a sector (and on over the following ones).
    void put(u64 sector, const std::string& bytes, u64 within = 0) {
        bytes_.replace(sector * 512 + within, bytes.size(), bytes);
    }
    // A header of the sizeAtByte4 kind: four magic bytes, then the size.
    void putFile(u64 sector, const std::string& magic, u32 size) {
        std::string head = magic.substr(0, 4);
        head.resize(8, '\0');
        setLE32(reinterpret_cast<u8*>(&head[0]), 4, size);
        put(sector, head);
    }
    const std::string& bytes() const { return bytes_; }
    u64 sectors() const { return bytes_.size() / 512; }

private:
    std::string bytes_;
};

class Collector : public cbr::Scanner::Callback {
public:
    void found(const cbr::FileInfo& info) override { files.push_back(info); }
    void shortened(std::size_t nth, u64 size) override { files.at(nth).setSize(size); }
    std::vector<cbr::FileInfo> files;
};

// Feeds sectors [first, end) as the deep scan does, each with up to lookAhead
// sectors after it, then finishes at the end of the range.
inline void scanImage(cbr::Scanner& scanner, const Image& image, u64 first = 0, u64 end = ~u64(0),
                      u64 lookAhead = 258) {
    end = std::min(end, image.sectors());
    const u8* data = reinterpret_cast<const u8*>(image.bytes().data());
    for (u64 s = first; s < end; ++s) {
        const u64 available = std::min(end - s, lookAhead + 1);
        scanner.processSector(s * 512, data + s * 512, static_cast<u32>(available * 512));
    }
    scanner.finish(end * 512);
}

// A carved file as the tests compare it.
struct Found {
    u64 start;
    u64 size;
    std::string type;
    bool operator==(const Found& o) const {
        return start == o.start && size == o.size && type == o.type;
    }
};

inline std::ostream& operator<<(std::ostream& out, const Found& f) {
    return out << "{" << f.start << ", " << f.size << ", " << f.type << "}";
}

struct ScanOutcome {
    std::vector<Found> files;
    u64 bytesRead = 0; // through the modules' windows
};

// A scan of the image with the program's table ("cbr.files") and the modules of
// `registry`; with `maxSize`, no pattern's windows are longer.
inline ScanOutcome carveWithProgramTable(const Image& image, cbr::FileModuleRegistry& registry,
                                         u64 maxSize = 0) {
    testutil::FailingReader source(SharedPtr<dt::Reader>(new testutil::MemoryReader(image.bytes())),
                                   {});
    cbr::Scanner scanner(source, &registry);
    Collector collector;
    std::vector<cbr::Pattern> table;
    cbr::PatternsFile::load(HB_SOURCE_DIR "/lib/cbr.files", registry, table);
    for (cbr::Pattern& pattern : table)
        if (maxSize != 0)
            pattern.setMaxSize(std::min(pattern.maxSize(), maxSize));
    scanner.setPatterns(table, &collector);
    scanImage(scanner, image);
    ScanOutcome outcome;
    for (const cbr::FileInfo& f : collector.files)
        outcome.files.push_back({f.getStart(), f.getSize(), f.getType()});
    for (const auto& request : source.requests())
        outcome.bytesRead += static_cast<u64>(request.size);
    return outcome;
}

} // namespace cbrtest
