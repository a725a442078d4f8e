#pragma once

// The one entry through which a chosen FAT or NTFS file system becomes a rebuilt
// tree: the engine's preparatory analysis, the map, its found entries and the
// finished folder structure, under a progress box of its own.

#include "core/Ownership.h"
#include "core/UserInterface.h"
#include "devices/Driver.h"
#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "tree/Map.h"

namespace MapInterface {

// Builds the tree of `fs` into `out` (emptied first; empty again when no tree
// could be built). A cancel throws InterruptedException with `out` empty.
SharedPtr<tree::Map>& buildMap(SharedPtr<tree::Map>& out, const SharedPtr<Driver>& driver,
                               const FsParams& fs, const ScanResults& results, bool analyzeFats,
                               FrTreeInterface* ui);

// The engine halves of buildMap; each sets its stage titles on `box` and returns
// the map before its found entries are analysed, or nothing.
SharedPtr<tree::Map> buildFatMap(const SharedPtr<Driver>& driver, const FAT_FS_PARAMS& params,
                                 const ScanResults& results, bool analyzeFats, ProgressBoxIC& box);
SharedPtr<tree::Map> buildNtfsMap(const SharedPtr<Driver>& driver, const NTFS_FS_PARAMS& params,
                                  const ScanResults& results, FrTreeInterface* ui,
                                  ProgressBoxIC& box);

} // namespace MapInterface
