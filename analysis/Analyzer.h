#pragma once

// The one object through which the windows analyse the current source: the
// drive description plus what the analysis needs besides. It scans a sector
// range (the sector scan and the content carver in one pass over the same
// sectors), or quickly reads only the key structures of one known volume; turns
// the finds into candidate file systems and a rebuilt drive layout; and builds
// the tree of the entry the user chose, or of the carved files.
//
// Every long operation reports through the progress sink it is given; a cancel
// there ends a scan early with what was found kept.

#include "analysis/DriveDescr.h"
#include "core/Progress.h"
#include "core/Types.h"
#include "core/UserInterface.h"
#include "fs/Params.h"

#include <string>

class Analyzer : public DriveDescr {
public:
    // The blocks the reader hands the scanners, and the sectors each sector is
    // handed on with at least (so that a structure spanning sectors can be tested
    // at its start).
    static constexpr u32 WINDOW_SECTORS = 256;
    static constexpr u32 LOOK_AHEAD_SECTORS = 3;
    // Blocks of WINDOW_SECTORS that a deep scan reads ahead of the one it scans,
    // on a second thread: the system copies the next blocks of a cached image
    // while this one is classified and carved.
    static constexpr u32 READ_AHEAD_BLOCKS = 16;

    // The interface is not owned; it asks the read-error question and gives the
    // progress boxes of the analysis.
    explicit Analyzer(FrTreeInterface* interface);

    DriveDescr& getDriveDescr() { return *this; }
    FrTreeInterface* getInterface() const { return interface_; }
    // Whether the last scan was a full one (a quick scan leaves the FATs to be
    // compared when the tree is built).
    bool isDeepScanDone() const { return deepScanDone_; }
    void setDeepScanDone(bool done) { deepScanDone_ = done; }

    // Scans [firstLba, firstLba + count): every sector is classified into the scan
    // results and offered to the content carver, whose files are appended to the
    // carved files. Finds and carved files at and beyond firstLba are dropped
    // first. A cancel in `progress` ends the reading; what was read is still
    // classified and carved to the end, and a file still being measured ends at
    // the end of the requested range. Returns the sectors read.
    u64 scan(u64 firstLba, u64 count, ProgressBoxIC* progress);

    // Reads only the key structures of the volume whose boot sector is at lba:
    // its boot sectors, FATs and root directory, or its boot sectors and the first
    // MFT records and their mirror. Finds at and beyond lba are dropped first;
    // nothing is carved. A cancel skips the remaining reads.
    void quickScan(u64 lba, bool isFat, const FAT_FS_PARAMS* fat, const NTFS_FS_PARAMS* ntfs,
                   ProgressBoxIC* progress);

    // The volume parameters of the boot sector at lba: FAT (isFat true) or NTFS.
    // False when it cannot be read or is no valid boot sector of either.
    bool readBootSectorParams(u64 lba, bool* isFat, FAT_FS_PARAMS* fat, NTFS_FS_PARAMS* ntfs);

    // The candidate file systems of the scan results, then the layout
    // (applyDLayout). A cancel in the progress box throws InterruptedException.
    // A source of open layout (an image file: "LAYOUT_FROM_CONTENT") is first
    // settled as a disk ("USES_PARTITION_TABLES" 1) when its sector 0 holds a
    // partition table that a volume confirms or no FAT precedes, or, that lost,
    // volumes lie past it and no FAT ahead of them places a volume in it; else
    // as a volume.
    void createFSCollection();
    // The layout of the candidates (filtered when the preference says so, every
    // FAT and NTFS candidate selected) and its rebuilt sectors, in memory. The
    // changes of an earlier layout are dropped with it.
    void applyDLayout();
    // The text report of every volume the last applyDLayout rebuilt: each boot
    // sector and partition table, rebuilt against what the drive holds.
    const std::string& getLayoutReport() const { return layoutReport_; }
    // The tree of the selected entry (of the carved files when there is none)
    // becomes the map. An entry whose parameters cannot be formed is logged and
    // leaves the map as it was.
    void buildMap();

    // Drops the carved files that start at or beyond the sector lba.
    void dropCarvedFilesFrom(u64 lba);

    // Where the content signatures are read from: "cbr.files" in the program's
    // library folder unless set (tests).
    void setPatternsPath(const std::string& path) { patternsPath_ = path; }
    std::string getPatternsPath() const;
    // How many blocks a deep scan reads ahead (Reader::setReadAhead); below 2,
    // every block is read when it is due, on this thread.
    void setReadAhead(u32 blocks) { readAhead_ = blocks; }

private:
    // The driver, checked to have the 512-byte sectors that every offset of the
    // scan lists and the carver is counted in.
    Driver& scanDriver() const;

    bool deepScanDone_ = true;
    FrTreeInterface* interface_;
    std::string patternsPath_;
    std::string layoutReport_;
    u32 readAhead_ = READ_AHEAD_BLOCKS;
};
