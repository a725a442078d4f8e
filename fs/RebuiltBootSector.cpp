#include "fs/RebuiltBootSector.h"

#include "core/Array.h"
#include "core/Checked.h"
#include "core/Log.h"
#include "devices/DriveGeometry.h"
#include "devices/Driver.h"
#include "fs/FatLayout.h"
#include "fs/FsCandidate.h"
#include "fs/Params.h"
#include "fs/StructureChecks.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

constexpr u32 DEFAULT_HIDDEN_SECTORS = 63;

enum class Layout { FixedRoot, RootCluster, Ntfs };

bool hasLayout(const BootParams& boot, Layout layout) {
    switch (layout) {
    case Layout::FixedRoot:
        return boot.kind == FS_FAT && boot.fat.rootEntries != 0 && boot.fat.sectorsPerFAT <= 0xFFFF;
    case Layout::RootCluster:
        return boot.kind == FS_FAT && boot.fat.rootEntries == 0;
    case Layout::Ntfs:
        return boot.kind == FS_NTFS;
    }
    return false;
}

// The found boot sector to build from: the primary, else the backup.
const BootParams* foundBootSector(const FsCandidate& c, Layout layout) {
    if (c.hasBootSector && hasLayout(c.bootSector, layout))
        return &c.bootSector;
    if (c.hasBootBackup && hasLayout(c.bootBackup, layout))
        return &c.bootBackup;
    return nullptr;
}

bool usesPartitionTables(const Driver& driver) {
    return driver.getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 1) != 0;
}

// evidenceVolumeSize, logged when it is 0: no boot sector can say that.
u32 volumeSize(const FsCandidate& c) {
    u32 size = DL::evidenceVolumeSize(c);
    if (size == 0)
        logAt("RebuiltBootSector", 1) << ": no size for the volume at " << c.startLBA << '\n';
    return size;
}

// `to` - `from` when `to` lies after `from` by something the field of `limit`
// can hold, else 0 (no usable distance).
u32 distance(u64 from, u64 to, u64 limit) {
    return to > from && to - from <= limit ? static_cast<u32>(to - from) : 0;
}

// A jump instruction, kept when the sector opens with one.
void writeJump(const Array& s, u8 jumpOffset) {
    bool jumps = (s.getU8(BS_JUMP) == BS_JUMP_SHORT && s.getU8(BS_JUMP + 2) == BS_NOP) ||
                 s.getU8(BS_JUMP) == BS_JUMP_NEAR;
    if (!jumps) {
        s.setU8(BS_JUMP, BS_JUMP_SHORT);
        s.setU8(BS_JUMP + 1, jumpOffset);
        s.setU8(BS_JUMP + 2, BS_NOP);
    }
}

// What every image gets: a jump instruction, the sector size, the geometry the
// user chose for repairs and the signature.
void writeCommon(const Array& s, const Driver& driver, u8 jumpOffset) {
    writeJump(s, jumpOffset);
    s.setLE16(BS_BYTES_PER_SECTOR, SECTOR_BYTES);
    DriveGeometry geometry = repairGeometry(driver);
    s.setLE16(BS_SECTORS_PER_TRACK, static_cast<u16>(geometry.sectorsPerTrack));
    s.setLE16(BS_HEADS, static_cast<u16>(geometry.heads));
    s.setLE16(SECTOR_SIGNATURE_OFFSET, SECTOR_SIGNATURE);
}

// The hidden sectors of a volume on a partitioned drive: its distance from the
// table that describes it.
u32 hiddenSectorsFromTable(const FsCandidate& c) {
    u32 base = c.parentTableLBA <= c.startLBA ? c.parentTableLBA : 0;
    return c.startLBA - base;
}

// Sectors before the volume: its distance from the table that describes it on a
// partitioned drive (or, with keepStart, its start when the field says that), a
// fixed value on a drive without tables.
void writeHiddenSectors(const Array& s, const FsCandidate& c, const Driver& driver,
                        u32 withoutTables, bool keepStart) {
    if (!usesPartitionTables(driver)) {
        s.setLE32(BS_HIDDEN_SECTORS, withoutTables);
        return;
    }
    if (keepStart && s.getLE32(BS_HIDDEN_SECTORS) == c.startLBA)
        return;
    s.setLE32(BS_HIDDEN_SECTORS, hiddenSectorsFromTable(c));
}

// Whether the sector already is the found boot sector the builder would start
// from, its cluster size kept: it holds the same parameters, and on a partitioned drive its hidden
// sectors are those the builder writes. Such a sector is left as it stands but
// for a broken jump: the rest of it (geometry, media, drive number, name,
// serial number, label, the hidden sectors of a volume image) is what the
// system that made the volume wrote, and the repair has nothing better to put
// there.
bool holdsFoundBootSector(const Array& s, const FsCandidate& c, Layout layout, const Driver& driver,
                          bool keepStart) {
    const BootParams* found = foundBootSector(c, layout);
    BootParams held;
    if (!found || (layout == Layout::FixedRoot && c.folderClusterSize != 0) ||
        !readBootParams(s.data(), held) || !equalBootParams(held, *found))
        return false;
    if (!usesPartitionTables(driver))
        return true;
    const u32 hidden = s.getLE32(BS_HIDDEN_SECTORS);
    return hidden == hiddenSectorsFromTable(c) || (keepStart && hidden == c.startLBA);
}

// How an image states a FAT volume: in sectors of `scale` 512-byte sectors,
// the FATs it counts, and its root entries.
struct ImageGeometry {
    u32 scale = 1;
    u32 fats = FAT_COPIES;
    u32 rootEntries = 0;
};

// The image states sizes of 512-byte sectors where its fields hold them, and
// so the FATs and clusters of a volume of larger sectors in more of them; in
// the volume's larger sectors only where they do not (clusters of 128 sectors
// of 4,096 bytes are 1,024 of ours, more than the byte holds).
void writeFatGeometry(const Array& s, const FatBootParams& f, const ImageGeometry& g) {
    const u32 total = f.totalSectors / g.scale;
    s.setLE16(BS_BYTES_PER_SECTOR, static_cast<u16>(SECTOR_BYTES * g.scale));
    s.setU8(BS_SECTORS_PER_CLUSTER, static_cast<u8>(f.sectorsPerCluster / g.scale));
    s.setLE16(BS_RESERVED_SECTORS, static_cast<u16>(f.reservedSectors / g.scale));
    s.setU8(BS_FAT_COUNT, static_cast<u8>(g.fats));
    s.setLE16(BS_ROOT_ENTRIES, static_cast<u16>(g.rootEntries));
    bool small = total < 0x10000;
    s.setLE16(BS_TOTAL_SECTORS_16, small ? static_cast<u16>(total) : 0);
    s.setLE32(BS_TOTAL_SECTORS_32, small ? 0 : total);
}

// Drive number (kept when it names a hard disk), extended signature and the
// file-system type (kept when it is a readable name).
void writeExtendedBlock(const Array& s, u32 driveNumber, u32 signature, u32 typeName,
                        const char* defaultType) {
    u8 drive = s.getU8(driveNumber);
    if (drive < 0x80 || drive > 0x83)
        s.setU8(driveNumber, 0x80);
    s.setU8(signature, BS_EXTENDED_SIGNATURE);
    if (!isSpacePaddedName(s.data() + typeName, BS_FS_TYPE_BYTES))
        s.write(typeName, defaultType, BS_FS_TYPE_BYTES);
}

// The clusters-per-record field: whole clusters when the record is a multiple
// of the cluster, else 2^-v bytes. False when neither can say it.
bool encodeClustersPerRecord(u32 sectorsPerRecord, u32 sectorsPerCluster, u32& out) {
    if (sectorsPerCluster != 0 && sectorsPerRecord % sectorsPerCluster == 0) {
        u32 clusters = sectorsPerRecord / sectorsPerCluster;
        // The byte is signed: 128 clusters and more read as a size in bytes.
        if (clusters >= 1 && clusters <= 127) {
            out = clusters;
            return true;
        }
    }
    if (sectorsPerRecord == 0 || (sectorsPerRecord & (sectorsPerRecord - 1)) != 0)
        return false;
    // 2^n bytes are written as the byte -n: 512 bytes per sector is 2^9.
    u32 log2 = 9;
    for (u32 r = sectorsPerRecord; r > 1; r >>= 1)
        ++log2;
    out = static_cast<u8>(0x100 - log2);
    return true;
}

// Clusters per index buffer: 4096-byte buffers for clusters up to that size,
// one cluster above.
u32 clustersPerIndexBuffer(u32 sectorsPerCluster) {
    if (sectorsPerCluster == 0)
        return 0;
    return sectorsPerCluster <= 8 ? 8 / sectorsPerCluster : 1;
}

// ---- FAT boot sectors made from the evidence ----

// The cluster size of the grid that the subdirectories gave, else the default
// for the size. Where the published tables have no size for the volume (a FAT16
// below 8400 sectors, say) the smallest size that keeps the clusters within
// what the width can number is taken: a 0 would make the image unreadable.
u32 clusterSizeFor(const FsCandidate& c, u32 size, FatType type, u32 logLine) {
    if (c.hasSubDirs && isValidSectorsPerCluster(c.sectorsPerCluster))
        return c.sectorsPerCluster;
    u32 n = defaultSectorsPerCluster(size, type);
    if (n == 0) {
        n = 1;
        while (n < 128 && size / n > maxClusterCount(type))
            n *= 2;
    }
    logAt("DL", logLine) << ": bClustSize set to default " << n << '\n';
    return n;
}

// The sectors before the first FAT: where the FATs were placed, else the
// default of the width.
u32 reservedSectorsFor(const FsCandidate& c, u32 fallback, u32 logLine) {
    u32 reserved = c.hasFats ? distance(c.startLBA, c.fatLBA, 0xFFFF) : 0;
    if (reserved != 0)
        return reserved;
    logAt("DL", logLine) << ": wResSects set to default " << fallback << '\n';
    return fallback;
}

// The FATs of a volume made from the evidence: as many as were placed, else
// two.
u32 fatsOf(const FsCandidate& c) {
    return c.hasFats && c.fatCount != 0 ? c.fatCount : FAT_COPIES;
}

// The size of a FAT12/16 that describes the whole volume, as the published
// formula counts it (clusters of the area after the root, entries 0 and 1
// included).
u32 computedFat16Size(u32 size, u32 reserved, u32 rootEntries, u32 clusterSize, bool fat12) {
    u64 rootSectors = ceilDiv(u64{rootEntries} * DIR_ENTRY_BYTES, SECTOR_BYTES);
    u64 before = reserved + rootSectors;
    u64 clusters = 0;
    if (clusterSize != 0)
        clusters = (size > before ? size - before : 0) / clusterSize + 2;
    u64 bytes = fat12 ? clusters * 3 / 2 : clusters * 2;
    return static_cast<u32>(ceilDiv(bytes, SECTOR_BYTES));
}

// The same for FAT32, with two FATs of four-byte entries sharing the area.
u32 computedFat32Size(u32 size, u32 reserved, u32 clusterSize) {
    u64 before = static_cast<u64>(reserved) + clusterSize;
    u64 d = size > before ? size - before : 0;
    u64 m = (256 * static_cast<u64>(clusterSize) + 2) / 2;
    return m == 0 ? 0 : static_cast<u32>(ceilDiv(d, m));
}

// Root entries of a FAT12/16 volume: the sectors between the FATs (or the root
// directory) and the data area of the grid, sixteen to a sector; else the
// usual count of a floppy or a hard disk.
u32 rootEntriesFor(const FsCandidate& c, bool fat12) {
    if (c.hasSubDirs) {
        u32 sectors = 0;
        if (c.hasFats)
            sectors = distance(c.fatLBA + u64{c.fatCount} * c.fatSectors, c.cluster2LBA,
                               0xFFFF / DIR_ENTRIES_PER_SECTOR);
        else if (c.hasRootDir)
            sectors = distance(c.rootDirLBA, c.cluster2LBA, 0xFFFF / DIR_ENTRIES_PER_SECTOR);
        if (sectors != 0)
            return sectors * DIR_ENTRIES_PER_SECTOR;
    }
    u32 entries = fat12 ? 224 : 512;
    logAt("DL", 482) << ": wRootEntries set to default " << entries << '\n';
    return entries;
}

// A FAT12/16 boot sector from the FATs, the root directory and the grid that the
// scan placed, with defaults for what none of them tells.
FatBootParams fat16FromEvidence(const FsCandidate& c, u32 size, bool fat12) {
    FatBootParams f;
    f.totalSectors = size;
    f.sectorsPerCluster = clusterSizeFor(c, size, fat12 ? FAT12 : FAT16, 457);
    f.reservedSectors = reservedSectorsFor(c, 1, 463);
    f.rootEntries = rootEntriesFor(c, fat12);
    u32 computed =
        computedFat16Size(size, f.reservedSectors, f.rootEntries, f.sectorsPerCluster, fat12);
    u32 perFat = c.hasFats && c.fatSectors <= 0xFFFF ? c.fatSectors : 0;
    if (perFat == 0 && c.hasRootDir) {
        perFat =
            distance(static_cast<u64>(c.startLBA) + f.reservedSectors, c.rootDirLBA, 2 * 0xFFFF) /
            2;
        if (perFat != 0)
            logAt("DL", 505) << ": wFatSects set to default " << perFat << " root directory\n";
    }
    if (perFat == 0) {
        perFat = computed;
        logAt("DL", 508) << ": wFatSects set to default " << perFat << '\n';
    }
    if (perFat != computed)
        logAt("DL", 512) << ": new_b->wFatSects != SectorsPerFAT " << computed << '\n';
    f.sectorsPerFAT = perFat;
    // The width of an image is its count of clusters, and the width asked for
    // is the one its FATs have: a FAT12 image states no more clusters than
    // FAT12 numbers, a FAT16 one no fewer than 4,085 (a copy cut short holds
    // fewer), or either would read as the other.
    if (f.sectorsPerCluster != 0) {
        const u64 before = u64{f.reservedSectors} + u64{fatsOf(c)} * perFat +
                           ceilDiv(u64{f.rootEntries} * DIR_ENTRY_BYTES, SECTOR_BYTES);
        const u64 bound =
            before + u64{maxClusterCount(FAT12) + (fat12 ? 0 : 1)} * f.sectorsPerCluster;
        if (fat12 ? size > bound : size < bound) {
            f.totalSectors = static_cast<u32>(bound);
            logAt("RebuiltBootSector", 5)
                << ": the FAT" << (fat12 ? "12" : "16") << " volume at " << c.startLBA << " of "
                << size << " sectors is given " << bound << " sectors, as many clusters as "
                << (fat12 ? "FAT12 numbers at most" : "FAT16 has at least") << '\n';
        }
    }
    return f;
}

// A FAT32 boot sector from the evidence, as for FAT12/16; the root directory
// gives the root cluster.
FatBootParams fat32FromEvidence(const FsCandidate& c, u32 size) {
    FatBootParams f;
    f.totalSectors = size;
    f.sectorsPerCluster = clusterSizeFor(c, size, FAT32, 595);
    f.reservedSectors = reservedSectorsFor(c, 32, 601);
    const u64 fatStart = static_cast<u64>(c.startLBA) + f.reservedSectors;
    u32 computed = computedFat32Size(size, f.reservedSectors, f.sectorsPerCluster);
    u32 perFat = 0;
    if (c.hasSubDirs)
        perFat = distance(fatStart, c.cluster2LBA, 0xFFFFFFFF) / fatsOf(c);
    if (perFat == 0 && c.hasFats)
        perFat = c.fatSectors;
    if (perFat == 0 && c.hasRootDir) {
        perFat = distance(fatStart, c.rootDirLBA, 0xFFFFFFFF) / 2;
        if (perFat != 0)
            logAt("DL", 645) << ": FAT32.lFatSects set to default " << perFat
                             << " root directory\n";
    }
    if (perFat == 0) {
        perFat = computed;
        logAt("DL", 649) << ": FAT32.lFatSects set to default " << perFat << " docs\n";
    }
    if (perFat != computed)
        logAt("DL", 652) << ": new_b->FAT32.lFatSects != FATSz " << computed << '\n';
    f.sectorsPerFAT = perFat;

    const u64 dataStart = fatStart + u64{fatsOf(c)} * perFat;
    if (c.hasRootDir && c.rootDirLBA >= dataStart && f.sectorsPerCluster != 0 &&
        (c.rootDirLBA - dataStart) / f.sectorsPerCluster <= 0x0FFFFFF5 - 2) {
        f.rootCluster = static_cast<u32>((c.rootDirLBA - dataStart) / f.sectorsPerCluster + 2);
    } else {
        f.rootCluster = 2;
        logAt("DL", 666) << ": FAT32.lRootCluster set to default " << 2 << '\n';
    }
    return f;
}

// The root entries an image of sectors of `scale` 512-byte sectors states for
// a found boot sector: its own, but where the root of a volume of larger
// sectors fills more of the image's sectors than its entries take (100 entries
// in a sector of 4096 bytes), as many as those sectors hold, so that the image
// puts cluster 2 where the volume has it.
u32 rootEntriesOfImage(const FatBootParams& f, u32 scale) {
    const u64 sectors = f.dataLbaOffset > f.rootDirectoryLbaOffset
                            ? (f.dataLbaOffset - f.rootDirectoryLbaOffset) / scale
                            : 0;
    const u64 perSector = u64{DIR_ENTRIES_PER_SECTOR} * scale;
    if (ceilDiv(u64{f.rootEntries}, perSector) == sectors || sectors * perSector > 0xFFFF)
        return f.rootEntries;
    return static_cast<u32>(sectors * perSector);
}

// The 512-byte sectors to a sector in which the image's fields hold the found
// volume's sizes, each a whole number of them: 1 where they can, else the
// volume's own sector size, else the fewest that can (a record of a saved
// scan of version 4 keeps no sector size); 0 when no sector size a boot
// sector states can.
u32 imageScale(const FatBootParams& f) {
    auto holds = [&f](u32 scale) {
        const u32 sizes[] = {f.totalSectors,    f.sectorsPerCluster, f.sectorsPerFAT,
                             f.reservedSectors, f.dataLbaOffset,     f.rootDirectoryLbaOffset};
        return std::all_of(std::begin(sizes), std::end(sizes),
                           [scale](u32 n) { return n % scale == 0; }) &&
               f.sectorsPerCluster / scale <= 0xFF && f.reservedSectors / scale <= 0xFFFF;
    };
    if (holds(1))
        return 1;
    if (isFatSectorSize(f.bytesPerSector) && holds(f.bytesPerSector / SECTOR_BYTES))
        return f.bytesPerSector / SECTOR_BYTES;
    for (u32 scale = 2; isFatSectorSize(scale * SECTOR_BYTES); scale *= 2) {
        if (holds(scale))
            return scale;
    }
    return 0;
}

// The parameters a FAT image is written from, and how it states them: the
// found boot sector of that layout, else the evidence (its FATs, 512-byte
// sectors). False when there is no size to give the volume, or when no sector
// size lets the image's fields state the found one's clusters and reserved
// sectors.
bool fatParamsFor(const FsCandidate& c, Layout layout, bool fat12, FatBootParams& out,
                  ImageGeometry& image) {
    if (const BootParams* found = foundBootSector(c, layout)) {
        out = found->fat;
        if (layout == Layout::FixedRoot && c.folderClusterSize != 0)
            out.sectorsPerCluster = c.folderClusterSize;
        image.fats = out.fatCount();
        image.scale = imageScale(out);
        if (image.scale == 0 || image.fats == 0) {
            logAt("RebuiltBootSector", 4)
                << ": the FAT volume at " << c.startLBA << " has clusters of "
                << out.sectorsPerCluster << " sectors, " << out.reservedSectors
                << " reserved sectors and " << image.fats
                << " FATs: more than a boot sector states\n";
            return false;
        }
        image.rootEntries = layout == Layout::FixedRoot ? rootEntriesOfImage(out, image.scale) : 0;
        return true;
    }
    u32 size = volumeSize(c);
    if (size == 0)
        return false;
    out = layout == Layout::FixedRoot ? fat16FromEvidence(c, size, fat12)
                                      : fat32FromEvidence(c, size);
    image = ImageGeometry();
    image.fats = fatsOf(c);
    image.rootEntries = out.rootEntries;
    return true;
}

// ---- NTFS boot sectors made from the evidence ----

// What every NTFS image holds whatever it is made from: the cluster size, the
// FAT fields an NTFS boot sector leaves empty, the marker, the size and the
// index buffers that go with the clusters.
void writeNtfsSizes(const Array& s, u32 sectorsPerCluster, u64 totalSectors) {
    s.setU8(BS_SECTORS_PER_CLUSTER, static_cast<u8>(sectorsPerCluster));
    s.setU8(BS_FAT_COUNT, 0);
    s.setU8(BS_MEDIA, MEDIA_FIXED);
    s.setLE16(BS_SECTORS_PER_FAT_16, 0);
    s.setLE32(BSN_MARKER, NTFS_BOOT_MARKER);
    s.setLE64(BSN_TOTAL_SECTORS, totalSectors);
    s.setLE32(BSN_CLUSTERS_PER_INDEX, clustersPerIndexBuffer(sectorsPerCluster));
}

// Writes what the NTFS volume placed from its MFT records says, with defaults
// for the rest, over the sector's bytes. False when no readable boot sector
// can come of it.
bool writeNtfsFromEvidence(const Array& s, const FsCandidate& c) {
    u32 size = volumeSize(c);
    if (size == 0)
        return false;
    u32 clusterSize = 0;
    if (c.hasNtfsVolume) {
        clusterSize = c.ntfsSectorsPerCluster;
    } else if (s.getU8(BS_SECTORS_PER_CLUSTER) == 0) {
        clusterSize = defaultNtfsSectorsPerCluster(size);
        logAt("DL", 809) << ": bClustSize set to default " << clusterSize << '\n';
    } else {
        clusterSize = s.getU8(BS_SECTORS_PER_CLUSTER);
        logAt("DL", 811) << ": bClustSize not set (left " << clusterSize << ")\n";
    }
    // The byte holds 1 to 128; the MFT placement divides by the distance of
    // two records, which damage can make anything.
    if (!isValidSectorsPerCluster(clusterSize)) {
        logAt("RebuiltBootSector", 2)
            << ": no NTFS cluster size " << clusterSize << " at " << c.startLBA << '\n';
        return false;
    }
    u32 clustersPerRecord = 0;
    if (c.hasNtfsVolume &&
        !encodeClustersPerRecord(c.sectorsPerFileRecord, clusterSize, clustersPerRecord)) {
        logAt("RebuiltBootSector", 3)
            << ": no NTFS record size " << c.sectorsPerFileRecord << " at " << c.startLBA << '\n';
        return false;
    }

    // The backup boot sector follows the volume in its last sector.
    writeNtfsSizes(s, clusterSize, size - 1);
    if (c.hasNtfsVolume) {
        auto clusterOf = [&](u64 lba) {
            return lba >= c.startLBA ? (lba - c.startLBA) / clusterSize : 0;
        };
        s.setLE64(BSN_MFT_CLUSTER, clusterOf(c.mftLBA));
        s.setLE64(BSN_MFT_MIRROR_CLUSTER, clusterOf(c.mftMirrLBA));
        s.setLE32(BSN_CLUSTERS_PER_RECORD, clustersPerRecord);
        if (clustersPerRecord > 127)
            logAt("DL", 861) << ": clusters_per_file_record_u32 set to " << clustersPerRecord
                             << " (sectorsPerFileRecord = " << c.sectorsPerFileRecord
                             << ", bClustSize = " << clusterSize << ")\n";
    } else {
        logAt("DL", 879) << ": MFT_data_LCN_u64 not set\n";
    }
    return true;
}

// The layout of a boot sector that reads as one.
bool layoutOf(const u8* sector, Layout& out) {
    BootParams params;
    if (!readBootParams(sector, params))
        return false;
    for (Layout layout : {Layout::FixedRoot, Layout::RootCluster, Layout::Ntfs}) {
        if (hasLayout(params, layout)) {
            out = layout;
            return true;
        }
    }
    return false;
}

} // namespace

namespace DL {

void clearKeepingVolumeName(u8* image, const u8* old) {
    Layout made = Layout::FixedRoot;
    Layout was = Layout::FixedRoot;
    const bool keep = layoutOf(image, made) && layoutOf(old, was) && made == was;
    std::memset(image, 0, SECTOR_BYTES);
    if (!keep)
        return;
    auto copy = [&](u32 offset, u32 n) { std::memcpy(image + offset, old + offset, n); };
    if (made == Layout::Ntfs) {
        copy(BSN_SERIAL, sizeof(u64));
        return;
    }
    copy(BS_OEM_NAME, BS_OEM_NAME_BYTES);
    // The block after the parameters: drive number, signature, serial number,
    // label and type name; only a block that says it is one is taken.
    const u32 block = made == Layout::FixedRoot ? BS16_DRIVE_NUMBER : BS32_DRIVE_NUMBER;
    const u32 signature = made == Layout::FixedRoot ? BS16_SIGNATURE : BS32_SIGNATURE;
    const u32 end = (made == Layout::FixedRoot ? BS16_FS_TYPE : BS32_FS_TYPE) + BS_FS_TYPE_BYTES;
    if (old[signature] == BS_EXTENDED_SIGNATURE)
        copy(block, end - block);
}

bool formBootSectorFat16(const FsCandidate& candidate, u8* sector, Driver& driver, bool fat12) {
    FatBootParams f;
    ImageGeometry image;
    if (!fatParamsFor(candidate, Layout::FixedRoot, fat12, f, image))
        return false;
    Array s(sector, SECTOR_BYTES);
    if (holdsFoundBootSector(s, candidate, Layout::FixedRoot, driver, true)) {
        writeJump(s, 0x00);
        return true;
    }
    writeCommon(s, driver, 0x00);
    writeFatGeometry(s, f, image);
    bool floppy = driver.getProperties().getUInt8(PROP_IS_FLOPPY, 0) != 0;
    s.setU8(BS_MEDIA, floppy ? MEDIA_FLOPPY : MEDIA_FIXED);
    s.setLE16(BS_SECTORS_PER_FAT_16, static_cast<u16>(f.sectorsPerFAT / image.scale));
    writeHiddenSectors(s, candidate, driver, fat12 ? 0 : DEFAULT_HIDDEN_SECTORS, true);
    if (!fat12)
        writeExtendedBlock(s, BS16_DRIVE_NUMBER, BS16_SIGNATURE, BS16_FS_TYPE, "FAT16   ");
    return true;
}

bool formBootSectorFat32(const FsCandidate& candidate, u8* sector, Driver& driver) {
    FatBootParams f;
    ImageGeometry image;
    if (!fatParamsFor(candidate, Layout::RootCluster, false, f, image))
        return false;
    Array s(sector, SECTOR_BYTES);
    if (holdsFoundBootSector(s, candidate, Layout::RootCluster, driver, true)) {
        writeJump(s, 0x00);
        return true;
    }
    writeCommon(s, driver, 0x00);
    writeFatGeometry(s, f, image);
    s.setU8(BS_MEDIA, MEDIA_FIXED);
    s.setLE16(BS_SECTORS_PER_FAT_16, 0);
    writeHiddenSectors(s, candidate, driver, DEFAULT_HIDDEN_SECTORS, true);
    s.setLE32(BS32_SECTORS_PER_FAT, f.sectorsPerFAT / image.scale);
    s.setLE16(BS32_FLAGS, 0);
    s.setLE16(BS32_VERSION, 0);
    s.setLE32(BS32_ROOT_CLUSTER, f.rootCluster);
    // The information sector and the backup lie where the volume's own
    // sectors put them: those its boot sector states, else a backup found six
    // sectors of k of ours in says k.
    u32 own = f.bytesPerSector / SECTOR_BYTES;
    if (own == 0 && candidate.hasBootBackup && candidate.bootBackupLBA > candidate.startLBA) {
        const u32 in = candidate.bootBackupLBA - candidate.startLBA;
        const u32 k = in / FAT32_BACKUP_SECTOR;
        if (in % FAT32_BACKUP_SECTOR == 0 && k <= MAX_FAT_SECTOR_BYTES / SECTOR_BYTES &&
            isFatSectorSize(k * SECTOR_BYTES))
            own = k;
    }
    const u32 scale = own >= image.scale ? own / image.scale : 1;
    s.setLE16(BS32_FSINFO_SECTOR, static_cast<u16>(FAT32_FSINFO_SECTOR * scale));
    s.setLE16(BS32_BACKUP_SECTOR, static_cast<u16>(FAT32_BACKUP_SECTOR * scale));
    writeExtendedBlock(s, BS32_DRIVE_NUMBER, BS32_SIGNATURE, BS32_FS_TYPE, "FAT32   ");
    return true;
}

u32 evidenceVolumeSize(const FsCandidate& candidate) {
    return candidate.layoutSectors != 0 ? candidate.layoutSectors : candidate.maxSectors;
}

bool buildsFromFoundBootSector(const FsCandidate& candidate, FatType type) {
    return foundBootSector(candidate, type == FAT32 ? Layout::RootCluster : Layout::FixedRoot) !=
           nullptr;
}

bool formBootSectorNtfs(const FsCandidate& candidate, u8* sector, Driver& driver) {
    Array s(sector, SECTOR_BYTES);
    if (holdsFoundBootSector(s, candidate, Layout::Ntfs, driver, false)) {
        writeJump(s, 0x52);
        return true;
    }
    const BootParams* found = foundBootSector(candidate, Layout::Ntfs);
    u32 clustersPerRecord = 0;
    if (found && encodeClustersPerRecord(found->ntfs.sectorsPerFileRecord,
                                         found->ntfs.sectorsPerCluster, clustersPerRecord)) {
        const NtfsBootParams& n = found->ntfs;
        writeNtfsSizes(s, n.sectorsPerCluster, n.totalSectors);
        s.setLE64(BSN_MFT_CLUSTER, n.MFTCluster);
        s.setLE64(BSN_MFT_MIRROR_CLUSTER, n.MFTMirrCluster);
        s.setLE32(BSN_CLUSTERS_PER_RECORD, clustersPerRecord);
    } else if (!writeNtfsFromEvidence(s, candidate)) {
        return false;
    }
    writeCommon(s, driver, 0x52);
    s.write(BS_OEM_NAME, NTFS_OEM_NAME, BS_OEM_NAME_BYTES);
    writeHiddenSectors(s, candidate, driver, DEFAULT_HIDDEN_SECTORS, false);
    return true;
}

} // namespace DL
