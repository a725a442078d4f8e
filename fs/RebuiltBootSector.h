#pragma once

// Boot sectors made for a file-system candidate, in memory only: the layout
// repair shows them as changes, and the parameter records of a chosen candidate
// are formed from them. Each builder writes its fields over the 512 bytes that
// are already in `sector` (a zeroed buffer gives a clean image) and leaves the
// rest as it found it.
//
// A builder starts from the boot sector that the scan found for the candidate,
// the primary one first, then the backup, as long as it has the layout the
// builder makes (a fixed root directory for FAT12/16, a root cluster for FAT32,
// a record size the NTFS field can say). Without one it makes the fields up
// from the rest of the evidence: the FATs, the root directory and the cluster
// grid of a FAT volume, the MFT placement of an NTFS volume, with the usual
// defaults (logged) for what none of them tells, and the volume's size in the
// layout (its largest plausible size outside one). It returns false when there
// is nothing to build from: no size, or an NTFS cluster or record size that no
// boot sector can hold. A sector that already holds the found boot sector (the
// same parameters, and on a partitioned drive the hidden sectors of its table)
// is left as it stands but for a broken jump.

#include "core/Types.h"
#include "fs/FsTypes.h"

class Driver;
struct FsCandidate;

namespace DL {

// A FAT12 (fat12 set) or FAT16 boot sector.
bool formBootSectorFat16(const FsCandidate& candidate, u8* sector, Driver& driver, bool fat12);
// A FAT32 boot sector.
bool formBootSectorFat32(const FsCandidate& candidate, u8* sector, Driver& driver);
// An NTFS boot sector.
bool formBootSectorNtfs(const FsCandidate& candidate, u8* sector, Driver& driver);

// Whether the FAT builder of that width starts from a boot sector the scan
// found for the candidate (FAT32: one of a root cluster, else one of a fixed
// root); else it makes one from the evidence, of evidenceVolumeSize sectors but
// for the clusters its width has at least (a FAT16 of a copy cut short).
bool buildsFromFoundBootSector(const FsCandidate& candidate, FatType type);
// The size a boot sector made from the evidence gives the volume: the layout's
// size, or, for a candidate that is not in a layout (the plausibility filter
// asks for its parameters), the largest size its evidence allows, which is
// what the layout would give it; 0 when neither is known.
u32 evidenceVolumeSize(const FsCandidate& candidate);

// Clears `image`, a boot sector just made over the sector `old`, so that it can
// be made again over zeros (nothing damaged of the old sector carried over),
// but keeps what names the volume when `old` is a boot sector of the same
// layout: the OEM name and the block after the parameters (drive number,
// serial number, label, type name) of FAT12/16 or FAT32, the serial number of
// NTFS.
void clearKeepingVolumeName(u8* image, const u8* old);

} // namespace DL
