// The audio and video container modules of the content carver: ASF, QuickTime
// and MPEG-4, RIFF (fuzz/FuzzSupport.h); byte 0 chooses the module in this order.

#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto modules = fuzzsupport::modulesNamed({"asf", "mov", "riff"});
    return fuzzsupport::fuzzModules(modules, data, size);
}
