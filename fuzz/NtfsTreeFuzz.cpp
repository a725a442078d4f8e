// The NTFS tree over any image in memory: the boot sector at LBA 0 forms the
// parameters (inputs that form none end there), the MFT's run list is rebuilt,
// the tree is built as the program builds it and walked whole
// (fuzz/FuzzSupport.h). Hostile records, run lists and indexes must neither
// hang, crash, read outside the image nor allocate without bound.
//
// Input: a sparse image, so that seeds made from real volumes stay small and the
// fuzzer spends its work on bytes that mean something:
//   byte 0          variants: bit 0 hands the rebuild the FILE-record runs that
//                   a sector scan would find; bit 1 makes the sector named by
//                   bytes 5-6 unreadable
//   bytes 1-4       the image's size in sectors (u32 LE, at most MAX_SECTORS)
//   bytes 5-6       the unreadable sector (u16 LE)
//   then chunks     u32 LE first sector, u16 LE sector count, the sectors' bytes
//                   (a chunk cut short by the end of the input keeps what it has)
// Everything no chunk covers is zeros.

#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/ntfs/MftRunlist.h"
#include "fs/ntfs/NTFSMapImpl.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fuzz/FuzzSupport.h"
#include "tests/fs/ntfs/NtfsFixture.h"

namespace {

using fuzzsupport::require;

constexpr u64 SECTOR = 512;
constexpr u64 MAX_SECTORS = 8192; // 4 MiB
constexpr std::size_t HEADER = 7;

std::string unpack(const std::uint8_t* data, std::size_t size) {
    const u64 sectors = std::min<u64>(std::max<u64>(getLE32(data, 1), 1), MAX_SECTORS);
    std::string image(static_cast<std::size_t>(sectors * SECTOR), '\0');
    std::size_t at = HEADER;
    while (size - at >= 6) {
        const u64 first = getLE32(data, at);
        const u64 bytes = std::min<u64>(getLE16(data, at + 4) * SECTOR, size - at - 6);
        at += 6;
        if (first < sectors)
            image.replace(first * SECTOR, std::min(bytes, image.size() - first * SECTOR),
                          reinterpret_cast<const char*>(data + at),
                          std::min(bytes, image.size() - first * SECTOR));
        at += bytes;
    }
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < HEADER)
        return 0;
    logNtfsRecordParser = false;
    logNtfsFileRecordParser = false;
    const std::string image = unpack(data, size);
    std::vector<u64> bad;
    if (data[0] & 2)
        bad.push_back(getLE16(data, 5));
    SharedPtr<dt::Reader> memory(new testutil::MemoryReader(image));
    SharedPtr<Driver> driver = fuzzsupport::driverOver(new testutil::FailingReader(memory, bad));
    NTFS_FS_PARAMS params;
    if (!ntfsFsParamsFromBootSector(0, reinterpret_cast<const u8*>(image.data()), params,
                                    driver->getSectorCount()) ||
        !NTFSDrive::isUsable(params))
        return 0;

    ScanResults results;
    for (u64 lba : bad)
        results.unreadable.runs().push_back(SectorRun{static_cast<u32>(lba), 1});
    if (data[0] & 1)
        results.ntfsRecordRuns = ntfstest::scanRecordRuns(*driver);
    Runlist mft;
    {
        NTFSDrive drive(driver, params, &results.unreadable);
        recreateMftRunlist(mft, drive, results.ntfsRecordRuns);
    }
    if (mft.empty())
        return 0;
    tree::NTFSMapImpl map(driver, params, mft, &results.unreadable);
    map.analyzeFoundFiles();
    map.finishTree();
    fuzzsupport::walkWhole(map);

    // Reads inside and past the start of every root file, and its information.
    tree::Folder* root = map.getFolder(map.getRootAddress());
    u8 buffer[600];
    for (u32 i = 0; i < root->size(); ++i) {
        tree::Node node = root->node(i);
        if (!node.isDirectory()) {
            const int n = map.readNodeData(node, buffer, sizeof buffer, 300);
            require(n == -5 || (n >= 0 && static_cast<u32>(n) <= sizeof buffer));
        }
        std::ostringstream info;
        map.printNodeInformation(info, tree::MapPosition{map.getRootAddress(), i});
    }
    return 0;
}
