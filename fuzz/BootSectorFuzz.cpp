// Boot sectors: any 512 bytes at any LBA through the boot-sector readers, both
// record formers and the sector tests the scan runs on every sector; then the
// properties a formed record must have, and the round trip through the boot
// sector that the layout repair builds from the parameters read; and every
// dump of the structure view over the sector, which must write text and return
// whatever the bytes.
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
#include "fs/StructureDumps.h"
#include "tests/support/FailingReader.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>

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

// The sector as a boot sector (against its rebuilt image), a partition table, a
// FAT sector of every width and the start of a directory on a source of it
// twice, so that a directory dump reads on.
void checkDumps(const std::array<u8, 512>& sector, u32 lba) {
    const std::string bytes(reinterpret_cast<const char*>(sector.data()), sector.size());
    SharedPtr<dt::Reader> reader(new testutil::MemoryReader(bytes + bytes));
    Driver driver(reader, 512);
    std::array<u8, 512> other = sector;
    std::reverse(other.begin(), other.end());
    std::ostringstream os;
    dumpBootSector(os, sector.data(), lba, driver, (lba & 1) != 0, other.data());
    dumpPartitionTable(os, sector.data(), lba, driver, other.data());
    for (FatType type : {FAT_NONE, FAT12, FAT16, FAT32, FAT16_32, static_cast<FatType>(9)})
        require(dumpFatSector(os, 0, driver, type));
    require(dumpDirectorySector(os, 0, driver));
    for (u32 i = 0; i < 16; ++i)
        writeDirEntryRow(os, sector.data() + 32 * i);
    require(!os.str().empty());
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
    for (u32 i = 0; i < PARTITION_ENTRY_COUNT; ++i)
        (void)isValidPartitionEntry(sector.data() + PARTITION_TABLE_OFFSET +
                                    PARTITION_ENTRY_BYTES * i);
    checkDumps(sector, lba);
    return 0;
}
