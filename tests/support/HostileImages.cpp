#include "tests/support/HostileImages.h"

#include "core/Array.h"
#include "fs/DirectoryEntry.h"
#include "fs/FatLayout.h"
#include "fs/StructureChecks.h"
#include "tests/support/FatBytes.h"

namespace testutil {

namespace {

constexpr u8 TYPE_NTFS = 0x07;
constexpr u8 TYPE_FAT32_LBA = 0x0C;
constexpr u8 TYPE_EXTENDED = 0x05;
constexpr u8 TYPE_EXTENDED_LBA = 0x0F;
// Clusters per file record as a power of two: 2^10 bytes.
constexpr u8 RECORD_1K = 0xF6;

// A boot sector of a volume of one sector whose MFT (cluster 1) is the sector
// behind it.
Sector tinyNtfsBootSector() {
    return ntfsBootSector(1, 1, 1, 1, RECORD_1K);
}

void put(std::string& image, u64 lba, const std::string& bytes) {
    image.replace(lba * 512, bytes.size(), bytes);
}

void put(std::string& image, u64 lba, const Sector& sector) {
    put(image, lba, std::string(sector.begin(), sector.end()));
}

// A folder sector that holds these entries and then the end mark.
std::string folderSector(const std::string& entries) {
    std::string s(512, '\0');
    s.replace(0, entries.size(), entries);
    return s;
}

void setEntry(Array table, u32 slot, u8 type, u32 start, u32 sectors) {
    Array e(table, PARTITION_TABLE_OFFSET + slot * PARTITION_ENTRY_BYTES, PARTITION_ENTRY_BYTES);
    e.setU8(PE_TYPE, type);
    e.setLE32(PE_START_LBA, start);
    e.setLE32(PE_SECTOR_COUNT, sectors);
}

// The sector of a first-level folder: "." at its cluster, ".." at 0.
std::string firstLevel(u32 cluster) {
    return folderSector(shortEntry(".          ", ATTR_DIRECTORY, cluster, 0) +
                        shortEntry("..         ", ATTR_DIRECTORY, 0, 0));
}

// The two first-level folder sectors and the would-be root of fat32GridFlood.
void putGridTriple(std::string& image, u64 lba) {
    const u32 a = GRID_FLOOD_CLUSTER;
    const u32 b = GRID_FLOOD_CLUSTER + 1;
    put(image, lba, firstLevel(a));
    put(image, lba + 1, firstLevel(b));
    put(image, lba + 2,
        folderSector(shortEntry("FOLDERA    ", ATTR_DIRECTORY, a, 0) +
                     shortEntry("FOLDERB    ", ATTR_DIRECTORY, b, 0)));
}

} // namespace

std::string ntfsBootSectorFlood(u32 sectors) {
    const Sector boot = tinyNtfsBootSector();
    std::string image;
    image.reserve(static_cast<std::size_t>(sectors) * 512);
    for (u32 i = 0; i < sectors; ++i)
        image.append(boot.begin(), boot.end());
    return image;
}

std::string fat32GridFlood(u32 sectors) {
    std::string image(static_cast<std::size_t>(sectors) * 512, '\0');
    for (u32 lba = 0; lba + 3 <= sectors; lba += 3)
        putGridTriple(image, lba);
    return image;
}

std::string fat32PartitionGridFlood(u32 sectors) {
    std::string image(static_cast<std::size_t>(sectors) * 512, '\0');
    for (u32 lba = 0; lba + 4 <= sectors; lba += 4) {
        Sector table{};
        Array t(table.data(), 512);
        // Starts count from the table.
        for (u32 slot = 0; slot < 4; ++slot)
            setEntry(t, slot, TYPE_FAT32_LBA, slot + 1, sectors - (lba + slot + 1));
        t.setLE16(SECTOR_SIGNATURE_OFFSET, SECTOR_SIGNATURE);
        put(image, lba, table);
        putGridTriple(image, lba + 1);
    }
    return image;
}

std::string fat32SharedFolderFlood(u32 sectors) {
    std::string image(static_cast<std::size_t>(sectors) * 512, '\0');
    const u32 shared = GRID_FLOOD_CLUSTER;
    const u32 step = SHARED_FOLDER_BITS + 2;
    const std::string root = folderSector(shortEntry("FOLDER     ", ATTR_DIRECTORY, shared, 0));
    // The folder at cluster k of a grid lies k - 2 sectors behind its cluster
    // 2, so the first grid's cluster 2 is sector 0.
    u32 grid = 1;
    for (u64 lba = shared - 2; lba + step <= sectors; lba += step, ++grid) {
        put(image, lba, firstLevel(shared));
        for (u32 bit = 0; bit < SHARED_FOLDER_BITS; ++bit) {
            if ((grid >> bit & 1) != 0)
                put(image, lba + 1 + bit, firstLevel(shared + 1 + bit));
        }
        put(image, lba + step - 1, root);
    }
    return image;
}

std::string ebrChain(u32 depth) {
    // The MBR, then per link the record and its partition's two sectors.
    const u32 sectors = 1 + depth * EBR_CHAIN_STEP;
    std::string image(static_cast<std::size_t>(sectors) * 512, '\0');
    Sector mbr{};
    Array m(mbr.data(), 512);
    setEntry(m, 0, TYPE_EXTENDED_LBA, 1, sectors - 1);
    m.setLE16(SECTOR_SIGNATURE_OFFSET, SECTOR_SIGNATURE);
    put(image, 0, mbr);
    const Sector boot = tinyNtfsBootSector();
    for (u32 k = 0; k < depth; ++k) {
        const u32 lba = 1 + k * EBR_CHAIN_STEP;
        Sector ebr{};
        Array e(ebr.data(), 512);
        // The partition counts from its record, the link from the extended
        // partition's start.
        setEntry(e, 0, TYPE_NTFS, 1, 2);
        if (k + 1 < depth)
            setEntry(e, 1, TYPE_EXTENDED, lba + EBR_CHAIN_STEP - 1, EBR_CHAIN_STEP);
        e.setLE16(SECTOR_SIGNATURE_OFFSET, SECTOR_SIGNATURE);
        put(image, lba, ebr);
        put(image, lba + 1, boot);
        put(image, lba + 2, boot);
    }
    return image;
}

} // namespace testutil
