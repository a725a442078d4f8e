#include "analysis/MapInterface.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "fs/ntfs/MftRunlist.h"
#include "fs/ntfs/NTFSDrive.h"
#include "fs/ntfs/NTFSMapImpl.h"
#include "fs/ntfs/NtfsDumps.h"

namespace MapInterface {

// The MFT's run list rebuilt from $MFT, its mirror and the found FILE records,
// then the NTFS map on it.
SharedPtr<tree::Map> buildNtfsMap(const SharedPtr<Driver>& driver, const NTFS_FS_PARAMS& params,
                                  const ScanResults& results, FrTreeInterface* ui,
                                  ProgressBoxIC& box) {
    logAt("MapInterface", 45) << ": " << params << '\n';
    if (!NTFSDrive::isUsable(params)) {
        logAt("MapInterface", 19) << ": no NTFS drive can be built on these parameters\n";
        return SharedPtr<tree::Map>();
    }
    Runlist runs;
    {
        NTFSDrive drive(driver, params, &results.unreadable);
        drive.setInterfaceCallback(&box);
        recreateMftRunlist(runs, drive, results.ntfsRecordRuns);
    }
    if (runs.empty()) {
        ui->message(false,
                    _("Cannot recreate MFT runlist.\nInput valid MFT (or MFT Mirror) location\nor "
                      "try to find more NTFS File Records"),
                    false, nullptr);
        return SharedPtr<tree::Map>();
    }
    logAt("MapInterface", 61) << ": " << runlistText(runs) << '\n';
    SharedPtr<tree::Map> map(new tree::NTFSMapImpl(driver, params, runs, &results.unreadable));
    map->setInterfaceCallback(&box);
    return map;
}

} // namespace MapInterface
