// The FAT tree over any image in memory: the boot sector at LBA 0 forms the
// parameters (inputs that form none end there), then the tree is built as the
// program builds it and walked whole (fuzz/FuzzSupport.h). Hostile chains,
// folders and entries must neither hang, crash nor read outside the image.
//
// Input: the image. Two bits of the boot sector's byte 0x1FC (boot code, which
// no parameter reads) choose the variants: bit 0 runs the FAT analysis first,
// bit 1 hands every cluster to the found-files pass as a directory run the scan
// would have found.

#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/fat/FATMapImpl.h"
#include "fs/fat/FatsAnalyzer.h"
#include "fuzz/FuzzSupport.h"

using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 512)
        return 0;
    SharedPtr<Driver> driver = testutil::openMemoryDriver(fuzzsupport::textOf(data, size));
    FAT_FS_PARAMS params;
    if (!fatFsParamsFromBootSector(0, data, params, driver->getSectorCount()))
        return 0;
    require(fuzzsupport::sourceHoldsHalf(params.startingLBA, params.totalSectors,
                                         driver->getSectorCount()));

    const u8 variant = data[0x1FC];
    Bitmap mirror(params.sectorsPerFAT);
    if (variant & 1)
        analyzeFats(mirror, driver.get(), params, nullptr);
    FoundList<FoundDirectoryRun> runs;
    for (u32 c = 2; (variant & 2) && c < params.get_cluster_count() + 2; ++c) {
        FoundDirectoryRun run;
        run.lba = static_cast<u32>(params.get_cluster_LBA(c));
        run.sectorCount = params.sectorsPerCluster;
        runs.insert(run);
    }
    UnreadableSectors unreadable;
    tree::FATMapImpl map(driver, params, mirror, &unreadable, runs);
    map.finishTree();
    map.analyzeFoundFiles();
    map.finishTree();
    fuzzsupport::walkWhole(map);

    // Reads across the first cluster edge of every root file.
    tree::Folder* root = map.getFolder(map.getRootAddress());
    const u64 clusterBytes = static_cast<u64>(params.sectorsPerCluster) * 512;
    u8 buffer[64];
    for (u32 i = 0; i < root->size(); ++i) {
        tree::Node node = root->node(i);
        if (node.isDirectory() || node.getSize() < clusterBytes + 32)
            continue;
        const int n = map.readNodeData(node, buffer, sizeof buffer, clusterBytes - 32);
        require(n == static_cast<int>(sizeof buffer) || n == -5);
        std::ostringstream info;
        map.printNodeInformation(info, tree::MapPosition{map.getRootAddress(), i});
    }
    return 0;
}
