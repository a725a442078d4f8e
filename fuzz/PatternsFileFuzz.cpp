// The content-signature table: arbitrary bytes as "cbr.files" records through
// the table loader, then the promises the scanner builds on: every pattern's
// bytes lie inside one sector, the candidate index never drops a pattern that
// would match, and a scan over sectors made from the input stays inside its
// source and reports files in ascending order.

#include "cbr/FileModule.h"
#include "cbr/FileModuleRegistry.h"
#include "cbr/PatternIndex.h"
#include "cbr/PatternsFile.h"
#include "cbr/Scanner.h"
#include "core/Config.h"
#include "fuzz/FuzzSupport.h"

#include <stdexcept>

namespace {

using fuzzsupport::require;

// Answers from the bytes it is shown, so that runs repeat: check looks at the
// sector's last byte, analyze takes a size from the window's second byte.
class ByteModule : public cbr::FileModule {
public:
    bool check(const u8* sector, u32 size) override {
        require(size >= 512);
        return (sector[511] & 1) == 0;
    }
    bool analyze(dt::Reader& file, cbr::FileInfo& info) override {
        u8 head[2];
        if (!file.read(0, head, 2) || head[1] == 0xFF)
            return false;
        info.setType("x");
        info.setSize(std::min<u64>(static_cast<u64>(head[1]) * 97, file.getSize()));
        return true;
    }
};

class OrderCheck : public cbr::Scanner::Callback {
public:
    explicit OrderCheck(u64 end) : end_(end) {}
    void found(const cbr::FileInfo& info) override {
        require(info.getStart() >= last_);
        require(info.getStart() < end_);
        last_ = info.getStart();
        sizes_.push_back(info.getSize());
    }
    // Only a file found earlier is cut back, and only shorter.
    void shortened(std::size_t nth, u64 size) override {
        require(nth < sizes_.size() && size < sizes_[nth]);
        sizes_[nth] = size;
    }

private:
    u64 end_;
    u64 last_ = 0;
    std::vector<u64> sizes_;
};

// The first pattern whose whole test passes, by the plain walk.
u32 firstMatch(const std::vector<cbr::Pattern>& patterns, const u8* sector, u32 size) {
    for (u32 i = 0; i < patterns.size(); ++i) {
        if (patterns[i].matches(sector, size))
            return i;
    }
    return cbr::Scanner::NONE;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzzsupport::textOf(data, size);
    std::vector<PropertyMap> records;
    loadConfigTextRecords(records, text, "Type", '#');

    // Every module name the records use is known, except those that start with
    // "X", which exercise the unknown-module failure.
    cbr::FileModuleRegistry registry(cbr::FileModuleRegistry::NO_MODULES);
    SharedPtr<cbr::FileModule> module(new ByteModule);
    for (const PropertyMap& record : records) {
        for (const char* key : {"Scan File Module", "Analyze File Module"}) {
            const std::string name = record.getString(key, "");
            if (!name.empty() && name[0] != 'X')
                registry.add(name, module);
        }
    }
    std::vector<cbr::Pattern> patterns;
    try {
        cbr::PatternsFile::loadRecords(records, registry, patterns);
    } catch (const std::runtime_error&) {
        // The patterns before the failing record stay.
    }
    require(patterns.size() <= records.size());
    for (const cbr::Pattern& p : patterns)
        require(p.length() <= cbr::Pattern::MAX_BYTES && p.offset() + p.length() <= 512);

    // Sectors: each pattern's bytes in place over a copy of the input, then the
    // input itself.
    std::string image;
    for (const cbr::Pattern& p : patterns) {
        std::string sector = text.substr(0, 512);
        sector.resize(512, '\0');
        std::memcpy(&sector[p.offset()], p.bytes(), p.length());
        image += sector;
    }
    image += text.substr(0, 4096);
    image.resize((image.size() + 511) / 512 * 512 + 512, '\0');

    cbr::PatternIndex index;
    index.build(patterns);
    const u8* bytes = reinterpret_cast<const u8*>(image.data());
    const u32 total = static_cast<u32>(image.size());
    for (u32 at = 0; at < total; at += 512) {
        const u8* sector = bytes + at;
        const u32 available = total - at;
        u32 first = cbr::Scanner::NONE;
        index.forEachCandidate(sector, available, [&](u32 i) {
            if (!patterns[i].matches(sector, available))
                return false;
            first = i;
            return true;
        });
        require(first == firstMatch(patterns, sector, available));
    }

    testutil::MemoryReader source(image);
    cbr::Scanner scanner(source, &registry);
    OrderCheck check(image.size());
    scanner.setPatterns(patterns, &check);
    for (u32 at = 0; at < total; at += 512)
        scanner.processSector(at, bytes + at, std::min<u32>(total - at, 4 * 512));
    scanner.finish(image.size());
    return 0;
}
