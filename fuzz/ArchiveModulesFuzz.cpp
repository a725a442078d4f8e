// The archive, mail-store and markup text modules of the content carver over
// any bytes (fuzz/ModuleFuzz.h): byte 0 chooses the module, the rest is the
// window.

#include "cbr/FileModuleArj.h"
#include "cbr/FileModuleDbx.h"
#include "cbr/FileModuleLzh.h"
#include "cbr/FileModuleRar.h"
#include "cbr/FileModuleText.h"
#include "cbr/FileModuleZip.h"
#include "core/Log.h"
#include "fuzz/ModuleFuzz.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpLogStream("null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static cbr::FileModuleArj arj;
    static cbr::FileModuleLzh lzh;
    static cbr::FileModuleRar rar;
    static cbr::FileModuleZip zip;
    static cbr::FileModuleDbx dbx;
    static cbr::FileModuleText text;
    static cbr::FileModule* const modules[] = {&arj, &lzh, &rar, &zip, &dbx, &text};
    return fuzzsupport::fuzzModules(modules, data, size);
}
