// Boot sectors: any 512 bytes at any LBA through the boot-sector readers, both
// record formers and the sector tests the scan runs on every sector; then the
// properties a formed record must have, the round trip through the boot sector
// that the layout repair builds from the parameters read, and every dump of the
// structure view over the sector, which must write text and return.
//
// Input: a little-endian u32 LBA, then the sector (padded with zeros or cut).

#include "fs/Bitmap.h"
#include "fs/FsCandidate.h"
#include "fs/Params.h"
#include "fs/RebuiltBootSector.h"
#include "fs/StructureChecks.h"
#include "fs/StructureDumps.h"
#include "fuzz/FuzzSupport.h"

#include <array>

namespace {

using fuzzsupport::require;
using Sector = std::array<u8, 512>;

void checkFatRecord(const FAT_FS_PARAMS& p, u64 sourceSectors) {
    require(p.isValid());
    require(fuzzsupport::sourceHoldsHalf(p.startingLBA, p.totalSectors, sourceSectors));
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
// the same parameters; only the root entries may grow, to fill the root's
// sectors of a volume of larger ones. The builders look only at the driver's
// properties.
void checkRebuilt(const BootParams& boot, u32 lba) {
    SharedPtr<Driver> source =
        fuzzsupport::driverOver(new fuzzsupport::InputReader(nullptr, 0, 1 << 20));
    Driver& driver = *source;
    FsCandidate c;
    c.startLBA = lba;
    c.hasBootSector = true;
    c.bootSector = boot;
    Sector sector{};
    const bool fat12 = boot.fat.fatType() == FAT12;
    const bool built = boot.kind != FS_FAT ? DL::formBootSectorNtfs(c, sector.data(), driver)
                       : boot.fat.rootEntries != 0
                           ? DL::formBootSectorFat16(c, sector.data(), driver, fat12)
                           : DL::formBootSectorFat32(c, sector.data(), driver);
    BootParams again;
    if (!built)
        return;
    require(readBootParams(sector.data(), again));
    require(again.kind != FS_FAT || again.fat.rootEntries >= boot.fat.rootEntries);
    again.fat.rootEntries = boot.fat.rootEntries;
    require(equalBootParams(boot, again));
}

// The sector as a boot sector (against its rebuilt image), a partition table, a
// FAT sector of every width and the start of a directory on a source of it
// twice, so that a directory dump reads on.
void checkDumps(const Sector& sector, u32 lba) {
    const std::string bytes(reinterpret_cast<const char*>(sector.data()), sector.size());
    SharedPtr<Driver> driver = testutil::openMemoryDriver(bytes + bytes);
    Sector other = sector;
    std::reverse(other.begin(), other.end());
    std::ostringstream os;
    dumpBootSector(os, sector.data(), lba, *driver, (lba & 1) != 0, other.data());
    dumpPartitionTable(os, sector.data(), lba, *driver, other.data());
    for (FatType type : {FAT_NONE, FAT12, FAT16, FAT32, FAT16_32, static_cast<FatType>(9)})
        require(dumpFatSector(os, 0, *driver, type));
    require(dumpDirectorySector(os, 0, *driver));
    for (u32 i = 0; i < 16; ++i)
        writeDirEntryRow(os, sector.data() + 32 * i);
    require(!os.str().empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const u32 lba = getLE32(data, 0);
    Sector sector{};
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
            require(fuzzsupport::sourceHoldsHalf(ntfs.startingLBA, ntfs.totalSectors, source));
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
    for (u32 i = 0; i < PARTITION_ENTRY_COUNT; ++i)
        (void)isValidPartitionEntry(sector.data() + PARTITION_TABLE_OFFSET +
                                    PARTITION_ENTRY_BYTES * i);
    checkDumps(sector, lba);
    return 0;
}
