// The compound-document module of the content carver (fuzz/FuzzSupport.h): its
// FAT, DIFAT, directory, mini-FAT and stream chains may loop or point anywhere,
// and every walk must still end inside the window. Byte 0 is ignored.

#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto modules = fuzzsupport::modulesNamed({"ole"});
    return fuzzsupport::fuzzModules(modules, data, size);
}
