#include "fs/ntfs/MftRunlist.h"

#include "core/Checked.h"
#include "core/Log.h"
#include "fs/ntfs/NTFSDrive.h"
#include "fs/ntfs/NtfsDumps.h"
#include "tree/Folder.h"
#include "tree/MapPosition.h"

#include <algorithm>
#include <vector>

namespace {

constexpr u64 NONE = ~u64{0};

// The run list that record 0 at the MFT's (or the mirror's) start cluster
// gives. A list counts only when record 0 is a FILE record there: otherwise it
// is no more than the cluster we looked at, and would pass for an empty MFT.
bool listFromRecordZero(NTFSDrive& drive, bool mirror, int line, Runlist& list) {
    NtfsFileParser parser(drive);
    bool loaded = false;
    parser.readMftRunlist(mirror, &loaded);
    list = parser.getMftRunlist();
    logAt("MftRunlist", line) << ": " << runlistText(list) << '\n';
    if (!loaded) {
        logAt("MftRunlist", 30) << ": record 0 at cluster " << drive.getMftStartCluster(mirror)
                                << " is no FILE record\n";
        return false;
    }
    return true;
}

// The stretches of clusters a list stores, sorted by LCN and merged.
Runlist storedStretches(const Runlist& runs) {
    Runlist sorted;
    for (const NtfsRun& r : runs) {
        if (r.storedClusters != 0)
            sorted.push_back(NtfsRun{r.lcn, r.storedClusters, r.storedClusters});
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const NtfsRun& a, const NtfsRun& b) { return a.lcn < b.lcn; });
    Runlist merged;
    for (const NtfsRun& r : sorted) {
        if (!merged.empty()) {
            NtfsRun& last = merged.back();
            const u64 lastEnd = saturatingAdd(last.lcn, last.clusters);
            if (r.lcn <= lastEnd) {
                const u64 end = std::max(lastEnd, saturatingAdd(r.lcn, r.clusters));
                last.clusters = last.storedClusters = end - last.lcn;
                continue;
            }
        }
        merged.push_back(r);
    }
    return merged;
}

// The parts of r that no run of `sorted` (sorted by LCN, disjoint) stores,
// looking only at the runs that can overlap it.
void addUncoveredBySorted(Runlist& out, const NtfsRun& r, const Runlist& sorted) {
    const u64 rEnd = saturatingAdd(r.lcn, r.clusters);
    const auto first = std::partition_point(sorted.begin(), sorted.end(), [&](const NtfsRun& p) {
        return saturatingAdd(p.lcn, p.storedClusters) <= r.lcn;
    });
    const auto last =
        std::partition_point(first, sorted.end(), [&](const NtfsRun& p) { return p.lcn < rEnd; });
    addUncoveredRunParts(out, r, first, last);
}

} // namespace

MftProbeParser::MftProbeParser(NTFSDrive& drive)
    : NtfsFileParser(drive), sectorsPerRecord(drive.getSectorsPerFileRecord()),
      sectorsPerCluster(drive.getSectorsPerCluster()) {}

void addUncoveredRunParts(Runlist& out, const NtfsRun& r, Runlist::const_iterator first,
                          Runlist::const_iterator last) {
    if (r.clusters == 0)
        return;
    const u64 rEnd = saturatingAdd(r.lcn, r.clusters);
    // The stretches of r that the runs store, in ascending order; what lies
    // between them is uncovered. Sorting keeps this from walking the range once
    // per split, however many runs it holds.
    std::vector<std::pair<u64, u64>> covered;
    for (auto it = first; it != last; ++it) {
        // A sparse run stores nothing, wherever its LCN field points.
        if (it->storedClusters == 0)
            continue;
        const u64 start = std::max(it->lcn, r.lcn);
        const u64 end = std::min(saturatingAdd(it->lcn, it->storedClusters), rEnd);
        if (start < end)
            covered.emplace_back(start, end);
    }
    std::sort(covered.begin(), covered.end());
    u64 at = r.lcn;
    for (const auto& c : covered) {
        if (c.first > at)
            out.push_back(NtfsRun{at, c.first - at, c.first - at});
        at = std::max(at, c.second);
    }
    if (at < rEnd)
        out.push_back(NtfsRun{at, rEnd - at, rEnd - at});
}

u64 mftNumberOfRun(MftProbeParser& probe, const NtfsRun& q) {
    probe.setMftRunlist(Runlist{q});
    const u64 records = q.clusters * probe.sectorsPerCluster / probe.sectorsPerRecord;
    tree::Folder lastFolder(tree::ATTACHED, tree::NO_FOLDER);
    for (u64 i = 0; i < records; ++i) {
        // A found run may hold a whole MFT's records; reads of records served
        // without the drive would never poll.
        probe.getDrive()->poll();
        if (!probe.loadFile(i))
            continue;
        const u64 stored = probe.storedRecordNumber();
        if (stored != NONE && stored >= i)
            return stored - i;
        tree::Node node;
        if (probe.buildNode(node) != NodeBuild::WHOLE)
            continue;
        for (const tree::Node& listed : lastFolder.getNodes()) {
            if (listed.isDirectory() == node.isDirectory() && listed.getName() == node.getName() &&
                listed.getAddress() >= i)
                return listed.getAddress() - i;
        }
        if (probe.isDirectory()) {
            tree::Folder folder(tree::ATTACHED, tree::NO_FOLDER);
            if (probe.listFolder(folder))
                lastFolder = folder;
        }
    }
    return NONE;
}

std::vector<NumberedRun> numberedPieces(MftProbeParser& probe, const NtfsRun& q) {
    const u64 spc = probe.sectorsPerCluster;
    const u64 spr = probe.sectorsPerRecord;
    probe.setMftRunlist(Runlist{q});
    NtfsFileRecordsCache& cache = probe.getRecordsCache();
    std::vector<u8> raw(cache.getRecordSize());
    const u64 records = q.clusters * spc / spr;
    // The number each record carries; all ones where it carries none.
    std::vector<u64> numbers(records, NONE);
    for (u64 i = 0; i < records; ++i) {
        probe.getDrive()->poll();
        FileRecordHeader header;
        if (!cache.readRawRecord(i, raw.data()))
            continue;
        NtfsFileRecordParser record(ConstArray(raw.data(), static_cast<u32>(raw.size())));
        if (record.checkFileHeader(header))
            numbers[i] = record.storedRecordNumber();
    }
    std::vector<NumberedRun> pieces;
    u64 pieceCluster = 0; // of q, where the current piece starts
    u64 pieceRecord = 0;  // the record of q there
    u64 number = NONE;    // the MFT number of that record, once one is told
    for (u64 i = 0; i < records; ++i) {
        const u64 stored = numbers[i];
        const u64 within = i - pieceRecord;
        if (stored == NONE || (number != NONE && stored == number + within))
            continue;
        if (number == NONE && stored >= within) {
            number = stored - within;
            continue;
        }
        // Another extent starts at a cluster, and its next record follows
        // on; a stray record (the reserved ones, formatted with number 0)
        // does not break the piece, and is refused where it is read.
        const bool followed = i + 1 < records && numbers[i + 1] == stored + 1;
        if ((i * spr) % spc != 0 || !followed)
            continue;
        const u64 cut = i * spr / spc;
        pieces.push_back(
            {NtfsRun{q.lcn + pieceCluster, cut - pieceCluster, cut - pieceCluster}, number});
        pieceCluster = cut;
        pieceRecord = i;
        number = stored;
    }
    const u64 rest = q.clusters - pieceCluster;
    pieces.push_back({NtfsRun{q.lcn + pieceCluster, rest, rest}, number});
    return pieces;
}

void recreateMftRunlist(Runlist& out, NTFSDrive& drive, const FoundList<FoundRecordRun>& found) {
    out.clear();
    const u64 spr = drive.getSectorsPerFileRecord();
    if (!NtfsFileRecordsCache::isRecordSize(spr)) {
        logAt("MftRunlist", 130) << ": no FILE record is " << spr << " sectors\n";
        return;
    }
    const u64 spc = drive.getSectorsPerCluster();
    const u64 volumeStart = drive.getStartingLBA();
    const u64 volumeEnd = volumeStart + drive.getClusterCount() * spc;
    // No record of this volume can have a number at or beyond this.
    const u64 maxRecords = drive.getClusterCount() * spc / spr;
    u64 known = 0;

    Runlist list;
    if (drive.getMftStartCluster(false) != 0 && listFromRecordZero(drive, false, 142, list)) {
        out = list;
        known = getRunlistClusters(out);
    }
    if (drive.getMftStartCluster(true) != 0 && listFromRecordZero(drive, true, 148, list) &&
        getRunlistClusters(list) > known) {
        out = list;
        known = getRunlistClusters(out);
    }

    const Runlist stored = storedStretches(out);
    Runlist foundRl;
    for (const FoundRecordRun& run : found) {
        if (run.lba >= volumeEnd)
            break;
        drive.poll();
        if (run.recordSectors != spr)
            continue;
        u64 lba = run.lba;
        u64 count = run.recordCount;
        if (lba < volumeStart) {
            const u64 lost = ceilDiv(volumeStart - lba, spr);
            if (lost >= count)
                continue;
            lba += lost * spr;
            count -= lost;
        }
        const u64 end = lba + spr * count;
        if (end > volumeEnd) {
            const u64 lost = ceilDiv(end - volumeEnd, spr);
            if (lost >= count)
                continue;
            count -= lost;
        }
        if (count == 0)
            continue;
        const u64 rel = lba - volumeStart;
        const u64 within = rel % spc;
        // Records sit at record boundaries inside their cluster.
        if (within % spr != 0)
            continue;
        const u64 clusters = ceilDiv(spr * count + within, spc);
        const NtfsRun r{rel / spc, clusters, clusters};
        // What the MFT's own list stores is known already; and two found runs
        // that share a cluster must not put it into the MFT twice. Found runs
        // come in LBA order, so what they add stays sorted and disjoint.
        Runlist pieces;
        addUncoveredBySorted(pieces, r, stored);
        Runlist uncovered;
        for (const NtfsRun& piece : pieces)
            addUncoveredBySorted(uncovered, piece, foundRl);
        foundRl.insert(foundRl.end(), uncovered.begin(), uncovered.end());
    }
    logAt("MftRunlist", 218) << ": FoundRl: " << runlistText(foundRl) << '\n';

    MftProbeParser probe(drive);
    std::vector<NumberedRun> pieces;
    for (const NtfsRun& q : foundRl) {
        drive.poll();
        std::vector<NumberedRun> split = numberedPieces(probe, q);
        // Records of the old layout carry no number: their names tell.
        if (split.size() == 1 && split.front().number == NONE)
            split.front().number = mftNumberOfRun(probe, q);
        for (NumberedRun& piece : split) {
            if (piece.number != NONE && piece.number >= maxRecords) {
                logAt("MftRunlist", 226)
                    << ": record number " << piece.number << " passes the volume\n";
                piece.number = NONE;
            }
            pieces.push_back(piece);
        }
    }
    // The MFT grows into whatever clusters are free, also below its earlier
    // extents: the pieces go where their numbers say, in that order. Of two
    // that claim the same records (the MFT's and its mirror's) the longer
    // holds them; the other follows the list as copies.
    std::stable_sort(pieces.begin(), pieces.end(), [](const NumberedRun& a, const NumberedRun& b) {
        if (a.number != b.number)
            return a.number < b.number;
        return a.run.clusters > b.run.clusters;
    });
    auto append = [&](const NtfsRun& q, u64 gap) {
        if (gap != 0) {
            out.push_back(NtfsRun{0, gap / spc, 0});
            known += gap / spc;
        }
        out.push_back(q);
        known += q.clusters;
    };
    // What cannot go where its numbers say (the mirror's copies of records
    // the list holds, runs whose records tell no number) follows the list
    // once every other piece is in its place: taken in between, it would
    // push every piece after it off its records.
    Runlist after;
    for (const NumberedRun& piece : pieces) {
        const u64 knownSectors = known * spc;
        const u64 s = piece.number != NONE ? piece.number * spr : 0;
        if (piece.number != NONE && s >= knownSectors && (s - knownSectors) % spc == 0)
            append(piece.run, s - knownSectors);
        else
            after.push_back(piece.run);
    }
    for (const NtfsRun& q : after) {
        // Straight after the list, at the next record boundary.
        const u64 knownSectors = known * spc;
        const u64 gap = knownSectors % spr == 0 ? 0 : spr - knownSectors % spr;
        if (gap % spc == 0)
            append(q, gap);
    }
    logAt("MftRunlist", 259) << ": " << runlistText(out) << '\n';
}
