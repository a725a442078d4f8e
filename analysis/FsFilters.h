#pragma once

// The filters that drop spurious file-system candidates before the drive layout
// is built, and the text forms of a candidate: the debug dump, the listing of a
// whole collection with its selection marks, and the NTFS summary the user sees.
//
// The candidate collection keeps every reading of every find, so most candidates
// stand on a single coincidence: a random sector that passes for a boot sector,
// a partition entry of a table that no longer holds. The filters keep those
// with enough agreeing evidence. The stored collection itself is never
// filtered; the layout gets a filtered copy.

#include "fs/FsCandidate.h"

#include <ostream>

class Driver;

// Whether enough evidence agrees: more than one piece (an NTFS volume alone is
// enough, it stands on two agreeing MFT copies), and a FAT candidate has a root
// directory or cluster grid, and FATs found at both copies, a grid confirmed by
// ten subdirectories or, its boot sectors lost, FATs placed in the FAT
// partition that names it. It is no FAT12 volume outside a partition unless
// the source keeps its volume in sector 0 (a floppy, a volume image), its FATs
// lie where its boot sector says, or, its boot sectors lost, both its FAT
// copies were found. A boot sector (or its backup) whose FATs or root
// directory lie where it says needs no more.
bool hasSufficientEvidence(const FsCandidate& candidate, const Driver& driver);
// Mode 1: a FAT candidate whose FAT position was only inferred needs more than
// one other piece of evidence; an NTFS candidate must give valid parameters; a
// candidate of no kind is rejected. Every other mode accepts everything.
bool isPlausibleCandidate(const FsCandidate& candidate, int mode, Driver& driver);

// Append, in order, the candidates of `in` that pass. On a drive with partition
// tables the evidence filter also drops a FAT12 volume without a partition
// entry that lies inside another volume it keeps (a floppy image kept as a
// file there).
void filterFsByEvidence(FsCandidateList& out, const FsCandidateList& in, const Driver& driver);
void filterFsByPlausibility(FsCandidateList& out, const FsCandidateList& in, int mode,
                            Driver& driver);

// What the layout is built from: a copy of the collection, passed through both
// filters (plausibility in mode 1) when the preference "Filter Invalid File
// Systems" is on, and then written to the debug log between marker lines.
void filterFsCollection(FsCandidateList& out, const FsCandidateList& collection, Driver& driver);

// The debug dump of one candidate, every piece of evidence on its line, and a
// listing of its root directory read through the driver.
void dumpFsCandidate(std::ostream& os, u32 index, const FsCandidate& candidate, Driver& driver);
// Every candidate, "(selected) " or "(not selected) " before its dump, an empty
// line between two; nothing for an empty list. Past the first
// DumpLimit::FULL_DUMPS candidates one line counts the rest.
void printFsCollection(std::ostream& os, const FsCandidateList& list, Driver& driver);
// The collection in the debug log between "*** CreateFSCollection ***" and its
// end line.
void logFsCollection(const FsCandidateList& list, Driver& driver);
// "NTFS Volume" and the MFT placement, one value a line, no line break after the
// last.
void printNtfsVolume(std::ostream& os, const FsCandidate& candidate);
