#include "tests/support/FatVolumes.h"

#include "core/Array.h"
#include "fs/FatLayout.h"
#include "fs/StructureChecks.h"
#include "fs/fat/FatsAnalyzer.h"
#include "tests/support/FsImages.h"

#include <stdexcept>

namespace testutil {

std::unique_ptr<Volume> openVolume(const std::string& path, u32 volumeLba,
                                   const std::vector<u64>& badSectors) {
    auto volume = std::make_unique<Volume>();
    volume->failing = new FailingReader(openImageReader(path), badSectors);
    volume->driver.reset(new Driver(SharedPtr<dt::Reader>(volume->failing), 512));
    const std::string boot = readAt(path, u64{volumeLba} * 512, 512);
    if (!fatFsParamsFromBootSector(volumeLba, bytesAt(boot), volume->params,
                                   volume->driver->getSectorCount()))
        throw std::runtime_error("no FAT volume at " + std::to_string(volumeLba));
    return volume;
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

SyntheticVolume::SyntheticVolume(FatType type, u32 clusters, u32 sectorsPerCluster,
                                 u32 rootSectors) {
    const u32 fatSectors = type == FAT12 ? 4 : type == FAT16 ? 16 : 512;
    params_.sectorsPerCluster = sectorsPerCluster;
    params_.fatLBA = 1;
    params_.sectorsPerFAT = fatSectors;
    params_.fatMirrLBA = 1 + fatSectors;
    params_.dataClusterLBA = 1 + FAT_COPIES * fatSectors;
    if (type == FAT32) {
        params_.rootCluster = 2;
    } else {
        params_.rootEntries = rootSectors * DIR_ENTRIES_PER_SECTOR;
        params_.rootDirectoryLBA = params_.dataClusterLBA;
        params_.dataClusterLBA += rootSectors;
    }
    params_.totalSectors = params_.dataClusterLBA + clusters * sectorsPerCluster;
    bytes_.assign(u64{params_.totalSectors} * 512, '\0');
    if (!params_.isValid())
        throw std::runtime_error(std::string("synthetic volume: ") + params_.invalidReason());
    // The media byte and the reserved second entry, as a formatter writes them.
    const u32 end = type == FAT12 ? FAT12_END : type == FAT16 ? FAT16_END : FAT32_END;
    setEntry(0, end - 7);
    setEntry(1, end);
    if (type == FAT32)
        setEntry(2, end);
}

SharedPtr<Driver> SyntheticVolume::driver(const std::vector<u64>& badSectors,
                                          FailingReader** failing) const {
    SharedPtr<dt::Reader> memory(new MemoryReader(bytes_));
    auto* reader = new FailingReader(memory, badSectors);
    if (failing)
        *failing = reader;
    return SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(reader), 512));
}

void SyntheticVolume::setEntry(u32 cluster, u32 value, bool bothFats) {
    for (u32 lba : {params_.fatLBA, params_.fatMirrLBA}) {
        ::setFatEntry(
            params_.fatType(), cluster,
            Array(reinterpret_cast<u8*>(&bytes_[u64{lba} * 512]), params_.sectorsPerFAT * 512),
            value, 0);
        if (!bothFats)
            break;
    }
}

void SyntheticVolume::setChain(const std::vector<u32>& clusters) {
    const FatType type = params_.fatType();
    for (std::size_t i = 0; i < clusters.size(); ++i)
        setEntry(clusters[i], i + 1 < clusters.size() ? clusters[i + 1]
                              : type == FAT12         ? FAT12_END
                              : type == FAT16         ? FAT16_END
                                                      : FAT32_END);
}

void SyntheticVolume::putEntries(u32 cluster, u64 first, const std::vector<std::string>& entries) {
    const u64 base = clusterOffset(params_, cluster);
    for (const std::string& e : entries)
        bytes_.replace(base + first++ * DIR_ENTRY_BYTES, DIR_ENTRY_BYTES, e);
}

} // namespace testutil
