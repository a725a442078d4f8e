#include "analysis/MapInterface.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "fs/Bitmap.h"
#include "fs/fat/FATMapImpl.h"
#include "fs/fat/FatsAnalyzer.h"

namespace MapInterface {

namespace {

// Clears the map's sink however buildMap is left, so the finished map never
// refers to a progress box that is gone.
class MapCallbackGuard {
public:
    explicit MapCallbackGuard(SharedPtr<tree::Map>& map) : map_(map) {}
    ~MapCallbackGuard() {
        if (map_)
            map_->setInterfaceCallback(nullptr);
    }
    MapCallbackGuard(const MapCallbackGuard&) = delete;
    MapCallbackGuard& operator=(const MapCallbackGuard&) = delete;

private:
    SharedPtr<tree::Map>& map_;
};

} // namespace

SharedPtr<tree::Map> buildFatMap(const SharedPtr<Driver>& driver, const FAT_FS_PARAMS& params,
                                 const ScanResults& results, bool analyzeFats, ProgressBoxIC& box) {
    logAt("MapInterface", 24) << ": " << params << '\n';
    Bitmap mirrorSectors(params.sectorsPerFAT);
    if (analyzeFats) {
        box.setText(InterfaceCallback::TEXT_TITLE, _("Analyzing FATs"));
        ::analyzeFats(mirrorSectors, driver.get(), params, &box);
    }
    box.setText(InterfaceCallback::TEXT_TITLE, _("Building Tree"));
    SharedPtr<tree::Map> map(new tree::FATMapImpl(driver, params, mirrorSectors,
                                                  &results.unreadable, results.directoryRuns));
    map->setInterfaceCallback(&box);
    map->finishTree();
    return map;
}

SharedPtr<tree::Map>& buildMap(SharedPtr<tree::Map>& out, const SharedPtr<Driver>& driver,
                               const FsParams& fs, const ScanResults& results, bool analyzeFats,
                               FrTreeInterface* ui) {
    out.reset();
    std::unique_ptr<ProgressBoxIC> box = ui->createProgressBox(_("Building Tree"));

    SharedPtr<tree::Map> map;
    MapCallbackGuard guard(map);
    if (fs.kind == FS_FAT)
        map = buildFatMap(driver, fs.fat, results, analyzeFats, *box);
    else if (fs.kind == FS_NTFS)
        map = buildNtfsMap(driver, fs.ntfs, results, ui, *box);
    else
        logAt("MapInterface", 60) << ": "
                                  << "no file system kind" << ' ' << fs.kind << '\n';
    if (!map)
        return out;

    map->setInterfaceCallback(box.get());
    box->setText(InterfaceCallback::TEXT_TITLE, _("Analyzing Found Files"));
    map->analyzeFoundFiles();
    box->setText(InterfaceCallback::TEXT_TITLE, _("Finishing Tree"));
    map->finishTree();
    map->setInterfaceCallback(nullptr);
    // Stored only when finished: a cancel above leaves the caller without a map.
    out = map;
    return out;
}

} // namespace MapInterface
