#pragma once

// The candidate file systems of a scan. Every partition entry, boot sector and
// backup boot sector, FAT, root directory, subdirectory cluster grid and NTFS
// master file table that the scan saw is attached to the candidate volume it
// belongs to, or opens a new candidate. Nothing is written to the drive; the
// FAT placement and the FAT32 root search read a few sectors.
//
// The work goes in seven phases, each building on the ones before:
//  1. partition entries that fit on the drive;
//  2. boot sectors, each read as a primary and (where it can be one) as a
//     backup, joining a compatible partition entry of the same start;
//  3. cluster grids (sectors per cluster and the LBA of cluster 2) from pairs
//     of consecutive subdirectories, adopted by the candidate they fit;
//  4. root directories: where a boot sector names one, or just before a grid's
//     cluster 2, or for FAT32 grids the directory that holds the most
//     first-level subdirectories;
//  5. FAT positions: from the boot sector, or guessed from the FAT sectors the
//     scan found and the space before the root directory or the data area, the
//     guess whose two copies agree best winning; a volume that a partition
//     entry names is guessed inside its partition and keeps the entry's start;
//     no volume takes a FAT sector of a named partition before its own;
//  6. NTFS volumes from an $MFT found together with its copy in $MFTMirr, or
//     from an NTFS boot sector whose $MFT the scan found;
//  7. the smallest and largest volume size the evidence allows.
//
// Each phase keeps the list ordered by start (phase 5 moves the starts of
// volumes no entry names in place).
// Most candidates are spurious; the filters (analysis/FsFilters.h) drop them
// before the drive layout is built.

#include "fs/FsCandidate.h"

#include <set>

// Fills `out` (emptied first) from the parameters' scan results, and writes the
// result to the debug log between "*** CreateFSCollection ***" and its end line.
// The parameters' progress callback is polled after every phase, and while root
// directories are scored and FAT positions guessed; a cancel throws
// InterruptedException with `out` holding what the finished phases made.
void CreateFSCollection(FsCandidateList& out, CreateFSCollectionParameters& parameters);

// Where the NTFS volumes begin that an $MFT record, found with its copy in
// $MFTMirr, places (phase 6), whatever else the scan found.
std::set<u32> ntfsVolumeStarts(const FoundList<FoundNtfsSystemRecord>& records);
