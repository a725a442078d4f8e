// The candidate collection over any scan results: finds decoded from the input
// go through CreateFSCollection, both filters and the listing. Hostile values
// (starts and counts near 2^32, all-ones LCNs, zero cluster sizes) and many
// finds must neither hang, crash, read outside the source nor give a candidate
// whose size limits disagree.
//
// Input: a flags byte (bit 0 a floppy, bit 1 the default slack, bit 2 cancel at
// the poll named by the next byte), a little-endian u16 length of the finds
// area, the finds, then the source's first sectors (zeros after them up to
// 64 MiB). Each find is a tag byte (taken mod 5) and its fields, little-endian:
//   0 table:  lba u32, four times {type u8, start u32, count u32}
//   1 boot:   lba u32, kind u8, then eight u32 (FAT) or u64 u8 u64 u64 u8 (NTFS)
//   2 FAT:    lba u32, width u8
//   3 run:    lba u32, sectors u32, flags u8, dot u32, dot-dot u32, highest u32
//   4 record: lba u32, which u8, lcn u64, size u64

#include "analysis/FsCollection.h"
#include "analysis/FsFilters.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/RecordingProgress.h"

namespace {

using fuzzsupport::require;

constexpr u64 SOURCE_BYTES = 64ull << 20;

void decode(fuzzsupport::Fields& f, ScanResults& r, std::size_t& count) {
    while (!f.empty()) {
        ++count;
        switch (f.u8_() % 5) {
        case 0: {
            FoundPartitionTable t;
            t.lba = f.u32_();
            for (FoundPartitionEntry& e : t.entries) {
                e.type = f.u8_();
                e.startLba = f.u32_();
                e.sectorCount = f.u32_();
            }
            r.partitionTables.insert(t);
            break;
        }
        case 1: {
            FoundBootSector b;
            b.lba = f.u32_();
            b.params.kind = f.u8_() % 2 ? FS_FAT : FS_NTFS;
            if (b.params.kind == FS_FAT) {
                FatBootParams& p = b.params.fat;
                for (u32* field :
                     {&p.totalSectors, &p.sectorsPerCluster, &p.sectorsPerFAT, &p.reservedSectors,
                      &p.rootEntries, &p.rootCluster, &p.dataLbaOffset, &p.rootDirectoryLbaOffset})
                    *field = f.u32_();
            } else {
                NtfsBootParams& p = b.params.ntfs;
                p.totalSectors = f.u64_();
                p.sectorsPerCluster = f.u8_();
                p.MFTCluster = f.u64_();
                p.MFTMirrCluster = f.u64_();
                p.sectorsPerFileRecord = f.u8_();
            }
            r.bootSectors.insert(b);
            break;
        }
        case 2:
            r.fatSectors.insert(FoundFatSector{f.u32_(), static_cast<FatType>(f.u8_() % 5)});
            break;
        case 3: {
            FoundDirectoryRun run;
            run.lba = f.u32_();
            run.sectorCount = f.u32_();
            const u8 flags = f.u8_();
            run.startsWithDotEntries = flags & 1;
            run.lastSlotInUse = flags & 2;
            run.dotCluster = f.u32_();
            run.dotDotCluster = f.u32_();
            run.highestCluster = f.u32_();
            r.directoryRuns.insert(run);
            break;
        }
        default: {
            FoundNtfsSystemRecord rec;
            rec.lba = f.u32_();
            rec.info.which = f.u8_() % 4;
            rec.info.lcn = f.u64_();
            rec.info.size = f.u64_();
            r.ntfsSystemRecords.insert(rec);
            break;
        }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const u8 flags = data[0];
    const u8 cancelPoll = data[1];
    const std::size_t findsBytes = std::min<std::size_t>(data[2] | data[3] << 8, size - 4);
    fuzzsupport::Fields fields(data + 4, findsBytes);
    ScanResults results;
    std::size_t finds = 0;
    decode(fields, results, finds);

    // The input's first sectors, then zeros.
    const SharedPtr<Driver> source = fuzzsupport::driverOver(new fuzzsupport::InputReader(
        data + 4 + findsBytes, size - 4 - findsBytes, SOURCE_BYTES, false));
    Driver& driver = *source;
    if (flags & 1)
        driver.getProperties().setUInt8(PROP_IS_FLOPPY, 1);
    const u32 slack = flags & 2 ? CreateFSCollectionParameters::defaultSlackSectors(driver) : 0;

    CreateFSCollectionParameters parameters(results, driver, slack);
    // A user who presses the progress box's button.
    testutil::RecordingProgress cancel;
    cancel.cancelAtPoll(cancelPoll + 1u);
    if (flags & 4)
        parameters.setInterfaceCallback(&cancel);
    FsCandidateList out;
    try {
        CreateFSCollection(out, parameters);
    } catch (const InterruptedException&) {
        // What the finished phases made is still a list of candidates.
    }
    // Every find makes a bounded number of candidates: four per table, two per
    // boot sector (and a volume from it), one per directory run, eight per
    // $MFT record.
    require(out.size() <= 8 * finds + 8);
    for (const FsCandidate& c : out) {
        if (c.minSectors != 0 || c.maxSectors != 0)
            require(c.minSectors >= 1 && c.maxSectors >= c.minSectors);
    }

    FsCandidateList evident;
    filterFsByEvidence(evident, out, driver);
    FsCandidateList plausible;
    filterFsByPlausibility(plausible, evident, 1, driver);
    std::ostringstream text;
    printFsCollection(text, plausible, driver);
    for (const FsCandidate& c : plausible)
        printNtfsVolume(text, c);
    return 0;
}
