// The descriptor chain: the first line of the input is the descriptor, every
// further line one known descriptor. Leaves never reach the disk: "mem:N" is a
// source of N bytes computed from their offsets, "bad:N" one of N bytes whose
// every read fails, anything else cannot be opened. Then the properties every
// chain must have: one box exactly when no reader came back, and reads that keep
// to the bounds.

#include "core/Log.h"
#include "core/UserInterface.h"
#include "devices/ReaderFactory.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

class MemoryLeaf : public dt::Reader {
public:
    MemoryLeaf(i64 size, bool failing) : failing_(failing) { setSize(size); }
    bool read(i64 offset, u8* buffer, i64 n) override {
        // A composite must never ask for anything outside its member.
        if (!dt::rangeInside(offset, n, getSize()))
            return false;
        // Asking for nothing cannot fail, even on a broken member.
        if (failing_ && n > 0)
            return false;
        for (i64 i = 0; i < n; ++i) {
            const u64 at = static_cast<u64>(offset + i);
            buffer[i] = static_cast<u8>(at * 131 + (at >> 9));
        }
        return true;
    }

private:
    bool failing_;
};

std::unique_ptr<dt::Reader> openLeaf(LeafKind, const char* path) {
    for (const char* prefix : {"mem:", "bad:"}) {
        if (std::strncmp(path, prefix, 4) != 0)
            continue;
        const i64 size = descriptorNumber(path + 4);
        if (size < 0)
            return nullptr;
        return std::make_unique<MemoryLeaf>(size, prefix[0] == 'b');
    }
    return nullptr;
}

int boxes = 0;

// Reads that can throw only for a stripe of 0, which a descriptor may ask for.
bool tryRead(dt::Reader& reader, i64 offset, u8* buffer, i64 n) {
    try {
        return reader.read(offset, buffer, n);
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        require(what == "ReaderRAID0(41)" || what == "ReaderRAID5(41)");
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpLogStream("null");
    setLeafOpener(openLeaf);
    setMessageDialogHandler([](int kind, const std::string&, WindowHandle, bool, const char*) {
        require(kind == MESSAGE_ERROR);
        ++boxes;
        return 0;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> lines;
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    const std::string descriptor = lines[0];
    const std::vector<std::string> known(lines.begin() + 1, lines.end());

    boxes = 0;
    std::unique_ptr<dt::Reader> reader =
        createReaderFromDescr(known, descriptor.c_str(), nullptr, 0);
    require(boxes == (reader ? 0 : 1));
    if (!reader)
        return 0;

    const i64 total = reader->getSize();
    require(total >= 0);
    static u8 buffer[4096];
    require(tryRead(*reader, total, buffer, 0));
    require(!tryRead(*reader, total, buffer, 1));
    require(!tryRead(*reader, -1, buffer, 1));
    const i64 n = total < 4096 ? total : 4096;
    tryRead(*reader, 0, buffer, n);
    tryRead(*reader, total - n, buffer, n);
    tryRead(*reader, total / 2 - n / 2, buffer, n);
    return 0;
}
