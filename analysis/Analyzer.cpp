#include "analysis/Analyzer.h"

#include "analysis/DriveLayout.h"
#include "analysis/DriveLayoutApply.h"
#include "analysis/FsCollection.h"
#include "analysis/FsFilters.h"
#include "analysis/MapInterface.h"
#include "analysis/ScScanner.h"
#include "analysis/ScScannerReaderListener.h"
#include "cbr/CbrMapImpl.h"
#include "cbr/FileModuleRegistry.h"
#include "cbr/PatternsFile.h"
#include "cbr/Scanner.h"
#include "core/AppDirectory.h"
#include "core/Checked.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "devices/DriveGeometry.h"
#include "devices/Reader.h"
#include "devices/UnreadableSectors.h"
#include "fs/RebuiltBootSector.h"
#include "fs/fat/FATDrive.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

// Carved files go into the drive description as the carver finds them, and
// their count to the scanner page's counter.
class CarvedFilesCallback : public cbr::Scanner::Callback {
public:
    CarvedFilesCallback(std::vector<cbr::FileInfo>& files, InterfaceCallback* progress)
        : files_(files), first_(files.size()), progress_(progress) {}

    void found(const cbr::FileInfo& file) override {
        files_.push_back(file);
        if (progress_ != nullptr)
            progress_->setPosition(InterfaceCallback::FOUND_CBR_FILES, files_.size());
    }

    void shortened(std::size_t nth, u64 size) override { files_.at(first_ + nth).setSize(size); }

private:
    std::vector<cbr::FileInfo>& files_;
    // Where this scan's files begin in the list.
    std::size_t first_;
    InterfaceCallback* progress_;
};

// Hands every sector the sector scan has classified on to the carver, with the
// sectors buffered after it.
class CarverFeed : public ScScanner::ContentScanner {
public:
    explicit CarverFeed(cbr::Scanner& carver) : carver_(carver) {}
    void processSector(u64 byteOffset, const u8* sector, u32 size) override {
        carver_.processSector(byteOffset, sector, size);
    }

private:
    cbr::Scanner& carver_;
};

// The carver measures its files by reading the source itself. A sector that
// cannot be read there reads as the unreadable fill, as it did in the scan, so
// that a bad sector inside a file keeps the file, at its length, instead of
// ending it.
class FilledReader : public dt::Reader {
public:
    explicit FilledReader(dt::Reader& source) : source_(source) { setSize(source.getSize()); }

    bool read(i64 offset, u8* buffer, i64 size) override {
        if (!dt::rangeInside(offset, size, getSize()))
            return false;
        if (source_.read(offset, buffer, size))
            return true;
        // Sector by sector, on the source's own sector grid.
        const i64 sector = static_cast<i64>(SECTOR_BYTES);
        for (i64 at = offset; at < offset + size;) {
            const i64 n = std::min(sector - at % sector, offset + size - at);
            if (!source_.read(at, buffer + (at - offset), n))
                fillUnreadablePattern(buffer + (at - offset), static_cast<u64>(n));
            at += n;
        }
        return true;
    }

private:
    dt::Reader& source_;
};

// The carver reads the source on this thread while the sector reader reads
// ahead on its own; below, a device's cache or a composed source takes one read
// at a time.
class OneReadAtATime : public dt::Reader {
public:
    explicit OneReadAtATime(dt::Reader& source) : source_(source) { setSize(source.getSize()); }

    bool read(i64 offset, u8* buffer, i64 size) override {
        std::lock_guard<std::mutex> hold(lock_);
        return source_.read(offset, buffer, size);
    }

private:
    dt::Reader& source_;
    std::mutex lock_;
};

// The part of [first, first + count) that lies on the source. Reading past the
// end would only ask the user about read errors that are none.
u64 sectorsOnSource(u64 first, u64 count, u64 sectorCount) {
    if (first >= sectorCount)
        return 0;
    return std::min(count, sectorCount - first);
}

struct SectorRange {
    u64 first;
    u64 count;
};

// What a quick scan reads of a FAT volume: the boot sector and, on FAT32, its
// backup; the first sector of both FATs; the root directory (FAT12/16) or the
// root directory's first cluster (FAT32).
void fatQuickReads(const FAT_FS_PARAMS& fat, std::vector<SectorRange>& reads) {
    const bool fat32 = fat.rootEntries == 0;
    if (fat32)
        reads.push_back({static_cast<u64>(fat.startingLBA) + 6, 1});
    reads.push_back({fat.fatLBA, 1});
    reads.push_back({fat.fatMirrLBA, 1});
    if (fat32)
        reads.push_back({fat.get_cluster_LBA(fat.rootCluster), fat.sectorsPerCluster});
    else if (fat.dataClusterLBA > fat.rootDirectoryLBA)
        reads.push_back({fat.rootDirectoryLBA, fat.dataClusterLBA - fat.rootDirectoryLBA});
}

// Of an NTFS volume: the boot sector and its backup after the volume, the first
// seven MFT records and the four of the mirror.
void ntfsQuickReads(const NTFS_FS_PARAMS& ntfs, u64 sectorCount, std::vector<SectorRange>& reads) {
    reads.push_back({ntfs.startingLBA, 1});
    const u64 end = ntfs.startingLBA + ntfs.totalSectors;
    if (ntfs.totalSectors < sectorCount && end < sectorCount)
        reads.push_back({end, 1});
    // A record size beyond reason reads only what lies on the source.
    const u64 record = std::min<u64>(ntfs.sectorsPerFileRecord, sectorCount);
    reads.push_back({ntfs.clusterLBA(ntfs.mftLCN), 7 * record});
    reads.push_back({ntfs.clusterLBA(ntfs.mftMirrLCN), 4 * record});
}

// The reserved sectors that formatters leave before the first FAT: a FAT12 or
// FAT16 volume keeps its boot sector there, padded to a cluster; a FAT32 one
// its boot sector, FSInfo sector and their backups, padded the same way.
constexpr u32 MIN_FAT32_RESERVED = 32;
constexpr u32 MAX_FAT32_RESERVED = 96;
constexpr u32 MAX_FAT16_RESERVED = 32;

// The fewest sectors a FAT32's FAT takes: one entry for each of the 65525
// clusters below which a volume is FAT16, and the two reserved entries.
constexpr u32 MIN_FAT32_FAT_SECTORS = ceilDiv(65527u * 4, SECTOR_BYTES);

// Whether the first FAT the scan found can only belong to a volume that starts
// in sector 0: it lies in the first track, where no disk keeps a partition, or
// no place where partitions start lies the reserved sectors of its width
// before it. A first sector that reads as FAT16 and FAT32 alike is a FAT16's
// when the next FAT the scan found (its copy) follows closer than a FAT32's
// FAT can be long.
bool fatOfVolumeAtSectorZero(const FoundList<FoundFatSector>& fats) {
    const FoundFatSector& fat = *fats.begin();
    if (fat.lba < DEFAULT_SECTORS_PER_TRACK)
        return true;
    const auto next = std::next(fats.begin());
    const bool copyClose = next != fats.end() && next->lba - fat.lba < MIN_FAT32_FAT_SECTORS;
    const bool fat32 = fat.fatType == FAT32 || (fat.fatType == FAT16_32 && !copyClose);
    const bool fat16 = fat.fatType != FAT32;
    const u32 least = fat16 ? 1 : MIN_FAT32_RESERVED;
    const u32 most = fat32 ? MAX_FAT32_RESERVED : MAX_FAT16_RESERVED;
    for (u32 reserved = least; reserved <= most && reserved < fat.lba; ++reserved) {
        if (startsLikeAPartition(fat.lba - reserved))
            return false;
    }
    return true;
}

// Whether the table in sector 0 is one. Boot code whose bytes read as entries
// names places where no volume starts, while the FATs of the volume that boot
// sector begins lie before them; a table whose volumes all lost their boot
// sectors still has nothing before its first entry.
bool tableInSectorZeroHolds(const FoundPartitionTable& table, const ScanResults& r,
                            const std::set<u32>& ntfs) {
    u32 first = std::numeric_limits<u32>::max();
    for (const FoundPartitionEntry& e : table.entries) {
        if (e.type != 0)
            first = std::min(first, e.startLba);
    }
    // The FATs of a volume that starts in sector 0 lie before every entry; its
    // second FAT may then lie just behind one, where it confirms nothing.
    const bool volumeAtZero = !r.fatSectors.empty() && r.fatSectors.begin()->lba < first &&
                              fatOfVolumeAtSectorZero(r.fatSectors);
    for (const FoundPartitionEntry& e : table.entries) {
        if (e.type == 0)
            continue;
        const u32 s = e.startLba;
        const auto fat = r.fatSectors.upper_bound(s);
        const bool fatBehind =
            !volumeAtZero && fat != r.fatSectors.end() && fat->lba - s <= MAX_FAT32_RESERVED;
        if (r.bootSectors.count(s) != 0 || (s > 0 && r.partitionTables.count(s) != 0) ||
            ntfs.count(s) != 0 || fatBehind ||
            (s <= std::numeric_limits<u32>::max() - 6 && r.bootSectors.count(s + 6) != 0))
            return true;
    }
    return r.fatSectors.empty() || r.fatSectors.begin()->lba >= first;
}

// Whether an image file is a copy of a whole disk rather than of one volume:
// its sector 0 holds a partition table and no boot sector, or, sector 0 lost,
// boot sectors, extended boot records or NTFS volumes lie past it and nothing
// places a volume in it. A volume that lost its boot sector still leaves its
// FATs or its FAT32 backup boot sector where no disk keeps a partition, or the
// MFT records that place it; what lies behind those FATs (a disk image kept
// as a file) is that volume's contents.
bool holdsDisk(const ScanResults& r) {
    if (r.bootSectors.count(0u) != 0)
        return false;
    const std::set<u32> ntfs = ntfsVolumeStarts(r.ntfsSystemRecords);
    const auto table = r.partitionTables.find(0u);
    if (table != r.partitionTables.end() && tableInSectorZeroHolds(*table, r, ntfs))
        return true;
    // The first track, where no disk keeps a partition.
    auto inFirstTrack = [](u32 lba) { return lba < DEFAULT_SECTORS_PER_TRACK; };
    if ((!r.fatSectors.empty() && inFirstTrack(r.fatSectors.begin()->lba)) ||
        (!r.bootSectors.empty() && inFirstTrack(r.bootSectors.begin()->lba)) ||
        (!ntfs.empty() && inFirstTrack(*ntfs.begin())))
        return false;
    u32 firstVolume = std::numeric_limits<u32>::max();
    if (!r.bootSectors.empty())
        firstVolume = r.bootSectors.begin()->lba;
    const auto tablePastZero = r.partitionTables.upper_bound(0u);
    if (tablePastZero != r.partitionTables.end())
        firstVolume = std::min(firstVolume, tablePastZero->lba);
    if (!ntfs.empty())
        firstVolume = std::min(firstVolume, *ntfs.begin());
    if (!r.fatSectors.empty() && r.fatSectors.begin()->lba < firstVolume &&
        fatOfVolumeAtSectorZero(r.fatSectors))
        return false;
    return firstVolume != std::numeric_limits<u32>::max();
}

// A source of open layout (an image file) is read as the disk or the volume it
// is a copy of, as its scan shows it: the candidates, the filters, the layout
// and the rebuilt sectors all read the answer from the driver.
void settleSourceLayout(Driver& driver, const ScanResults& results) {
    Attributes& properties = driver.getProperties();
    if (properties.getUInt8(PROP_LAYOUT_FROM_CONTENT, 0) == 0)
        return;
    const bool disk = holdsDisk(results);
    if (disk != (properties.getUInt8(PROP_USES_PARTITION_TABLES, 1) != 0))
        logAt("Analyzer", 236) << ": the image is read as " << (disk ? "a disk" : "a volume")
                               << '\n';
    properties.setUInt8(PROP_USES_PARTITION_TABLES, disk ? 1 : 0);
}

// The progress boxes of an analyzer that was given no interface report nothing.
FrTreeInterface& orHeadless(FrTreeInterface* interface) {
    static HeadlessInterface headless;
    return interface != nullptr ? *interface : headless;
}

} // namespace

Analyzer::Analyzer(FrTreeInterface* interface) : interface_(interface) {}

std::string Analyzer::getPatternsPath() const {
    return patternsPath_.empty() ? appFilePath(appDirectory(), "cbr.files") : patternsPath_;
}

Driver& Analyzer::scanDriver() const {
    Driver* driver = getDrive();
    if (driver->getSectorSize() != SECTOR_BYTES)
        throw std::runtime_error("Analyzer(145)");
    return *driver;
}

void Analyzer::dropCarvedFilesFrom(u64 lba) {
    // The files are in ascending order of start.
    const u64 offset = lba * SECTOR_BYTES;
    std::vector<cbr::FileInfo>& files = getCarvedFiles();
    while (!files.empty() && files.back().getStart() >= offset)
        files.pop_back();
}

u64 Analyzer::scan(u64 firstLba, u64 count, ProgressBoxIC* progress) {
    Driver& driver = scanDriver();
    count = sectorsOnSource(firstLba, count, driver.getSectorCount());

    const SharedPtr<dt::Reader> source = driver.getReader();
    const SharedPtr<dt::Reader> shared(new OneReadAtATime(*source));
    Driver sharedDriver(shared, SECTOR_BYTES);
    cbr::FileModuleRegistry registry;
    FilledReader filled(*shared);
    cbr::Scanner carver(filled, &registry);
    // A signature table that cannot be loaded ends the scan before it has
    // changed anything.
    std::vector<cbr::Pattern> patterns;
    cbr::PatternsFile::load(getPatternsPath(), registry, patterns);
    dropCarvedFilesFrom(firstLba);
    // This scan's files begin where the list is left now.
    CarvedFilesCallback found(getCarvedFiles(), progress);
    carver.setPatterns(patterns, &found);
    CarverFeed feed(carver);

    ScScanner scanner(&getScanResults(), WINDOW_SECTORS, SECTOR_BYTES, firstLba,
                      LOOK_AHEAD_SECTORS);
    InterfaceCallbackScope scannerProgress(scanner, progress);
    scanner.setContentScanner(&feed);
    // The counters start from what earlier scans of the source left.
    ScScanner::reportTotals(&getScanResults(), &scanner);
    scanner.setPosition(InterfaceCallback::FOUND_CBR_FILES, getCarvedFiles().size());

    ScScannerReaderListener listener(&scanner);
    Reader reader(&sharedDriver, &listener, interface_,
                  _("We recommend that you clone this drive to another drive before attempting "
                    "recovery of your files."));
    InterfaceCallbackScope readerProgress(reader, progress);
    reader.setReadAhead(readAhead_);
    try {
        reader.readSectors(firstLba, count);
    } catch (const InterruptedException&) {
        logAt("Analyzer", 150) << ": "
                               << "scan cancelled after" << ' ' << listener.getDelivered() << ' '
                               << count << '\n';
    }
    // The sectors still waiting as look-ahead are classified and carved before
    // the carver ends its last file: a file that starts in one of the last
    // sectors read is found too.
    scanner.finish();
    carver.finish((firstLba + count) * SECTOR_BYTES);
    return listener.getDelivered();
}

void Analyzer::quickScan(u64 lba, bool isFat, const FAT_FS_PARAMS* fat, const NTFS_FS_PARAMS* ntfs,
                         ProgressBoxIC* progress) {
    Driver& driver = scanDriver();
    const u64 sectorCount = driver.getSectorCount();
    dropCarvedFilesFrom(lba);

    std::vector<SectorRange> reads{{lba, 1}};
    if (isFat && fat != nullptr) {
        logAt("Analyzer", 194) << ": " << *fat << '\n';
        fatQuickReads(*fat, reads);
    } else if (!isFat && ntfs != nullptr) {
        logAt("Analyzer", 210) << ": " << *ntfs << '\n';
        ntfsQuickReads(*ntfs, sectorCount, reads);
    }

    ScScanner scanner(&getScanResults(), WINDOW_SECTORS, SECTOR_BYTES, lba, LOOK_AHEAD_SECTORS);
    InterfaceCallbackScope scannerProgress(scanner, progress);
    ScScannerReaderListener listener(&scanner);
    Reader reader(&driver, &listener, interface_, "");
    InterfaceCallbackScope readerProgress(reader, progress);
    try {
        for (const SectorRange& r : reads) {
            const u64 n = sectorsOnSource(r.first, r.count, sectorCount);
            if (n != r.count)
                logAt("Analyzer", 196)
                    << ": " << r.first << ' ' << r.count << ' ' << sectorCount << '\n';
            if (n != 0)
                reader.readSectors(r.first, n);
        }
    } catch (const InterruptedException&) {
        logAt("Analyzer", 202) << ": "
                               << "quick scan cancelled" << '\n';
    }
    scanner.finish();
}

bool Analyzer::readBootSectorParams(u64 lba, bool* isFat, FAT_FS_PARAMS* fat,
                                    NTFS_FS_PARAMS* ntfs) {
    Driver* driver = getDrive();
    // The parameter records address sectors in 32 bits.
    if (lba > 0xFFFFFFFFu)
        return false;
    std::vector<u8> sector(driver->getSectorSize());
    if (sector.size() < SECTOR_BYTES || !driver->readSectors(lba, 1, sector.data()))
        return false;
    const u64 sectors = driver->getSectorCount();
    if (fat != nullptr &&
        fatFsParamsFromBootSector(static_cast<u32>(lba), sector.data(), *fat, sectors)) {
        *isFat = true;
        return true;
    }
    if (ntfs != nullptr &&
        ntfsFsParamsFromBootSector(static_cast<u32>(lba), sector.data(), *ntfs, sectors)) {
        *isFat = false;
        return true;
    }
    return false;
}

void Analyzer::createFSCollection() {
    Driver& driver = *getDrive();
    settleSourceLayout(driver, getScanResults());
    {
        std::unique_ptr<ProgressBoxIC> box =
            orHeadless(interface_).createProgressBox(_("Please Wait"));
        box->setText(InterfaceCallback::TEXT_MAIN, _("Analyzing Drive"));
        CreateFSCollectionParameters parameters(
            getScanResults(), driver, CreateFSCollectionParameters::defaultSlackSectors(driver));
        parameters.setInterfaceCallback(box.get());
        // Writes the collection to the log itself.
        CreateFSCollection(getFsCollection(), parameters);
    }
    applyDLayout();
}

namespace {

// The cluster size of each FAT12/16 volume of the layout whose boot sector was
// found is decided here, once, before its boot sector is made: the one that
// places the root's folders (withPlacedFolders), which every reader of the
// volume then takes from the made boot sector.
void placeRootFolders(FsCandidateList& layout, Driver& driver) {
    for (FsCandidate& c : layout) {
        FsKind kind = FS_NONE;
        FatType fatType = FAT_NONE;
        partitionTypeToFs(c.fscode(), kind, fatType);
        FAT_FS_PARAMS stated;
        if (!isSelectedFileSystem(c) || kind != FS_FAT || fatType == FAT32 ||
            !DL::buildsFromFoundBootSector(c, fatType) || !form_fat_fs_params(c, stated, driver))
            continue;
        const u32 placed = withPlacedFolders(driver, stated).sectorsPerCluster;
        if (placed != stated.sectorsPerCluster)
            c.folderClusterSize = placed;
    }
}

} // namespace

void Analyzer::applyDLayout() {
    Driver& driver = *getDrive();
    FsCandidateList working;
    filterFsCollection(working, getFsCollection(), driver);
    for (FsCandidate& c : working) {
        FsKind kind = FS_NONE;
        FatType fatType = FAT_NONE;
        partitionTypeToFs(c.fscode(), kind, fatType);
        if (kind == FS_FAT || kind == FS_NTFS)
            c.selected = true;
    }

    const bool usesPartitionTables =
        driver.getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 1) != 0;
    const u64 sectorCount = driver.getSectorCount();
    const u32 lastLBA =
        sectorCount == 0 ? 0 : static_cast<u32>(std::min<u64>(sectorCount - 1, 0xFFFFFFFFu));
    FsCandidateList layout;
    DL::build(layout, DLayoutOptions(working, lastLBA, usesPartitionTables, true));
    placeRootFolders(layout, driver);
    // The selected entry pointed into the old layout and goes with it.
    setLayout(std::move(layout));

    // The rebuilt sectors describe this layout alone: a change left from an
    // earlier one would be the first found at its LBA and shown in place of
    // this layout's image.
    getChanges().clear();
    std::ostringstream report;
    DL::apply(getLayout(), driver, getChanges(), report, usesPartitionTables);
    logAt("Analyzer", 280) << ": *** ApplyDLayout ***\n";
    layoutReport_ = report.str();
    logAt("Analyzer", 281) << ": " << layoutReport_ << '\n';
}

void Analyzer::buildMap() {
    Driver& driver = *getDrive();
    FsCandidate* entry = getSelectedEntry();
    if (entry == nullptr) {
        setMap(SharedPtr<tree::Map>(new tree::cbr::MapImpl(
            getDriveHolder(), &getScanResults().unreadable, &getCarvedFiles())));
        return;
    }

    FsKind kind = FS_NONE;
    FatType fatType = FAT_NONE;
    partitionTypeToFs(entry->fscode(), kind, fatType);
    FsParams fs;
    if (kind == FS_FAT) {
        if (!form_fat_fs_params(*entry, fs.fat, driver)) {
            logAt("Analyzer", 314) << ": " << fs.fat << '\n';
            return;
        }
    } else if (kind == FS_NTFS) {
        if (!form_ntfs_fs_params(*entry, fs.ntfs, driver)) {
            logAt("Analyzer", 324) << ": " << fs.ntfs << '\n';
            return;
        }
    } else {
        return;
    }
    fs.kind = kind;
    SharedPtr<tree::Map> map;
    MapInterface::buildMap(map, getDriveHolder(), fs, getScanResults(), deepScanDone_,
                           &orHeadless(interface_));
    setMap(map);
}
