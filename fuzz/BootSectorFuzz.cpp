// Boot sectors: any 512 bytes at any LBA through the boot-sector readers, both
// record formers and the sector tests the scan runs on every sector; then the
// properties a formed record must have, and the round trip through the boot
// sector that the layout repair builds from the parameters read.
//
// Input: a little-endian u32 LBA, then the sector (short inputs are padded with
// zeros, longer ones cut).

#include "core/Log.h"
#include "devices/Driver.h"
#include "fs/Bitmap.h"
#include "fs/FsCandidate.h"
#include "fs/Params.h"
#include "fs/RebuiltBootSector.h"
#include "fs/StructureChecks.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

// A source of a given size that is never read: the builders only look at the
// driver's properties.
class NoReader : public dt::Reader {
public:
    explicit NoReader(i64 size) { setSize(size); }
    bool read(i64, u8*, i64) override { return false; }
};

void checkFatRecord(const FAT_FS_PARAMS& p, u64 sourceSectors) {
    require(p.isValid());
    require(p.endLBA() <= sourceSectors);
    require(p.endLBA() - 1 <= 0xFFFFFFFFull);
    u32 clusters = p.get_cluster_count();
    require(clusters <= maxClusterCount(p.fatType()));
    require(clusters + 2ull <= fatEntryCount(p.fatType(), p.sectorsPerFAT));
    // Every cluster lies inside the volume.
    if (clusters != 0)
        require(p.get_cluster_LBA(clusters + 1) + p.sectorsPerCluster <= p.endLBA());
    // The FAT-sector marks of the tree building are sized by this.
    require(p.sectorsPerFAT <= 0x200000);
    Bitmap marks(p.sectorsPerFAT);
}

// The boot sector the layout repair builds from what was read parses back to
// the same parameters.
void checkRebuilt(const BootParams& boot, u32 lba) {
    SharedPtr<dt::Reader> reader(new NoReader(1 << 20));
    Driver driver(reader, 512);
    FsCandidate c;
    c.startLBA = lba;
    c.hasBootSector = true;
    c.bootSector = boot;
    std::array<u8, 512> sector{};
    bool built = false;
    if (boot.kind == FS_FAT) {
        built =
            boot.fat.rootEntries != 0
                ? DL::formBootSectorFat16(c, sector.data(), driver,
                                          fatTypeBySectorsPerFat(boot.fat.sectorsPerFAT) == FAT12)
                : DL::formBootSectorFat32(c, sector.data(), driver);
    } else {
        built = DL::formBootSectorNtfs(c, sector.data(), driver);
    }
    if (!built)
        return;
    BootParams again;
    require(readBootParams(sector.data(), again));
    require(equalBootParams(boot, again));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpLogStream("null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    u32 lba = static_cast<u32>(data[0]) | static_cast<u32>(data[1]) << 8 |
              static_cast<u32>(data[2]) << 16 | static_cast<u32>(data[3]) << 24;
    std::array<u8, 512> sector{};
    std::memcpy(sector.data(), data + 4, std::min<std::size_t>(size - 4, sector.size()));

    BootParams boot;
    if (readBootParams(sector.data(), boot)) {
        require(boot.kind == FS_FAT || boot.kind == FS_NTFS);
        require(equalBootParams(boot, boot));
        checkRebuilt(boot, lba);
    }

    // A source that just holds the volume, and one far larger.
    for (u64 source : {u64{lba} + 2880, u64{1} << 40}) {
        FAT_FS_PARAMS fat;
        if (fatFsParamsFromBootSector(lba, sector.data(), fat, source)) {
            require(boot.kind == FS_FAT);
            checkFatRecord(fat, source);
        }
        NTFS_FS_PARAMS ntfs;
        if (ntfsFsParamsFromBootSector(lba, sector.data(), ntfs, source)) {
            require(boot.kind == FS_NTFS);
            require(ntfs.isValid());
            require(ntfs.totalSectors <= source && ntfs.startingLBA <= source - ntfs.totalSectors);
            require(ntfs.clusterLBA(ntfs.mftLCN) < source ||
                    ntfs.clusterLBA(ntfs.mftMirrLCN) < source);
        }
    }

    // What the scan runs on every sector.
    FatType type = FAT16_32;
    if (guessFatTypeOfSector(sector.data(), type))
        require(type >= FAT12 && type <= FAT16_32);
    else
        require(type == FAT16_32);
    (void)isValidMbr(sector.data());
    for (u32 i = 0; i < 4; ++i)
        (void)isValidPartitionEntry(sector.data() + 446 + 16 * i);
    return 0;
}
