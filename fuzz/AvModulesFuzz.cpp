// The audio and video container modules of the content carver (ASF, QuickTime
// and MPEG-4, RIFF) over any bytes (see fuzz/ModuleFuzz.h).
//
// Input: byte 0 chooses the module (0 ASF, 1 MOV, 2 RIFF), the rest is the window.

#include "cbr/FileModuleAsf.h"
#include "cbr/FileModuleMov.h"
#include "cbr/FileModuleRiff.h"
#include "core/Log.h"
#include "fuzz/ModuleFuzz.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpLogStream("null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static cbr::FileModuleAsf asf;
    static cbr::FileModuleMov mov;
    static cbr::FileModuleRiff riff;
    cbr::FileModule* const modules[] = {&asf, &mov, &riff};
    return fuzzsupport::fuzzModules(modules, data, size);
}
