// The drive layout and its repair over any small disk and any candidates: the
// tables are built from the candidates, then every table sector and boot
// sector is rebuilt over what the disk holds (its entries, CHS values, types,
// boot-sector bytes and the $Volume record are read), and the parameter
// records of each file system are formed from the rebuilt boot sectors.
// Neither may crash, hang or write outside its images; every change must name
// a sector of the disk (but the MFT mirror's copy, which is not read), carry a
// description, and a rebuilt table must carry the signature.
//
// Input: one byte of drive properties, four candidates of CANDIDATE_BYTES
// each (see candidateFrom), then the start of the disk, which is DISK_SECTORS
// long (so the seeds need not carry its zeros).

#include "analysis/DriveLayout.h"
#include "analysis/DriveLayoutApply.h"
#include "fs/Params.h"
#include "fs/RebuiltBootSector.h"
#include "fuzz/FuzzSupport.h"

namespace {

using fuzzsupport::require;

constexpr std::size_t CANDIDATES = 4;
constexpr std::size_t CANDIDATE_BYTES = 12;
constexpr std::size_t HEADER_BYTES = 1 + CANDIDATES * CANDIDATE_BYTES;
constexpr u32 DISK_SECTORS = 512;

// A candidate as the collection could have made it: the flags byte chooses the
// evidence, the other bytes place it (mostly on the disk, sometimes past it).
FsCandidate candidateFrom(const std::uint8_t* b, Driver& driver) {
    FsCandidate c;
    const u8 flags = b[0];
    c.startLBA = getLE16(b, 2) % (DISK_SECTORS * 2);
    const u32 sectors = getLE16(b, 4);
    c.minSectors = std::min<u32>(sectors, 1 + b[8]);
    c.maxSectors = sectors;
    c.selected = (flags & 0x80) != 0;
    if (flags & 0x01) {
        c.hasPartitionEntry = true;
        c.partitionType = b[1];
        c.partitionSectors = sectors;
        c.partitionTableLBA = b[6];
        c.partitionEntryIndex = b[7] & 7;
    }
    u8 sector[512];
    if ((flags & 0x02) && driver.readSectors(c.startLBA, 1, sector))
        c.hasBootSector = readBootParams(sector, c.bootSector);
    const u32 backup = c.startLBA + (b[7] >> 3);
    if ((flags & 0x40) && driver.readSectors(backup, 1, sector)) {
        c.hasBootBackup = readBootParams(sector, c.bootBackup);
        c.bootBackupLBA = backup;
    }
    if (flags & 0x04) {
        c.hasFats = true;
        c.fatType = static_cast<FatType>(b[9] % 5);
        c.fatLBA = c.startLBA + b[8] % 40;
        c.fatSectors = 1 + b[9] / 5;
    }
    if (flags & 0x08) {
        c.hasRootDir = true;
        c.rootDirLBA = c.startLBA + b[10];
        c.rootLastCluster = b[11];
    }
    if (flags & 0x10) {
        c.hasSubDirs = true;
        c.sectorsPerCluster = 1u << (b[11] % 8);
        c.cluster2LBA = c.startLBA + b[10] + b[8];
    }
    if (flags & 0x20) {
        c.hasNtfsVolume = true;
        c.ntfsSectorsPerCluster = b[11] % 12;
        c.sectorsPerFileRecord = b[9] % 5;
        c.mftLBA = c.startLBA + b[10];
        c.mftMirrLBA = c.startLBA + b[8] + b[10];
        c.bitmapSize = b[11];
    }
    return c;
}

void checkChanges(const SectorChanges& changes, u32 sectors) {
    for (const SectorChange& c : changes) {
        require(!c.description.empty());
        if (c.description.compare(0, 26, "Volume Information Mirror ") != 0)
            require(c.lba < sectors);
        if (c.description.compare(0, 16, "Partition Table ") == 0)
            require(c.newImage[510] == 0x55 && c.newImage[511] == 0xAA);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < HEADER_BYTES)
        return 0;
    std::string disk = fuzzsupport::textOf(data + HEADER_BYTES, size - HEADER_BYTES);
    disk.resize(DISK_SECTORS * 512, '\0');
    const SharedPtr<Driver> source = testutil::openMemoryDriver(disk);
    Driver& driver = *source;
    const u32 sectors = static_cast<u32>(driver.getSectorCount());

    const u8 properties = data[0];
    const bool tables = (properties & 0x01) == 0;
    driver.getProperties().setUInt8(PROP_USES_PARTITION_TABLES, tables);
    driver.getProperties().setUInt8(PROP_IS_FLOPPY, (properties & 0x02) != 0);
    if (properties & 0x04)
        driver.getProperties().set(PROP_DESCRIPTION, "ZIP 100");
    if (properties & 0x08) {
        driver.getProperties().setUInt64(PROP_REPAIR_HEADS, properties >> 4);
        driver.getProperties().setUInt64(PROP_REPAIR_SECTORS, (properties >> 4) * 7);
    }

    FsCandidateList candidates;
    for (std::size_t i = 0; i < CANDIDATES; ++i)
        insertCandidate(candidates, candidateFrom(data + 1 + i * CANDIDATE_BYTES, driver));

    FsCandidateList layout;
    DL::build(layout, DLayoutOptions(candidates, sectors - 1, tables, true));
    SectorChanges changes;
    std::ostringstream report;
    DL::apply(layout, driver, changes, report, tables);
    checkChanges(changes, sectors);

    for (const FsCandidate& e : layout) {
        require(e.valid);
        require(e.bootStatus <= 2 && e.backupStatus <= 2 && e.tableStatus <= 2);
        if (e.isPartitionTable)
            continue;
        // A volume made from the evidence fits the source as the evidence sized
        // it; the clusters its width has at least may reach further.
        FAT_FS_PARAMS fat;
        FsKind kind = FS_NONE;
        FatType width = FAT_NONE;
        partitionTypeToFs(e.fscode(), kind, width);
        if (form_fat_fs_params(e, fat, driver)) {
            const u64 sized = DL::buildsFromFoundBootSector(e, width) ? fat.totalSectors
                                                                      : DL::evidenceVolumeSize(e);
            require(fat.isValid() && fuzzsupport::sourceHoldsHalf(fat.startingLBA, sized, sectors));
        }
        NTFS_FS_PARAMS ntfs;
        if (form_ntfs_fs_params(e, ntfs, driver))
            require(ntfs.isValid());
    }
    return 0;
}
