#include "cbr/FileModuleRegistry.h"

#include "cbr/FileModuleArj.h"
#include "cbr/FileModuleAsf.h"
#include "cbr/FileModuleBmp.h"
#include "cbr/FileModuleCrw.h"
#include "cbr/FileModuleDbx.h"
#include "cbr/FileModuleGif.h"
#include "cbr/FileModuleJpeg.h"
#include "cbr/FileModuleLzh.h"
#include "cbr/FileModuleMov.h"
#include "cbr/FileModuleMp3.h"
#include "cbr/FileModuleMpeg.h"
#include "cbr/FileModuleOle.h"
#include "cbr/FileModulePng.h"
#include "cbr/FileModuleRar.h"
#include "cbr/FileModuleRiff.h"
#include "cbr/FileModuleText.h"
#include "cbr/FileModuleTiff.h"
#include "cbr/FileModuleWmf.h"
#include "cbr/FileModuleZip.h"

namespace cbr {

FileModuleRegistry::FileModuleRegistry(Contents contents) {
    if (contents == ALL_MODULES)
        registerFileModules(*this);
}

void FileModuleRegistry::add(const std::string& name, const SharedPtr<FileModule>& module) {
    modules_[name] = module;
}

void FileModuleRegistry::add(std::initializer_list<const char*> names,
                             const SharedPtr<FileModule>& module) {
    for (const char* name : names)
        add(name, module);
}

FileModule* FileModuleRegistry::find(const std::string& name) const {
    auto it = modules_.find(name);
    return it == modules_.end() ? nullptr : it->second.get();
}

namespace {

// Each module is made once; all its names share that one object.
void add(FileModuleRegistry& registry, FileModule* module,
         std::initializer_list<const char*> names) {
    registry.add(names, SharedPtr<FileModule>(module));
}

} // namespace

void registerFileModules(FileModuleRegistry& registry) {
    add(registry, new FileModuleArj, {"arj"});
    add(registry, new FileModuleAsf, {"asf", "wma", "wmv"});
    add(registry, new FileModuleBmp, {"bmp"});
    add(registry, new FileModuleCrw, {"crw"});
    add(registry, new FileModuleDbx, {"dbx"});
    add(registry, new FileModuleGif, {"gif"});
    add(registry, new FileModuleJpeg, {"jpeg"});
    add(registry, new FileModuleLzh, {"lzh"});
    add(registry, new FileModuleMov, {"mov", "mp4"});
    add(registry, new FileModuleMp3, {"mp3"});
    add(registry, new FileModuleMpeg, {"mpeg", "mpg", "m1v", "m2v"});
    add(registry, createFileModuleOle(),
        {"ole", "doc", "xls", "ppt", "fla", "pub", "vsd", "mpp", "vsmacros", "rpt", "suo"});
    add(registry, new FileModulePng, {"png"});
    add(registry, new FileModuleRar, {"rar"});
    add(registry, new FileModuleRiff, {"riff", "avi", "wav", "rmi", "ani"});
    add(registry, new FileModuleText, {"text", "html", "xml"});
    add(registry, new FileModuleTiff,
        {"tiff", "tif", "nef", "mrw", "mos", "cr2", "dcr", "dng", "kdc", "k25", "pef", "arw", "sr2",
         "srf"});
    add(registry, new FileModuleWmf, {"wmf"});
    add(registry, new FileModuleZip, {"zip"});
}

} // namespace cbr
