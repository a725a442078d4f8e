#pragma once

// Disk images whose every piece is a plausible find, so that the analysis has
// floods of candidates to work through: what a disk full of copied boot sectors
// or folder fragments looks like to a deep scan. The tests take small ones and
// count the work; bench/HostileAnalysisBench.cpp times large ones.

#include "core/Types.h"

#include <string>

namespace testutil {

// In every sector an NTFS boot sector of a one-sector volume (two with its
// backup, the next sector) whose MFT lies in the next sector: each sector is a
// volume's boot sector and the backup of the volume before it.
std::string ntfsBootSectorFlood(u32 sectors);

// FAT32 cluster grids: triples of two first-level folder sectors ("." at
// clusters 70000 and 70001, ".." at 0), which make a grid of one sector per
// cluster, and a plain folder sector that names both folders, as a root
// directory would.
constexpr u32 GRID_FLOOD_CLUSTER = 70000;
std::string fat32GridFlood(u32 sectors);

// Quadruples of a partition table and the three sectors of fat32GridFlood. The
// table's four entries name FAT32 partitions that start one to four sectors
// behind it and reach the image's end, so that every partition that lies far
// enough before a grid may adopt it: tens of thousands of each on 64 MiB.
std::string fat32PartitionGridFlood(u32 sectors);

// FAT32 grids of one sector a cluster whose first-level folders all differ but
// for the one at cluster 70000: per grid the folder at 70000 and a set of up to
// sixteen of those at 70001-70016 (the grid's number in binary), then a plain
// folder sector that names 70000. A root search per grid would score every
// such sector: grids times sectors.
constexpr u32 SHARED_FOLDER_BITS = 16;
std::string fat32SharedFolderFlood(u32 sectors);

// A chain of `depth` extended boot records under an MBR. Each record describes
// an NTFS logical partition of two sectors right behind it (a boot sector and
// its backup) and links to the next record behind that partition.
constexpr u32 EBR_CHAIN_STEP = 3;
std::string ebrChain(u32 depth);

} // namespace testutil
