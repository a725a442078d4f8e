#pragma once

// Small services of the NTFS engine for the drive analysis: the cluster size a
// made-up boot sector gets, clearing the dirty flag of the $Volume record for a
// repaired volume, and the probe that the sector scanner runs on every sector
// to tell whether a FILE record starts there and, for $MFT, $MFTMirr and
// $Bitmap, where their data lies.

#include "core/Types.h"
#include "fs/Params.h" // defaultNtfsSectorsPerCluster
#include "fs/ScanResults.h"

// Name bytes and their length; equal when both are, byte for byte.
struct NameView {
    const u8* data = nullptr;
    u16 length = 0;

    bool operator==(const NameView& o) const;
    bool operator!=(const NameView& o) const { return !(*this == o); }
};

// On the raw $Volume FILE record in `buffer`: clears the low byte of the volume
// flags (the dirty flag among them) and puts the record back in its on-disk
// form. True only when a flag was cleared; on false the buffer holds what it
// held before.
bool clear_NTFS_chkdsk_flag(u8* buffer, u32 length);

// Whether a FILE record starts at `bytes` (the sector and the whole sectors after
// it, `length` bytes). On true `sectors` is the record's size in sectors and
// `info` tells which system file it is and, for the three above, the first
// cluster and size of its unnamed $DATA. The bytes are never changed.
bool probeNtfsFileRecord(const u8* bytes, u32 length, NtfsSystemRecordInfo& info, u16& sectors);
