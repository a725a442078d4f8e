#include "tests/support/HostileImages.h"

#include "core/Array.h"
#include "fs/DirectoryEntry.h"
#include "fs/FatLayout.h"
#include "fs/StructureChecks.h"
#include "tests/support/FatBytes.h"

#include <array>
#include <initializer_list>

namespace testutil {

namespace {

// A boot sector of a volume of one sector whose MFT (cluster 1) is the sector
// behind it; 0xF6: 2^10 bytes a file record.
std::string tinyNtfsBootSector() {
    const Sector s = ntfsBootSector(1, 1, 1, 1, 0xF6);
    return std::string(s.begin(), s.end());
}

void put(std::string& image, u64 lba, const std::string& bytes) {
    image.replace(lba * 512, bytes.size(), bytes);
}

// A partition table of these entries {type, start, sectors} in slots 0...
std::string partitionTable(std::initializer_list<std::array<u32, 3>> entries) {
    Sector table{};
    Array t(table.data(), 512);
    u32 slot = 0;
    for (const auto& entry : entries) {
        Array e(t, PARTITION_TABLE_OFFSET + slot++ * PARTITION_ENTRY_BYTES, PARTITION_ENTRY_BYTES);
        e.setU8(PE_TYPE, static_cast<u8>(entry[0]));
        e.setLE32(PE_START_LBA, entry[1]);
        e.setLE32(PE_SECTOR_COUNT, entry[2]);
    }
    t.setLE16(SECTOR_SIGNATURE_OFFSET, SECTOR_SIGNATURE);
    return std::string(table.begin(), table.end());
}

// The sector of a first-level folder: "." at its cluster, ".." at 0.
std::string firstLevel(u32 cluster) {
    return shortEntry(".          ", ATTR_DIRECTORY, cluster, 0) +
           shortEntry("..         ", ATTR_DIRECTORY, 0, 0);
}

// The two first-level folder sectors and the would-be root of fat32GridFlood.
void putGridTriple(std::string& image, u64 lba) {
    put(image, lba, firstLevel(GRID_FLOOD_CLUSTER));
    put(image, lba + 1, firstLevel(GRID_FLOOD_CLUSTER + 1));
    put(image, lba + 2,
        shortEntry("FOLDERA    ", ATTR_DIRECTORY, GRID_FLOOD_CLUSTER, 0) +
            shortEntry("FOLDERB    ", ATTR_DIRECTORY, GRID_FLOOD_CLUSTER + 1, 0));
}

} // namespace

std::string ntfsBootSectorFlood(u32 sectors) {
    const std::string boot = tinyNtfsBootSector();
    std::string image;
    image.reserve(static_cast<std::size_t>(sectors) * 512);
    for (u32 i = 0; i < sectors; ++i)
        image += boot;
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
        // FAT32 (LBA) partitions; starts count from the table.
        put(image, lba,
            partitionTable({{0x0C, 1, sectors - (lba + 1)},
                            {0x0C, 2, sectors - (lba + 2)},
                            {0x0C, 3, sectors - (lba + 3)},
                            {0x0C, 4, sectors - (lba + 4)}}));
        putGridTriple(image, lba + 1);
    }
    return image;
}

std::string fat32SharedFolderFlood(u32 sectors) {
    std::string image(static_cast<std::size_t>(sectors) * 512, '\0');
    const u32 shared = GRID_FLOOD_CLUSTER;
    const u32 step = SHARED_FOLDER_BITS + 2;
    // The folder at cluster k of a grid lies k - 2 sectors behind its cluster
    // 2, so the first grid's cluster 2 is sector 0.
    u32 grid = 1;
    for (u64 lba = shared - 2; lba + step <= sectors; lba += step, ++grid) {
        put(image, lba, firstLevel(shared));
        for (u32 bit = 0; bit < SHARED_FOLDER_BITS; ++bit) {
            if ((grid >> bit & 1) != 0)
                put(image, lba + 1 + bit, firstLevel(shared + 1 + bit));
        }
        put(image, lba + step - 1, shortEntry("FOLDER     ", ATTR_DIRECTORY, shared, 0));
    }
    return image;
}

std::string ebrChain(u32 depth) {
    // The MBR with the extended partition (LBA), then per link the record and
    // its partition's two sectors.
    const u32 sectors = 1 + depth * EBR_CHAIN_STEP;
    std::string image(static_cast<std::size_t>(sectors) * 512, '\0');
    put(image, 0, partitionTable({{0x0F, 1, sectors - 1}}));
    const std::string boot = tinyNtfsBootSector();
    for (u32 k = 0; k < depth; ++k) {
        const u32 lba = 1 + k * EBR_CHAIN_STEP;
        // The NTFS partition counts from its record, the link to the next
        // record from the extended partition's start.
        put(image, lba,
            k + 1 < depth
                ? partitionTable({{0x07, 1, 2}, {0x05, lba + EBR_CHAIN_STEP - 1, EBR_CHAIN_STEP}})
                : partitionTable({{0x07, 1, 2}}));
        put(image, lba + 1, boot + boot);
    }
    return image;
}

} // namespace testutil
