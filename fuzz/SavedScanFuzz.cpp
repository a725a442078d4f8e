// The saved-scan loader over any stream (the bytes inside the compressed file),
// on a source of 2048 sectors. A stream must neither crash, hang nor size an
// allocation by a length it claims; a stream that fails to load leaves the scan
// exactly as it was; what loads must keep what the scan lists promise (sorted
// unreadable runs that do not overlap, inside the source; carved files in order
// of start, each at a sector start of the source), must save and load again to
// the very same stream, and must go through a later scan's cut and the
// candidate collection without dividing by anything it holds. The same bytes
// as a whole file must neither crash nor hang the compressed-file reader, and
// as the content of a file we wrote must come back whole: what refuses a file
// by its first bytes never refuses one of ours.

#include "analysis/DriveDescr.h"
#include "analysis/FsCollection.h"
#include "analysis/ScScanner.h"
#include "analysis/Serializer.h"
#include "analysis/Unserializer.h"
#include "core/CompressedFile.h"
#include "core/System.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/ScriptedMessages.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using fuzzsupport::require;

std::string streamOf(const DriveDescr& d) {
    std::string out;
    Serializer s(&out);
    serializeScan(s, d);
    return out;
}

// A folder of this run's own for the two files, gone at its end.
char scratch[] = "/tmp/fuzz_saved_scan.XXXXXX";
const char* const SCRATCH_FILES[] = {"/raw", "/ours"};

void removeScratch() {
    for (const char* name : SCRATCH_FILES)
        ::unlink((std::string(scratch) + name).c_str());
    ::rmdir(scratch);
}

void throughFiles(const uint8_t* data, size_t size) {
    static const bool made = ::mkdtemp(scratch) != nullptr && std::atexit(removeScratch) == 0;
    require(made);
    const std::string raw = scratch + std::string(SCRATCH_FILES[0]);
    const std::string ours = scratch + std::string(SCRATCH_FILES[1]);
    require(writeFile(raw.c_str(), data, size));
    std::string content;
    (void)loadCompressedFile(raw.c_str(), content);
    require(saveCompressedFile(ours.c_str(), data, size));
    require(loadCompressedFile(ours.c_str(), content));
    require(content == fuzzsupport::textOf(data, size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu)
        return 0;
    throughFiles(data, size);
    // Loads a scan of another source too, so that every stream gets all the way.
    testutil::ScriptedInterface yes(0);
    SharedPtr<Driver> driver = testutil::openMemoryDriver(std::string(1u << 20, '\0'));
    DriveDescr d;
    d.getDriveHolder() = driver;
    d.getScanRange().setDriveId("fuzz");
    d.getScanRange().setSecond(7);
    d.getScanResults().fatSectors.insert(FoundFatSector{3, FAT12});
    d.getCarvedFiles().resize(1);
    const std::string before = streamOf(d);
    if (!readScan(data, static_cast<u32>(size), d, &yes)) {
        require(streamOf(d) == before);
        return 0;
    }

    const SectorRuns& runs = d.getScanResults().unreadable.runs();
    for (std::size_t i = 1; i < runs.size(); ++i)
        require(runs[i - 1].end() <= runs[i].start);
    require(runs.empty() || runs.back().end() <= driver->getSectorCount());
    const std::vector<cbr::FileInfo>& files = d.getCarvedFiles();
    for (std::size_t i = 1; i < files.size(); ++i)
        require(files[i - 1].getStart() <= files[i].getStart());
    for (const cbr::FileInfo& f : files) {
        require(f.getStart() % 512 == 0 && f.getStart() / 512 < driver->getSectorCount());
        (void)f.getType();
    }

    const std::string first = streamOf(d);
    DriveDescr again;
    again.getScanRange().setDriveId(d.getScanRange().getDriveId());
    require(readScan(reinterpret_cast<const u8*>(first.data()), static_cast<u32>(first.size()),
                     again, nullptr));
    require(streamOf(again) == first);

    // A later scan from the middle of the lists, and the candidates.
    ScanResults& results = d.getScanResults();
    const u32 middle =
        results.ntfsRecordRuns.empty() ? 100 : results.ntfsRecordRuns.rbegin()->lba + 1;
    { ScScanner scanner(&results, 16, 512, middle, 3); }
    CreateFSCollectionParameters parameters(results, *driver, 64260);
    FsCandidateList candidates;
    CreateFSCollection(candidates, parameters);
    return 0;
}
