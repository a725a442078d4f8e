// The camera-raw side of the content carver over any bytes: the TIFF module
// (with MRW), the CRW module, and the loader of the previews they describe.
//
// Input: byte 0 chooses what runs.
//   0 mod 4: the TIFF module, the rest is the window (see fuzz/ModuleFuzz.h).
//   1 mod 4: the CRW module, likewise.
//   2 mod 4: the CRW module on a window whose first 26 bytes are the input's
//            next 26, then zeros, then the rest of the input ending past byte
//            500000, where the CRW search begins.
//   3 mod 4: the preview loader: seven little-endian u32 of a Thumbnail and a
//            u32 file start, then the source's bytes.

#include "cbr/FileModuleCrw.h"
#include "cbr/FileModuleTiff.h"
#include "cbr/ImageLoad.h"
#include "core/Array.h"
#include "core/Log.h"
#include "fuzz/ModuleFuzz.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr std::size_t CRW_HEADER = 26;
constexpr std::size_t CRW_TAIL_START = 499900;

int fuzzFarCrw(const std::uint8_t* data, std::size_t size) {
    if (size < CRW_HEADER)
        return 0;
    std::vector<u8> window(data, data + CRW_HEADER);
    window.resize(CRW_TAIL_START, 0);
    window.insert(window.end(), data + CRW_HEADER, data + size);
    cbr::FileModuleCrw crw;
    crw.check(window.data(), static_cast<u32>(window.size()));
    fuzzsupport::StrictReader reader(window.data(), window.size());
    cbr::FileInfo info;
    if (crw.analyze(reader, info)) {
        fuzzsupport::require(info.getSize() <= window.size());
        fuzzsupport::require(info.getType() == "crw");
    }
    return 0;
}

int fuzzImageLoad(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t HEAD = 8 * 4;
    if (size < HEAD)
        return 0;
    cbr::Thumbnail t;
    u32* fields[] = {&t.offset,        &t.size,    &t.width,      &t.height,
                     &t.bitsPerSample, &t.samples, &t.compression};
    for (std::size_t i = 0; i < 7; ++i)
        *fields[i] = getLE32(data, static_cast<u32>(4 * i));
    const u64 fileStart = getLE32(data, 28);
    fuzzsupport::StrictReader source(data + HEAD, size - HEAD);
    std::vector<u8> out;
    if (cbr::ImageLoad::loadThumbnail(source, fileStart, t, out)) {
        // Never more than the stored bytes and a picture header.
        fuzzsupport::require(out.size() <= t.size + 64);
        fuzzsupport::require(!out.empty());
    } else {
        fuzzsupport::require(out.empty());
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpLogStream("null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    static cbr::FileModuleTiff tiff;
    static cbr::FileModuleCrw crw;
    cbr::FileModule* const modules[] = {&tiff, &crw};
    switch (data[0] % 4) {
    case 0:
    case 1:
        return fuzzsupport::fuzzModules(modules, data, size);
    case 2:
        return fuzzFarCrw(data + 1, size - 1);
    default:
        return fuzzImageLoad(data + 1, size - 1);
    }
}
