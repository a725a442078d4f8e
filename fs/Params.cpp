#include "fs/Params.h"

#include "core/Array.h"
#include "core/Checked.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "devices/Driver.h"
#include "fs/FatLayout.h"
#include "fs/FsCandidate.h"
#include "fs/RebuiltBootSector.h"
#include "fs/StructureChecks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

constexpr u64 MAX_LBA32 = 0xFFFFFFFFull;
// The FAT of the most clusters FAT32 numbers, in 512-byte sectors.
constexpr u32 MAX_FAT_SECTORS = 0x200000;

ConstArray sectorView(const u8* sector) {
    return ConstArray(sector, SECTOR_BYTES);
}

bool hasSignature(const ConstArray& s) {
    return s.getLE16(SECTOR_SIGNATURE_OFFSET) == SECTOR_SIGNATURE;
}

bool hasBootSignature(const ConstArray& s) {
    return s.getLE16(BS_BYTES_PER_SECTOR) == SECTOR_BYTES && hasSignature(s);
}

// Sectors per file record from the clusters-per-record byte: records of whole
// clusters when it is positive, of 2^-c bytes when negative. The shift is taken
// modulo 32, so an absurd -128 gives 0 and the record is refused later.
u8 sectorsPerFileRecordOf(u8 sectorsPerCluster, u32 word) {
    auto c = static_cast<i8>(word & 0xFF);
    if (c >= 0)
        return static_cast<u8>(sectorsPerCluster * word);
    unsigned shift = static_cast<unsigned>(-static_cast<int>(c)) % 32;
    return static_cast<u8>((1u << shift) / SECTOR_BYTES);
}

void writeLine(std::ostream& os, const char* label, u64 value, bool last) {
    os << _(label) << ": " << value;
    if (!last)
        os << '\n';
}

} // namespace

bool readFatBootParams(const u8* sector, FatBootParams& out) {
    ConstArray s = sectorView(sector);
    // mkfs.fat -S writes the signature at byte 510 for every sector size, so
    // the first 512 bytes of a larger sector read as ours do.
    const u32 bytesPerSector = s.getLE16(BS_BYTES_PER_SECTOR);
    if (!hasSignature(s) || !isFatSectorSize(bytesPerSector))
        return false;
    const u32 fats = s.getU8(BS_FAT_COUNT);
    const u64 sectorsPerCluster = s.getU8(BS_SECTORS_PER_CLUSTER);
    if (sectorsPerCluster == 0 || fats == 0 || fats > MAX_FAT_COPIES)
        return false;
    u64 total = s.getLE16(BS_TOTAL_SECTORS_16);
    if (total == 0)
        total = s.getLE32(BS_TOTAL_SECTORS_32);
    u64 perFat = s.getLE16(BS_SECTORS_PER_FAT_16);
    if (perFat == 0)
        perFat = s.getLE32(BS32_SECTORS_PER_FAT);
    if (total == 0 || perFat == 0)
        return false;
    const u64 reserved = s.getLE16(BS_RESERVED_SECTORS);
    out.rootEntries = s.getLE16(BS_ROOT_ENTRIES);

    // Offsets in the volume's own sectors first: the root directory fills whole
    // sectors of its size, which need not be whole numbers of 512-byte ones.
    // The FATs follow the reserved sectors; 32-bit sizes of four FATs overflow
    // 32 bits, and an offset that does not fit them cannot be addressed.
    const u64 fatsEnd = reserved + fats * perFat;
    u64 data = 0;
    u64 root = 0;
    if (out.rootEntries != 0) {
        out.rootCluster = 0;
        root = fatsEnd;
        data = root + ceilDiv(u64{out.rootEntries} * DIR_ENTRY_BYTES, bytesPerSector);
    } else {
        out.rootCluster = s.getLE32(BS32_ROOT_CLUSTER);
        data = fatsEnd;
        // A root cluster below 2 names no cluster at all; the offset stays at the
        // data area and the parameter record refuses such a volume.
        root = data;
        if (out.rootCluster >= 2)
            root += sectorsPerCluster * (out.rootCluster - 2);
    }
    // Then all of it in 512-byte sectors.
    const u64 scale = bytesPerSector / SECTOR_BYTES;
    const u64 scaled[] = {total, sectorsPerCluster, perFat, reserved, data, root};
    for (u64 value : scaled) {
        if (value * scale > MAX_LBA32)
            return false;
    }
    out.bytesPerSector = bytesPerSector;
    out.totalSectors = static_cast<u32>(total * scale);
    out.sectorsPerCluster = static_cast<u32>(sectorsPerCluster * scale);
    out.sectorsPerFAT = static_cast<u32>(perFat * scale);
    out.reservedSectors = static_cast<u32>(reserved * scale);
    out.dataLbaOffset = static_cast<u32>(data * scale);
    out.rootDirectoryLbaOffset = static_cast<u32>(root * scale);
    return true;
}

u32 FatBootParams::fatCount() const {
    const u32 fatsEnd = rootEntries != 0 ? rootDirectoryLbaOffset : dataLbaOffset;
    if (sectorsPerFAT == 0 || fatsEnd < reservedSectors ||
        (fatsEnd - reservedSectors) % sectorsPerFAT != 0)
        return 0;
    return (fatsEnd - reservedSectors) / sectorsPerFAT;
}

u64 FatBootParams::dataClusters() const {
    if (sectorsPerCluster == 0 || totalSectors <= dataLbaOffset)
        return 0;
    return (totalSectors - dataLbaOffset) / sectorsPerCluster;
}

FatType FatBootParams::fatType() const {
    return fatTypeOfVolume(rootEntries == 0, dataClusters());
}

bool readNtfsBootParams(const u8* sector, NtfsBootParams& out) {
    ConstArray s = sectorView(sector);
    if (!hasBootSignature(s))
        return false;
    if (s.getU8(BS_FAT_COUNT) != 0 || s.getLE16(BS_SECTORS_PER_FAT_16) != 0 ||
        std::memcmp(sector + BS_OEM_NAME, NTFS_OEM_NAME, BS_OEM_NAME_BYTES) != 0)
        return false;
    out.totalSectors = s.getLE64(BSN_TOTAL_SECTORS);
    out.sectorsPerCluster = s.getU8(BS_SECTORS_PER_CLUSTER);
    out.MFTCluster = s.getLE64(BSN_MFT_CLUSTER);
    out.MFTMirrCluster = s.getLE64(BSN_MFT_MIRROR_CLUSTER);
    out.sectorsPerFileRecord =
        sectorsPerFileRecordOf(out.sectorsPerCluster, s.getLE32(BSN_CLUSTERS_PER_RECORD));
    return true;
}

bool readBootParams(const u8* sector, BootParams& out) {
    if (readFatBootParams(sector, out.fat)) {
        out.kind = FS_FAT;
        return true;
    }
    if (readNtfsBootParams(sector, out.ntfs)) {
        out.kind = FS_NTFS;
        return true;
    }
    return false;
}

bool equalBootParams(const BootParams& a, const BootParams& b) {
    if (a.kind != b.kind)
        return false;
    if (a.kind == FS_FAT) {
        const FatBootParams& x = a.fat;
        const FatBootParams& y = b.fat;
        return x.totalSectors == y.totalSectors && x.sectorsPerCluster == y.sectorsPerCluster &&
               x.sectorsPerFAT == y.sectorsPerFAT && x.reservedSectors == y.reservedSectors &&
               x.rootEntries == y.rootEntries && x.rootCluster == y.rootCluster &&
               x.dataLbaOffset == y.dataLbaOffset &&
               x.rootDirectoryLbaOffset == y.rootDirectoryLbaOffset;
    }
    if (a.kind == FS_NTFS) {
        const NtfsBootParams& x = a.ntfs;
        const NtfsBootParams& y = b.ntfs;
        return x.totalSectors == y.totalSectors && x.sectorsPerCluster == y.sectorsPerCluster &&
               x.MFTCluster == y.MFTCluster && x.MFTMirrCluster == y.MFTMirrCluster &&
               x.sectorsPerFileRecord == y.sectorsPerFileRecord;
    }
    return false;
}

std::ostream& operator<<(std::ostream& os, const BootParams& p) {
    if (p.kind == FS_FAT) {
        const FatBootParams& f = p.fat;
        // Root cluster before root entries: the order the log has always had.
        os << _("FAT") << '\n'
           << "totalSectors: " << f.totalSectors << '\n'
           << "sectorsPerCluster: " << f.sectorsPerCluster << '\n'
           << "sectorsPerFAT: " << f.sectorsPerFAT << '\n'
           << "reservedSectors: " << f.reservedSectors << '\n'
           << "rootCluster: " << f.rootCluster << '\n'
           << "rootEntries: " << f.rootEntries << '\n'
           << "dataLbaOffset: " << f.dataLbaOffset << '\n'
           << "rootDirectoryLbaOffset: " << f.rootDirectoryLbaOffset << '\n';
    } else if (p.kind == FS_NTFS) {
        const NtfsBootParams& n = p.ntfs;
        os << _("NTFS") << '\n'
           << "totalSectors: " << n.totalSectors << '\n'
           << "sectorsPerCluster: " << static_cast<unsigned>(n.sectorsPerCluster) << '\n'
           << "MFTCluster: " << n.MFTCluster << '\n'
           << "MFTMirrCluster: " << n.MFTMirrCluster << '\n'
           << "sectorsPerFileRecord: " << static_cast<unsigned>(n.sectorsPerFileRecord) << '\n';
    }
    return os;
}

// ---- FAT_FS_PARAMS ----

bool FAT_FS_PARAMS::operator==(const FAT_FS_PARAMS& o) const {
    return startingLBA == o.startingLBA && totalSectors == o.totalSectors &&
           sectorsPerCluster == o.sectorsPerCluster && fatLBA == o.fatLBA &&
           fatMirrLBA == o.fatMirrLBA && sectorsPerFAT == o.sectorsPerFAT &&
           rootEntries == o.rootEntries && rootDirectoryLBA == o.rootDirectoryLBA &&
           rootCluster == o.rootCluster && dataClusterLBA == o.dataClusterLBA;
}

const char* FAT_FS_PARAMS::invalidReason() const {
    if (totalSectors == 0 || sectorsPerCluster == 0 || sectorsPerFAT == 0)
        return "a size is 0";
    if (fatLBA == 0 || fatMirrLBA == 0 || dataClusterLBA == 0)
        return "an LBA is 0";
    if (rootEntries != 0) {
        if (rootDirectoryLBA == 0 || rootDirectoryLBA >= dataClusterLBA)
            return "the root directory does not lie before the data area";
    } else if (rootCluster < 2) {
        return "the root cluster is below 2";
    }
    if (sectorsPerFAT > MAX_FAT_SECTORS)
        return "the FAT is larger than any FAT width needs";
    if (endLBA() - 1 > MAX_LBA32)
        return "the volume passes LBA 2^32 - 1";
    // The FATs and the root lie inside the volume, in this order, before the
    // data; a single FAT is its own mirror.
    if (fatLBA < startingLBA ||
        (!hasOneFat() && static_cast<u64>(fatLBA) + sectorsPerFAT > fatMirrLBA) ||
        static_cast<u64>(fatMirrLBA) + sectorsPerFAT > dataClusterLBA)
        return "the FATs do not lie between the boot sector and the data area";
    if (dataClusterLBA >= endLBA())
        return "the data area is empty";
    return nullptr;
}

namespace {

// The clusters from cluster 2 to the volume's end, before any cap.
u64 areaClusters(const FAT_FS_PARAMS& p) {
    if (p.sectorsPerCluster == 0 || p.dataClusterLBA < p.startingLBA ||
        p.dataClusterLBA >= p.endLBA())
        return 0;
    return (p.endLBA() - p.dataClusterLBA) / p.sectorsPerCluster;
}

} // namespace

FatType FAT_FS_PARAMS::fatType() const {
    return fatTypeOfVolume(rootEntries == 0, areaClusters(*this));
}

u32 FAT_FS_PARAMS::get_cluster_count() const {
    if (sectorsPerCluster == 0)
        throw std::runtime_error("FAT_FS_PARAMS(8)");
    const u64 clusters = areaClusters(*this);
    // A boot sector may claim more sectors than its FAT has entries for: the
    // clusters past the last entry cannot belong to any chain. The width is
    // told before this cap: a FAT16 whose FAT is short stays FAT16.
    const FatType type = fatType();
    const u64 entries = fatEntryCount(type, sectorsPerFAT);
    const u64 addressable = entries > 2 ? entries - 2 : 0;
    return static_cast<u32>(std::min({clusters, addressable, u64{maxClusterCount(type)}}));
}

bool FAT_FS_PARAMS::isValidCluster(u32 n) const {
    return n >= 2 && n - 2 < get_cluster_count();
}

u64 FAT_FS_PARAMS::get_cluster_LBA(u32 n) const {
    if (!isValidCluster(n))
        logAt("FAT_FS_PARAMS", 22) << ": "
                                   << "FAT_FS_PARAMS::get_cluster_LBA: " << n << '\n';
    if (n < 2)
        return std::numeric_limits<u64>::max();
    return dataClusterLBA + static_cast<u64>(sectorsPerCluster) * (n - 2);
}

std::ostream& operator<<(std::ostream& os, const FAT_FS_PARAMS& p) {
    writeLine(os, "Starting LBA", p.startingLBA, false);
    writeLine(os, "Total Sectors", p.totalSectors, false);
    writeLine(os, "Sectors Per Cluster", p.sectorsPerCluster, false);
    writeLine(os, "FAT LBA", p.fatLBA, false);
    writeLine(os, "FATMirr LBA", p.fatMirrLBA, false);
    writeLine(os, "Sectors Per FAT", p.sectorsPerFAT, false);
    writeLine(os, "Root Directory Entries", p.rootEntries, false);
    writeLine(os, "Root Directory LBA", p.rootDirectoryLBA, false);
    writeLine(os, "Root Directory Cluster", p.rootCluster, false);
    writeLine(os, "Data Cluster LBA", p.dataClusterLBA, true);
    return os;
}

// ---- NTFS_FS_PARAMS ----

bool NTFS_FS_PARAMS::operator==(const NTFS_FS_PARAMS& o) const {
    return startingLBA == o.startingLBA && totalSectors == o.totalSectors &&
           sectorsPerCluster == o.sectorsPerCluster && mftLCN == o.mftLCN &&
           mftMirrLCN == o.mftMirrLCN && sectorsPerFileRecord == o.sectorsPerFileRecord;
}

const char* NTFS_FS_PARAMS::invalidReason() const {
    if (totalSectors == 0 || sectorsPerCluster == 0 || sectorsPerFileRecord == 0)
        return "a size is 0";
    if (mftLCN == 0 && mftMirrLCN == 0)
        return "neither the MFT nor its mirror is placed";
    return nullptr;
}

u64 NTFS_FS_PARAMS::get_cluster_count() const {
    if (sectorsPerCluster == 0)
        throw std::runtime_error("NTFS_FS_PARAMS(17)");
    return totalSectors / sectorsPerCluster;
}

u64 NTFS_FS_PARAMS::clusterLBA(u64 lcn) const {
    u64 lba = 0;
    if (!checkedMul(lcn, sectorsPerCluster, lba) || !checkedAdd(lba, startingLBA, lba))
        return std::numeric_limits<u64>::max();
    return lba;
}

std::ostream& operator<<(std::ostream& os, const NTFS_FS_PARAMS& p) {
    writeLine(os, "Starting LBA", p.startingLBA, false);
    writeLine(os, "Total Sectors", p.totalSectors, false);
    writeLine(os, "Sectors Per Cluster", p.sectorsPerCluster, false);
    writeLine(os, "MFT LCN", p.mftLCN, false);
    writeLine(os, "MFTMirr LCN", p.mftMirrLCN, false);
    writeLine(os, "Sectors Per File Record", p.sectorsPerFileRecord, true);
    return os;
}

// ---- Forming the records ----

namespace {

enum class SourceFit { INSIDE, CUT, OUTSIDE };

// A copy that stopped early (an imaging tool cut short) holds the start of a
// volume but not its end: such a volume is still offered, and its sectors past
// the end read as unreadable ones do. A boot sector that claims more than twice
// what the source holds from it on is taken for damage rather than a cut, so
// that no walk spends its time on more sectors that do not exist than on those
// that do.
SourceFit sourceFit(u64 lba, u64 totalSectors, u64 sourceSectors) {
    if (lba >= sourceSectors)
        return SourceFit::OUTSIDE;
    const u64 held = sourceSectors - lba;
    if (totalSectors <= held)
        return SourceFit::INSIDE;
    return totalSectors - held <= held ? SourceFit::CUT : SourceFit::OUTSIDE;
}

// Logs a cut or refused volume (the refusal under `refusedLine`); true when the
// volume is offered.
bool fitsSource(const char* stem, int refusedLine, const char* kind, u64 lba, u64 totalSectors,
                u64 sourceSectors) {
    switch (sourceFit(lba, totalSectors, sourceSectors)) {
    case SourceFit::INSIDE:
        return true;
    case SourceFit::CUT:
        logAt(stem, 34) << ": " << kind << " volume at sector " << lba << " of " << totalSectors
                        << " sectors is cut by the source's end " << sourceSectors
                        << ": the sectors past it are unreadable\n";
        return true;
    case SourceFit::OUTSIDE:
        break;
    }
    logAt(stem, refusedLine) << ": " << kind << " volume at sector " << lba << " of "
                             << totalSectors << " sectors passes the source's end " << sourceSectors
                             << " by more than the source holds of it\n";
    return false;
}

} // namespace

bool sourceHoldsVolume(u64 lba, u64 totalSectors, u64 sourceSectors) {
    return sourceFit(lba, totalSectors, sourceSectors) != SourceFit::OUTSIDE;
}

bool fatFsParamsFromBootSector(u32 lba, const u8* sector, FAT_FS_PARAMS& out, u64 sourceSectors) {
    FatBootParams b;
    if (!readFatBootParams(sector, b))
        return false;
    // Sums of a 32-bit LBA and 32-bit offsets: computed in 64 bits so that none
    // wraps around; a record whose LBAs pass 2^32 - 1 is refused below.
    const u32 fats = b.fatCount();
    u64 fat = static_cast<u64>(lba) + b.reservedSectors;
    u64 mirror = fats > 1 ? fat + b.sectorsPerFAT : fat;
    u64 root = b.rootEntries != 0 ? static_cast<u64>(lba) + b.rootDirectoryLbaOffset : 0;
    u64 data = static_cast<u64>(lba) + b.dataLbaOffset;
    if (data > MAX_LBA32) {
        logAt("FAT_FS_PARAMS", 30)
            << ": the data area passes LBA 2^32 - 1 (sector " << lba << ")\n";
        return false;
    }
    out = FAT_FS_PARAMS();
    out.startingLBA = lba;
    out.totalSectors = b.totalSectors;
    out.sectorsPerCluster = b.sectorsPerCluster;
    out.sectorsPerFAT = b.sectorsPerFAT;
    out.rootEntries = b.rootEntries;
    // The data area lies after the FATs and the root, so these fit too.
    out.fatLBA = static_cast<u32>(fat);
    out.fatMirrLBA = static_cast<u32>(mirror);
    out.rootDirectoryLBA = static_cast<u32>(root);
    out.rootCluster = b.rootEntries != 0 ? 0 : b.rootCluster;
    out.dataClusterLBA = static_cast<u32>(data);

    if (const char* why = out.invalidReason()) {
        logAt("FAT_FS_PARAMS", 31) << ": FAT volume at sector " << lba << ": " << why << '\n';
        return false;
    }
    return fitsSource("FAT_FS_PARAMS", 32, "FAT", lba, out.totalSectors, sourceSectors);
}

bool ntfsFsParamsFromBootSector(u32 lba, const u8* sector, NTFS_FS_PARAMS& out, u64 sourceSectors) {
    NtfsBootParams b;
    if (!readNtfsBootParams(sector, b))
        return false;
    out = NTFS_FS_PARAMS();
    out.startingLBA = lba;
    out.totalSectors = b.totalSectors;
    out.sectorsPerCluster = b.sectorsPerCluster;
    out.mftLCN = b.MFTCluster;
    out.mftMirrLCN = b.MFTMirrCluster;
    out.sectorsPerFileRecord = b.sectorsPerFileRecord;
    if (const char* why = out.invalidReason()) {
        logAt("NTFS_FS_PARAMS", 30) << ": NTFS volume at sector " << lba << ": " << why << '\n';
        return false;
    }
    if (!fitsSource("NTFS_FS_PARAMS", 31, "NTFS", lba, out.totalSectors, sourceSectors))
        return false;
    // The engine takes the MFT from either copy, so one of them must lie in
    // the source; a cluster number that puts both beyond it is damage.
    auto inSource = [&](u64 lcn) {
        u64 at = out.clusterLBA(lcn);
        return lcn != 0 && at < sourceSectors;
    };
    if (!inSource(out.mftLCN) && !inSource(out.mftMirrLCN)) {
        logAt("NTFS_FS_PARAMS", 32) << ": NTFS volume at sector " << lba << ": MFT cluster "
                                    << out.mftLCN << " and mirror cluster " << out.mftMirrLCN
                                    << " lie beyond the source's end " << sourceSectors << '\n';
        return false;
    }
    return true;
}

namespace {

// The layout repair reads and builds 512-byte images; a source of another
// sector size would not fit the buffers.
bool hasSectorsOf512(const Driver& driver, const char* stem) {
    if (driver.getSectorSize() == SECTOR_BYTES)
        return true;
    logAt(stem, 33) << ": sector size " << driver.getSectorSize() << " is not 512\n";
    return false;
}

} // namespace

bool form_fat_fs_params(const FsCandidate& candidate, FAT_FS_PARAMS& out, Driver& driver) {
    FsKind kind = FS_NONE;
    FatType fatType = FAT_NONE;
    partitionTypeToFs(candidate.fscode(), kind, fatType);
    if (kind != FS_FAT || (fatType != FAT12 && fatType != FAT16 && fatType != FAT32))
        return false;
    if (!hasSectorsOf512(driver, "FAT_FS_PARAMS"))
        return false;
    std::array<u8, SECTOR_BYTES> sector{};
    bool built = false;
    switch (fatType) {
    case FAT12:
    case FAT16:
        built = DL::formBootSectorFat16(candidate, sector.data(), driver, fatType == FAT12);
        break;
    case FAT32:
        built = DL::formBootSectorFat32(candidate, sector.data(), driver);
        break;
    default:
        throw std::runtime_error("form_fs_params(23)");
    }
    if (!built)
        return false;
    // A volume made from the evidence must fit the source as the evidence
    // sized it: the clusters its width has at least (a FAT16 of a copy cut
    // short) may reach further past the source's end.
    u64 source = driver.getSectorCount();
    if (!DL::buildsFromFoundBootSector(candidate, fatType)) {
        const u32 size = DL::evidenceVolumeSize(candidate);
        if (!sourceHoldsVolume(candidate.startLBA, size, source)) {
            logAt("FAT_FS_PARAMS", 35) << ": FAT volume at sector " << candidate.startLBA << " of "
                                       << size << " sectors passes the source's end " << source
                                       << " by more than the source holds of it\n";
            return false;
        }
        source = std::numeric_limits<u64>::max();
    }
    return fatFsParamsFromBootSector(candidate.startLBA, sector.data(), out, source);
}

bool form_ntfs_fs_params(const FsCandidate& candidate, NTFS_FS_PARAMS& out, Driver& driver) {
    FsKind kind = FS_NONE;
    FatType fatType = FAT_NONE;
    partitionTypeToFs(candidate.fscode(), kind, fatType);
    if (kind != FS_NTFS)
        return false;
    if (!hasSectorsOf512(driver, "NTFS_FS_PARAMS"))
        return false;
    std::array<u8, SECTOR_BYTES> sector{};
    bool read = candidate.hasBootSector && driver.readSectors(candidate.startLBA, 1, sector.data());
    if (!read && candidate.hasBootBackup)
        read = driver.readSectors(candidate.bootBackupLBA, 1, sector.data());
    if (!read) {
        sector.fill(0);
        if (!DL::formBootSectorNtfs(candidate, sector.data(), driver))
            return false;
    }
    return ntfsFsParamsFromBootSector(candidate.startLBA, sector.data(), out,
                                      driver.getSectorCount());
}

// ---- Default cluster size ----

namespace {

struct ClusterSizeRow {
    u32 maxSectors;
    u8 sectorsPerCluster;
};

// The size tables that FAT formatters have long used: the first row whose limit
// is at least the volume's sectors gives the cluster size; 0 means no size fits.
constexpr ClusterSizeRow FAT16_CLUSTER_SIZES[] = {
    {8400, 0},     {32680, 2},    {262144, 4},   {524288, 8},
    {1048576, 16}, {2097152, 32}, {4194304, 64}, {0xFFFFFFFF, 0},
};
constexpr ClusterSizeRow FAT32_CLUSTER_SIZES[] = {
    {66600, 0}, {532480, 1}, {16777216, 8}, {33554432, 16}, {67108864, 32}, {0xFFFFFFFF, 64},
};

template <std::size_t N> u8 lookUp(const ClusterSizeRow (&table)[N], u32 totalSectors) {
    for (const ClusterSizeRow& row : table) {
        if (row.maxSectors >= totalSectors)
            return row.sectorsPerCluster;
    }
    return 0;
}

} // namespace

u8 defaultSectorsPerCluster(u32 totalSectors, FatType type) {
    switch (type) {
    case FAT12:
        return 1;
    case FAT16:
        return lookUp(FAT16_CLUSTER_SIZES, totalSectors);
    case FAT32:
        return lookUp(FAT32_CLUSTER_SIZES, totalSectors);
    default:
        return 0;
    }
}

u32 defaultNtfsSectorsPerCluster(u32 totalSectors) {
    if (totalSectors <= 255999)
        return 1;
    if (totalSectors <= 499999)
        return 2;
    if (totalSectors <= 999999)
        return 4;
    return 8;
}
