#include "tests/fs/fat/FatTestVolume.h"

#include "core/Array.h"
#include "devices/DtReaderFile.h"
#include "fs/DirectoryEntry.h"
#include "fs/StructureChecks.h"
#include "fs/fat/FatsAnalyzer.h"
#include "tests/support/TestUtil.h"
#include "tree/ParserRecover.h"
#include "tree/ParserSelect.h"
#include "tree/RecovererCopyOff.h"

#include <set>
#include <sstream>
#include <stdexcept>

namespace fattest {

namespace {

std::unique_ptr<Volume> openOver(const SharedPtr<dt::Reader>& reader, u32 volumeLba) {
    auto volume = std::make_unique<Volume>();
    volume->driver.reset(new Driver(reader, testutil::IMAGE_SECTOR));
    std::vector<u8> boot(testutil::IMAGE_SECTOR);
    if (!reader->read(static_cast<i64>(volumeLba) * testutil::IMAGE_SECTOR, boot.data(),
                      testutil::IMAGE_SECTOR))
        throw std::runtime_error("cannot read the boot sector");
    if (!fatFsParamsFromBootSector(volumeLba, boot.data(), volume->params,
                                   volume->driver->getSectorCount()))
        throw std::runtime_error("no FAT volume at " + std::to_string(volumeLba));
    return volume;
}

// Where the entry of a cluster lies: the FAT sector to start reading at, how
// many sectors to read (a FAT12 FAT, at most 12 sectors, is taken whole so that
// no entry straddles the read) and the entry's index from there.
struct EntryPlace {
    FatType type;
    u64 sector;
    u64 sectors;
    u32 index;
};

EntryPlace placeOf(const FAT_FS_PARAMS& params, u32 cluster) {
    const FatType type = params.fatType();
    if (type == FAT12)
        return {type, 0, params.sectorsPerFAT, cluster};
    const u32 perSector = type == FAT16 ? 256 : 128;
    return {type, cluster / perSector, 1, cluster % perSector};
}

} // namespace

std::unique_ptr<Volume> openVolume(const std::string& path, u32 volumeLba,
                                   const std::vector<u64>& badSectors) {
    auto* file = new dt::ReaderFile;
    SharedPtr<dt::Reader> inner(file);
    if (!file->open(path.c_str()))
        throw std::runtime_error("cannot open " + path);
    if (badSectors.empty())
        return openOver(inner, volumeLba);
    auto* failing = new testutil::FailingReader(inner, {});
    SharedPtr<dt::Reader> reader(failing);
    auto volume = openOver(inner, volumeLba);
    volume->driver.reset(new Driver(reader, testutil::IMAGE_SECTOR));
    volume->failing = failing;
    for (u64 lba : badSectors)
        failing->addBadSector(lba);
    return volume;
}

std::unique_ptr<Volume> openVolume(const testutil::FatImage& image,
                                   const std::vector<u64>& badSectors) {
    return openVolume(image.path(), image.volumeLba(), badSectors);
}

std::unique_ptr<Volume> openMemoryVolume(const std::string& bytes, u32 volumeLba) {
    SharedPtr<dt::Reader> reader(new testutil::MemoryReader(bytes));
    return openOver(reader, volumeLba);
}

std::unique_ptr<tree::FATMapImpl> buildTree(Volume& volume, bool analyze) {
    Bitmap mirror(volume.params.sectorsPerFAT);
    if (analyze)
        analyzeFats(mirror, volume.driver.get(), volume.params, nullptr);
    auto map = std::make_unique<tree::FATMapImpl>(volume.driver, volume.params, mirror,
                                                  &volume.unreadable, volume.runs);
    map->finishTree();
    map->analyzeFoundFiles();
    map->finishTree();
    return map;
}

std::string patternData(u64 size, u32 seed) {
    std::string data(size, '\0');
    u32 x = seed * 2654435761u + 1;
    for (u64 i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<char>(x >> 23);
    }
    return data;
}

u64 clusterOffset(const FAT_FS_PARAMS& params, u32 cluster) {
    return params.get_cluster_LBA(cluster) * testutil::IMAGE_SECTOR;
}

void setFatEntry(const std::string& path, const FAT_FS_PARAMS& params, u32 cluster, u32 value,
                 bool bothFats) {
    const EntryPlace at = placeOf(params, cluster);
    const u64 bytes = at.sectors * testutil::IMAGE_SECTOR;
    for (u32 copy = 0; copy < (bothFats ? 2u : 1u); ++copy) {
        const u64 lba = (copy == 0 ? params.fatLBA : params.fatMirrLBA) + at.sector;
        const u64 offset = lba * testutil::IMAGE_SECTOR;
        std::string table = testutil::readAt(path, offset, bytes);
        ::setFatEntry(at.type, at.index,
                      Array(reinterpret_cast<u8*>(&table[0]), static_cast<u32>(bytes)), value, 0);
        testutil::writeAt(path, offset, table);
    }
}

u32 getFatEntryOf(const std::string& path, const FAT_FS_PARAMS& params, u32 cluster) {
    const EntryPlace at = placeOf(params, cluster);
    const u64 bytes = at.sectors * testutil::IMAGE_SECTOR;
    const std::string table =
        testutil::readAt(path, (params.fatLBA + at.sector) * testutil::IMAGE_SECTOR, bytes);
    return getFatEntry(
        at.type, at.index,
        ConstArray(reinterpret_cast<const u8*>(table.data()), static_cast<u32>(bytes)), 0);
}

u64 findEntryOffset(const std::string& path, const FAT_FS_PARAMS& params, u32 dirCluster,
                    const std::string& name11) {
    u64 offset = 0;
    u64 bytes = 0;
    if (dirCluster == 0) {
        offset = static_cast<u64>(params.rootDirectoryLBA) * testutil::IMAGE_SECTOR;
        bytes = (static_cast<u64>(params.dataClusterLBA) - params.rootDirectoryLBA) *
                testutil::IMAGE_SECTOR;
    } else {
        offset = clusterOffset(params, dirCluster);
        bytes = static_cast<u64>(params.sectorsPerCluster) * testutil::IMAGE_SECTOR;
    }
    const std::string dir = testutil::readAt(path, offset, bytes);
    for (u64 at = 0; at + 32 <= dir.size(); at += 32) {
        if (dir.compare(at, 11, name11) == 0 && static_cast<u8>(dir[at + 11]) != ATTR_LONG_NAME)
            return offset + at;
    }
    throw std::runtime_error("no entry " + name11 + " in cluster " + std::to_string(dirCluster));
}

u32 entryCluster(const std::string& path, u64 entryOffset) {
    const std::string e = testutil::readAt(path, entryOffset, 32);
    return dirEntryStartCluster(reinterpret_cast<const u8*>(e.data()));
}

u32 entryClusterIn(const std::string& path, const FAT_FS_PARAMS& params, u32 dirCluster,
                   const std::string& name11) {
    return entryCluster(path, findEntryOffset(path, params, dirCluster, name11));
}

SyntheticVolume::SyntheticVolume(FatType type, u32 clusters, u32 sectorsPerCluster,
                                 u32 rootSectors) {
    const u32 fatSectors = type == FAT12 ? 4 : type == FAT16 ? 16 : 512;
    params_.startingLBA = 0;
    params_.sectorsPerCluster = sectorsPerCluster;
    params_.fatLBA = 1;
    params_.sectorsPerFAT = fatSectors;
    params_.fatMirrLBA = 1 + fatSectors;
    if (type == FAT32) {
        params_.rootCluster = 2;
        params_.dataClusterLBA = 1 + 2 * fatSectors;
    } else {
        params_.rootEntries = rootSectors * DIR_ENTRIES_PER_SECTOR;
        params_.rootDirectoryLBA = 1 + 2 * fatSectors;
        params_.dataClusterLBA = params_.rootDirectoryLBA + rootSectors;
    }
    params_.totalSectors = params_.dataClusterLBA + clusters * sectorsPerCluster;
    bytes_.assign(static_cast<std::size_t>(params_.totalSectors) * testutil::IMAGE_SECTOR, '\0');
    if (!params_.isValid())
        throw std::runtime_error(std::string("synthetic volume: ") + params_.invalidReason());
    // Media byte and the reserved second entry, as a formatter writes them.
    setEntry(0, type == FAT12 ? 0xFF8 : type == FAT16 ? 0xFFF8 : 0x0FFFFFF8);
    setEntry(1, type == FAT12 ? 0xFFF : type == FAT16 ? 0xFFFF : 0x0FFFFFFF);
    if (type == FAT32)
        setEntry(2, 0x0FFFFFFF);
}

SharedPtr<Driver> SyntheticVolume::driver() const {
    SharedPtr<dt::Reader> reader(new testutil::MemoryReader(bytes_));
    return SharedPtr<Driver>(new Driver(reader, testutil::IMAGE_SECTOR));
}

SharedPtr<Driver> SyntheticVolume::watchedDriver(const std::vector<u64>& badSectors,
                                                 testutil::FailingReader*& failing) const {
    SharedPtr<dt::Reader> memory(new testutil::MemoryReader(bytes_));
    failing = new testutil::FailingReader(memory, badSectors);
    return SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(failing), testutil::IMAGE_SECTOR));
}

void SyntheticVolume::setEntry(u32 cluster, u32 value, bool bothFats) {
    const u32 bytes = params_.sectorsPerFAT * testutil::IMAGE_SECTOR;
    for (u32 copy = 0; copy < (bothFats ? 2u : 1u); ++copy) {
        const u64 at = static_cast<u64>(copy == 0 ? params_.fatLBA : params_.fatMirrLBA) *
                       testutil::IMAGE_SECTOR;
        ::setFatEntry(params_.fatType(), cluster, Array(reinterpret_cast<u8*>(&bytes_[at]), bytes),
                      value, 0);
    }
}

void SyntheticVolume::setChain(const std::vector<u32>& clusters) {
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        const bool last = i + 1 == clusters.size();
        const u32 end = params_.fatType() == FAT12   ? 0xFFF
                        : params_.fatType() == FAT16 ? 0xFFFF
                                                     : 0x0FFFFFFF;
        setEntry(clusters[i], last ? end : clusters[i + 1]);
    }
}

u64 SyntheticVolume::clusterOffset(u32 cluster) const {
    return fattest::clusterOffset(params_, cluster);
}

void SyntheticVolume::putEntry(u32 cluster, u64 index, const std::string& entry) {
    const u64 base = cluster == 0
                         ? static_cast<u64>(params_.rootDirectoryLBA) * testutil::IMAGE_SECTOR
                         : clusterOffset(cluster);
    bytes_.replace(static_cast<std::size_t>(base + index * DIR_ENTRY_BYTES), DIR_ENTRY_BYTES,
                   entry.substr(0, DIR_ENTRY_BYTES));
}

std::string shortEntry(const std::string& name11, u8 attributes, u32 cluster, u32 size, u16 date,
                       u16 time) {
    std::string e(DIR_ENTRY_BYTES, '\0');
    Array a(reinterpret_cast<u8*>(&e[0]), DIR_ENTRY_BYTES);
    a.write(DE_NAME, name11.data(), SHORT_NAME_BYTES);
    a.setU8(DE_ATTRIBUTES, attributes);
    a.setLE16(DE_CLUSTER_HIGH, static_cast<u16>(cluster >> 16));
    a.setLE16(DE_CLUSTER_LOW, static_cast<u16>(cluster));
    a.setLE32(DE_SIZE, size);
    a.setLE16(DE_WRITE_DATE, date);
    a.setLE16(DE_WRITE_TIME, time);
    a.setLE16(DE_CREATION_DATE, date);
    a.setLE16(DE_CREATION_TIME, time);
    a.setLE16(DE_ACCESS_DATE, date);
    return e;
}

std::string lfnEntry(u8 order, u8 checksum, const std::vector<u16>& units) {
    std::string e(DIR_ENTRY_BYTES, '\0');
    Array a(reinterpret_cast<u8*>(&e[0]), DIR_ENTRY_BYTES);
    static const u32 SLOTS[LFN_UNITS_PER_ENTRY] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (u32 i = 0; i < LFN_UNITS_PER_ENTRY; ++i) {
        u16 unit = i < units.size() ? units[i] : i == units.size() ? 0 : 0xFFFF;
        a.setLE16(SLOTS[i], unit);
    }
    a.setU8(LFN_ORDER, order);
    a.setU8(DE_ATTRIBUTES, ATTR_LONG_NAME);
    a.setU8(LFN_CHECKSUM, checksum);
    return e;
}

std::vector<u16> asciiUnits(const std::string& text) {
    return std::vector<u16>(text.begin(), text.end());
}

} // namespace fattest
