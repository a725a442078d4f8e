// The compound-document module of the content carver over any bytes (see
// fuzz/ModuleFuzz.h): its FAT, DIFAT, directory, mini-FAT and stream chains may
// loop or point anywhere, and every walk must still end inside the window.
//
// Input: byte 0 is ignored (one module to choose from), the rest is the window.

#include "cbr/FileModuleOle.h"
#include "core/Log.h"
#include "fuzz/ModuleFuzz.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpLogStream("null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::unique_ptr<cbr::FileModule> ole(cbr::createFileModuleOle());
    cbr::FileModule* const modules[] = {ole.get()};
    return fuzzsupport::fuzzModules(modules, data, size);
}
