#include "tests/support/FatBytes.h"

#include "core/Array.h"
#include "devices/UnreadableSectors.h"
#include "fs/DirectoryEntry.h"
#include "fs/FatLayout.h"
#include "fs/StructureChecks.h"
#include "tests/support/FsImages.h"

#include <cstring>
#include <stdexcept>

namespace testutil {

namespace {

Array arrayOf(std::string& s) {
    return Array(reinterpret_cast<u8*>(&s[0]), static_cast<u32>(s.size()));
}

} // namespace

Sector fatBootSector(u32 reserved, u32 sectorsPerFat, u32 rootEntries, u32 totalSectors,
                     u32 sectorsPerCluster, u32 rootCluster) {
    Sector s{};
    Array a(s.data(), 512);
    a.setLE16(BS_BYTES_PER_SECTOR, 512);
    a.setU8(BS_SECTORS_PER_CLUSTER, static_cast<u8>(sectorsPerCluster));
    a.setLE16(BS_RESERVED_SECTORS, static_cast<u16>(reserved));
    a.setU8(BS_FAT_COUNT, FAT_COPIES);
    a.setLE16(BS_ROOT_ENTRIES, static_cast<u16>(rootEntries));
    if (totalSectors < 0x10000)
        a.setLE16(BS_TOTAL_SECTORS_16, static_cast<u16>(totalSectors));
    else
        a.setLE32(BS_TOTAL_SECTORS_32, totalSectors);
    if (rootEntries != 0 && sectorsPerFat <= 0xFFFF)
        a.setLE16(BS_SECTORS_PER_FAT_16, static_cast<u16>(sectorsPerFat));
    else
        a.setLE32(BS32_SECTORS_PER_FAT, sectorsPerFat);
    if (rootEntries == 0)
        a.setLE32(BS32_ROOT_CLUSTER, rootCluster);
    a.setLE16(SECTOR_SIGNATURE_OFFSET, SECTOR_SIGNATURE);
    return s;
}

Sector ntfsBootSector(u64 totalSectors, u8 sectorsPerCluster, u64 mftCluster, u64 mirrorCluster,
                      u8 clustersPerRecord) {
    Sector s{};
    Array a(s.data(), 512);
    a.setU8(BS_JUMP, BS_JUMP_SHORT);
    a.write(BS_OEM_NAME, NTFS_OEM_NAME, BS_OEM_NAME_BYTES);
    a.setLE16(BS_BYTES_PER_SECTOR, 512);
    a.setU8(BS_SECTORS_PER_CLUSTER, sectorsPerCluster);
    a.setLE64(BSN_TOTAL_SECTORS, totalSectors);
    a.setLE64(BSN_MFT_CLUSTER, mftCluster);
    a.setLE64(BSN_MFT_MIRROR_CLUSTER, mirrorCluster);
    a.setU8(BSN_CLUSTERS_PER_RECORD, clustersPerRecord);
    a.setLE16(SECTOR_SIGNATURE_OFFSET, SECTOR_SIGNATURE);
    return s;
}

std::string shortEntry(const std::string& name11, u8 attributes, u32 cluster, u32 size, u16 date,
                       u16 time) {
    std::string e(DIR_ENTRY_BYTES, '\0');
    Array a = arrayOf(e);
    a.write(DE_NAME, name11.data(), SHORT_NAME_BYTES);
    a.setU8(DE_ATTRIBUTES, attributes);
    a.setLE16(DE_CLUSTER_HIGH, static_cast<u16>(cluster >> 16));
    a.setLE16(DE_CLUSTER_LOW, static_cast<u16>(cluster));
    a.setLE32(DE_SIZE, size);
    for (u32 at : {DE_WRITE_DATE, DE_CREATION_DATE, DE_ACCESS_DATE})
        a.setLE16(at, date);
    a.setLE16(DE_WRITE_TIME, time);
    a.setLE16(DE_CREATION_TIME, time);
    return e;
}

std::string lfnEntry(u8 order, u8 checksum, const std::vector<u16>& units) {
    std::string e(DIR_ENTRY_BYTES, '\0');
    Array a = arrayOf(e);
    for (u32 i = 0; i < LFN_UNITS_PER_ENTRY; ++i)
        a.setLE16(LFN_UNIT_OFFSETS[i], i < units.size()    ? units[i]
                                       : i == units.size() ? 0
                                                           : 0xFFFF);
    a.setU8(LFN_ORDER, order);
    a.setU8(DE_ATTRIBUTES, ATTR_LONG_NAME);
    a.setU8(LFN_CHECKSUM, checksum);
    return e;
}

std::vector<u16> asciiUnits(const std::string& text) {
    return std::vector<u16>(text.begin(), text.end());
}

u8 checksumOf(const std::string& name11) {
    return lfnChecksum(bytesAt(name11));
}

std::string thrownText(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return std::string();
}

std::string unreadableSector() {
    std::string sector(512, '\0');
    fillUnreadablePattern(reinterpret_cast<u8*>(&sector[0]), 512);
    return sector;
}

u64 clusterOffset(const FAT_FS_PARAMS& params, u32 cluster) {
    return (cluster == 0 ? u64{params.rootDirectoryLBA} : params.get_cluster_LBA(cluster)) *
           IMAGE_SECTOR;
}

void zeroFirstFat(const std::string& path, const FAT_FS_PARAMS& params) {
    writeAt(path, u64{params.fatLBA} * IMAGE_SECTOR,
            std::string(u64{params.sectorsPerFAT} * IMAGE_SECTOR, '\0'));
}

u64 entryOffsetIn(const std::string& path, const FAT_FS_PARAMS& params, u32 cluster,
                  const std::string& name11) {
    const u64 offset = clusterOffset(params, cluster);
    const u64 sectors = cluster == 0 ? params.dataClusterLBA - u64{params.rootDirectoryLBA}
                                     : params.sectorsPerCluster;
    const std::string dir = readAt(path, offset, sectors * IMAGE_SECTOR);
    for (u64 at = 0; at + DIR_ENTRY_BYTES <= dir.size(); at += DIR_ENTRY_BYTES) {
        if (dir.compare(at, SHORT_NAME_BYTES, name11) == 0 && !isLongNameEntry(bytesAt(dir, at)))
            return offset + at;
    }
    throw std::runtime_error("no entry " + name11 + " in cluster " + std::to_string(cluster));
}

} // namespace testutil
