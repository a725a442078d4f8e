#pragma once

// The layout repair: what the sectors of each element of a drive layout
// (DriveLayout.h) should hold, as sector changes in memory. Partition tables,
// the primary and backup boot sectors of FAT and NTFS volumes, and the NTFS
// volume record whose dirty flag would send the volume to a check are rebuilt;
// each sector whose image differs from the drive's becomes a change with both
// images. Nothing is ever written to the source.
//
// Each file-system element records what happened to its sectors (tableStatus,
// bootStatus, backupStatus: 1 changed, 2 already right, 0 not rebuilt, with the
// sector's LBA), and the report gets the sectors that describe it, dumped.

#include "core/Types.h"
#include "fs/FsCandidate.h"
#include "fs/SectorChange.h"

#include <ostream>
#include <vector>

class Driver;

namespace DL {

// Rebuilds every element in layout order, appending to `changes` (never
// cleared). Throws "DL(1169)" for an element that is not valid; tables are
// rebuilt only on a drive that uses them. Only the first elements
// (DumpLimit) are dumped to the log and the report; the report then ends with
// a line that counts the rest.
void apply(FsCandidateList& layout, Driver& driver, SectorChanges& changes, std::ostream& report,
           bool usesPartitionTables);

} // namespace DL

// Clears the dirty flag of the $Volume record (record 3 of the MFT) of an
// element with an NTFS volume: one change per sector of the record that differs
// and the same for its copy in the MFT mirror. False (logged) without an NTFS
// volume, when the record cannot be read, or when it has no flag to clear.
bool clearChkdskFlag(const FsCandidate& element, Driver& driver, SectorChanges& changes);
