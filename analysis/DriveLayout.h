#pragma once

// The drive layout rebuilt from the chosen candidates: the MBR, the extended
// boot records that the candidates' partition entries came from, and the file
// systems, ordered by start like every candidate list, each with its size and,
// for a table, the entries it must hold. The layout repair (DriveLayoutApply.h)
// turns it into rebuilt sectors, in memory only.
//
// Tables are chained in layout order: a file system gets its entry in the
// table that precedes it on the drive, an extended boot record its link entry
// in the one before it (the MBR, or the previous record). So a file system that
// lies after an extended boot record is described there, whichever table it was
// found through.

#include "core/Types.h"
#include "fs/FsCandidate.h"
#include "fs/SectorChange.h"

#include <ostream>
#include <vector>

class Driver;

struct DLayoutOptions {
    DLayoutOptions(const FsCandidateList& candidates, u32 lastLBA, bool usesPartitionTables,
                   bool maximalSizes)
        : candidates(&candidates), lastLBA(lastLBA), usesPartitionTables(usesPartitionTables),
          maximalSizes(maximalSizes) {}

    // The candidates; those marked selected take part.
    const FsCandidateList* candidates;
    // The drive's last sector, where an extended partition ends.
    u32 lastLBA;
    // The drive holds partition tables (the driver's "USES_PARTITION_TABLES").
    bool usesPartitionTables;
    // Every file system takes its largest plausible size, and file systems are
    // not tested against each other for overlap (the program always asks for
    // this); otherwise the smallest size, and an overlap is an error.
    bool maximalSizes;
};

namespace DL {

// Builds the layout of the selected candidates (emptied first).
void build(FsCandidateList& layout, const DLayoutOptions& options);

// The MBR and the table sectors the selected candidates' entries came from,
// each once, into the layout as build() starts it (empty).
void addPartitionTables(FsCandidateList& layout, const DLayoutOptions& options);
// The selected file systems, in candidate order; throws "DL(86)" on an overlap
// when overlaps are tested.
void addFileSystems(FsCandidateList& layout, const DLayoutOptions& options);
// With testOverlap, the first element that is a table or selected and shares a
// sector with the candidate (both ranges by their smallest size) is returned
// and nothing is added. Otherwise a copy, marked valid, goes in by start (after
// every element that starts at or before it) and the result is null.
FsCandidate* addElement(FsCandidateList& layout, const FsCandidate& candidate, bool testOverlap);
// The entries of every table, from the layout order.
void buildPartitionTables(FsCandidateList& layout, const DLayoutOptions& options);

// Puts an entry (absolute start) into the preferred slot when it is 0-3 and
// free, else into the first free one. False (logged) for type 0, no sectors, a
// start already there unless duplicates are allowed, or a full table.
bool addPartitionEntry(FsCandidate& table, u8 type, u32 startLBA, u32 sectors, u32 preferredSlot,
                       bool duplicatesAllowed);
// Moves the used entries to the front, keeping their order. Throws "DL(394)"
// for an element that is no valid table.
void packPartitionEntries(FsCandidate& table);

// Writes the table's entries over the 512-byte image of its sector: CHS from
// the repair geometry, starts relative to the table (or, for links, to the
// extended partition), and the conventions already on the sector kept where
// they say the same thing: the active flag, a type of the same family, a link's
// base and a link's count that reaches the drive's end.
void formPartitionSector(const FsCandidate& table, u8* sector, Driver& driver);
// Reads the table's sector and records a change when the rebuilt image
// differs; the image is then formed over zeros, and dumped to the log unless
// `dump` is false. Logged and skipped when the sector cannot be read.
void writePartitionTable(FsCandidate& table, Driver& driver, SectorChanges& changes,
                         bool dump = true);

} // namespace DL

// One line per element (a table's entries on a second line), for the log.
void printDriveLayout(std::ostream& os, const FsCandidateList& layout);

// A cylinder that CHS can hold stays; above 1023 the cylinder already in the
// entry stays when it is the same one modulo 1024, else 1023.
u32 clampCylinder(u32 cylinder, u32 previous);
