// The picture modules and the MPEG audio and video modules of the content
// carver over any bytes (see fuzz/ModuleFuzz.h).
//
// Input: byte 0 chooses the module, the rest is the window.

#include "cbr/FileModuleBmp.h"
#include "cbr/FileModuleGif.h"
#include "cbr/FileModuleJpeg.h"
#include "cbr/FileModuleMp3.h"
#include "cbr/FileModuleMpeg.h"
#include "cbr/FileModulePng.h"
#include "cbr/FileModuleWmf.h"
#include "core/Log.h"
#include "fuzz/ModuleFuzz.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpLogStream("null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static cbr::FileModuleJpeg jpeg;
    static cbr::FileModuleGif gif;
    static cbr::FileModulePng png;
    static cbr::FileModuleBmp bmp;
    static cbr::FileModuleWmf wmf;
    static cbr::FileModuleMp3 mp3;
    static cbr::FileModuleMpeg mpeg;
    cbr::FileModule* const modules[] = {&jpeg, &gif, &png, &bmp, &wmf, &mp3, &mpeg};
    return fuzzsupport::fuzzModules(modules, data, size);
}
