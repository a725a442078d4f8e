// The archive, mail-store and markup text modules of the content carver
// (fuzz/FuzzSupport.h); byte 0 chooses the module in this order.

#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto modules =
        fuzzsupport::modulesNamed({"arj", "lzh", "rar", "zip", "dbx", "text"});
    return fuzzsupport::fuzzModules(modules, data, size);
}
