#pragma once

// Compares a FAT volume's FAT with its mirror sector by sector and marks, one
// bit per FAT sector, each sector that the mirror holds better: fewer entries
// that no FAT can hold, then more links to the next cluster, then more clusters
// in use. The FAT table reader follows the marks. A volume of one FAT has no
// mirror: nothing is read and nothing marked.

#include "core/Progress.h"
#include "devices/Driver.h"
#include "fs/Bitmap.h"
#include "fs/Params.h"

// FAT and mirror are read in chunks of this many sectors.
constexpr u64 FAT_ANALYSIS_CHUNK = 256;
// Sectors per read when the source names no track size ("SECTORS").
constexpr u64 FAT_ANALYSIS_DEFAULT_PIECE = 63;

// out has one position per FAT sector (sectorsPerFAT), all clear; the sectors to
// read from the mirror are set. Sectors that cannot be read count as zeros and
// are logged. progress may be null; a cancel throws InterruptedException and
// leaves the marks set so far.
void analyzeFats(Bitmap& out, Driver* driver, const FAT_FS_PARAMS& params,
                 InterfaceCallback* progress);
