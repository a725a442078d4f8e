// The FAT tree over any image in memory: the boot sector at LBA 0 forms the
// parameters (inputs that form none end there), then the tree is built as the
// program builds it, walked whole, and every file is recovered into a sink that
// checks that each one comes out at exactly its size. Hostile chains, folders
// and entries must neither hang, crash nor read outside the image.
//
// Input: the image. Two bits of the boot sector's byte 0x1FC (boot code, which
// no parameter reads) choose the variants: bit 0 runs the FAT analysis first,
// bit 1 hands every cluster to the found-files pass as a directory run the scan
// would have found.

#include "core/Log.h"
#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/fat/FATMapImpl.h"
#include "fs/fat/FatsAnalyzer.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/FailingReader.h"
#include "tree/ParserRecover.h"
#include "tree/ParserReport.h"
#include "tree/ParserSelect.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

using fuzzsupport::SizeCheckingRecoverer;

using fuzzsupport::require;

constexpr std::size_t VARIANT_BYTE = 0x1FC;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpLogStream("null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 512)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    SharedPtr<dt::Reader> reader(new testutil::MemoryReader(bytes));
    SharedPtr<Driver> driver(new Driver(reader, 512));
    FAT_FS_PARAMS params;
    if (!fatFsParamsFromBootSector(0, data, params, driver->getSectorCount()))
        return 0;
    require(params.endLBA() <= driver->getSectorCount());

    const u8 variant = data[VARIANT_BYTE];
    Bitmap mirror(params.sectorsPerFAT);
    if (variant & 1)
        analyzeFats(mirror, driver.get(), params, nullptr);
    FoundList<FoundDirectoryRun> runs;
    if (variant & 2) {
        for (u32 c = 2; c < params.get_cluster_count() + 2; ++c) {
            FoundDirectoryRun run;
            run.lba = static_cast<u32>(params.get_cluster_LBA(c));
            run.sectorCount = params.sectorsPerCluster;
            runs.insert(run);
        }
    }
    UnreadableSectors unreadable;
    tree::FATMapImpl map(driver, params, mirror, &unreadable, runs);
    map.finishTree();
    map.analyzeFoundFiles();
    map.finishTree();

    std::ostringstream report;
    tree::ParserReport(&map, &report, true, nullptr).run();
    tree::ParserSelect(&map, "").run(tree::START_POSITION, true, nullptr);
    SizeCheckingRecoverer sink;
    std::ostringstream recoverReport;
    tree::ParserRecover(&map, &recoverReport, &sink, nullptr).run();

    // Reads at the start and across the first cluster edge of every root file.
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
