#pragma once

// The sector scan: looks at every sector of a range once and records what it
// recognises into the scan results: partition tables, boot sectors, the first
// sectors of FATs, runs of FAT directory sectors, NTFS file records (the system
// ones singly, all of them as runs) and the sectors the reader could not read.
// The counts found so far go to the progress callback as the FOUND_* positions,
// which the scanner page shows live.
//
// A scan adds to what earlier scans of the source found: the constructor first
// drops every find at and beyond the scan's first LBA. The results are complete
// once finish() has run (the destructor runs it when nobody did).
//
// Most sectors of a disk are file contents; each detector looks at a few bytes
// that its structure cannot do without before it runs the full test, so such a
// sector is passed over after a handful of byte compares.

#include "analysis/SectorsCollector.h"
#include "core/Ownership.h"
#include "core/Progress.h"
#include "core/Types.h"
#include "fs/ScanResults.h"

class ScScanner : public SectorsCollector, public UsesInterfaceCallback {
public:
    // Where each sector goes on to once it has been classified, with the
    // sectors after it: the content scanner of a deep scan.
    class ContentScanner {
    public:
        virtual ~ContentScanner() = default;
        // `size` bytes from `sector` are the sector and those after it.
        virtual void processSector(u64 byteOffset, const u8* sector, u32 size) = 0;
    };

    // Throws std::runtime_error when the sectors are smaller than the 512 bytes
    // that every structure test reads.
    ScScanner(ScanResults* results, u32 windowSectors, u32 sectorSize, u64 firstLba,
              u32 lookAheadSectors);
    // Runs finish() when nobody did, but without the content scanner: by then
    // its own scan may be over.
    ~ScScanner() override;

    // Not owned; null hands nothing on.
    void setContentScanner(ContentScanner* content) { content_ = content; }
    // Processes the sectors still waiting (handing them to the content scanner
    // when one is set), closes the open directory and record runs and commits
    // the unreadable sectors to the results.
    void finish();

    // Sends FOUND_PARTITION_TABLES to FOUND_NTFS_RECORDS with the sizes of the
    // first five lists and FOUND_NTFS_FILES with the records of all record runs
    // (`to` may be null), and returns that record count.
    static u64 reportTotals(const ScanResults* results, UsesInterfaceCallback* to);

protected:
    void processSector(const u8* sector, u64 lba, u32 available) override;

private:
    // The detectors, each after its own quick test passed.
    void classify(const u8* sector, u64 lba, u32 available);
    void findPartitionTable(const u8* sector, u64 lba);
    void findBootSector(const u8* sector, u64 lba);
    void findFatSector(const u8* sector, u64 lba);
    void findDirectory(const u8* sector, u64 lba);
    void findFileRecord(const u8* sector, u64 lba, u32 available);
    void findUnreadable(const u8* sector, u64 lba);
    // Whether the lists can hold a find at lba (and its LBA in `out`); a find
    // they cannot hold is counted for the one log line at the end of the scan.
    bool listed(u64 lba, u32* out = nullptr);

    void flushDirRun(bool opening);
    void flushRecordRun();

    // The parsers would log every sector that is no record: off while we exist.
    ByteOverride recordLogGuard_;
    ByteOverride fileRecordLogGuard_;
    ScanResults* results_;
    ContentScanner* content_ = nullptr;
    // The run being extended; none while its count is 0.
    FoundDirectoryRun pendingDirRun_;
    FoundRecordRun pendingRecordRun_;
    u64 recordTotal_ = 0;
    // One past the last sector handed to the unreadable set in this scan.
    u64 unreadableEnd_ = 0;
    // Structures found at or beyond sector 2^32 since the last finish().
    u64 unlisted_ = 0;
};
