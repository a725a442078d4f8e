// The camera-raw side of the content carver: the TIFF module (with MRW), the CRW
// module, and the loader of the previews they describe.
//
// Input: byte 0 chooses what runs.
//   0 mod 4: the TIFF module, the rest is the window (see fuzz/FuzzSupport.h).
//   1 mod 4: the CRW module, likewise.
//   2 mod 4: the CRW module on a window whose first 26 bytes are the input's
//            next 26, then zeros, then the rest of the input ending past byte
//            500000, where the CRW search begins.
//   3 mod 4: the preview loader: seven little-endian u32 of a Thumbnail and a
//            u32 file start, then the source's bytes.

#include "cbr/ImageLoad.h"
#include "fuzz/FuzzSupport.h"

namespace {

using fuzzsupport::require;

constexpr std::size_t CRW_HEADER = 26;
constexpr std::size_t CRW_TAIL_START = 499900;

void fuzzImageLoad(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t HEAD = 8 * 4;
    if (size < HEAD)
        return;
    fuzzsupport::Fields f(data, HEAD);
    cbr::Thumbnail t;
    for (u32* field :
         {&t.offset, &t.size, &t.width, &t.height, &t.bitsPerSample, &t.samples, &t.compression})
        *field = f.u32_();
    const u64 fileStart = f.u32_();
    fuzzsupport::InputReader source(data + HEAD, size - HEAD);
    std::vector<u8> out;
    // Never more than the stored bytes and a picture header.
    if (cbr::ImageLoad::loadThumbnail(source, fileStart, t, out))
        require(!out.empty() && out.size() <= t.size + 64);
    else
        require(out.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto modules = fuzzsupport::modulesNamed({"tiff", "crw"});
    if (size < 1)
        return 0;
    switch (data[0] % 4) {
    case 0:
    case 1:
        return fuzzsupport::fuzzModules(modules, data, size);
    case 2:
        if (size - 1 >= CRW_HEADER) {
            std::vector<u8> window(data + 1, data + 1 + CRW_HEADER);
            window.resize(CRW_TAIL_START, 0);
            window.insert(window.end(), data + 1 + CRW_HEADER, data + size);
            fuzzsupport::fuzzModule(*modules[1], window);
        }
        return 0;
    default:
        fuzzImageLoad(data + 1, size - 1);
        return 0;
    }
}
