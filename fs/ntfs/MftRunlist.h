#pragma once

// The run list of the MFT itself, rebuilt for a damaged volume: the list that
// $MFT's record 0 holds at the MFT's start cluster, the one its copy holds at the
// mirror's start cluster, and the runs of FILE records that the sector scan
// found, each placed where its records' numbers say it belongs in the MFT. An
// empty result means that no list could be made.

#include "core/Types.h"
#include "fs/ScanResults.h"
#include "fs/ntfs/NtfsFileParser.h"
#include "fs/ntfs/Runlist.h"

#include <vector>

class NTFSDrive;

// The parser that identifies found runs: the volume's record and cluster sizes
// beside a file parser of its own.
class MftProbeParser : public NtfsFileParser {
public:
    explicit MftProbeParser(NTFSDrive& drive);

    u64 sectorsPerRecord;
    u64 sectorsPerCluster;
};

// Fills `out` (emptied first); empty also for a volume whose records are of no
// size a FILE record can have. Only a cancel fails it: InterruptedException
// from the drive's progress callback, polled once per found run in each pass.
void recreateMftRunlist(Runlist& out, NTFSDrive& drive, const FoundList<FoundRecordRun>& found);

// Appends to `out` the parts of r's clusters that no run of [first, last)
// stores, in ascending order; each part keeps as many stored clusters as it
// has clusters.
void addUncoveredRunParts(Runlist& out, const NtfsRun& r, Runlist::const_iterator first,
                          Runlist::const_iterator last);

// A stretch of a found run and the MFT number of its first record; all ones
// when its records carry none.
struct NumberedRun {
    NtfsRun run;
    u64 number;
};

// q cut where the numbers its records carry stop following on from one
// another, at the cluster of the first record that breaks the sequence: two
// extents of the MFT side by side on the volume, a stray cluster of records.
// A single piece numbered all ones when no record carries a number.
std::vector<NumberedRun> numberedPieces(MftProbeParser& probe, const NtfsRun& q);

// The MFT record number of the first record of q, from the first record of q
// that carries its own number (or whose name its folder listing shows); all ones
// when none does.
u64 mftNumberOfRun(MftProbeParser& probe, const NtfsRun& q);
