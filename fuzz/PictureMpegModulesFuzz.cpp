// The picture modules and the MPEG audio and video modules of the content
// carver (fuzz/FuzzSupport.h); byte 0 chooses the module in this order.

#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto modules =
        fuzzsupport::modulesNamed({"jpeg", "gif", "png", "bmp", "wmf", "mp3", "mpeg"});
    return fuzzsupport::fuzzModules(modules, data, size);
}
