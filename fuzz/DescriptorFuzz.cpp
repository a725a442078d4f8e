// The descriptor chain: the first line of the input is the descriptor, every
// further line one known descriptor. Leaves never reach the disk: "mem:N" is a
// source of N bytes computed from their offsets, "bad:N" one of N bytes whose
// every read fails, anything else cannot be opened. Then the properties every
// chain must have: one box exactly when no reader came back, and reads that keep
// to the bounds.

#include "core/UserInterface.h"
#include "devices/ReaderFactory.h"
#include "fuzz/FuzzSupport.h"

#include <memory>
#include <stdexcept>

namespace {

using fuzzsupport::require;

class MemoryLeaf : public dt::Reader {
public:
    MemoryLeaf(i64 size, bool failing) : failing_(failing) { setSize(size); }
    bool read(i64 offset, u8* buffer, i64 n) override {
        // A composite must never ask for anything outside its member; asking
        // for nothing cannot fail, even on a broken member.
        if (!dt::rangeInside(offset, n, getSize()) || (failing_ && n > 0))
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
    const std::string leaf = path;
    if (leaf.rfind("mem:", 0) != 0 && leaf.rfind("bad:", 0) != 0)
        return nullptr;
    const i64 size = descriptorNumber(leaf.substr(4));
    if (size < 0)
        return nullptr;
    return std::make_unique<MemoryLeaf>(size, leaf[0] == 'b');
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

bool setUp() {
    setLeafOpener(openLeaf);
    setMessageDialogHandler(
        [](int kind, const std::string&, WindowHandle, bool, const char*, bool) {
            require(kind == MESSAGE_ERROR);
            ++boxes;
            return 0;
        });
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = setUp();
    (void)ready;
    std::vector<std::string> lines{""};
    for (const char c : fuzzsupport::textOf(data, size)) {
        if (c == '\n')
            lines.emplace_back();
        else
            lines.back() += c;
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
