#include "analysis/ScScanner.h"

#include "core/Array.h"
#include "core/Log.h"
#include "devices/UnreadableSectors.h"
#include "fs/DirectoryEntry.h"
#include "fs/Params.h"
#include "fs/StructureChecks.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/VolumeHelpers.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

// The scan lists hold 32-bit LBAs.
constexpr u64 MAX_LIST_LBA = 0xFFFFFFFFu;
constexpr u32 NO_RUN = 0xFFFFFFFFu;

// The quick tests. Each is implied by the full test it guards, so skipping the
// full test when it fails changes no result (the scanner tests check this on
// damaged copies of real structures).

// Partition tables and boot sectors both end in the 0xAA55 signature.
bool hasSectorSignature(const u8* s) {
    return s[SECTOR_SIGNATURE_OFFSET] == 0x55 && s[SECTOR_SIGNATURE_OFFSET + 1] == 0xAA;
}

// A FAT starts with the media byte 0xF8 or 0xF0 and two bytes of all ones, on
// every width.
bool mayStartFat(const u8* s) {
    return (s[0] & 0xF7) == 0xF0 && s[1] == 0xFF && s[2] == 0xFF;
}

// Directory data begins with "." and "..", with a deleted entry, or with an
// entry whose attribute byte has the two top bits clear; a first entry of two
// zero bytes is the end mark, and a directory sector with nothing in it tells
// nothing.
bool mayStartDirectory(const u8* s) {
    if (s[0] == '.' || s[0] == ENTRY_DELETED)
        return true;
    return (s[DE_ATTRIBUTES] & ATTR_MUST_BE_CLEAR) == 0 && (s[0] | s[1]) != 0;
}

bool mayStartFileRecord(const u8* s) {
    return getLE32(s, 0) == NTFS_MAGIC_FILE;
}

bool mayBeUnreadable(const u8* s) {
    return s[0] == static_cast<u8>(UNREADABLE_TEXT[0]);
}

// Inserts a find (an LBA already present keeps the earlier find) and sends the
// list's new size.
template <typename List, typename Find>
void addFind(List& list, const Find& find, UsesInterfaceCallback& progress, u64 kind) {
    list.insert(find);
    progress.setPosition(kind, list.size());
}

template <typename List> void eraseFrom(List& list, u64 firstLba) {
    if (firstLba <= MAX_LIST_LBA)
        list.erase(list.lower_bound(static_cast<u32>(firstLba)), list.end());
}

// Drops every find at and beyond firstLba and cuts the last directory run,
// record run and unreadable run that reach into the new scan's range.
void dropFindsFrom(ScanResults& r, u64 firstLba) {
    eraseFrom(r.partitionTables, firstLba);
    eraseFrom(r.bootSectors, firstLba);
    eraseFrom(r.fatSectors, firstLba);
    eraseFrom(r.directoryRuns, firstLba);
    if (!r.directoryRuns.empty()) {
        auto last = std::prev(r.directoryRuns.end());
        if (last->lba + static_cast<u64>(last->sectorCount) > firstLba) {
            auto node = r.directoryRuns.extract(last);
            node.value().sectorCount = static_cast<u32>(firstLba - node.value().lba);
            r.directoryRuns.insert(std::move(node));
        }
    }

    eraseFrom(r.ntfsSystemRecords, firstLba);
    eraseFrom(r.ntfsRecordRuns, firstLba);
    if (!r.ntfsRecordRuns.empty()) {
        auto last = std::prev(r.ntfsRecordRuns.end());
        // A run of records of no size (a damaged saved scan) never divides.
        if (last->endLBA() > firstLba && last->recordSectors != 0) {
            const u64 keep = (firstLba - last->lba) / last->recordSectors;
            auto node = r.ntfsRecordRuns.extract(last);
            if (keep != 0) {
                node.value().recordCount = static_cast<u32>(keep);
                r.ntfsRecordRuns.insert(std::move(node));
            }
        }
    }

    SectorRuns& runs = r.unreadable.runs();
    auto cut = std::find_if(runs.begin(), runs.end(),
                            [firstLba](const SectorRun& run) { return run.end() > firstLba; });
    if (cut != runs.end() && cut->start < firstLba) {
        cut->count = static_cast<u32>(firstLba - cut->start);
        ++cut;
    }
    runs.erase(cut, runs.end());
}

} // namespace

ScScanner::ScScanner(ScanResults* results, u32 windowSectors, u32 sectorSize, u64 firstLba,
                     u32 lookAheadSectors)
    : SectorsCollector(windowSectors, lookAheadSectors, sectorSize),
      recordLogGuard_(&logNtfsRecordParser, false),
      fileRecordLogGuard_(&logNtfsFileRecordParser, false), results_(results) {
    if (results == nullptr || sectorSize < SECTOR_BYTES)
        throw std::runtime_error("ScScanner(119)");
    dropFindsFrom(*results_, firstLba);
    pendingDirRun_.lba = NO_RUN;
    pendingRecordRun_.lba = NO_RUN;
    results_->unreadable.clearPending();
    // Record counts go on from what earlier scans left. Nobody listens yet: the
    // owner sends the totals again once it has set the callback.
    recordTotal_ = reportTotals(results_, this);
}

ScScanner::~ScScanner() {
    content_ = nullptr;
    try {
        finish();
    } catch (const std::exception& e) {
        logAt("ScScanner", 134) << ": " << e.what() << '\n';
    } catch (...) {
        logAt("ScScanner", 136) << '\n';
    }
}

void ScScanner::finish() {
    flush();
    flushDirRun(false);
    flushRecordRun();
    results_->unreadable.commit();
    unreadableEnd_ = 0;
    if (unlisted_ != 0) {
        logAt("ScScanner", 140) << ": " << unlisted_
                                << " structures at or beyond sector 2^32 were not recorded\n";
        unlisted_ = 0;
    }
}

bool ScScanner::listed(u64 lba, u32* out) {
    if (lba > MAX_LIST_LBA) {
        ++unlisted_;
        return false;
    }
    if (out != nullptr)
        *out = static_cast<u32>(lba);
    return true;
}

u64 ScScanner::reportTotals(const ScanResults* results, UsesInterfaceCallback* to) {
    u64 records = 0;
    for (const FoundRecordRun& run : results->ntfsRecordRuns)
        records += run.recordCount;
    if (to != nullptr) {
        to->setPosition(InterfaceCallback::FOUND_PARTITION_TABLES, results->partitionTables.size());
        to->setPosition(InterfaceCallback::FOUND_BOOT_SECTORS, results->bootSectors.size());
        to->setPosition(InterfaceCallback::FOUND_FATS, results->fatSectors.size());
        to->setPosition(InterfaceCallback::FOUND_DIRECTORIES, results->directoryRuns.size());
        to->setPosition(InterfaceCallback::FOUND_NTFS_RECORDS, results->ntfsSystemRecords.size());
        to->setPosition(InterfaceCallback::FOUND_NTFS_FILES, records);
    }
    return records;
}

void ScScanner::processSector(const u8* sector, u64 lba, u32 available) {
    // Past sector 2^32 nothing can be listed (listed() counts what is passed
    // over), but the contents are still carved.
    classify(sector, lba, available);
    if (content_ != nullptr)
        content_->processSector(lba * getSectorSize(), sector, available * getSectorSize());
}

void ScScanner::classify(const u8* sector, u64 lba, u32 available) {
    if (hasSectorSignature(sector)) {
        findPartitionTable(sector, lba);
        findBootSector(sector, lba);
    }
    if (mayStartFat(sector))
        findFatSector(sector, lba);
    if (mayStartDirectory(sector))
        findDirectory(sector, lba);
    if (mayStartFileRecord(sector))
        findFileRecord(sector, lba, available);
    if (mayBeUnreadable(sector))
        findUnreadable(sector, lba);
}

void ScScanner::findPartitionTable(const u8* sector, u64 lba) {
    if (!isValidMbr(sector) || !listed(lba))
        return;
    ConstArray s(sector, SECTOR_BYTES);
    FoundPartitionTable table;
    table.lba = static_cast<u32>(lba);
    for (u32 i = 0; i < PARTITION_ENTRY_COUNT; ++i) {
        ConstArray entry(s, PARTITION_TABLE_OFFSET + i * PARTITION_ENTRY_BYTES,
                         PARTITION_ENTRY_BYTES);
        // A slot that fails the entry test stays {0, 0, 0}.
        if (!isValidPartitionEntry(entry.data()))
            continue;
        const u8 type = entry.getU8(PE_TYPE);
        // Starts are relative to the table; an empty slot and the link of an
        // extended chain keep theirs as stored.
        u64 start = entry.getLE32(PE_START_LBA);
        if (type != 0 && type != 0x05)
            start += lba;
        if (start > MAX_LIST_LBA) {
            // Beyond what the lists can address: a wrapped start would point the
            // candidates at a wrong sector.
            logAt("ScScanner", 207) << ": " << lba << ' ' << i << ' ' << start << '\n';
            continue;
        }
        table.entries[i].type = type;
        table.entries[i].startLba = static_cast<u32>(start);
        table.entries[i].sectorCount = entry.getLE32(PE_SECTOR_COUNT);
    }
    addFind(results_->partitionTables, table, *this, InterfaceCallback::FOUND_PARTITION_TABLES);
}

void ScScanner::findBootSector(const u8* sector, u64 lba) {
    FoundBootSector boot;
    if (readBootParams(sector, boot.params) && listed(lba, &boot.lba))
        addFind(results_->bootSectors, boot, *this, InterfaceCallback::FOUND_BOOT_SECTORS);
}

void ScScanner::findFatSector(const u8* sector, u64 lba) {
    FoundFatSector fat;
    if (guessFatTypeOfSector(sector, fat.fatType) && listed(lba, &fat.lba))
        addFind(results_->fatSectors, fat, *this, InterfaceCallback::FOUND_FATS);
}

void ScScanner::findDirectory(const u8* sector, u64 lba) {
    bool hasDotEntries = false;
    bool lastSlotUsed = false;
    u32 dotCluster = 0;
    u32 dotDotCluster = 0;
    u32 highestCluster = 0;
    if (!analyzeDirectoryStart(sector, hasDotEntries, lastSlotUsed, dotCluster, dotDotCluster,
                               highestCluster) ||
        !listed(lba))
        return;
    FoundDirectoryRun& run = pendingDirRun_;
    // A directory goes on in the next sector only when this one is full, and a
    // sector with "." and ".." is the first of a directory of its own.
    if (run.lastSlotInUse && !hasDotEntries && run.lba + static_cast<u64>(run.sectorCount) == lba) {
        ++run.sectorCount;
        run.lastSlotInUse = lastSlotUsed;
        run.highestCluster = std::max(run.highestCluster, highestCluster);
        return;
    }
    flushDirRun(true);
    run.lba = static_cast<u32>(lba);
    run.sectorCount = 1;
    run.startsWithDotEntries = hasDotEntries;
    run.lastSlotInUse = lastSlotUsed;
    run.dotCluster = hasDotEntries ? dotCluster : 0;
    run.dotDotCluster = hasDotEntries ? dotDotCluster : 0;
    run.highestCluster = highestCluster;
}

void ScScanner::findFileRecord(const u8* sector, u64 lba, u32 available) {
    NtfsSystemRecordInfo info;
    u16 recordSectors = 0;
    // The collector's buffer fits a u32 byte count.
    if (!probeNtfsFileRecord(sector, available * getSectorSize(), info, recordSectors))
        return;
    ++recordTotal_;
    setPosition(InterfaceCallback::FOUND_NTFS_FILES, recordTotal_);
    if (!listed(lba))
        return;
    if (info.which != NTFS_ORDINARY_RECORD) {
        FoundNtfsSystemRecord found;
        found.lba = static_cast<u32>(lba);
        found.info = info;
        addFind(results_->ntfsSystemRecords, found, *this, InterfaceCallback::FOUND_NTFS_RECORDS);
    }
    FoundRecordRun& run = pendingRecordRun_;
    if (run.recordCount != 0 && run.recordSectors == recordSectors && run.endLBA() == lba) {
        ++run.recordCount;
        return;
    }
    flushRecordRun();
    run.lba = static_cast<u32>(lba);
    run.recordSectors = recordSectors;
    run.recordCount = 1;
}

void ScScanner::findUnreadable(const u8* sector, u64 lba) {
    if (!isUnreadablePattern(sector, getSectorSize()) || !listed(lba))
        return;
    // The pending runs only grow forwards; a sector before the last one (a quick
    // scan reads its places out of order) would be lost, so what was gathered
    // goes into the runs first.
    if (static_cast<u64>(lba) + 1 < unreadableEnd_)
        results_->unreadable.commit();
    results_->unreadable.add(static_cast<u32>(lba));
    unreadableEnd_ = lba + 1;
}

void ScScanner::flushDirRun(bool opening) {
    if (pendingDirRun_.sectorCount != 0)
        results_->directoryRuns.insert(pendingDirRun_);
    pendingDirRun_ = FoundDirectoryRun();
    pendingDirRun_.lba = NO_RUN;
    setPosition(InterfaceCallback::FOUND_DIRECTORIES,
                results_->directoryRuns.size() + (opening ? 1 : 0));
}

void ScScanner::flushRecordRun() {
    if (pendingRecordRun_.recordCount != 0)
        results_->ntfsRecordRuns.insert(pendingRecordRun_);
    pendingRecordRun_ = FoundRecordRun();
    pendingRecordRun_.lba = NO_RUN;
}
